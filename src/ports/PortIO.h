#pragma once
// The byte-stream port: one set of operations over serial devices and
// sockets. Links embed a port and drive it only through these operations.
//
// Results: true for success; false with the thread's last error set
// (GetLastErr): 6 not open, 13 line error or bad reply, 87 bad parameter,
// 995 aborted, 997 background open pending, 1460 time-out, socket errors.

#include "base/Event.h"
#include "base/Hook.h"
#include "base/Property.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

class CPortIO;

// Called on the background reader's thread whenever data is waiting; it is
// expected to call Read. It may call Close, and pause the reader.
using PortDataCallback = void (*)(CPortIO* port, void* context);
// Called on the reader's thread when a wait fails, with the error code;
// returning false ends the reader.
using PortErrorCallback = bool (*)(CPortIO* port, void* context, uint32_t error);
// Traffic hook, called after every successful read and write with the bytes
// concerned: direction 0 written, 1 read.
using PortMonitor = void (*)(void* context, int direction, const uint8_t* bytes, int count);
// Called by a background open once connected; false turns the open into a
// failure (the callback leaves the last error).
using PortOpenCallback = bool (*)(CPortIO* port, void* context);


class CPortIO {
public:
    CPortIO() = default;
    CPortIO(const CPortIO&) = delete;
    CPortIO& operator=(const CPortIO&) = delete;

    // The slot order of these operations is fixed.
    virtual ~CPortIO();

    // Walks the class's property table: restart starts at the first entry;
    // false after the last. The cursor belongs to the class, not the object,
    // so concurrent walks interfere: use Properties() instead.
    virtual bool GetNextProperty(_PROPDEF& entry, bool restart) = 0;
    // Fills value for the setting `id`; false for an unknown id. Choice
    // settings given a string come back as the option name, else as number.
    virtual bool GetProperty(int32_t id, CVariant& value) = 0;
    // Finds the entry by name (any case) whose type equals value's type
    // exactly, then sets it by id.
    virtual bool SetProperty(std::string_view name, const CVariant& value) = 0;
    // Sets by id, converting the value; takes effect at the next Open.
    virtual bool SetPropertyById(int32_t id, const CVariant& value) = 0;
    // Applies the ':'-separated settings text of the class, then opens.
    virtual bool OpenSpec(std::string_view openText) = 0;
    virtual bool Open() = 0;
    // Safe from any thread, the reader's callback included.
    virtual void Close() = 0;
    // Waits for at least one byte and returns what is there, up to max.
    // Bytes kept by ReadExactAhead come first. Failure: 0 for serial
    // ports, -1 for sockets.
    virtual int Read(void* buffer, int max) = 0;
    // Reads exactly count bytes, kept ones first; each wait is limited to
    // timeoutMs (kInfinite: none). Fails at the first failed wait or read.
    virtual bool ReadExact(void* buffer, int count, int timeoutMs) = 0;
    // Writes all bytes.
    virtual bool Write(const void* buffer, int count) = 0;
    // Waits until data can be read, kept bytes included: true with last
    // error 0; true with 995 when a reader pause was requested; false with
    // 1460, 995 (closed) or 13 (line error) or 6 (not open).
    virtual bool WaitForData(int timeoutMs) = 0;
    // Starts the background reader with `callback` (onError may be null).
    virtual bool AsyncRead(PortDataCallback callback, void* context, PortErrorCallback onError = nullptr) = 0;
    // Whether the port is open; clears the last error (997 while a
    // background open runs, then its result).
    virtual bool IsOpen() = 0;
    // Set when a wait found data; reset when a new wait starts.
    virtual CEvent& GetDataEvent() = 0;
    // Installs the traffic hook (nullptr removes it). Once it returns, the
    // old hook is no longer running. The hook must not call SetMonitor.
    virtual void SetMonitor(void* context, PortMonitor monitor);

    // Added after the fixed slots. The callback run by a background open
    // once connected; ports without background open refuse it (50).
    virtual bool SetOpenCallback(PortOpenCallback callback, void* context);
    // Appends the settings in walk order.
    virtual void ListProperties(PropertyList& out) = 0;

    // The settings in walk order; safe on any thread.
    PropertyList Properties() { return PropertiesOf(*this); }

    // Pauses and resumes the background reader. Counted: the reader runs
    // again when every pause has been resumed. A first pause waits until
    // the reader has stopped reading (after its current callback returns).
    virtual bool PauseReader() = 0;
    virtual bool ResumeReader() = 0;

    // As ReadExact, but each read from the device also takes whatever else
    // is waiting (up to kReadAheadSize bytes) and keeps the rest for the
    // next read or wait of this port, so that a frame's parts cost one read.
    // Close, Open and a parity change drop kept bytes.
    virtual bool ReadExactAhead(void* buffer, int count, int timeoutMs) = 0;
    static constexpr int kReadAheadSize = 1024;

protected:
    // Calls the monitor hook, if one is installed.
    void Monitor(int direction, const void* bytes, int count);

    // SetProperty for a class whose table is `table`.
    bool SetPropertyByName(const _PROPDEF* table, std::string_view name, const CVariant& value);

private:
    CHook<PortMonitor> m_monitor;
};

// Waits while `isOpen` reports a background open under way (false with
// 997); true once open, false with the open's error or 1460 at the deadline.
bool WaitWhileOpening(const std::function<bool()>& isOpen, int timeoutMs);

