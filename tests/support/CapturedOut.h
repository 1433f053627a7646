#pragma once
// Keeps every line printed through CStdOut, in order, for tests. Prints may
// come from several threads; WaitFor blocks until a piece of text appears.

#include "base/StdOut.h"

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

class CCapturedOut : public CStdOut {
public:
    int PrintV(const char* format, va_list args) override
    {
        va_list again;
        va_copy(again, args);
        const int n = std::vsnprintf(nullptr, 0, format, args);
        std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
        if (n > 0)
            std::vsnprintf(text.data(), text.size() + 1, format, again);
        va_end(again);
        Append(text);
        return n;
    }
    void Append(std::string_view text)
    {
        {
            std::lock_guard lock(m_lock);
            m_text.append(text);
        }
        m_changed.notify_all();
    }
    std::string Text() const
    {
        std::lock_guard lock(m_lock);
        return m_text;
    }
    // How often `piece` occurs, counting occurrences that do not overlap.
    size_t Count(const std::string& piece) const
    {
        std::lock_guard lock(m_lock);
        return countLocked(piece);
    }
    bool Has(const std::string& piece) const { return Count(piece) > 0; }
    void Clear()
    {
        std::lock_guard lock(m_lock);
        m_text.clear();
    }
    bool WaitFor(const std::string& piece, int timeoutMs = 3000) const
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return countLocked(piece) > 0; });
    }

private:
    size_t countLocked(const std::string& piece) const
    {
        size_t n = 0;
        for (size_t at = m_text.find(piece); at != std::string::npos; at = m_text.find(piece, at + piece.size()))
            ++n;
        return n;
    }

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::string m_text;
};
