#include "daq/VmeModule.h"

#include "base/Error.h"

bool CVmeModule::Result(const char* label, bool ok)
{
    if (ok) {
        m_status = 0;
        m_errorText.clear();
        return true;
    }
    m_status = m_vme->Status();
    m_errorText = label + m_vme->ErrorText();
    return false;
}

bool CVmeModule::Rd16(const char* label, uint32_t offset, uint16_t& value)
{
    return Result(label, m_vme->Read16(m_base + offset, value));
}

bool CVmeModule::Wr16(const char* label, uint32_t offset, uint16_t value)
{
    return Result(label, m_vme->Write16(m_base + offset, value));
}

bool CVmeModule::Rd32(const char* label, uint32_t offset, uint32_t& value)
{
    return Result(label, m_vme->Read32(m_base + offset, value));
}

bool CVmeModule::Wr32(const char* label, uint32_t offset, uint32_t value)
{
    return Result(label, m_vme->Write32(m_base + offset, value));
}

bool CVmeModule::Settle(const char* label, int ms) { return Result(label, m_vme->Pause("", ms)); }

bool CVmeModule::Fail(const char* label, uint32_t code)
{
    m_status = static_cast<int>(code);
    m_errorText = label + FormatVmeError("", m_status, errorText(code));
    SetLastErr(code);
    return false;
}
