#pragma once
// The server window's profile: which settings it stores under its profile
// key, in which order, and how stored values come back. The settings store
// itself belongs to the desktop shell; this is the walk it is fed from.
//
// Threads: the owner's thread, while the server is disconnected.

#include "links/PortMC_All.h"
#include "relay/RelaySettings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One stored value: numbers and booleans as integers, strings as text.
struct ProfileValue {
    std::string key;
    bool isText = false;
    int32_t number = 0;
    std::string text;
};

// Every setting of the link walked from "IOType" on, under its own name,
// except those a server profile never holds (socket type, datagram port,
// background open, the bridges and destination ids, the CCB IDs, which
// each client brings); then "ServerPort", "ServerReplyTo" and the access
// settings.
std::vector<ProfileValue> SaveServerProfile(CPortMC_All& link, CRelaySettings& settings);

// Applies stored values along the same walk; `find` returns the value
// stored under a key (as text when isText, else as a number), or null to
// keep the setting as it is. A value the setting refuses is passed over.
using ProfileLookup = std::function<const ProfileValue*(const std::string& key, bool isText)>;
void LoadServerProfile(CPortMC_All& link, CRelaySettings& settings, const ProfileLookup& find);

// Whether the server profile leaves out the link setting with this id.
bool IsLeftOutOfServerProfile(int32_t id);
