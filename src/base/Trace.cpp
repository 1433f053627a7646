#include "base/Trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace trace {
namespace {

struct Name {
    const char* text;
    unsigned channel;
};
constexpr Name kNames[] = {
    {"ports", Ports}, {"links", Links}, {"can", Can}, {"http", Http}, {"all", Ports | Links | Can | Http}};

const char* channelName(Channel c)
{
    for (const Name& n : kNames)
        if (n.channel == c)
            return n.text;
    return "?";
}

unsigned parseChannels(std::string_view list)
{
    unsigned mask = 0;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        for (const Name& n : kNames)
            if (item == n.text)
                mask |= n.channel;
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    }
    return mask;
}

std::mutex s_outputLock;  // guards s_fd against Configure
int s_fd = STDERR_FILENO;

unsigned configureFromEnvironment()
{
    const char* channels = std::getenv("TELVANE_TRACE");
    return channels ? Configure(channels, std::getenv("TELVANE_TRACE_FILE")) : 0;
}

}  // namespace

std::atomic<unsigned> g_channels{configureFromEnvironment()};

unsigned Configure(const char* channels, const char* file)
{
    std::lock_guard lock(s_outputLock);
    if (s_fd != STDERR_FILENO)
        close(s_fd);
    s_fd = STDERR_FILENO;
    if (file && *file) {
        const int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0)
            s_fd = fd;
        else
            std::fprintf(stderr, "TELVANE_TRACE_FILE %s: %s; tracing to stderr\n", file, std::strerror(errno));
    }
    const unsigned mask = channels ? parseChannels(channels) : 0;
    g_channels = mask;
    return mask;
}

void Write(Channel channel, const void* object, std::string_view event, const void* bytes, size_t count,
           std::string_view text)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char head[128];
    const int n = std::snprintf(head, sizeof head, "%ld.%06ld %ld %s %p ", static_cast<long>(now.tv_sec),
                                now.tv_nsec / 1000, static_cast<long>(syscall(SYS_gettid)), channelName(channel),
                                object);
    std::string line(head, n > 0 ? static_cast<size_t>(n) : 0);
    line.append(event);
    if (bytes) {
        line += ' ';
        line += std::to_string(count);
        line += ':';
        static const char kHex[] = "0123456789ABCDEF";
        const auto* b = static_cast<const uint8_t*>(bytes);
        for (size_t i = 0; i < count; ++i) {
            line += ' ';
            line += kHex[b[i] >> 4];
            line += kHex[b[i] & 15];
        }
    }
    if (!text.empty()) {
        line += ' ';
        line.append(text);
    }
    line += '\n';
    std::lock_guard lock(s_outputLock);
    (void)!::write(s_fd, line.data(), line.size());
}

}  // namespace trace
