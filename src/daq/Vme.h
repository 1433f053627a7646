#pragma once
// One logical device of the VME adapter. Every operation returns true on
// success; on failure Status() holds the driver's status and ErrorText() the
// report "%s Error %d\r\n%s\r\n" (the operation's label, the status and the
// driver's description). Callers serialise their use of one CVme.

#include "base/Event.h"
#include "daq/VmeDriver.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CVme {
public:
    // Called by the driver on its callback thread with (context, interrupt
    // type, vector).
    using Callback = bt_icbr_t;

    CVme() = default;
    ~CVme();
    CVme(const CVme&) = delete;
    CVme& operator=(const CVme&) = delete;

    // Opens the logical device (closing first when open). The driver is the
    // library named by TELVANE_VME_LIBRARY, or the simulated stand.
    bool Init(int logicalDevice);
    bool IsOpen() const { return m_handle != nullptr; }

    bool Write(uint32_t address, const void* data, size_t length);
    bool Read(uint32_t address, void* data, size_t length);
    bool Write16(uint32_t address, uint16_t value) { return Write(address, &value, 2); }
    bool Write32(uint32_t address, uint32_t value) { return Write(address, &value, 4); }
    bool Read16(uint32_t address, uint16_t& value) { return Read(address, &value, 2); }
    bool Read32(uint32_t address, uint32_t& value) { return Read(address, &value, 4); }

    // Installs callback for interrupt type 3; it stays installed until Close.
    bool Install_ICBR(Callback callback, void* context);
    // Resets the VME bus and waits the driver's reset delay; an Abort
    // meanwhile ends the wait with status 995.
    bool Reset();
    // Waits ms unless Abort is called first (false with status 995). The
    // reset delay and the modules' settling times wait here, so that a
    // worker being stopped never sits through them.
    bool Pause(const std::string& label, int ms);
    // From any thread: ends the current and every later Pause until
    // ClearAbort.
    void Abort() { m_abort.Set(); }
    void ClearAbort() { m_abort.Reset(); }
    // Removes every installed callback, clears the driver's error state and
    // closes the device; the callbacks have returned when Close does.
    void Close();

    int Status() const { return m_status; }
    const std::string& ErrorText() const { return m_errorText; }
    // The driver library's path; empty for the simulated stand.
    std::string DriverPath() const { return m_driver ? m_driver->Path() : std::string(); }

private:
    bool Succeeded();
    bool Fail(const std::string& label, int status);
    bool CheckOpen(const std::string& label);

    int m_status = 0;
    std::string m_errorText;
    std::unique_ptr<CVmeDriver> m_driver;
    bt_desc_t m_handle = nullptr;
    std::vector<Callback> m_callbacks;
    CEvent m_abort{true, false};
};
