#pragma once
// The VME adapter's driver interface: the bt_* functions CVme calls, and the
// table that holds them. The table is filled from a driver library opened
// with dlopen, or from the built-in simulated stand.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
typedef void* bt_desc_t;
// 0 is success; any other value is the driver's own status code.
typedef int bt_error_t;
typedef void (*bt_icbr_t)(void* param, int irqType, uint32_t vector);

typedef const char* (*bt_gen_name_fn)(int unit, int logicalDevice, char* name, size_t size);
typedef bt_error_t (*bt_open_fn)(bt_desc_t* handle, const char* name, int access);
typedef bt_error_t (*bt_close_fn)(bt_desc_t handle);
typedef bt_error_t (*bt_set_info_fn)(bt_desc_t handle, int param, uint32_t value);
typedef bt_error_t (*bt_get_info_fn)(bt_desc_t handle, int param, uint32_t* value);
typedef bt_error_t (*bt_read_fn)(bt_desc_t handle, void* data, uint32_t address, size_t length,
                                 size_t* done);
typedef bt_error_t (*bt_write_fn)(bt_desc_t handle, const void* data, uint32_t address,
                                  size_t length, size_t* done);
typedef bt_error_t (*bt_icbr_install_fn)(bt_desc_t handle, int irqType, bt_icbr_t callback,
                                         void* param, uint32_t vector);
typedef bt_error_t (*bt_icbr_remove_fn)(bt_desc_t handle, int irqType, bt_icbr_t callback);
typedef bt_error_t (*bt_reset_fn)(bt_desc_t handle);
typedef bt_error_t (*bt_clrerr_fn)(bt_desc_t handle);
// Writes the description of status (after "message: " when message is not
// empty) into buffer and returns buffer.
typedef char* (*bt_strerror_fn)(bt_desc_t handle, bt_error_t status, const char* message,
                                char* buffer, size_t size);
}

// Numeric codes passed to the driver.
enum : int {
    BT_RDWR = 3,               // open for reading and writing
    BT_INFO_DATAWIDTH = 3,     // data-width setting, set to 0
    BT_INFO_SWAP = 7,          // byte-swap setting, set to 4
    BT_INFO_RESET_DELAY = 12,  // milliseconds to wait after a bus reset
    BT_IRQ_TRIGGER = 3,        // interrupt type of the trigger
};

struct BtFunctions {
    bt_gen_name_fn bt_gen_name = nullptr;
    bt_open_fn bt_open = nullptr;
    bt_set_info_fn bt_set_info = nullptr;
    bt_get_info_fn bt_get_info = nullptr;
    bt_read_fn bt_read = nullptr;
    bt_write_fn bt_write = nullptr;
    bt_icbr_install_fn bt_icbr_install = nullptr;
    bt_icbr_remove_fn bt_icbr_remove = nullptr;
    bt_reset_fn bt_reset = nullptr;
    bt_clrerr_fn bt_clrerr = nullptr;
    bt_close_fn bt_close = nullptr;
    bt_strerror_fn bt_strerror = nullptr;
};

// The table of the built-in simulated stand.
const BtFunctions& SimVmeDriverTable();

// One loaded driver: a library opened with dlopen (closed again with the
// object), or the simulated stand when no library is named.
class CVmeDriver {
public:
    // Opens the library at path, or the simulated stand when path is empty.
    // Returns null on failure with status and text set ("%s Error %d\r\n%s\r\n"
    // under label).
    static std::unique_ptr<CVmeDriver> Load(const std::string& path, const char* label,
                                            int& status, std::string& errorText);
    // The library named by TELVANE_VME_LIBRARY, or the simulated stand.
    static std::unique_ptr<CVmeDriver> FromEnvironment(const char* label, int& status,
                                                       std::string& errorText);
    ~CVmeDriver();
    CVmeDriver(const CVmeDriver&) = delete;
    CVmeDriver& operator=(const CVmeDriver&) = delete;

    const BtFunctions& Funcs() const { return m_funcs; }
    // The library's path; empty for the simulated stand.
    const std::string& Path() const { return m_path; }

private:
    CVmeDriver(void* library, std::string path, const BtFunctions& funcs)
        : m_library(library), m_path(std::move(path)), m_funcs(funcs)
    {
    }

    void* m_library;
    std::string m_path;
    BtFunctions m_funcs;
};

// "%s Error %d\r\n%s\r\n": the label, the status and the description.
std::string FormatVmeError(const std::string& label, int status, const std::string& description);
