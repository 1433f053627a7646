#pragma once
// A spy without its window: the ring its watched window writes records
// into, its registration with that window's distribution, its decode file,
// and a thread that prints every record in the order written, through the
// same traffic text as the connection window's box.
//
// Threads: the owner's thread calls everything here; the print thread only
// reads the ring and prints to `out` (which must accept text from it).
// Leaving a target (Watch, the destructor) never waits on a full ring; the
// destructor prints what the ring still holds before it returns.

#include "base/StdOut.h"
#include "language/VaCompiler.h"
#include "links/TrafficText.h"
#include "relay/SpyDistribution.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CSpy {
public:
    // The ring's size is ours to choose: enough for a burst of commands of
    // many clients, small enough that a stuck spy is felt at once.
    static constexpr size_t kRingSlots = 64;

    explicit CSpy(CStdOut& out, size_t slots = kRingSlots);
    ~CSpy();
    CSpy(const CSpy&) = delete;
    CSpy& operator=(const CSpy&) = delete;

    // Leaves the current target (if any) and joins `target` (null: none)
    // with the print flags.
    void Watch(CSpyTarget* target);
    CSpyTarget* Target() const { return m_target; }
    // "PrintRX" and "PrintTX": what is registered for and printed.
    void SetPrint(bool printRX, bool printTX);
    // "EnDecode" and "EnTime".
    void SetDecode(bool on) { m_decode = on; }
    void SetTime(bool on) { m_time = on; }

    // Compiles the decode file (a missing relative one is looked for among
    // the example files), printing "Reading decode file %s\r\n" and
    // then "Read Success\r\n" or "Read Fail: %s\r\n". A failure keeps no
    // tables: records print undecoded.
    bool LoadDecodeFile(const std::string& path);
    // Whether the loaded file's modification time differs from the one
    // read (checked by the owner's one-second timer).
    bool DecodeFileChanged() const;
    // Takes the file's present modification time as the one read, so that
    // a change is reported once.
    void AcceptDecodeFileChange();
    const std::string& DecodeFile() const { return m_decodePath; }

    CSpyWriter& Writer() { return m_writer; }
    // Bytes of the records taken; drained by the owner's rate line.
    std::atomic<uint32_t>& ReceivedBytes() { return m_rxBytes; }
    std::atomic<uint32_t>& SentBytes() { return m_txBytes; }

private:
    void PrintLoop();
    void Print(const _MCDATA& record);

    CStdOut& m_out;
    CFifo<_MCDATA> m_ring;
    CSpyWriter m_writer;
    CSpyTarget* m_target = nullptr;
    std::atomic<uint32_t> m_rxBytes{0};
    std::atomic<uint32_t> m_txBytes{0};
    std::atomic<bool> m_printRX{true};
    std::atomic<bool> m_printTX{true};
    std::atomic<bool> m_decode{true};
    std::atomic<bool> m_time{false};

    // Guards the tables while a record is decoded and while they change.
    mutable std::mutex m_decodeLock;
    std::unique_ptr<CVa_Compiler> m_tables;
    std::unique_ptr<CStructListDecoder> m_decoder;
    std::string m_decodePath;
    std::timespec m_decodeTime{};

    std::thread m_thread;
};
