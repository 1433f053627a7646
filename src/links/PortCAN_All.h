#pragma once
// The CAN link of the kind chosen by "CANIOType" (1 through the crate link,
// 2 through the CAN gateway); every operation goes to it. With none chosen
// the operations fail with 6.
//
// A link of a kind is created the first time it is chosen and lives as long
// as this object, so a pointer from Active() stays valid.
//
// Threads: as the links it holds. Changing "CANIOType" while another thread
// uses the link ends that thread's operation with the old link closed.

#include "links/PortCAN_MC.h"
#include "links/PortCAN_Node.h"

#include <atomic>
#include <memory>
#include <mutex>

class CPortCAN_All : public CPortCAN {
public:
    enum PropertyId : int32_t { kCANIOType = 801 };
    enum CANIOType : int32_t { kNone = 0, kCompatible = 1, kNode = 2 };
    static const _PROPDEF kProperties[];

    CPortCAN_All();
    ~CPortCAN_All() override;

    bool AsyncRead(CanReaderCallback callback, void* context) override;
    // "CANIOType", then the active link's settings.
    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    // Changing "CANIOType" closes the link that was active.
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    bool Open() override;
    void Close() override;
    bool IsOpen() override;
    bool SendMessages(const CanMessage* messages, int count) override;
    bool ReceiveMessages(CanRecord* records, int& count) override;
    bool Command(const CanMessage* message, int count, CanRecord* reply, int& replyCount) override;
    // Reaches the crate link of the compatible path (the gateway's bytes
    // are no crate traffic).
    void SetMonitor(void* context, PortMonitor monitor) override;
    bool PauseReader() override;
    bool ResumeReader() override;

    int32_t GetCANIOType() const { return m_type; }
    CPortCAN* Active() const { return m_active; }

private:
    CPortCAN* activeOrFail() const;

    std::mutex m_switchLock;  // creation and choice of the active link
    std::unique_ptr<CPortCAN_MC> m_mc;
    std::unique_ptr<CPortCAN_Node> m_node;
    PortMonitor m_monitor = nullptr;  // guarded by m_switchLock
    void* m_monitorContext = nullptr;
    std::atomic<int32_t> m_type{kNone};
    std::atomic<CPortCAN*> m_active{nullptr};
};
