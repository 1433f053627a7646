#pragma once
// The DAQ engine's settings: the boards' base addresses and register values,
// the server port and the largest run the event store accepts. Each setting
// has a width of 8, 16 or 32 bits; the profile keeps every value as a 32-bit
// integer. Not thread-safe: the owner copies a settings object into the
// engine.

#include "daq/Pu.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

// A setting's value: decimal or 0x hexadecimal (lower-case x, as in the
// number text), the whole text, at most 32 bits unsigned.
bool ParseSettingValue(std::string_view text, uint32_t& value);

struct _DAQSETTING {
    const char* key;
    int bits;
    uint32_t defaultValue;
};

class CDaqSettings {
public:
    enum Index : size_t {
        PU_BaseAddr,
        PU_ConfIO,
        PU_EnRW,
        PU_ResetEn,
        PU_ReTransmit,
        PU_ActiveIO,
        PU_RunMode,
        PU_EventCounter,
        PU_Delay1,
        PU_Delay2,
        PU_DelayEx,
        ROS_BaseAddr,
        VMEDLY_BaseAddr,
        TTCvi_BaseAddr,
        PatGen1_BaseAddr,
        PatGen2_BaseAddr,
        ZOraPort,
        MaxRunEvents,
        Count
    };

    // The settings in profile order, with their widths and defaults.
    static std::span<const _DAQSETTING> Table();
    // The index of key (any case); Count when there is none.
    static Index Find(std::string_view key);

    CDaqSettings();

    uint32_t Get(Index index) const { return m_values[index]; }
    // False with last error 87 when value does not fit the setting's width.
    bool Set(Index index, uint32_t value);
    // "NAME=VALUE" with VALUE in the number text ("0x" for hexadecimal).
    // False with 2 for an unknown name, 87 for a malformed or too wide value.
    bool Assign(std::string_view assignment);

    // Reads every key present in the profile; a missing key keeps its value,
    // a stored value is cut to the setting's width.
    using ProfileReader = std::function<bool(const char* key, uint32_t& value)>;
    using ProfileWriter = std::function<void(const char* key, uint32_t value)>;
    void Load(const ProfileReader& read);
    void Save(const ProfileWriter& write) const;

    _PUCONFIG PuConfig() const;

private:
    std::array<uint32_t, Count> m_values{};
};
