#include "daq/DaqSettings.h"

#include "base/Error.h"

#include <cctype>
#include <strings.h>
#include <string>

namespace {
constexpr _DAQSETTING kSettings[CDaqSettings::Count] = {
    {"PU_BaseAddr", 32, 0xA0000},
    {"PU_ConfIO", 8, 0},
    {"PU_EnRW", 8, 0xFF},
    {"PU_ResetEn", 8, 0xFF},
    {"PU_ReTransmit", 8, 0},
    {"PU_ActiveIO", 8, 0xFF},
    {"PU_RunMode", 8, 0x42},
    {"PU_EventCounter", 16, 0x80},
    {"PU_Delay1", 8, 0},
    {"PU_Delay2", 8, 0},
    {"PU_DelayEx", 8, 0},
    {"ROS_BaseAddr", 32, 0xA00000},
    {"VMEDLY_BaseAddr", 32, 0xE00000},
    {"TTCvi_BaseAddr", 32, 0xFF1000},
    {"PatGen1_BaseAddr", 32, 0xF800},
    {"PatGen2_BaseAddr", 32, 0xF900},
    {"ZOraPort", 32, 38888},
    {"MaxRunEvents", 32, 100000},
};

uint32_t WidthMask(int bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1; }

}  // namespace

bool ParseSettingValue(std::string_view text, uint32_t& value)
{
    const bool hex = text.size() > 2 && text[0] == '0' && text[1] == 'x';
    const std::string digits(hex ? text.substr(2) : text);
    // stoull would take blanks and a sign in front of the digits.
    if (digits.empty() || !std::isxdigit(static_cast<unsigned char>(digits[0])))
        return false;
    size_t end = 0;
    unsigned long long v = 0;
    try {
        v = std::stoull(digits, &end, hex ? 16 : 10);
    } catch (...) {
        return false;
    }
    if (end != digits.size() || v > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::span<const _DAQSETTING> CDaqSettings::Table() { return kSettings; }

CDaqSettings::Index CDaqSettings::Find(std::string_view key)
{
    for (size_t i = 0; i < Count; ++i)
        if (key.size() == std::char_traits<char>::length(kSettings[i].key) &&
            strncasecmp(kSettings[i].key, key.data(), key.size()) == 0)
            return static_cast<Index>(i);
    return Count;
}

CDaqSettings::CDaqSettings()
{
    for (size_t i = 0; i < Count; ++i)
        m_values[i] = kSettings[i].defaultValue;
}

bool CDaqSettings::Set(Index index, uint32_t value)
{
    if (index >= Count || (value & ~WidthMask(kSettings[index].bits)) != 0) {
        SetLastErr(err::BadParam);
        return false;
    }
    m_values[index] = value;
    return true;
}

bool CDaqSettings::Assign(std::string_view assignment)
{
    const size_t eq = assignment.find('=');
    if (eq == std::string_view::npos) {
        SetLastErr(err::BadParam);
        return false;
    }
    const Index index = Find(assignment.substr(0, eq));
    if (index == Count) {
        SetLastErr(err::NotFound);
        return false;
    }
    uint32_t value = 0;
    if (!ParseSettingValue(assignment.substr(eq + 1), value)) {
        SetLastErr(err::BadParam);
        return false;
    }
    return Set(index, value);
}

void CDaqSettings::Load(const ProfileReader& read)
{
    for (size_t i = 0; i < Count; ++i) {
        uint32_t value = 0;
        if (read(kSettings[i].key, value))
            m_values[i] = value & WidthMask(kSettings[i].bits);
    }
}

void CDaqSettings::Save(const ProfileWriter& write) const
{
    for (size_t i = 0; i < Count; ++i)
        write(kSettings[i].key, m_values[i]);
}

_PUCONFIG CDaqSettings::PuConfig() const
{
    _PUCONFIG c;
    c.BaseAddr = m_values[PU_BaseAddr];
    c.ConfIO = static_cast<uint8_t>(m_values[PU_ConfIO]);
    c.EnRW = static_cast<uint8_t>(m_values[PU_EnRW]);
    c.ResetEn = static_cast<uint8_t>(m_values[PU_ResetEn]);
    c.ReTransmit = static_cast<uint8_t>(m_values[PU_ReTransmit]);
    c.ActiveIO = static_cast<uint8_t>(m_values[PU_ActiveIO]);
    c.RunMode = static_cast<uint8_t>(m_values[PU_RunMode]);
    c.EventCounter = static_cast<uint16_t>(m_values[PU_EventCounter]);
    c.Delay1 = static_cast<uint8_t>(m_values[PU_Delay1]);
    c.Delay2 = static_cast<uint8_t>(m_values[PU_Delay2]);
    c.DelayEx = static_cast<uint8_t>(m_values[PU_DelayEx]);
    return c;
}
