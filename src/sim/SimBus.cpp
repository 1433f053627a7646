#include "sim/SimBus.h"

#include "base/Error.h"
#include "sim/SimIo.h"
#include "sim/SimWire.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Without a new byte for this long, a pending partial frame is decided.
constexpr int kIdleMs = 20;
}

CSimBus::CSimBus(CSimBoard* board) : m_board(board) {}

CSimBus::CSimBus(Lookup lookup) : m_lookup(std::move(lookup)) {}

CSimBus::~CSimBus() { Stop(); }

bool CSimBus::Start()
{
    Stop();
    termios raw{};
    cfmakeraw(&raw);
    char name[256];
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    // The simulator keeps the slave open too, so the master never sees a
    // hang-up while no link has the device open.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    simio::SetNonBlocking(m_master);
    m_path = name;
    m_stop.Reset();
    m_thread = std::thread([this] {
        CatchToLastError([this] {
            run();
            return true;
        });
    });
    return true;
}

void CSimBus::Stop()
{
    m_stop.Set();
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0)
        close(m_master);
    if (m_slave >= 0)
        close(m_slave);
    m_master = m_slave = -1;
}

uint16_t CSimBus::SelectedAddress() const
{
    std::lock_guard lock(m_stateLock);
    return m_selectedAddress;
}

int CSimBus::Selections() const
{
    std::lock_guard lock(m_stateLock);
    return m_selections;
}

bool CSimBus::Emit(std::span<const uint8_t> payload)
{
    return writeFrame(simwire::SerialFrame(payload));
}

bool CSimBus::writeFrame(const std::vector<uint8_t>& frame)
{
    std::lock_guard lock(m_writeLock);
    return m_master >= 0 && simio::WriteAll(m_master, frame.data(), frame.size(), m_stop);
}

void CSimBus::run()
{
    simwire::CSerialDecoder decoder(!m_board);
    uint8_t buf[512];
    for (;;) {
        int r = WaitForAny({CWaitItem::Of(m_stop), CWaitItem::Fd(m_master, POLLIN)},
                           decoder.HasPending() ? kIdleMs : kInfinite);
        if (r == 0 || r == kWaitFailed)
            return;
        bool idle = r == kWaitTimeout;
        if (!idle) {
            ssize_t n = read(m_master, buf, sizeof buf);
            if (n > 0)
                decoder.Feed(buf, static_cast<size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return;
        }
        while (auto item = decoder.Next(idle)) {
            if (item->kind == simwire::CSerialDecoder::Item::Address) {
                std::lock_guard lock(m_stateLock);
                m_selectedAddress = item->address;
                m_selected = m_lookup(item->address);
                ++m_selections;
            } else {
                serve(item->payload);
            }
        }
    }
}

void CSimBus::serve(const std::vector<uint8_t>& payload)
{
    CSimBoard* board = m_board;
    if (!board) {
        std::lock_guard lock(m_stateLock);
        board = m_selected;
    }
    if (!board)
        return;
    auto answer = board->Serve(payload);
    if (!answer)
        return;
    if (answer->delayMs > 0 && m_stop.Wait(answer->delayMs))
        return;
    std::vector<uint8_t> out;
    if (board->Faults().Take(SimFault::Noise)) {
        static const uint8_t kNoise[] = {0x00, 0xAA, 0x13, 0xFF, 0x5A};
        for (int i = 0; i < board->Faults().NoiseBytes(); ++i)
            out.push_back(kNoise[i % sizeof kNoise]);
    }
    auto frame = simwire::SerialFrame(answer->payload);
    if (board->Faults().Take(SimFault::BadCrc))
        frame.back() ^= 0xFF;
    out.insert(out.end(), frame.begin(), frame.end());
    writeFrame(out);
}
