#include "ports/PortIO_Com.h"

#include "base/Error.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/epoll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
const _PROPOPT kParityOptions[] = {
    {"None", CPortIO_Com::kParityNone}, {"Odd", CPortIO_Com::kParityOdd},     {"Even", CPortIO_Com::kParityEven},
    {"Mark", CPortIO_Com::kParityMark}, {"Space", CPortIO_Com::kParitySpace}, {nullptr, 0},
};
const _PROPOPT kStopOptions[] = {
    {"1", CPortIO_Com::kStop1}, {"1.5", CPortIO_Com::kStop1_5}, {"2", CPortIO_Com::kStop2}, {nullptr, 0},
};

CPropertyCursor s_cursor;

struct BaudCode {
    int32_t baud;
    speed_t code;
};
constexpr BaudCode kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool failWith(uint32_t code)
{
    SetLastErr(code);
    return false;
}

// Parity as a string is decided by its first letter.
bool parityFromValue(const CVariant& value, int32_t& parity)
{
    if (value.isString()) {
        const std::string& t = value.text();
        if (t.empty())
            return false;
        switch (std::toupper(static_cast<unsigned char>(t[0]))) {
        case 'N': parity = CPortIO_Com::kParityNone; return true;
        case 'O': parity = CPortIO_Com::kParityOdd; return true;
        case 'E': parity = CPortIO_Com::kParityEven; return true;
        case 'M': parity = CPortIO_Com::kParityMark; return true;
        case 'S': parity = CPortIO_Com::kParitySpace; return true;
        default: return false;
        }
    }
    int64_t n;
    if (!value.ToNumber(n))
        return false;
    parity = static_cast<int32_t>(n);
    return true;
}

bool stopFromValue(const CVariant& value, int32_t& stop)
{
    if (value.isString()) {
        const _PROPOPT* option = FindOption(kStopOptions, value.text());
        if (!option)
            return false;
        stop = option->value;
        return true;
    }
    int64_t n;
    if (!value.ToNumber(n))
        return false;
    stop = static_cast<int32_t>(n);
    return true;
}

bool integerFromValue(const CVariant& value, int32_t& out)
{
    int64_t n;
    if (!value.ToNumber(n))
        return false;
    out = static_cast<int32_t>(n);
    return true;
}

// Choice settings come back as their option name when asked with a string.
CVariant choiceValue(const CVariant& asked, const _PROPOPT* options, int32_t value)
{
    if (!asked.isString())
        return CVariant::FromInt(value);
    const _PROPOPT* option = FindOptionByValue(options, value);
    return CVariant::FromString(option ? option->name : std::to_string(value));
}

bool setParityBits(termios& t, int32_t parity)
{
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (parity) {
    case CPortIO_Com::kParityNone: break;
    case CPortIO_Com::kParityOdd: t.c_cflag |= PARENB | PARODD; break;
    case CPortIO_Com::kParityEven: t.c_cflag |= PARENB; break;
    case CPortIO_Com::kParityMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case CPortIO_Com::kParitySpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: return false;
    }
    return true;
}

uint64_t lineErrorTotal(const serial_icounter_struct& c)
{
    return static_cast<uint64_t>(c.frame) + c.parity + c.overrun + c.buf_overrun;
}
}  // namespace

const _PROPDEF CPortIO_Com::kProperties[] = {
    {"ComName", kComName, VarType::String, nullptr},
    {"Baud", kBaud, VarType::Int, nullptr},
    {"ByteSize", kByteSize, VarType::Int, nullptr},
    {"Parity", kParity, VarType::String, kParityOptions},
    {"Stop", kStop, VarType::String, kStopOptions},
    {"RxBuff", kRxBuff, VarType::Int, nullptr},
    {"TxBuff", kTxBuff, VarType::Int, nullptr},
    {nullptr, 0, VarType::Null, nullptr},
};

CPortIO_Com::CPortIO_Com() : CPortIO_Fd(CPortReader::Policy{.errorCallback = true, .waitForOpen = false}) {}

CPortIO_Com::~CPortIO_Com() { Close(); }

std::string CPortIO_Com::DevicePath(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    return "/dev/" + name;
}

bool CPortIO_Com::GetNextProperty(_PROPDEF& entry, bool restart) { return s_cursor.Next(Properties(), entry, restart); }

void CPortIO_Com::ListProperties(PropertyList& out) { AppendProperties(out, kProperties); }

bool CPortIO_Com::GetProperty(int32_t id, CVariant& value)
{
    std::lock_guard lock(m_settingsLock);
    const Settings& s = m_settings;
    switch (id) {
    case kComName: value = CVariant::FromString(s.name); break;
    case kBaud: value = CVariant::FromInt(s.baud); break;
    case kByteSize: value = CVariant::FromInt(s.byteSize); break;
    case kParity: value = choiceValue(value, kParityOptions, s.parity); break;
    case kStop: value = choiceValue(value, kStopOptions, s.stop); break;
    case kRxBuff: value = CVariant::FromInt(s.rxBuff); break;
    case kTxBuff: value = CVariant::FromInt(s.txBuff); break;
    default: return failWith(err::BadParam);
    }
    return true;
}

bool CPortIO_Com::SetProperty(std::string_view name, const CVariant& value)
{
    return SetPropertyByName(kProperties, name, value);
}

bool CPortIO_Com::SetPropertyById(int32_t id, const CVariant& value)
{
    if (id == kParityNow) {
        int32_t parity;
        if (!parityFromValue(value, parity))
            return failWith(err::BadParam);
        return ApplyParityNow(parity);
    }
    Settings changed;
    {
        std::lock_guard lock(m_settingsLock);
        changed = m_settings;
    }
    bool ok = false;
    switch (id) {
    case kComName: ok = value.ToText(changed.name); break;
    case kBaud: ok = integerFromValue(value, changed.baud); break;
    case kByteSize: ok = integerFromValue(value, changed.byteSize); break;
    case kParity: ok = parityFromValue(value, changed.parity); break;
    case kStop: ok = stopFromValue(value, changed.stop); break;
    case kRxBuff: ok = integerFromValue(value, changed.rxBuff); break;
    case kTxBuff: ok = integerFromValue(value, changed.txBuff); break;
    default: break;
    }
    if (!ok)
        return failWith(err::BadParam);
    std::lock_guard lock(m_settingsLock);
    switch (id) {
    case kComName: m_settings.name = changed.name; break;
    case kBaud: m_settings.baud = changed.baud; break;
    case kByteSize: m_settings.byteSize = changed.byteSize; break;
    case kParity: m_settings.parity = changed.parity; break;
    case kStop: m_settings.stop = changed.stop; break;
    case kRxBuff: m_settings.rxBuff = changed.rxBuff; break;
    case kTxBuff: m_settings.txBuff = changed.txBuff; break;
    }
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Com::ApplyParityNow(int32_t parity)
{
    {
        std::lock_guard lock(m_settingsLock);
        termios probe{};
        if (!setParityBits(probe, parity))
            return failWith(err::BadParam);
        m_settings.parity = parity;
    }
    std::shared_lock fdLock(m_fdLock);
    if (fd() >= 0) {
        termios t;
        if (tcgetattr(fd(), &t) != 0 || (setParityBits(t, parity), tcsetattr(fd(), TCSANOW, &t) != 0)) {
            SetLastErrFromErrno();
            return false;
        }
        // What was read ahead came in before the change (on the secondary
        // bus: before the next board was selected).
        DropKept();
    }
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Com::OpenSpec(std::string_view openText)
{
    static constexpr int32_t kOrder[] = {kComName, kBaud, kByteSize, kParity, kStop, kRxBuff, kTxBuff};
    size_t start = 0;
    for (int32_t id : kOrder) {
        if (start > openText.size())
            break;
        size_t colon = openText.find(':', start);
        std::string_view token = openText.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
        start = colon == std::string_view::npos ? openText.size() + 1 : colon + 1;
        // An empty part leaves its setting as it is.
        if (token.empty())
            continue;
        if (!SetPropertyById(id, CVariant::FromString(token)))
            return false;
    }
    return Open();
}

bool CPortIO_Com::MakeLineSettings(termios& t, int32_t baud, int32_t byteSize, int32_t parity, int32_t stop)
{
    cfmakeraw(&t);
    t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | IGNPAR | PARMRK | ISTRIP);
    t.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    switch (byteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return failWith(err::BadParam);
    }
    if (!setParityBits(t, parity))
        return failWith(err::BadParam);
    // One and a half stop bits are what the UART sends for CSTOPB with
    // five data bits.
    if (stop == kStop1_5 || stop == kStop2)
        t.c_cflag |= CSTOPB;
    else if (stop != kStop1)
        return failWith(err::BadParam);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    const BaudCode* code = nullptr;
    for (const auto& b : kBauds)
        if (b.baud == baud)
            code = &b;
    if (!code)
        return failWith(err::BadParam);
    cfsetispeed(&t, code->code);
    cfsetospeed(&t, code->code);
    return true;
}

bool CPortIO_Com::ConfigureDevice(int fd, const Settings& s)
{
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    m_foundSettings = t;
    m_haveFoundSettings = true;
    if (!MakeLineSettings(t, s.baud, s.byteSize, s.parity, s.stop))
        return false;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    return true;
}

bool CPortIO_Com::Open()
{
    PrepareOpen();
    Settings s;
    {
        std::lock_guard lock(m_settingsLock);
        s = m_settings;
    }
    int fd = ::open(DevicePath(s.name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrFromErrno();
        return false;
    }
    // No sharing: a second opener of the same device is refused.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return failWith(err::AccessDenied);
    }
    if (!ConfigureDevice(fd, s)) {
        uint32_t code = GetLastErr();
        if (m_haveFoundSettings)
            (void)tcsetattr(fd, TCSANOW, &m_foundSettings);
        m_haveFoundSettings = false;
        ::close(fd);
        return failWith(code);
    }
    // Devices without modem lines (pseudo-terminals) refuse this; harmless.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &lines);
    tcflush(fd, TCIOFLUSH);
    {
        std::lock_guard lock(m_countLock);
        m_driverCounts = ioctl(fd, TIOCGICOUNT, &m_counts) == 0;
    }
    Attach(fd);
    SetLastErr(err::Success);
    return true;
}

void CPortIO_Com::BeforeClose(int fd)
{
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIC, &lines);
    if (m_haveFoundSettings)
        (void)tcsetattr(fd, TCSANOW, &m_foundSettings);
    m_haveFoundSettings = false;
}

bool CPortIO_Com::IsOpen()
{
    std::shared_lock fdLock(m_fdLock);
    SetLastErr(err::Success);
    return fd() >= 0;
}

bool CPortIO_Com::ReadyForReader()
{
    std::shared_lock fdLock(m_fdLock);
    return fd() >= 0;
}

bool CPortIO_Com::CheckLineErrors(int fd)
{
    std::lock_guard lock(m_countLock);
    if (!m_driverCounts)
        return true;
    serial_icounter_struct now{};
    if (ioctl(fd, TIOCGICOUNT, &now) != 0)
        return true;
    bool grew = lineErrorTotal(now) != lineErrorTotal(m_counts);
    m_counts = now;
    return grew ? failWith(err::BadFrame) : true;
}

bool CPortIO_Com::WaitForData(int timeoutMs)
{
    if (HasKept()) {
        m_dataReady.Set();
        SetLastErr(err::Success);
        return true;
    }
    m_dataReady.Reset();
    uint32_t events = 0;
    int ready = WaitReadable(timeoutMs, true, &events);
    if (ready <= 0)
        return ready == 0;
    // A hung-up line (device gone, other end of a pseudo-terminal closed)
    // stays readable for ever; it ends the wait as aborted.
    if (events & (EPOLLHUP | EPOLLERR))
        return failWith(err::Aborted);
    {
        std::shared_lock fdLock(m_fdLock);
        if (fd() < 0)
            return failWith(err::Aborted);
        if (!CheckLineErrors(fd()))
            return false;
    }
    m_dataReady.Set();
    SetLastErr(err::Success);
    return true;
}

ssize_t CPortIO_Com::ReadSome(int fd, void* buffer, size_t max) { return ::read(fd, buffer, max); }

ssize_t CPortIO_Com::WriteSome(int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); }

int CPortIO_Com::Read(void* buffer, int max) { return ReadWithin(buffer, max, kInfinite); }

int CPortIO_Com::ReadWithin(void* buffer, int max, int timeoutMs)
{
    std::unique_lock<std::recursive_mutex> readLock;
    if (!LockForRead(readLock))
        return 0;
    if (const int kept = TakeKept(buffer, max); kept > 0) {
        SetLastErr(err::Success);
        return kept;
    }
    int n = ReadBlocking(buffer, max, timeoutMs);
    if (n < 0)
        return 0;
    if (n == 0 && max > 0)
        return failWith(err::Aborted);  // end of file: the line hung up
    Monitor(1, buffer, n);
    SetLastErr(err::Success);
    return n;
}

int CPortIO_Com::ReadExactStep(void* buffer, int max, int timeoutMs)
{
    int n = ReadWithin(buffer, max, timeoutMs);
    return n > 0 ? n : -1;
}
