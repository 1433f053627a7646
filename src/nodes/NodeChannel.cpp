#include "nodes/NodeChannel.h"

#include "base/Error.h"

#include <bit>

namespace {

// Monitor sub-commands (data byte 0 of a message with identifier byte B 0).
constexpr uint8_t kGetError = 0x01;
constexpr uint8_t kGetCanCounters = 0x02;
constexpr uint8_t kResetNode = 0x04;
constexpr uint8_t kGetDest = 0x06;
constexpr uint8_t kResetErrorCnt = 0x0A;
constexpr uint8_t kGetRsCounters = 0x0B;
constexpr uint8_t kReadTemperature = 0x10;
constexpr uint8_t kReadAdc = 0x13;
constexpr uint8_t kReadHistog = 0x14;
constexpr uint8_t kLatchUp = 0x15;
constexpr uint8_t kRdVersion = 0x16;
constexpr uint8_t kRdDac = 0x17;

constexpr uint8_t kMonitorFrame = 3;
constexpr int kBlockSize = 8;
// Block indexes are one byte.
constexpr int kMaxBlocks = 256;
constexpr int kStatusReplyBuffer = 32;
constexpr int kHistogramReplyBuffer = 40;
constexpr int kReadReplyBuffer = 128;

bool fail(uint32_t code)
{
    SetLastErr(code);
    return false;
}

bool succeed()
{
    SetLastErr(err::Success);
    return true;
}

bool edgeNode(uint8_t node) { return node == 0 || node == 9; }

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool AcceptNodeReply(const CanRecord& reply, uint8_t node, int expectedLength)
{
    return reply.FrameType() == kMonitorFrame || (reply.status == node && reply.length == expectedLength);
}

bool CNodeChannel::Allowed(uint8_t node, bool& useCrate) const
{
    const uint8_t connection = m_connectionNode;
    useCrate = false;
    if (node >= kNodeCount || connection == kNodeUnknown)
        return fail(err::BadParam);
    useCrate = node == connection && !edgeNode(node);
    return true;
}

bool CNodeChannel::AllowedOnBus(uint8_t node) const
{
    bool useCrate;
    if (!Allowed(node, useCrate))
        return false;
    return !useCrate || fail(err::BadParam);
}

bool CNodeChannel::Send(uint8_t node, uint8_t idB, std::span<const uint8_t> data)
{
    if (data.size() > kBlockSize)
        return fail(err::BadParam);
    const CanMessage m = MakeCanMessage(node, idB, false, data.data(), static_cast<int>(data.size()));
    CanRecord reply{};
    int count = 1;
    return m_link.Command(&m, 1, &reply, count);
}

bool CNodeChannel::Ask(uint8_t node, std::span<const uint8_t> request, int expected, int least, CanRecord& reply)
{
    const CanMessage m = MakeCanMessage(node, kMonitor, true, request.data(), static_cast<int>(request.size()));
    int count = 1;
    reply = CanRecord{};
    if (!m_link.Command(&m, 1, &reply, count))
        return false;
    // A reply must also hold what the caller reads from it.
    if (count < 1 || !AcceptNodeReply(reply, node, expected) || reply.length > kBlockSize || reply.length < least)
        return fail(err::BadFrame);
    return succeed();
}

bool CNodeChannel::CrateCommand(std::span<const uint8_t> command, uint8_t* reply, int& replyCount)
{
    // Only the path through the crate has a crate to ask.
    auto* tunnel = dynamic_cast<CPortCAN_MC*>(m_link.Active());
    if (!tunnel)
        return fail(err::BadParam);
    return tunnel->CrateLink().Command(command.data(), static_cast<int>(command.size()), reply, replyCount,
                                       kCrateCommandTimeoutMs);
}

bool CNodeChannel::CrateStatus(nodectl::ControllerStatus& status)
{
    const uint8_t command[] = {nodectl::kStatusCommand};
    uint8_t reply[kStatusReplyBuffer];
    int count = sizeof reply;
    if (!CrateCommand(command, reply, count))
        return false;
    if (!nodectl::DecodeStatus({reply, static_cast<size_t>(count)}, status))
        return fail(err::BadFrame);
    return succeed();
}

bool CNodeChannel::GetNode()
{
    switch (m_link.GetCANIOType()) {
    case CPortCAN_All::kCompatible: {
        nodectl::ControllerStatus status;
        if (!CrateStatus(status))
            return false;
        m_connectionNode = status.connectionNode;
        return succeed();
    }
    case CPortCAN_All::kNode:
        m_connectionNode = 9;
        return succeed();
    default:
        return fail(err::BadParam);
    }
}

bool CNodeChannel::ResetNode(uint8_t node)
{
    const uint8_t data[] = {kResetNode};
    return AllowedOnBus(node) && Send(node, kMonitor, data);
}

bool CNodeChannel::ResetErrorCnt(uint8_t node)
{
    const uint8_t data[] = {kResetErrorCnt};
    return AllowedOnBus(node) && Send(node, kMonitor, data);
}

bool CNodeChannel::GetError(uint8_t node, NodeErrorState& out)
{
    out.valid = false;
    const uint8_t request[] = {kGetError};
    CanRecord r;
    if (!AllowedOnBus(node) || !Ask(node, request, 8, 8, r))
        return false;
    const uint8_t* d = r.data;
    if (edgeNode(node)) {
        out.code = {d[2], d[3], d[0], d[1]};
        out.timeA = out.timeB = 0;
        out.flags = d[5];
    } else {
        out.code = {d[0], d[1], d[2], d[7]};
        out.timeA = static_cast<uint16_t>((d[5] * 256 + d[6]) * 5);
        out.timeB = static_cast<uint16_t>((d[3] * 256 + d[4]) * 5);
        out.flags = 0;
    }
    out.valid = true;
    return true;
}

bool CNodeChannel::ReadBlocks(uint8_t node, uint8_t subCommand, std::vector<uint8_t>& out)
{
    out.clear();
    for (int block = 0; block < kMaxBlocks; ++block) {
        const uint8_t request[] = {subCommand, static_cast<uint8_t>(block)};
        CanRecord r;
        if (!Ask(node, request, kBlockSize, 0, r))
            return false;
        out.insert(out.end(), r.data, r.data + r.length);
        if (r.length < kBlockSize)
            break;
    }
    return succeed();
}

bool CNodeChannel::GetErrorCnt(uint8_t node, NodeErrorCounters& out)
{
    out.valid = false;
    NodeVersion version;
    if (!AllowedOnBus(node) || !RdVersion(node, version))
        return false;
    const bool oldForm = (node == 0 && version.Number() <= 0x0207) || (node == 9 && version.Number() <= 0x0204);
    if (oldForm) {
        // One request per kind: the argument selects the kind, not a block.
        CanRecord r;
        const uint8_t canRequest[] = {kGetCanCounters, 0};
        if (!Ask(node, canRequest, kBlockSize, 0, r))
            return false;
        out.can.assign(r.data, r.data + r.length);
        const uint8_t rsRequest[] = {kGetCanCounters, 1};
        if (!Ask(node, rsRequest, kBlockSize, 0, r))
            return false;
        out.rs485.assign(r.data, r.data + r.length);
    } else if (!ReadBlocks(node, kGetCanCounters, out.can) || !ReadBlocks(node, kGetRsCounters, out.rs485)) {
        return false;
    }
    out.valid = true;
    return succeed();
}

bool CNodeChannel::GetDest(uint8_t node, NodeDestination& out)
{
    out.valid = false;
    bool useCrate;
    if (!Allowed(node, useCrate))
        return false;
    if (useCrate) {
        nodectl::ControllerStatus status;
        if (!CrateStatus(status))
            return false;
        out.value = status.destination;
    } else {
        const uint8_t request[] = {kGetDest};
        CanRecord r;
        if (!Ask(node, request, 2, 2, r))
            return false;
        out.value = le16(r.data);
    }
    out.valid = true;
    return true;
}

bool CNodeChannel::RdDac(uint8_t node, NodeDac& out)
{
    out.valid = false;
    const uint8_t request[] = {kRdDac};
    CanRecord r;
    if (!AllowedOnBus(node) || !Ask(node, request, 4, 3, r))
        return false;
    out.threshold = r.data[0];
    out.laser = le16(r.data + 1);
    out.valid = true;
    return true;
}

bool CNodeChannel::LatchUp(uint8_t node, uint8_t reset, NodeLatchUp& out)
{
    out.valid = false;
    const uint8_t request[] = {kLatchUp, reset};
    CanRecord r;
    if (!AllowedOnBus(node) || !Ask(node, request, 3, 3, r))
        return false;
    out.state = {r.data[0], r.data[1], r.data[2]};
    out.valid = true;
    return true;
}

bool CNodeChannel::RdVersion(uint8_t node, NodeVersion& out)
{
    out.valid = false;
    bool useCrate;
    if (!Allowed(node, useCrate))
        return false;
    if (useCrate) {
        nodectl::ControllerStatus status;
        if (!CrateStatus(status))
            return false;
        out.major = status.major;
        out.minor = status.minor;
    } else {
        const uint8_t request[] = {kRdVersion};
        CanRecord r;
        if (!Ask(node, request, 2, 2, r))
            return false;
        out.major = r.data[0];
        out.minor = r.data[1];
    }
    out.valid = true;
    return true;
}

bool CNodeChannel::ReadAdc(uint8_t node, uint8_t channel, uint16_t& value)
{
    const uint8_t request[] = {kReadAdc, channel};
    CanRecord r;
    if (!AllowedOnBus(node) || !Ask(node, request, 2, 2, r))
        return false;
    value = le16(r.data);
    return true;
}

bool CNodeChannel::RdAdcIntAll(uint8_t node, NodeAnalog& out)
{
    out.valid = false;
    out.mask = 0;
    bool useCrate;
    if (!Allowed(node, useCrate))
        return false;
    // Nodes 0, 8 and 9 carry their fourth value on channel 4.
    const bool channelFour = edgeNode(node) || node == 8;
    if (useCrate) {
        nodectl::ControllerStatus status;
        if (!CrateStatus(status))
            return false;
        for (int i = 0; i < nodectl::kAnalogValues; ++i) {
            if (channelFour && i == 2)
                continue;
            out.value[static_cast<size_t>(i)] = status.analog[static_cast<size_t>(i)];
            out.mask = static_cast<uint8_t>(out.mask | (1 << i));
        }
        out.valid = true;
        return succeed();
    }
    struct Read {
        uint8_t channel;
        int value;
    };
    static constexpr Read kPlain[] = {{0, 0}, {1, 1}, {2, 2}};
    static constexpr Read kChannelFour[] = {{0, 0}, {1, 1}, {4, 3}};
    uint32_t firstError = err::Success;
    for (const Read& read : channelFour ? kChannelFour : kPlain) {
        uint16_t value;
        if (!ReadAdc(node, read.channel, value)) {
            if (firstError == err::Success)
                firstError = GetLastErr();
            continue;
        }
        out.value[static_cast<size_t>(read.value)] = value;
        out.mask = static_cast<uint8_t>(out.mask | (1 << read.value));
    }
    if (firstError != err::Success)
        return fail(firstError);
    out.valid = true;
    return true;
}

bool CNodeChannel::ReadHistog(uint8_t node, bool clear, std::vector<uint8_t>& bins)
{
    bins.clear();
    bool useCrate;
    if (node != kHistogramNodes[0] && node != kHistogramNodes[1])
        return fail(err::BadParam);
    if (!Allowed(node, useCrate))
        return false;
    const uint8_t clearByte = clear ? 1 : 0;
    for (int block = 0; block < kMaxBlocks; ++block) {
        std::span<const uint8_t> part;
        CanRecord r;
        uint8_t reply[kHistogramReplyBuffer];
        if (useCrate) {
            const uint8_t command[] = {nodectl::kHistogramCommand, clearByte};
            int count = sizeof reply;
            if (!CrateCommand(command, reply, count))
                return false;
            if (!nodectl::DecodeHistogramBlock({reply, static_cast<size_t>(count)}, part))
                return fail(err::BadFrame);
        } else {
            const uint8_t request[] = {kReadHistog, clearByte, static_cast<uint8_t>(block)};
            if (!Ask(node, request, kBlockSize, 0, r))
                return false;
            part = {r.data, r.length};
        }
        bins.insert(bins.end(), part.begin(), part.end());
        if (part.size() < kBlockSize)
            break;
    }
    return succeed();
}

bool CNodeChannel::ReadTemperature(std::vector<float>& celsius)
{
    celsius.clear();
    if (!AllowedOnBus(kTemperatureNode))
        return false;
    for (int sensor = 0; sensor < kMaxBlocks; ++sensor) {
        const uint8_t request[] = {kReadTemperature, static_cast<uint8_t>(sensor)};
        CanRecord r;
        if (!Ask(kTemperatureNode, request, 3, 0, r))
            return false;
        if (r.length == 0)
            break;
        if (r.length < 3)
            return fail(err::BadFrame);
        // The three upper bytes of a single-precision value, lowest first.
        const uint32_t bits = (uint32_t(r.data[0]) << 8) | (uint32_t(r.data[1]) << 16) | (uint32_t(r.data[2]) << 24);
        celsius.push_back(std::bit_cast<float>(bits));
    }
    return succeed();
}

bool CNodeChannel::SetAddress(uint8_t node, uint32_t address)
{
    const uint8_t data[] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                            static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
    return AllowedOnBus(node) && Send(node, kSetAddress, data);
}

bool CNodeChannel::WriteData(uint8_t node, std::span<const uint8_t> bytes)
{
    return AllowedOnBus(node) && Send(node, kData, bytes);
}

bool CNodeChannel::ReadFlash(uint8_t node, int count, uint32_t& address, std::vector<uint8_t>& data)
{
    data.clear();
    if (!AllowedOnBus(node))
        return false;
    switch (m_link.GetCANIOType()) {
    case CPortCAN_All::kCompatible:
        return ReadFlashThroughCrate(node, count, address, data);
    case CPortCAN_All::kNode:
        return ReadFlashThroughGateway(node, count, address, data);
    default:
        return fail(err::BadParam);
    }
}

bool CNodeChannel::ReadFlashThroughCrate(uint8_t node, int count, uint32_t& address, std::vector<uint8_t>& data)
{
    if (count < 0 || count > 0xFF)
        return fail(err::BadParam);
    const uint8_t command[] = {nodectl::kReadCommand, node, static_cast<uint8_t>(count)};
    uint8_t reply[kReadReplyBuffer];
    int replyCount = sizeof reply;
    if (!CrateCommand(command, reply, replyCount))
        return false;
    std::span<const uint8_t> read;
    if (!nodectl::DecodeRead({reply, static_cast<size_t>(replyCount)}, address, read))
        return fail(err::BadFrame);
    if (read.size() < static_cast<size_t>(count))
        return fail(err::MoreData);
    data.assign(read.begin(), read.begin() + count);
    return succeed();
}

bool CNodeChannel::ReadFlashThroughGateway(uint8_t node, int count, uint32_t& address, std::vector<uint8_t>& data)
{
    if (count < 0)
        return fail(err::BadParam);
    const int messages = (count + kBlockSize - 1) / kBlockSize;
    if (messages > kMaxReadMessages)
        return fail(err::BadArguments);
    const uint8_t request[] = {static_cast<uint8_t>(count)};
    const CanMessage m = MakeCanMessage(node, kReadRequest, true, request, 1);
    CanRecord records[1 + kMaxReadMessages]{};
    int received = 1 + messages;
    if (!m_link.Command(&m, 1, records, received)) {
        // Some records came and the rest never did.
        if (GetLastErr() == err::Timeout && received > 0)
            return fail(err::BadFrame);
        return false;
    }
    const CanRecord& head = records[0];
    if (received < 1 || head.FrameType() != kSetAddress || head.id != node || head.length != 4)
        return fail(err::BadFrame);
    address = uint32_t(head.data[0]) | (uint32_t(head.data[1]) << 8) | (uint32_t(head.data[2]) << 16) |
              (uint32_t(head.data[3]) << 24);
    for (int i = 1; i < received; ++i) {
        const CanRecord& r = records[i];
        if (r.FrameType() != kData || r.id != node || r.length > kBlockSize)
            return fail(err::BadFrame);
        data.insert(data.end(), r.data, r.data + r.length);
    }
    if (data.size() < static_cast<size_t>(count))
        return fail(err::BadFrame);
    data.resize(static_cast<size_t>(count));
    return succeed();
}
