#include "daq/Vme.h"

#include "base/Error.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {
constexpr size_t kNameSize = 20;
constexpr size_t kErrorTextSize = 250;
constexpr int kUnit = 0;

std::string HexLabel(const char* format, uint32_t address)
{
    char label[48];
    std::snprintf(label, sizeof label, format, address);
    return label;
}
}  // namespace

CVme::~CVme() { Close(); }

bool CVme::Succeeded()
{
    m_status = 0;
    m_errorText.clear();
    return true;
}

bool CVme::Fail(const std::string& label, int status)
{
    char description[kErrorTextSize] = "";
    m_driver->Funcs().bt_strerror(m_handle, status, "", description, sizeof description);
    m_status = status;
    m_errorText = FormatVmeError(label, status, description);
    return false;
}

bool CVme::CheckOpen(const std::string& label)
{
    if (m_handle)
        return true;
    m_status = static_cast<int>(err::NotOpen);
    m_errorText = FormatVmeError(label, m_status, errorText(err::NotOpen));
    SetLastErr(err::NotOpen);
    return false;
}

bool CVme::Init(int logicalDevice)
{
    Close();
    m_driver = CVmeDriver::FromEnvironment("CVme::Init():", m_status, m_errorText);
    if (!m_driver)
        return false;
    const BtFunctions& bt = m_driver->Funcs();

    char name[kNameSize] = "";
    if (!bt.bt_gen_name(kUnit, logicalDevice, name, sizeof name)) {
        m_status = static_cast<int>(err::BadParam);
        m_errorText = FormatVmeError("CVme::Init():bt_gen_name():", m_status,
                                     "No device name for logical device " +
                                         std::to_string(logicalDevice));
        return false;
    }
    bt_desc_t handle = nullptr;
    if (int status = bt.bt_open(&handle, name, BT_RDWR); status != 0)
        return Fail("CVme::Init():bt_open():", status);
    m_handle = handle;
    // A half-configured device is closed again rather than left open.
    if (int status = bt.bt_set_info(m_handle, BT_INFO_DATAWIDTH, 0); status != 0) {
        Fail("CVme::Init():bt_set_info(BT_INFO_DATAWIDTH):", status);
        Close();
        return false;
    }
    if (int status = bt.bt_set_info(m_handle, BT_INFO_SWAP, 4); status != 0) {
        Fail("CVme::Init():bt_set_info(BT_INFO_SWAP):", status);
        Close();
        return false;
    }
    return Succeeded();
}

bool CVme::Write(uint32_t address, const void* data, size_t length)
{
    const std::string label = HexLabel("CVme::Write(%X):", address);
    if (!CheckOpen(label))
        return false;
    size_t done = 0;
    if (int status = m_driver->Funcs().bt_write(m_handle, data, address, length, &done); status != 0)
        return Fail(label, status);
    return Succeeded();
}

bool CVme::Read(uint32_t address, void* data, size_t length)
{
    const std::string label = HexLabel("CVme::Read(%X):", address);
    if (!CheckOpen(label))
        return false;
    size_t done = 0;
    if (int status = m_driver->Funcs().bt_read(m_handle, data, address, length, &done); status != 0)
        return Fail(label, status);
    return Succeeded();
}

bool CVme::Install_ICBR(Callback callback, void* context)
{
    if (!CheckOpen("CVme::Install_ICBR():"))
        return false;
    if (int status = m_driver->Funcs().bt_icbr_install(m_handle, BT_IRQ_TRIGGER, callback, context, 0);
        status != 0)
        return Fail("CVme::Install_ICBR():", status);
    m_callbacks.push_back(callback);
    return Succeeded();
}

bool CVme::Reset()
{
    if (!CheckOpen("CVme::Reset():bt_get_info():"))
        return false;
    const BtFunctions& bt = m_driver->Funcs();
    uint32_t delayMs = 0;
    if (int status = bt.bt_get_info(m_handle, BT_INFO_RESET_DELAY, &delayMs); status != 0)
        return Fail("CVme::Reset():bt_get_info():", status);
    if (int status = bt.bt_reset(m_handle); status != 0)
        return Fail("CVme::Reset():bt_reset():", status);
    return Pause("CVme::Reset():", static_cast<int>(std::min<uint32_t>(delayMs, INT32_MAX)));
}

bool CVme::Pause(const std::string& label, int ms)
{
    if (m_abort.Wait(ms)) {
        m_status = static_cast<int>(err::Aborted);
        m_errorText = FormatVmeError(label, m_status, errorText(err::Aborted));
        SetLastErr(err::Aborted);
        return false;
    }
    return Succeeded();
}

void CVme::Close()
{
    if (m_handle) {
        const BtFunctions& bt = m_driver->Funcs();
        for (Callback callback : m_callbacks)
            bt.bt_icbr_remove(m_handle, BT_IRQ_TRIGGER, callback);
        bt.bt_clrerr(m_handle);
        bt.bt_close(m_handle);
        m_handle = nullptr;
    }
    m_callbacks.clear();
    m_driver.reset();
}
