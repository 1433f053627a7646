#pragma once
// The traffic box of a connection without its window: the queue that its
// subscribed writer fills, the printing of each record ("EnTime",
// "EnDecode", TX and RX lines, decoded replies), the decode tables and the
// log file. The text goes to a sink: the window's text view, or standard
// output for the terminal console.
//
// Threads: link threads write records through Writer(); one thread at a
// time drains them with Drain() (the queue's reader thread, or the GUI
// thread it wakes). A full queue blocks those writers until the drain
// catches up, so a slow display slows the link and never loses a record.
// Settings and decode tables may be changed from any thread: one mutex
// guards them and is held while a record prints.

#include "base/Fifo.h"
#include "language/VaCompiler.h"
#include "links/PortMCData.h"
#include "links/TrafficText.h"
#include "shell/LogFile.h"

#include <mutex>
#include <string>
#include <string_view>

class CTextSink {
public:
    virtual ~CTextSink() = default;
    virtual void Append(std::string_view text) = 0;
};

class CTrafficBox {
public:
    static constexpr size_t kQueueSlots = 10;

    CTrafficBox() = default;
    ~CTrafficBox();
    CTrafficBox(const CTrafficBox&) = delete;
    CTrafficBox& operator=(const CTrafficBox&) = delete;

    // Null: records are printed only to the log file.
    void SetSink(CTextSink* sink);

    CFifoWr<_MCDATA>& Writer() { return m_writer; }
    CFifo<_MCDATA>& Queue() { return m_queue; }

    // Prints every record waiting; returns how many.
    size_t Drain();
    // Log file upkeep, then the record's text to the log file and the sink.
    void Print(const _MCDATA& record);

    void SetEnDecode(bool on);
    void SetEnTime(bool on);
    // Takes effect at the next record: turning it off closes the file.
    void SetEnLog(bool on);
    // The file opened at the next record while "EnLog" is on.
    void SetLogFile(const std::string& path);
    bool EnDecode() const;
    bool EnTime() const;
    bool EnLog() const;
    std::string LogFile() const;
    bool IsLogOpen() const;

    // Compiles a decode file into the tables; on failure the tables are
    // left empty and the compiler's text is returned in error.
    bool LoadDecodeFile(const std::string& path, std::string& error);
    void ResetDecodeTables();
    // Whether the file compiled last has changed on disk since.
    bool DecodeFileModified() const;

private:
    void printLocked(const _MCDATA& record);
    void logUpkeepLocked();
    void appendLocked(std::string_view text);

    CFifo<_MCDATA> m_queue{kQueueSlots};
    CFifoWr<_MCDATA> m_writer{m_queue};

    mutable std::mutex m_lock;
    CTextSink* m_sink = nullptr;
    bool m_enDecode = true;
    bool m_enTime = false;
    bool m_enLog = false;
    std::string m_logFile;
    COutLogFile m_log;
    CVa_Compiler m_tables;
    CStructListDecoder m_decoder{m_tables.Structs()};
};
