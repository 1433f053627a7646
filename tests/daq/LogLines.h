#pragma once
// Collects what the DAQ server and its owners print; prints come from
// several threads.

#include "base/StdOut.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

class CLogLines : public CStdOut {
public:
    int PrintV(const char* format, va_list args) override
    {
        char text[1024];
        const int n = std::vsnprintf(text, sizeof text, format, args);
        std::lock_guard lock(m_lock);
        m_text += text;
        m_changed.notify_all();
        return n;
    }
    std::string Text()
    {
        std::lock_guard lock(m_lock);
        return m_text;
    }
    // Waits up to 3 s for `part` to appear in the log.
    bool WaitFor(const std::string& part)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(3),
                                  [&] { return m_text.find(part) != std::string::npos; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_text;
};
