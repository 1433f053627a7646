#pragma once
// Serialises the lines of the update's threads into one output, each line
// whole. Any thread; Print blocks while another thread prints.

#include "base/StdOut.h"

#include <cstdio>
#include <mutex>
#include <string>

class CFirmLog : public CStdOut {
public:
    // target may be null: lines are dropped.
    explicit CFirmLog(CStdOut* target) : m_target(target) {}

    int PrintV(const char* format, va_list args) override
    {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (n <= 0 || !m_target)
            return n;
        std::string text(static_cast<size_t>(n), '\0');
        std::vsnprintf(text.data(), text.size() + 1, format, args);
        std::lock_guard lock(m_lock);
        return m_target->Print("%s", text.c_str());
    }

private:
    CStdOut* m_target;
    std::mutex m_lock;
};
