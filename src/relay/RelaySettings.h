#pragma once
// The server window's own settings: "ServerPort" and "ServerReplyTo", and
// the access settings every listening server has here (bind address,
// allowed client networks, client limit, frame and write deadlines, the
// ceiling on a client's command timeout). Described by a property table
// like the links' settings, so that the pane, the profile store and the
// command line handle them the same way.
//
// Threads: not locked; the owner changes settings only while the server
// is disconnected.

#include "base/Property.h"
#include "ports/ListenServer.h"

#include <cstdint>
#include <string>
#include <string_view>

class CRelaySettings {
public:
    enum PropertyId : int32_t {
        kServerPort = 901,
        kServerReplyTo = 902,
        kBindAddress = 903,
        kAllowClients = 904,
        kMaxClients = 905,
        kFrameDeadline = 906,
        kMaxCmdTimeOut = 907,
        kWriteDeadline = 908,
    };
    static const _PROPDEF kProperties[];

    struct Values {
        int32_t serverPort = 18888;
        int32_t serverReplyTo = 5000;
        std::string bindAddress;   // empty: every address
        std::string allowClients;  // networks in CIDR form; empty: everyone
        int32_t maxClients = 16;
        int32_t frameDeadline = 500;     // ms for each read of a begun frame
        int32_t maxCmdTimeOut = 60000;   // ceiling on a client's command timeout, ms
        int32_t writeDeadline = 5000;    // ms a client may leave its replies unread
    };

    // The settings in table order.
    static PropertyList Properties();
    bool GetProperty(int32_t id, CVariant& value) const;
    // Converts and checks the value; false with 87 when it is out of range
    // or does not parse (the setting keeps its value).
    bool SetPropertyById(int32_t id, const CVariant& value);
    // By name (any case), whatever the value's type.
    bool SetProperty(std::string_view name, const CVariant& value);

    const Values& Get() const { return m_values; }
    // The listener's settings; the bind address and the list were checked
    // when they were set.
    ListenSettings ToListenSettings() const;

private:
    Values m_values;
};
