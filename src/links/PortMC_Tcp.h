#pragma once
// The crate link through a crate server over TCP. With "CCB ID Mode" set to
// "McList" the server, port and CCB IDs come from the crate catalogue:
// the user picks wheel, sector and crate type.

#include "base/Error.h"
#include "links/Divadiduv.h"
#include "links/PortMC.h"
#include "ports/PortIO_Socket.h"

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

// A crate-list lookup that found no answer; what() is the text for the user.
// Its code is 2 (not found) when it ends a background open.
class CMcListError : public CCodedError {
public:
    explicit CMcListError(const std::string& text) : CCodedError(err::NotFound, text) {}
};

class CPortMC_Tcp : public CPortMC {
public:
    enum PropertyId : int32_t {
        kCcbIdMode = 601,
        kMcList = 602,
        kPortType = 603,
        kCcbId = 604,
        kWheel = 605,
        kSector = 606,
        kMcType = 607,
        kBridge = 608,
        kDestId = 609,
        kDestMc = 610,
        kTimeout = 611,  // 0 to kMaxTimeoutMs
        // Not in the table: applies the crate catalogue (any value).
        kApplyCatalogue = 612,
    };
    enum CcbIdMode : int32_t { kManual = 0, kMcListMode = 1 };
    enum PortType : int32_t { kPrimary = 1, kSecondaryLow = 2, kSecondaryHigh = 3 };
    static const _PROPDEF kProperties[];
    // "Timeout" (the crate server's own wait, added to each reply wait)
    // takes 0 to one hour; other values are refused with 87.
    static constexpr int32_t kMaxTimeoutMs = 3600000;
    static const char kDefaultMcList[];

    CPortMC_Tcp();
    ~CPortMC_Tcp() override;

    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    // Id 612 throws CMcListError when the catalogue has no answer.
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    // With "McList": loads the catalogue when none is loaded (failure fails
    // the open), applies it (may throw CMcListError), then connects.
    bool Open() override;
    bool SendFrame(const uint8_t* bytes, int count, int timeoutMs) override;
    bool ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs) override;

    CPortIO_Socket& Port() { return m_socket; }
    // Replaces the loaded catalogue (none: the next McList open loads it).
    void SetCatalogue(std::unique_ptr<CDivadiduvs> catalogue);

protected:
    void TakeCommandCcbid(int ccbid) override;

private:
    struct Settings {
        int32_t ccbIdMode = kManual;
        std::string mcList = kDefaultMcList;
        int32_t portType = kPrimary;
        uint16_t ccbid = 0;
        int32_t wheel = 0;
        int32_t sector = 1;
        int32_t mcType = 1;
        int32_t bridge = 0;
        uint16_t destId = 0;
        int32_t destMc = 1;
        int32_t timeout = 2000;
    };
    Settings Snapshot() const;
    // What each frame needs, without copying the strings.
    struct FrameSettings {
        uint16_t ccbid;
        int32_t bridge;
        uint16_t destId;
        int32_t timeout;
    };
    FrameSettings FrameSnapshot() const;
    void ApplyCatalogue();

    CPortIO_Socket m_socket;
    mutable std::mutex m_settingsLock;
    Settings m_settings;
    std::unique_ptr<CDivadiduvs> m_catalogue;  // guarded by m_settingsLock
    bool m_bridgeSuspended = false;            // guarded by the command lock
};
