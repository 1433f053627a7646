#include "sim/SimServer.h"

#include "sim/SimIo.h"
#include "sim/SimWire.h"

namespace {
constexpr uint32_t kMaxRequest = 4096;
}

CSimServer::CSimServer(Lookup lookup)
    : m_lookup(std::move(lookup)),
      m_tcp([] { return std::make_unique<Client>(); },
            [this](CSimTcpClient& client) { serve(static_cast<Client&>(client)); })
{
}

CSimServer::~CSimServer() { Stop(); }

int CSimServer::Emit(uint16_t ccbid, std::span<const uint8_t> payload)
{
    auto frame = simwire::TcpFrame(ccbid, 0, payload);
    int sent = 0;
    m_tcp.ForEachClient([&](CSimTcpClient& c) {
        bool mine;
        {
            std::lock_guard w(c.writeLock);
            mine = static_cast<Client&>(c).lastCcbid == ccbid;
        }
        if (mine && m_tcp.Send(c, frame))
            ++sent;
    });
    return sent;
}

void CSimServer::serve(Client& client)
{
    CEvent& stop = m_tcp.StopEvent();
    for (;;) {
        uint8_t head[simwire::kTcpHead];
        if (!simio::ReadAll(client.fd, head, sizeof head, stop))
            return;
        simwire::TcpHead h;
        const bool good = simwire::ParseTcpHead(head, h);
        if (!good)
            continue;  // the real servers ignore such heads too
        if (h.length < simwire::kTcpHead || h.length > kMaxRequest)
            return;
        std::vector<uint8_t> payload(h.length - simwire::kTcpHead);
        if (!simio::ReadAll(client.fd, payload.data(), payload.size(), stop))
            return;
        {
            std::lock_guard w(client.writeLock);
            client.lastCcbid = h.ccbid;
        }

        CSimBoard* board = m_lookup(h.ccbid);
        if (board && board->Faults().Take(SimFault::DropConnection))
            return;
        auto answer = board ? board->Serve(payload) : std::nullopt;
        const int timeout = h.field > 0 ? h.field : 0;
        std::vector<uint8_t> frame;
        if (!answer || answer->delayMs > timeout) {
            if (stop.Wait(timeout))
                return;
            const uint8_t noAnswer = 0x02;
            frame = simwire::TcpFrame(h.ccbid, -1, {&noAnswer, 1});
        } else {
            if (answer->delayMs > 0 && stop.Wait(answer->delayMs))
                return;
            frame = simwire::TcpFrame(h.ccbid, h.field, answer->payload);
            if (board->Faults().Take(SimFault::BadCrc))
                frame[1] ^= 0xFF;
        }
        if (!m_tcp.Send(client, frame))
            return;
    }
}
