#pragma once
// A serial port on a termios device.
//
// "ComName" is a bare name (ttyUSB0 opens /dev/ttyUSB0) or an absolute path
// opened as it is; it reads back as given. The port opens in raw mode with
// no flow control, DTR and RTS on, both queues flushed; a read returns what
// is queued or waits for the first byte. Line errors (framing, parity,
// overrun) counted by the driver fail the next wait with 13.

#include "ports/PortIO_Fd.h"

#include <linux/serial.h>
#include <mutex>
#include <string>
#include <termios.h>

class CPortIO_Com : public CPortIO_Fd {
public:
    enum PropertyId : int32_t {
        kComName = 1,
        kBaud = 2,
        kByteSize = 3,
        kParity = 4,
        kStop = 5,
        kRxBuff = 6,
        kTxBuff = 7,
        // Not in the table: sets the parity of an open port at once.
        kParityNow = 8,
    };
    enum Parity : int32_t { kParityNone = 0, kParityOdd, kParityEven, kParityMark, kParitySpace };
    enum StopBits : int32_t { kStop1 = 0, kStop1_5, kStop2 };

    static const _PROPDEF kProperties[];

    CPortIO_Com();
    ~CPortIO_Com() override;

    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    // "ComName:Baud:ByteSize:Parity:Stop:RxBuff:TxBuff", trailing parts
    // optional; stops at the first setting refused.
    bool OpenSpec(std::string_view openText) override;
    bool Open() override;
    // Returns 0 on failure.
    int Read(void* buffer, int max) override;
    bool WaitForData(int timeoutMs) override;
    bool IsOpen() override;

    // The device path that Open uses for a "ComName".
    static std::string DevicePath(const std::string& name);
    // Puts the line settings into t on top of raw mode with no flow
    // control; false (87) for a baud rate, size, parity or stop code that
    // the device cannot take.
    static bool MakeLineSettings(termios& t, int32_t baud, int32_t byteSize, int32_t parity, int32_t stop);

protected:
    ssize_t ReadSome(int fd, void* buffer, size_t max) override;
    ssize_t WriteSome(int fd, const void* buffer, size_t count) override;
    int ReadExactStep(void* buffer, int max, int timeoutMs) override;
    bool ReadyForReader() override;
    void BeforeClose(int fd) override;

private:
    // Read, waiting up to timeoutMs for the first byte.
    int ReadWithin(void* buffer, int max, int timeoutMs);

    struct Settings {
        std::string name;
        int32_t baud = 9600;
        int32_t byteSize = 8;
        int32_t parity = kParityNone;
        int32_t stop = kStop1;
        int32_t rxBuff = 4096;
        int32_t txBuff = 4096;
    };

    bool ConfigureDevice(int fd, const Settings& s);
    // 13 when the driver's error counters grew since the last look.
    bool CheckLineErrors(int fd);
    bool ApplyParityNow(int32_t parity);

    mutable std::mutex m_settingsLock;
    Settings m_settings;

    // Driver error counters seen so far; guarded by m_countLock.
    std::mutex m_countLock;
    bool m_driverCounts = false;
    serial_icounter_struct m_counts{};

    // The line settings found at open, put back at close (under the
    // descriptor lock), so that each open starts from the same line: a
    // pseudo-terminal refuses some parity changes from what an earlier
    // opener left behind.
    termios m_foundSettings{};
    bool m_haveFoundSettings = false;
};
