#pragma once
// The CAN link through a crate link: each CAN message travels as the
// crate command C5 to the crate's node controller, with a sequence number
// of this link's own; the board answers C6 C5 and the reply data, or
// FC C5 and one status byte (0 done).

#include "links/PortCAN.h"
#include "links/PortMC_All.h"

#include <atomic>
#include <mutex>

class CPortCAN_MC : public CPortCAN {
public:
    static constexpr int kDefaultTimeoutMs = 3000;
    static constexpr uint8_t kDataReplyType = 0x0B;
    static constexpr uint8_t kErrorReplyType = 0x08;

    CPortCAN_MC();
    ~CPortCAN_MC() override;

    bool AsyncRead(CanReaderCallback callback, void* context) override;
    bool PauseReader() override { return m_link.PauseReader(); }
    bool ResumeReader() override { return m_link.ResumeReader(); }
    // The crate link's settings.
    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    bool Open() override;
    void Close() override;
    bool IsOpen() override;
    // Exactly one message of at most 8 data bytes (else 87).
    bool SendMessages(const CanMessage* messages, int count) override;
    // Exactly one record (else 87): a data or error reply; anything else 13.
    bool ReceiveMessages(CanRecord* records, int& count) override;
    // An error reply with a status other than 0 fails with 29.
    bool Command(const CanMessage* message, int count, CanRecord* reply, int& replyCount) override;
    void SetMonitor(void* context, PortMonitor monitor) override;

    // The wait for each reply frame (3000 ms unless changed).
    void SetMessageTimeout(int ms) { m_timeoutMs = ms; }
    // The crate link, for crate commands to the node controller itself.
    CPortMC_All& CrateLink() { return m_link; }

private:
    static void ReaderTrampoline(CPortMC* link, void* context);
    bool Send(const CanMessage& message, uint8_t& sequence);
    // One reply; with expectSequence >= 0, replies numbered otherwise (left
    // over from an exchange that timed out) are passed over.
    bool Receive(CanRecord& record, int expectSequence);

    CPortMC_All m_link;
    std::atomic<int> m_timeoutMs{kDefaultTimeoutMs};
    std::mutex m_commandLock;
    std::mutex m_stateLock;  // the fields below
    uint8_t m_sequence = 0;
    uint8_t m_counter = 0;
    uint8_t m_templateId = 0;
    uint8_t m_templateType = kDataReplyType;
    const uint8_t m_nodeByte = 0xFF;
};
