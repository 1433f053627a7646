#pragma once
// Mask letters of the command line and the POSIX permissions they stand for.

#include <cstdint>
#include <optional>
#include <string_view>

namespace accessmask {
constexpr uint32_t Read = 0x80000000;
constexpr uint32_t Write = 0x40000000;
constexpr uint32_t Execute = 0x20000000;
constexpr uint32_t Delete = 0x00010000;
constexpr uint32_t ChangePermissions = 0x00040000;
constexpr uint32_t TakeOwnership = 0x00080000;
constexpr uint32_t All = 0x10000000;
constexpr uint32_t Deny = 0xFFFFFFFF;
} // namespace accessmask

// Letters RWXDPOAN in any case, order and number, OR-ed together; N makes the
// mask all ones for good. Nothing when any other letter appears.
std::optional<uint32_t> ParseMaskLetters(std::string_view letters);

// ACL_READ | ACL_WRITE | ACL_EXECUTE as far as the mask grants them; the deny
// mask grants nothing. D, P and O have no POSIX counterpart.
unsigned PosixPermsOf(uint32_t mask);
