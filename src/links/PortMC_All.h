#pragma once
// The crate link of the kind chosen by "IOType" (1 primary bus, 2 secondary
// bus, 3 TCP); every operation goes to it. With none chosen the operations
// fail with 6.
//
// A link of a kind is created the first time "IOType" chooses it, so that a
// process can hold hundreds of crate links without spending descriptors on
// kinds it never uses. Once created it lives as long as this object, so a
// pointer from Active() stays valid.
//
// Threads: as the links it holds (commands of several threads serialise on
// the active link's command lock; Close is safe from any thread). Changing
// "IOType" while another thread uses the link is allowed but ends that
// thread's operation with the old link closed.

#include "links/PortMC_Pri.h"
#include "links/PortMC_Sec.h"
#include "links/PortMC_Tcp.h"

#include <atomic>
#include <memory>
#include <mutex>

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
    void ListProperties(PropertyList& out) override;
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
    // Installed on the active link, and on each link chosen later.
    void SetMonitor(void* context, PortMonitor monitor) override;
    bool PauseReader() override;
    bool ResumeReader() override;

    int32_t GetIOType() const { return m_ioType; }
    // The active link, null when none is chosen.
    CPortMC* Active() const { return m_active; }

private:
    CPortMC* activeOrFail() const;
    // Creates the link of `type` on first use.
    CPortMC* linkOf(int32_t type);

    std::mutex m_switchLock;  // creation and choice of the active link
    std::unique_ptr<CPortMC> m_links[4];
    PortMonitor m_monitor = nullptr;  // guarded by m_switchLock
    void* m_monitorContext = nullptr;
    std::atomic<int32_t> m_ioType{kNone};
    std::atomic<CPortMC*> m_active{nullptr};
};
