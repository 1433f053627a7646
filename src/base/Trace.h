#pragma once
// Field trace: with TELVANE_TRACE=ports,links,can,http (any subset, or
// "all") every open, close, write, read, time-out and error of those layers
// is written as one line to stderr, or to the file TELVANE_TRACE_FILE:
//
//   <monotonic seconds> <thread> <channel> <object> <event> [<n>: <hex bytes>] [<text>]
//
// Off, a trace point costs one test of a global word. On, each line is one
// write call, so lines of different threads never mix and the traced code
// waits only for that write.
//
// Threads: any thread may trace; Configure is for program start and tests.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace trace {

enum Channel : unsigned { Ports = 1, Links = 2, Can = 4, Http = 8 };

// The enabled channels; read from the environment before main.
extern std::atomic<unsigned> g_channels;

inline bool On(Channel channel) { return (g_channels.load(std::memory_order_relaxed) & channel) != 0; }

// Writes one line. bytes may be null; text may be empty.
void Write(Channel channel, const void* object, std::string_view event, const void* bytes = nullptr,
           size_t count = 0, std::string_view text = {});

// Replaces the channel list and the output ("" or null file: stderr);
// unknown names are ignored. Returns the enabled channels.
unsigned Configure(const char* channels, const char* file);

}  // namespace trace
