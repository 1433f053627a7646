#pragma once
// One crate link of each kind; every operation goes to the one chosen by
// "IOType" (1 primary bus, 2 secondary bus, 3 TCP). With none chosen the
// operations fail with 6.

#include "links/PortMC_Pri.h"
#include "links/PortMC_Sec.h"
#include "links/PortMC_Tcp.h"

#include <atomic>

class CPortMC_All : public CPortMC {
public:
    enum PropertyId : int32_t { kIOType = 701 };
    enum IOType : int32_t { kNone = 0, kPrimary = 1, kSecondary = 2, kTcp = 3 };
    static const _PROPDEF kProperties[];

    CPortMC_All();
    ~CPortMC_All() override;

    bool AsyncRead(LinkReaderCallback callback, void* context) override;
    // "IOType", then the active link's settings.
    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    // Changing "IOType" closes the active link; 612 reaches only the TCP link.
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    bool Open() override;
    void Close() override;
    bool IsOpen() override;
    bool SendFrame(const uint8_t* bytes, int count, int timeoutMs) override;
    bool ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs) override;
    bool Command(const uint8_t* command, int count, uint8_t* reply, int& replyCount, int timeoutMs,
                 int ccbid = -1) override;
    void SetMonitor(void* context, PortMonitor monitor) override;

    int32_t GetIOType() const { return m_ioType; }
    // The active link, null when none is chosen.
    CPortMC* Active() const { return m_active; }
    CPortMC_Pri& Primary() { return m_pri; }
    CPortMC_Sec& Secondary() { return m_sec; }
    CPortMC_Tcp& Tcp() { return m_tcp; }

private:
    CPortMC* activeOrFail() const;

    CPortMC_Pri m_pri;
    CPortMC_Sec m_sec;
    CPortMC_Tcp m_tcp;
    std::atomic<int32_t> m_ioType{kNone};
    std::atomic<CPortMC*> m_active{nullptr};
};
