// A small adapter driver library for the tests of the dlopen path: 64 KiB
// of memory on every logical device, strict checks of the set-up calls, and
// texts of its own so that a test can tell it was the one loaded. Built a
// second time without bt_reset to test a library that lacks a function.

#include "daq/VmeDriver.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {
constexpr uint32_t kMemorySize = 0x10000;
constexpr int kOutOfRange = 7;
constexpr int kNoDevice = 8;
constexpr int kBadSetup = 9;

struct Device {
    int logical;
};

std::mutex g_mutex;
unsigned char g_memory[kMemorySize];
Device g_devices[16];

Device* AsDevice(bt_desc_t handle) { return static_cast<Device*>(handle); }

bt_error_t Transfer(bt_desc_t handle, void* to, const void* from, uint32_t address, size_t length,
                    size_t* done)
{
    if (!handle)
        return kNoDevice;
    if (address >= kMemorySize || length > kMemorySize - address)
        return kOutOfRange;
    std::lock_guard lock(g_mutex);
    std::memcpy(to ? to : g_memory + address, to ? g_memory + address : from, length);
    if (done)
        *done = length;
    return 0;
}
}  // namespace

extern "C" {
const char* bt_gen_name(int unit, int logicalDevice, char* name, size_t size)
{
    if (unit != 0 || size != 20 || logicalDevice < 0 || logicalDevice > 15)
        return nullptr;
    std::snprintf(name, size, "testvme%d", logicalDevice);
    return name;
}

bt_error_t bt_open(bt_desc_t* handle, const char* name, int access)
{
    int logical = -1;
    if (std::sscanf(name, "testvme%d", &logical) != 1 || logical == 9)
        return kNoDevice;
    if (access != BT_RDWR)
        return kBadSetup;
    g_devices[logical].logical = logical;
    *handle = &g_devices[logical];
    return 0;
}

bt_error_t bt_close(bt_desc_t handle) { return handle ? 0 : kNoDevice; }

// Logical devices 10, 11 and 12 refuse the byte swap, the data width and
// the bus reset, to exercise those failures.
bt_error_t bt_set_info(bt_desc_t handle, int param, uint32_t value)
{
    const int logical = AsDevice(handle)->logical;
    if ((param == BT_INFO_SWAP && logical == 10) || (param == BT_INFO_DATAWIDTH && logical == 11))
        return kBadSetup;
    const bool expected = (param == BT_INFO_DATAWIDTH && value == 0) ||
                          (param == BT_INFO_SWAP && value == 4);
    return expected ? 0 : kBadSetup;
}

bt_error_t bt_get_info(bt_desc_t, int param, uint32_t* value)
{
    if (param != BT_INFO_RESET_DELAY)
        return kBadSetup;
    *value = 1;
    return 0;
}

bt_error_t bt_read(bt_desc_t handle, void* data, uint32_t address, size_t length, size_t* done)
{
    return Transfer(handle, data, nullptr, address, length, done);
}

bt_error_t bt_write(bt_desc_t handle, const void* data, uint32_t address, size_t length,
                    size_t* done)
{
    return Transfer(handle, nullptr, data, address, length, done);
}

bt_error_t bt_icbr_install(bt_desc_t, int, bt_icbr_t, void*, uint32_t) { return 0; }

bt_error_t bt_icbr_remove(bt_desc_t, int, bt_icbr_t) { return 0; }

#ifndef TEST_VME_DRIVER_WITHOUT_RESET
bt_error_t bt_reset(bt_desc_t handle)
{
    if (AsDevice(handle)->logical == 12)
        return kBadSetup;
    std::lock_guard lock(g_mutex);
    std::memset(g_memory, 0, sizeof g_memory);
    return 0;
}
#endif

bt_error_t bt_clrerr(bt_desc_t) { return 0; }

char* bt_strerror(bt_desc_t, bt_error_t status, const char* message, char* buffer, size_t size)
{
    const char* text = status == kOutOfRange ? "test driver: address out of range"
                       : status == kNoDevice ? "test driver: no such device"
                       : status == kBadSetup ? "test driver: unexpected set-up call"
                                             : "test driver: unknown status";
    if (message && *message)
        std::snprintf(buffer, size, "%s: %s", message, text);
    else
        std::snprintf(buffer, size, "%s", text);
    return buffer;
}
}
