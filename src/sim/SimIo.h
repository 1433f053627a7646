#pragma once
// Small POSIX helpers shared by the simulator's front ends.

#include "base/Event.h"

#include <cstddef>
#include <cstdint>

namespace simio {

// Writes all bytes to a non-blocking descriptor, waiting for room; false
// when stop is set first or the descriptor fails.
bool WriteAll(int fd, const void* data, size_t size, CEvent& stop);

// Reads exactly size bytes; false when stop is set, the peer closed, or
// the descriptor fails.
bool ReadAll(int fd, void* data, size_t size, CEvent& stop);

void SetNonBlocking(int fd);

}  // namespace simio
