#include "nodes/NodeFlash.h"

#include "base/Error.h"
#include "firmware/HexFileMcs.h"
#include "firmware/HexFileRead.h"
#include "nodes/NodeReadPass.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// The system's message for the thread's last error, or its number.
std::string lastErrorText()
{
    const uint32_t code = GetLastErr();
    std::string text = errorText(code);
    return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace

bool CNodeFlash::Run(const NodeFlashJob& job)
{
    if (job.node < 0 || job.node >= kNodeCount) {
        m_out.Print("Invalid Node number\r\n");
        return false;
    }
    m_node = static_cast<uint8_t>(job.node);

    m_out.Print("Reading hex file %s\r\n", job.file.c_str());
    CHexFile_mcs image;
    image.SetAbortEvent(m_abort);
    if (!image.Load(job.file)) {
        m_out.Print("Error read hex file: %s\r\n", image.ErrorText().c_str());
        return false;
    }
    m_out.Print("Read success\r\n");
    image.AlignPages();
    m_out.Print("start=0x%08X end=0x%08X size=%u\r\n", image.GetStart(), image.GetEnd(),
                image.GetEnd() - image.GetStart());

    if (!AcquireNodeLink(m_channel, "node firmware update", m_out, m_abort))
        return false;
    CNodeLinkHold hold(m_channel.Lock());
    m_out.Print("Reading connection node\r\n");
    if (!m_channel.GetNode()) {
        m_out.Print("Error GetNode() %s\r\n", lastErrorText().c_str());
        return false;
    }
    m_out.Print("Connection node=%d\r\n", m_channel.ConnectionNode());
    if (m_node == m_channel.ConnectionNode()) {
        m_out.Print("Can't update connected node\r\n");
        return false;
    }

    m_out.Print("Resetting node %d\r\n", m_node);
    bool ok = m_channel.ResetNode(m_node);
    // A node that missed its reset ignores the firmware messages: writing
    // on would end with a result that is not true.
    if (!ok)
        m_out.Print("Reset error : %s\r\n", lastErrorText().c_str());
    if (ok && m_abort)
        ok = !m_abort->Wait(m_resetWaitMs);
    else if (ok)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_resetWaitMs));

    if (ok)
        ok = Walk(image, "Send ADDR error: %s\r\n",
                  [this](uint32_t address, std::span<const uint8_t> chunk) { return WriteChunk(address, chunk); });
    if (ok && job.verify) {
        m_out.Print("-------- VERIFY -------\r\n");
        ok = Walk(image, "Send ADDR error : %s\r\n",
                  [this](uint32_t address, std::span<const uint8_t> chunk) { return VerifyChunk(address, chunk); });
    }
    m_out.Print("Result=%s\r\n", ok ? "OK" : "FAIL");
    if (!ok)
        return false;

    const bool unlocked = m_channel.SetAddress(m_node, CNodeChannel::kUnlockAddress);
    if (!unlocked)
        m_out.Print("Unlock error : %s\r\n", lastErrorText().c_str());
    m_out.Print("Unlock=%s\r\n", unlocked ? "OK" : "FAIL");
    return unlocked;
}

bool CNodeFlash::Walk(const CHexImage& image, const char* addressErrorFormat, const ChunkStep& step)
{
    CHexFileRead_mcs walk;
    walk.Reset(&image);
    uint8_t buffer[kChunkSize];
    uint32_t address = 0, length = 0;
    bool more = walk.GetNext(buffer, address, length);
    // Where the node's address stands after the last good chunk; -1 unknown.
    int64_t nodeAddress = -1;
    int failedTries = 0;
    while (more) {
        if (Aborted())
            return false;
        Try result = Try::Done;
        if (int64_t{address} != nodeAddress) {
            m_out.Print("Send ADDR %08X\r\n", address);
            if (!m_channel.SetAddress(m_node, address)) {
                m_out.Print(addressErrorFormat, lastErrorText().c_str());
                result = Try::Failed;
            }
        }
        if (result == Try::Done) {
            if (length < kChunkSize && address < CHexFile_mcs::kAlignLimit) {
                m_out.Print("Error Software on Read HEX\r\n");
                return false;
            }
            result = step(address, {buffer, length});
        }
        if (result == Try::Fatal)
            return false;
        if (result == Try::Failed) {
            nodeAddress = -1;
            if (++failedTries >= kMaxFailedTries)
                return false;
            continue;
        }
        failedTries = 0;
        nodeAddress = int64_t{address} + length;
        more = walk.GetNext(buffer, address, length);
    }
    return true;
}

CNodeFlash::Try CNodeFlash::WriteChunk(uint32_t address, std::span<const uint8_t> chunk)
{
    m_out.Print("Send Data %08X\r\n", address);
    for (size_t offset = 0; offset < chunk.size(); offset += kMessageSize) {
        const auto part = chunk.subspan(offset, std::min<size_t>(kMessageSize, chunk.size() - offset));
        if (!m_channel.WriteData(m_node, part)) {
            m_out.Print("WRITE DATA error addr=%X : %s\r\n", static_cast<unsigned>(address + offset),
                        lastErrorText().c_str());
            return Try::Failed;
        }
    }
    return Try::Done;
}

CNodeFlash::Try CNodeFlash::VerifyChunk(uint32_t address, std::span<const uint8_t> chunk)
{
    m_out.Print("Read Data %08X\r\n", address);
    uint32_t readAddress = 0;
    std::vector<uint8_t> data;
    if (!m_channel.ReadFlash(m_node, static_cast<int>(chunk.size()), readAddress, data)) {
        m_out.Print("READ DATA error : %s\r\n", lastErrorText().c_str());
        return Try::Failed;
    }
    if (readAddress != address) {
        m_out.Print("INVALID ADDR addr=%08X raddr=%08X\r\n", address, readAddress);
        return Try::Failed;
    }
    if (!std::equal(chunk.begin(), chunk.end(), data.begin(), data.end())) {
        m_out.Print("Verify FAIL\r\n");
        return Try::Fatal;
    }
    return Try::Done;
}
