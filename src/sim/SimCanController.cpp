#include "sim/SimCanController.h"

#include "links/CanNodeController.h"
#include "sim/SimReplies.h"

#include <string>

namespace {
constexpr uint8_t kDone = 0x00;
constexpr uint8_t kBadMessage = 0x01;
constexpr uint8_t kNoReply = 0x02;
constexpr uint8_t kWriteFailed = 0x07;
constexpr size_t kMaxRead = 120;  // fits a 128-byte reply buffer with its head
}  // namespace

CSimCanController::CSimCanController(std::shared_ptr<CSimCanNodes> nodes, uint8_t connectionNode)
    : m_nodes(std::move(nodes)), m_connectionNode(connectionNode)
{
}

void CSimCanController::Attach(CSimBoard& board)
{
    std::shared_ptr<CSimCanController> self = shared_from_this();
    for (uint8_t code : {0xEA, 0xC5, 0xC7, 0xC8})
        board.AddCommand(code, [self](CSimBoard&, std::span<const uint8_t> c) { return self->Execute(c); });
}

std::optional<std::vector<uint8_t>> CSimCanController::Execute(std::span<const uint8_t> c)
{
    if (c.empty())
        return std::nullopt;
    switch (c[0]) {
    case 0xEA: return status();
    case 0xC5: return tunnel(c);
    case 0xC7: return readNode(c);
    case 0xC8: return histogram(c);
    default: return std::nullopt;
    }
}

bool CSimCanController::delay(const SimCanAnswer& answer)
{
    return answer.delayMs <= 0 || !m_abort.Wait(answer.delayMs);
}

std::vector<uint8_t> CSimCanController::status()
{
    const uint8_t n = m_connectionNode;
    SimCanReadings r = m_nodes->Node(n) ? m_nodes->Node(n)->Readings() : SimCanReadings{};
    return CSimReplies::Build(nodectl::kStatusReply,
                              {{"version_major", std::to_string(r.major)},
                               {"version_minor", std::to_string(r.minor)},
                               {"node", std::to_string(n)},
                               {"destination", std::to_string(r.destination)},
                               {"adc", std::to_string(r.adc[0]) + "," + std::to_string(r.adc[1]) + "," +
                                           std::to_string(r.adc[2]) + "," + std::to_string(r.adc[4])}});
}

std::optional<std::vector<uint8_t>> CSimCanController::tunnel(std::span<const uint8_t> c)
{
    if (c.size() < 4 || c.size() > 12)
        return Bytes{0xFC, 0xC5, kBadMessage};
    const bool replyExpected = c[1] != 0;
    CSimCanNode* node = m_nodes->Node(c[3]);
    if (!node)
        return Bytes{0xFC, 0xC5, kNoReply};
    SimCanAnswer a = node->Handle(c[2], c.subspan(4));
    if (a.writeError)
        return Bytes{0xFC, 0xC5, kWriteFailed};
    if (!replyExpected)
        return Bytes{0xFC, 0xC5, kDone};
    if (a.lost || !delay(a))
        return std::nullopt;
    if (a.frames.empty())
        return Bytes{0xFC, 0xC5, kNoReply};
    // The tunnel carries no sender: a foreign answer shows as a bare error record.
    if (a.foreign)
        return Bytes{0xFC, 0xC5, kDone};
    Bytes out{0xC6, 0xC5};
    out.insert(out.end(), a.frames.front().data.begin(), a.frames.front().data.end());
    return out;
}

std::optional<std::vector<uint8_t>> CSimCanController::readNode(std::span<const uint8_t> c)
{
    if (c.size() != 3 || c[2] > kMaxRead)
        return Bytes{0xFC, 0xC7, kBadMessage};
    CSimCanNode* node = m_nodes->Node(c[1]);
    if (!node)
        return Bytes{0xFC, 0xC7, kNoReply};
    const uint8_t count = c[2];
    SimCanAnswer a = node->Handle(0x1D, {&count, 1});
    if (a.writeError)
        return Bytes{0xFC, 0xC7, kWriteFailed};
    if (a.lost || !delay(a))
        return std::nullopt;
    if (a.frames.empty() || a.frames.front().data.size() != 4)
        return Bytes{0xFC, 0xC7, kNoReply};
    const Bytes& head = a.frames.front().data;
    Bytes data;
    for (size_t i = 1; i < a.frames.size(); ++i)
        data.insert(data.end(), a.frames[i].data.begin(), a.frames[i].data.end());
    const uint32_t address = uint32_t(head[0]) | (uint32_t(head[1]) << 8) | (uint32_t(head[2]) << 16) | (uint32_t(head[3]) << 24);
    return nodectl::EncodeRead(address, data);
}

std::vector<uint8_t> CSimCanController::histogram(std::span<const uint8_t> c)
{
    const uint8_t clear = c.size() > 1 ? c[1] : 0;
    CSimCanNode* node = m_nodes->Node(m_connectionNode);
    std::lock_guard lock(m_histogramLock);
    // The controller reads its own node directly, past the CAN bus and its faults.
    const Bytes bins = node ? node->HistogramBlock(m_histogramBlock, clear != 0) : Bytes{};
    m_histogramBlock = bins.size() == nodectl::kHistogramBlockSize ? static_cast<uint8_t>(m_histogramBlock + 1) : 0;
    return nodectl::EncodeHistogramBlock(bins);
}
