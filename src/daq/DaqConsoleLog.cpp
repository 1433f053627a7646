#include "daq/DaqConsoleLog.h"

#include <ctime>
#include <string>

int CDaqConsoleLog::PrintV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0)
        return n;
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(n));
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S ", &local);
    std::lock_guard lock(m_lock);
    std::fputs(stamp, m_file);
    std::fputs(text.c_str(), m_file);
    std::fflush(m_file);
    return n;
}
