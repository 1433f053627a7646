#include "sim/SimCanGateway.h"

#include "sim/SimIo.h"

#include <algorithm>

using simcan::Record;

namespace {
Record writeErrorRecord()
{
    Record r{};
    r[0] = simcan::kWriteError;
    return r;
}
}  // namespace

CSimCanGateway::CSimCanGateway(std::shared_ptr<CSimCanNodes> nodes)
    : m_nodes(std::move(nodes)),
      m_tcp([] { return std::make_unique<Client>(); },
            [this](CSimTcpClient& client) { serve(static_cast<Client&>(client)); })
{
}

CSimCanGateway::~CSimCanGateway() { Stop(); }

Record CSimCanGateway::recordOf(Client& client, const SimCanFrame& frame)
{
    Record r{};
    r[1] = simcan::EncodeTypeByte(frame.type);
    r[2] = frame.node;
    {
        std::lock_guard lock(client.writeLock);
        r[3] = ++client.counter;
    }
    r[4] = static_cast<uint8_t>(frame.data.size());
    std::copy(frame.data.begin(), frame.data.end(), r.begin() + 5);
    return r;
}

int CSimCanGateway::Emit(uint8_t node, std::span<const uint8_t> data)
{
    SimCanFrame frame{node, 3, std::vector<uint8_t>(data.begin(), data.begin() + std::min<size_t>(data.size(), 8))};
    int sent = 0;
    m_tcp.ForEachClient([&](CSimTcpClient& base) {
        Client& c = static_cast<Client&>(base);
        bool configured;
        {
            std::lock_guard w(c.writeLock);
            configured = c.configured && !c.done;
        }
        if (!configured)
            return;
        const Record r = recordOf(c, frame);
        if (send(c, simcan::Message(simcan::kKindData, {&r, 1})))
            ++sent;
    });
    return sent;
}

void CSimCanGateway::serve(Client& client)
{
    CEvent& stop = m_tcp.StopEvent();
    for (;;) {
        uint8_t headBytes[simcan::kHeadSize];
        if (!simio::ReadAll(client.fd, headBytes, sizeof headBytes, stop))
            return;
        const simcan::Head head = simcan::DecodeHead(headBytes);
        // Out of step: no later head can be found in the stream.
        if (head.magic != simcan::kMagic || head.count > simcan::kMaxRecords)
            return;
        std::vector<Record> records(head.count);
        for (Record& r : records)
            if (!simio::ReadAll(client.fd, r.data(), r.size(), stop))
                return;
        bool ok;
        if (head.kind == simcan::kKindConfig) {
            ok = configure(client, records);
        } else if (head.kind == simcan::kKindData) {
            ok = deliver(client, records);
        } else {
            const Record r = writeErrorRecord();
            ok = send(client, simcan::Message(simcan::kKindConfig, {&r, 1}));
        }
        if (!ok)
            return;
    }
}

bool CSimCanGateway::configure(Client& client, std::vector<Record>& records)
{
    for (Record& r : records)
        r[0] = simcan::kConfigAccepted;
    bool refused = false;
    if (!records.empty() && m_faults.Take(SimCanFault::RefuseConfig)) {
        records[std::min<size_t>(2, records.size() - 1)][0] = 0;
        refused = true;
    }
    const uint32_t kind = m_faults.Take(SimCanFault::ConfigKind) ? simcan::kKindData : simcan::kKindConfig;
    {
        std::lock_guard lock(client.writeLock);
        client.configured = !refused && kind == simcan::kKindConfig;
    }
    return send(client, simcan::Message(kind, records));
}

bool CSimCanGateway::deliver(Client& client, const std::vector<Record>& records)
{
    bool configured;
    {
        std::lock_guard lock(client.writeLock);
        configured = client.configured;
    }
    bool failed = !configured;
    std::vector<SimCanAnswer> answers;
    for (const Record& r : records) {
        if (failed)
            break;
        CSimCanNode* node = m_nodes->Node(r[2]);
        if (!node || r[4] > 8) {
            failed = true;
            break;
        }
        answers.push_back(node->Handle(simcan::FrameType(r[1]), {r.data() + 5, r[4]}));
        failed = answers.back().writeError;
    }
    if (failed) {
        const Record r = writeErrorRecord();
        return send(client, simcan::Message(simcan::kKindConfig, {&r, 1}));
    }
    Record ack{};
    ack[4] = simcan::kAcknowledge;
    if (!send(client, simcan::Message(simcan::kKindData, {&ack, 1})))
        return false;
    for (const SimCanAnswer& a : answers) {
        if (a.frames.empty())
            continue;
        if (a.delayMs > 0 && m_tcp.StopEvent().Wait(a.delayMs))
            return false;
        if (!sendReply(client, a.frames))
            return false;
    }
    return true;
}

bool CSimCanGateway::sendReply(Client& client, const std::vector<SimCanFrame>& frames)
{
    if (m_faults.Take(SimCanFault::EmptyMessage) && !send(client, simcan::Message(simcan::kKindData, {})))
        return false;
    std::vector<Record> records;
    for (const SimCanFrame& f : frames)
        records.push_back(recordOf(client, f));
    std::vector<uint8_t> message = simcan::Message(simcan::kKindData, records);
    if (m_faults.Take(SimCanFault::BadMagic))
        message[0] ^= 0xFF;
    if (m_faults.Take(SimCanFault::TooManyRecords)) {
        auto head = simcan::EncodeHead({simcan::kMagic, simcan::kMaxRecords + 1, simcan::kKindData});
        return send(client, {head.begin(), head.end()});
    }
    if (m_faults.Take(SimCanFault::CloseMidMessage)) {
        message.resize(simcan::kHeadSize + 5);
        send(client, message);
        return false;
    }
    return send(client, message);
}
