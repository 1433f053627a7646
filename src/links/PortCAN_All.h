#pragma once
// One CAN link of each kind; every operation goes to the one chosen by
// "CANIOType" (1 through the crate link, 2 through the CAN gateway). With
// none chosen the operations fail with 6.

#include "links/PortCAN_MC.h"
#include "links/PortCAN_Node.h"

#include <atomic>

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

    int32_t GetCANIOType() const { return m_type; }
    CPortCAN* Active() const { return m_active; }
    CPortCAN_MC& Compatible() { return m_mc; }
    CPortCAN_Node& Node() { return m_node; }

private:
    CPortCAN* activeOrFail() const;

    CPortCAN_MC m_mc;
    CPortCAN_Node m_node;
    std::atomic<int32_t> m_type{kNone};
    std::atomic<CPortCAN*> m_active{nullptr};
};
