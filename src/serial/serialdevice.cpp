#include "serial/serialdevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>
#include <thread>

#include "net/netutil.h"
#include "serial/custom_baud.h"
#include "serial/pollwait.h"

namespace {

const char CR = '\r';

struct TSpeed {
    int Baud;
    speed_t Code;
};

const TSpeed Speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(int baud, speed_t& code) {
    for (const TSpeed& s : Speeds)
        if (s.Baud == baud) {
            code = s.Code;
            return true;
        }
    return false;
}

int BaudOf(speed_t code) {
    for (const TSpeed& s : Speeds)
        if (s.Code == code) return s.Baud;
    return 0;
}

std::string Upper(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// A decimal number filling the whole text, like the toolkit's StrToInt.
bool ParseDecimal(const std::string& text, int& value) {
    if (text.empty() || text.size() > 10) return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > 2147483647LL) return false;
    value = static_cast<int>(v);
    return true;
}

// Milliseconds left of a wait that began at start; never negative.
int Remaining(uint32_t start, int timeout) {
    const uint32_t spent = TickElapsed(start, TickNow());
    return spent >= static_cast<uint32_t>(std::max(timeout, 0)) ? 0
                                                                : timeout - static_cast<int>(spent);
}

// poll() on one descriptor until the deadline; revents or 0.
short PollOne(int fd, short events, int timeout) {
    pollfd p{fd, events, 0};
    return PollUntil(&p, 1, timeout) > 0 ? p.revents : 0;
}

// A hang-up or a dead descriptor ends a wait for input at once: the code to record.
int HangUpError(short revents) {
    if (revents & POLLNVAL) return EBADF;
    return (revents & (POLLHUP | POLLERR)) ? EIO : 0;
}

// Pseudo-terminals and some adapters do not have modem lines; that is no link fault.
bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

}  // namespace

ESerialError::ESerialError(int code, const std::string& text)
    : std::runtime_error("Communication error " + std::to_string(code) + ": " + text),
      ErrorCode(code),
      ErrorMessage(text) {}

TSerialDevice::TSerialDevice() { FLastErrorDesc = GetErrorDesc(0); }

TSerialDevice::~TSerialDevice() {
    const bool raise = RaiseExcept;
    RaiseExcept = false;  // a destructor must not throw
    ClosePort();
    RaiseExcept = raise;
}

std::string TSerialDevice::GetErrorName(int code) {
    switch (code) {
        case ErrAlreadyOwned:
            return "ErrAlreadyOwned";
        case ErrAlreadyInUse:
            return "ErrAlreadyInUse";
        case ErrWrongParameter:
            return "ErrWrongParameter";
        case ErrPortNotOpen:
            return "ErrPortNotOpen";
        case ErrNoDeviceAnswer:
            return "ErrNoDeviceAnswer";
        case ErrMaxBuffer:
            return "ErrMaxBuffer";
        case ErrTimeout:
            return "ErrTimeout";
        case ErrNotRead:
            return "ErrNotRead";
        case ErrFrame:
            return "ErrFrame";
        case ErrOverrun:
            return "ErrOverrun";
        case ErrRxOver:
            return "ErrRxOver";
        case ErrRxParity:
            return "ErrRxParity";
        case ErrTxFull:
            return "ErrTxFull";
        default:
            return "";
    }
}

std::string TSerialDevice::GetErrorDesc(int code) {
    switch (code) {
        case 0:
            return "OK";
        case ErrAlreadyOwned:
            return "Port owned by other process";
        case ErrAlreadyInUse:
            return "Instance already in use";
        case ErrWrongParameter:
            return "Wrong paramter at call";
        case ErrPortNotOpen:
            return "Instance not yet connected";
        case ErrNoDeviceAnswer:
            return "No device answer detected";
        case ErrMaxBuffer:
            return "Maximal buffer length exceeded";
        case ErrTimeout:
            return "Timeout during operation";
        case ErrNotRead:
            return "Reading of data failed";
        case ErrFrame:
            return "Receive framing error";
        case ErrOverrun:
            return "Receive Overrun Error";
        case ErrRxOver:
            return "Receive Queue overflow";
        case ErrRxParity:
            return "Receive Parity Error";
        case ErrTxFull:
            return "Tranceive Queue is full";
        default: {
            char buf[256];
            return strerror_r(code, buf, sizeof buf);
        }
    }
}

int TSerialDevice::DecodeLineErrors(uint32_t flags) {
    int code = 0;
    if (flags & CE_FRAME) code = ErrFrame;
    if (flags & CE_OVERRUN) code = ErrOverrun;
    if (flags & CE_RXOVER) code = ErrRxOver;
    if (flags & CE_RXPARITY) code = ErrRxParity;
    if (flags & CE_TXFULL) code = ErrTxFull;
    return code;
}

// ---------------------------------------------------------------- error bookkeeping

void TSerialDevice::SetError(int code) {
    FLastError = code;
    FLastErrorDesc = GetErrorDesc(code);
}

void TSerialDevice::SetSystemError(int err) { SetError(err == 0 ? EIO : err); }

void TSerialDevice::CheckResult(long value) {
    const int err = errno;
    SetError(value == -1 ? (err == 0 ? EIO : err) : 0);
}

void TSerialDevice::RaiseIfError() {
    if (RaiseExcept && FLastError != 0) throw ESerialError(FLastError, FLastErrorDesc);
}

void TSerialDevice::Report(THookSerialReason reason, const std::string& value) {
    if (OnStatus) OnStatus(this, reason, value);
}

// ---------------------------------------------------------------- names and opening

void TSerialDevice::ParsePortNumber(const std::string& name) {
    FPortNumber = -1;
    const std::string up = Upper(name);
    int n = 0;
    if (up.rfind("COM", 0) == 0) {
        if (ParseDecimal(up.substr(3), n)) FPortNumber = n - 1;
    } else if (up.rfind("/DEV/TTYS", 0) == 0) {
        FPortNumber = ParseDecimal(up.substr(9), n) ? n : -2;
    }
}

std::string TSerialDevice::DevicePathFor(const std::string& name) {
    TSerialDevice probe;
    probe.ParsePortNumber(name);
    // COM0 or COMx parse to no number and are opened as the paths they are.
    if (Upper(name).rfind("COM", 0) == 0 && probe.FPortNumber >= 0)
        return "/dev/ttyS" + std::to_string(probe.FPortNumber);
    return name;
}

// TIOCEXCL keeps further opens off the tty (except for privileged processes), and flock()
// covers programs that honour advisory locks, privileged ones included. A second opener
// thus fails with EBUSY either way.
bool TSerialDevice::TakeLock() {
    ioctl(FHandle, TIOCEXCL);
    if (!PortLock) return true;
    if (flock(FHandle, LOCK_EX | LOCK_NB) == 0) return true;
    const int err = errno;
    SetSystemError(err == EWOULDBLOCK ? EBUSY : err);
    return false;
}

void TSerialDevice::OpenPort(const std::string& name) {
    if (FInstanceActive) {
        SetError(ErrAlreadyInUse);
        RaiseIfError();
        return;
    }
    LineBuffer.clear();
    FLastCR = FLastLF = false;
    ParsePortNumber(name);
    FDevice = DevicePathFor(name);
    errno = 0;

    const int fd = open(FDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetSystemError(errno);
        RaiseIfError();
        return;
    }
    // A plain file or a pipe would accept writes and lose them: only a terminal is a port.
    if (!isatty(fd)) {
        close(fd);
        SetSystemError(ENOTTY);
        RaiseIfError();
        return;
    }
    FHandle = fd;
    if (!TakeLock()) {
        close(fd);
        FHandle = -1;
        RaiseIfError();
        return;
    }
    SetError(0);
    FCountsKnown = false;
    ReadLineErrors();  // notes the driver's counters as the base line
    SetError(0);
    if (CheckControlLines()) {
        FInstanceActive = true;
        SetRTSLine(true);
        SetDTRLine(true);
        PurgeBuffers();
    } else {
        SetError(ErrNoDeviceAnswer);
        close(FHandle);
        FHandle = -1;
        FPortNumber = -1;
    }
    RaiseIfError();
    Report(HR_Connect, FDevice);
}

bool TSerialDevice::CheckControlLines() {
    if (!TestDSR && !TestCTS) return true;
    const int saved = FLastError;
    const uint32_t status = ReadModemStatus();
    SetError(saved);
    if (TestDSR && !(status & MS_DSR_ON)) return false;
    if (TestCTS && !(status & MS_CTS_ON)) return false;
    return true;
}

bool TSerialDevice::PreflightFails() {
    if (!FInstanceActive) {
        SetError(ErrPortNotOpen);
        RaiseIfError();
        return true;
    }
    if (!CheckControlLines()) {
        SetError(ErrNoDeviceAnswer);
        RaiseIfError();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- line settings

TLineSettings TSerialDevice::BuildLineSettings(int baud, int bits, char parity, int stop,
                                               bool softFlow, bool hardFlow, int recvBufferSize) {
    TLineSettings d{};
    d.DCBlength = sizeof(TLineSettings);
    d.BaudRate = static_cast<uint32_t>(baud);
    d.ByteSize = static_cast<uint8_t>(bits);
    switch (std::toupper(static_cast<unsigned char>(parity))) {
        case 'O':
            d.Parity = 1;
            break;
        case 'E':
            d.Parity = 2;
            break;
        case 'M':
            d.Parity = 3;
            break;
        case 'S':
            d.Parity = 4;
            break;
        default:
            d.Parity = 0;
            break;
    }
    d.StopBits = static_cast<uint8_t>(stop);
    d.XonChar = 17;
    d.XoffChar = 19;
    d.XonLim = static_cast<uint16_t>(recvBufferSize / 4);
    d.XoffLim = static_cast<uint16_t>(recvBufferSize / 4);
    d.Flags = DCB_BINARY | DCB_DTR_CONTROL_ENABLE;
    if (softFlow) d.Flags |= DCB_OUTX | DCB_INX;
    d.Flags |= hardFlow ? (DCB_OUTX_CTS_FLOW | DCB_RTS_CONTROL_HANDSHAKE) : DCB_RTS_CONTROL_ENABLE;
    if (d.Parity != 0) d.Flags |= DCB_PARITY;
    return d;
}

void TSerialDevice::ConfigurePort(int baud, int bits, char parity, int stop, bool softFlow,
                                  bool hardFlow) {
    FLineSettings =
        BuildLineSettings(baud, bits, parity, stop, softFlow, hardFlow, FRecvBufferSize);
    if (FRTSToggle && !hardFlow)
        FLineSettings.Flags =
            (FLineSettings.Flags & ~DCB_RTS_CONTROL_MASK) | DCB_RTS_CONTROL_TOGGLE;
    StoreCommState();
}

void TSerialDevice::StoreCommState() {
    SetError(0);
    const TLineSettings& d = FLineSettings;
    termios t{};
    if (tcgetattr(FHandle, &t) != 0) {
        CheckResult(-1);
        RaiseIfError();
        return;
    }
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    speed_t code = B0;
    // Baud 0 would hang the line up instead of setting a speed.
    const bool standard = SpeedCode(static_cast<int>(d.BaudRate), code);
    if (d.BaudRate == 0 || d.BaudRate > 0x7fffffff || d.ByteSize < 5 || d.ByteSize > 8 ||
        d.Parity > 4 || d.StopBits > 2) {
        SetError(EINVAL);
        RaiseIfError();
        return;
    }
    // Turn off every line-discipline trick: a raw byte channel.
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | sizes[d.ByteSize - 5];
    if (d.Parity != 0) t.c_cflag |= PARENB;
    if (d.Parity == 1 || d.Parity == 3) t.c_cflag |= PARODD;
    if (d.Parity >= 3) t.c_cflag |= CMSPAR;
    if (d.Flags & DCB_PARITY) t.c_iflag |= INPCK;
    // termios has no one-and-a-half: both longer codes give two stop bits.
    if (d.StopBits != 0) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (d.Flags & DCB_OUTX) t.c_iflag |= IXON;
    if (d.Flags & DCB_INX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(d.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(d.XoffChar);
    if ((d.Flags & DCB_RTS_CONTROL_MASK) == DCB_RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
    // Reads take only what is waiting; waiting is done with poll().
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (standard) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    if (tcsetattr(FHandle, TCSANOW, &t) != 0) {
        CheckResult(-1);
        RaiseIfError();
        return;
    }
    if (!standard) {
        if (const int err = SetCustomBaud(FHandle, static_cast<int>(d.BaudRate))) {
            SetSystemError(err);
            RaiseIfError();
            return;
        }
    }
    if (d.Flags & DCB_DTR_CONTROL_ENABLE) SetDTRLine(true);
    if ((d.Flags & DCB_RTS_CONTROL_MASK) == DCB_RTS_CONTROL_ENABLE) SetRTSLine(true);
    RaiseIfError();
}

void TSerialDevice::FetchCommState() {
    SetError(0);
    termios t{};
    if (FHandle < 0) {
        SetError(EBADF);
        RaiseIfError();
        return;
    }
    // A tty whose device vanished (an unplugged adapter, a pseudo-terminal whose other side
    // closed) may still answer tcgetattr; the hang-up shows in poll().
    const short ev = PollOne(FHandle, POLLIN, 0);
    if (HangUpError(ev)) {
        SetError(HangUpError(ev));
    } else if (tcgetattr(FHandle, &t) != 0) {
        CheckResult(-1);
    } else {
        TLineSettings& d = FLineSettings;
        d.DCBlength = sizeof(TLineSettings);
        if (const int baud = BaudOf(cfgetospeed(&t))) d.BaudRate = static_cast<uint32_t>(baud);
        switch (t.c_cflag & CSIZE) {
            case CS5:
                d.ByteSize = 5;
                break;
            case CS6:
                d.ByteSize = 6;
                break;
            case CS7:
                d.ByteSize = 7;
                break;
            default:
                d.ByteSize = 8;
                break;
        }
        if (!(t.c_cflag & PARENB))
            d.Parity = 0;
        else if (t.c_cflag & CMSPAR)
            d.Parity = (t.c_cflag & PARODD) ? 3 : 4;
        else
            d.Parity = (t.c_cflag & PARODD) ? 1 : 2;
        d.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    }
    RaiseIfError();
}

void TSerialDevice::PurgeBuffers() {
    SetError(0);
    if (tcflush(FHandle, TCIOFLUSH) != 0) CheckResult(-1);
    LineBuffer.clear();
    RaiseIfError();
}

void TSerialDevice::ClosePort() {
    if (FHandle != -1) {
        // Let bytes already accepted for sending reach the wire before the queues are
        // emptied; a line reported as written must not be discarded at close.
        const bool raise = RaiseExcept;
        RaiseExcept = false;
        DrainOutput(100);
        PurgeBuffers();
        SetRTSLine(false);
        SetDTRLine(false);
        RaiseExcept = raise;
        close(FHandle);
    }
    FInstanceActive = false;
    FHandle = -1;
    FPortNumber = -1;
    SetError(0);
    Report(HR_SerialClose, FDevice);
}

// ---------------------------------------------------------------- transfers

void TSerialDevice::LimitBandwidth(int length, int limit, uint32_t& nextTick) {
    if (limit <= 0) return;
    const int32_t wait = static_cast<int32_t>(nextTick - TickNow());
    if (wait > 0) {
        Report(HR_Wait, std::to_string(wait));
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    nextTick = TickNow() + static_cast<uint32_t>(static_cast<int64_t>(length) * 1000 / limit);
}

// Turns increases of the driver's error counters into a line error, where the driver
// keeps such counters (real UARTs do, pseudo-terminals do not).
void TSerialDevice::ReadLineErrors() {
    serial_icounter_struct c{};
    if (FHandle < 0 || ioctl(FHandle, TIOCGICOUNT, &c) != 0) return;
    TErrorCounts now{c.frame, c.overrun, c.parity, c.buf_overrun};
    if (FCountsKnown) {
        uint32_t flags = 0;
        if (now.Frame != FCounts.Frame) flags |= CE_FRAME;
        if (now.Overrun != FCounts.Overrun) flags |= CE_OVERRUN;
        if (now.BufOverrun != FCounts.BufOverrun) flags |= CE_RXOVER;
        if (now.Parity != FCounts.Parity) flags |= CE_RXPARITY;
        if (flags) SetError(DecodeLineErrors(flags));
    }
    FCounts = now;
    FCountsKnown = true;
}

int TSerialDevice::WriteBuffer(const void* buffer, int length) {
    if (PreflightFails()) return 0;
    if (length < 0) length = 0;
    LimitBandwidth(length, FSendLimit, FNextSend);
    if (FRTSToggle) {
        Flush();
        SetRTSLine(true);
    }
    SetError(0);
    const char* p = static_cast<const char*>(buffer);
    int done = 0;
    const uint32_t start = TickNow();
    while (done < length) {
        const ssize_t n = write(FHandle, p + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        const int err = n < 0 ? errno : EAGAIN;
        if (err == EINTR) continue;
        if (err != EAGAIN && err != EWOULDBLOCK) {
            SetSystemError(err);
            break;
        }
        // The driver's queue is full: wait for room, but never beyond the deadlock bound.
        // What was accepted stays queued and goes out; only the rest is abandoned.
        const int left = Remaining(start, DeadlockTimeout);
        if (left <= 0 || PollOne(FHandle, POLLOUT, left) == 0) {
            SetError(ErrTimeout);
            break;
        }
    }
    ReadLineErrors();
    if (FRTSToggle) {
        const int saved = FLastError;
        Flush();
        WaitWritable(255);
        SetRTSLine(false);
        SetError(saved);
    }
    RaiseIfError();
    Report(HR_WriteCount, std::to_string(done));
    return done;
}

int TSerialDevice::ReadBuffer(void* buffer, int length) {
    if (PreflightFails()) return 0;
    if (length < 0) length = 0;
    LimitBandwidth(length, FRecvLimit, FNextRecv);
    SetError(0);
    ssize_t n;
    do {
        n = read(FHandle, buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        const int err = errno;
        // Nothing waiting is not a failure: reads only take what the driver holds.
        if (err != EAGAIN && err != EWOULDBLOCK) SetSystemError(err);
        n = 0;
    }
    ReadLineErrors();
    RaiseIfError();
    Report(HR_ReadCount, std::to_string(n));
    return static_cast<int>(n);
}

void TSerialDevice::WriteText(const std::string& text) {
    WriteBuffer(text.data(), static_cast<int>(std::min<size_t>(text.size(), 0x7fffffff)));
}

int TSerialDevice::InputCount() {
    SetError(0);
    int n = 0;
    if (ioctl(FHandle, FIONREAD, &n) != 0) {
        CheckResult(-1);
        n = 0;
    }
    RaiseIfError();
    return std::max(n, 0);
}

int TSerialDevice::OutputCount() {
    SetError(0);
    int n = 0;
    if (ioctl(FHandle, TIOCOUTQ, &n) != 0) {
        CheckResult(-1);
        n = 0;
    }
    RaiseIfError();
    return std::max(n, 0);
}

bool TSerialDevice::WaitReadable(int timeout) {
    bool ok = InputCount() > 0;
    if (!ok && FLastError == 0) {
        const short ev = PollOne(FHandle, POLLIN, timeout);
        ok = (ev & POLLIN) != 0;
        // A hang-up ends the wait at once; say so instead of passing it off as silence.
        if (!ok && HangUpError(ev)) SetError(HangUpError(ev));
    }
    if (ok) Report(HR_CanRead, "");
    return ok;
}

bool TSerialDevice::WaitReadableBuffered(int timeout) {
    if (!LineBuffer.empty()) return true;
    return WaitReadable(timeout);
}

bool TSerialDevice::WaitReadableOrWoken(int timeout, int wakeHandle) {
    if (!LineBuffer.empty()) return true;
    // Waits even when the count failed: a caller that loops on this must not spin.
    bool ok = InputCount() > 0;
    if (!ok) {
        pollfd p[2] = {{FHandle, POLLIN, 0}, {wakeHandle, POLLIN, 0}};
        if (PollUntil(p, 2, timeout) > 0) {
            // A hung-up port also polls readable; it has nothing to read but the error.
            if (const int err = HangUpError(p[0].revents))
                SetError(err);
            else
                ok = (p[0].revents & POLLIN) != 0;
        }
    }
    if (ok) Report(HR_CanRead, "");
    return ok;
}

bool TSerialDevice::WaitWritable(int timeout) {
    const bool ok = DrainOutput(timeout);
    if (ok) Report(HR_CanWrite, "");
    return ok;
}

// The kernel gives no event for "output queue empty"; short sleeps keep this bounded
// without spinning.
bool TSerialDevice::DrainOutput(int timeout) {
    const uint32_t start = TickNow();
    for (;;) {
        const int n = OutputCount();
        if (FLastError != 0) return false;
        if (n == 0) return true;
        const int left = Remaining(start, timeout);
        if (left <= 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 2)));
    }
}

std::string TSerialDevice::ReadChunk(int timeout) {
    std::string result;
    if (PreflightFails()) return result;
    SetError(0);
    if (!LineBuffer.empty()) {
        result.swap(LineBuffer);
        return result;
    }
    sched_yield();
    int n = InputCount();
    if (n == 0 && FLastError == 0) {
        if (WaitReadable(timeout)) {
            n = InputCount();
            if (n == 0 && FLastError == 0) SetError(ErrTimeout);
        } else if (FLastError == 0) {
            SetError(ErrTimeout);
        }
    }
    if (n > 0) {
        result.resize(std::min<size_t>(static_cast<size_t>(n), ChunkLimit));
        result.resize(
            static_cast<size_t>(ReadBuffer(result.data(), static_cast<int>(result.size()))));
    }
    RaiseIfError();
    return result;
}

std::string TSerialDevice::ReadUntil(int timeout, const std::string& terminator) {
    std::string result;
    if (PreflightFails()) return result;
    SetError(0);
    if (terminator.empty()) return result;
    const bool lineEndMode = ConvertLineEnd && terminator == "\r\n";
    const size_t limit = MaxLineLength > 0
                             ? std::min<size_t>(static_cast<size_t>(MaxLineLength), HardLineLimit)
                             : HardLineLimit;
    std::string gathered;
    size_t found = std::string::npos, termLen = terminator.size();
    int left = timeout;
    for (;;) {
        const uint32_t passStart = TickNow();
        gathered += ReadChunk(left);
        if (FLastError != 0) break;
        if (!gathered.empty()) {
            if (lineEndMode) {
                // The second half of a line end split across reads belongs to the last line.
                if ((FLastCR && gathered[0] == '\n') || (FLastLF && gathered[0] == '\r'))
                    gathered.erase(0, 1);
                FLastCR = FLastLF = false;
                std::string lineEnd;
                const long pos = FindLineBreak(gathered, lineEnd);
                if (pos > 0) {
                    found = static_cast<size_t>(pos - 1);
                    termLen = lineEnd.size();
                    FLastCR = lineEnd == "\r";
                    FLastLF = lineEnd == "\n";
                }
            } else {
                found = gathered.find(terminator);
            }
        }
        // A line that fits is taken even when more text came with it.
        if (found != std::string::npos && found <= limit) break;
        if (gathered.size() > limit) {
            SetError(ErrMaxBuffer);
            break;
        }
        if (!InterPacketTimeout) {
            left -=
                static_cast<int>(std::min<uint32_t>(TickElapsed(passStart, TickNow()), 0x7fffffff));
            if (left <= 0) {
                SetError(ErrTimeout);
                break;
            }
        }
    }
    if (FLastError == 0 && found != std::string::npos) {
        result = gathered.substr(0, found);
        gathered.erase(0, found + termLen);
    } else if (FLastError == ErrMaxBuffer) {
        // An overlong line is handed on in pieces of the limit, so the buffer stays bounded.
        result = gathered.substr(0, limit);
        gathered.erase(0, limit);
    }
    LineBuffer = std::move(gathered);
    RaiseIfError();
    return result;
}

std::string TSerialDevice::ReadLine(int timeout) {
    std::string s = ReadUntil(timeout, "\r\n");
    return FLastError == 0 ? s : std::string();
}

// ---------------------------------------------------------------- modem lines

uint32_t TSerialDevice::ReadModemStatus() {
    SetError(0);
    int bits = 0;
    uint32_t status = 0;
    if (ioctl(FHandle, TIOCMGET, &bits) != 0) {
        const int err = errno;
        if (!NoModemLines(err)) SetSystemError(err);
    } else {
        if (bits & TIOCM_CTS) status |= MS_CTS_ON;
        if (bits & TIOCM_DSR) status |= MS_DSR_ON;
        if (bits & TIOCM_RNG) status |= MS_RING_ON;
        if (bits & TIOCM_CAR) status |= MS_RLSD_ON;
    }
    RaiseIfError();
    FModemStatus = status;
    return status;
}

bool TSerialDevice::CTSOn() { return (ReadModemStatus() & MS_CTS_ON) != 0; }
bool TSerialDevice::DSROn() { return (ReadModemStatus() & MS_DSR_ON) != 0; }
bool TSerialDevice::RingOn() { return (ReadModemStatus() & MS_RING_ON) != 0; }
bool TSerialDevice::CarrierOn() { return (ReadModemStatus() & MS_RLSD_ON) != 0; }

void TSerialDevice::SetDTRLine(bool value) {
    int bit = TIOCM_DTR;
    ioctl(FHandle, value ? TIOCMBIS : TIOCMBIC, &bit);
}

void TSerialDevice::SetRTSLine(bool value) {
    int bit = TIOCM_RTS;
    ioctl(FHandle, value ? TIOCMBIS : TIOCMBIC, &bit);
}

// ---------------------------------------------------------------- modem commands

std::string TSerialDevice::ReadCommand(const std::string& command, int lineTimeout, bool dial) {
    std::string result;
    FATResult = false;
    const bool savedConvert = ConvertLineEnd;
    ConvertLineEnd = true;
    WriteText(command + CR);
    while (FLastError == 0) {
        const std::string line = ReadLine(lineTimeout);
        if (line != command) result += line + "\r\n";
        if (dial) {
            if (line.rfind("CONNECT", 0) == 0) {
                FATResult = true;
                break;
            }
            if (line == "NO CARRIER" || line == "ERROR" || line == "BUSY" || line == "NO DIALTONE")
                break;
        } else {
            if (line == "OK") {
                FATResult = true;
                break;
            }
            if (line == "ERROR") break;
        }
        // A modem that chatters without ever concluding must not grow the answer for ever.
        if (result.size() > HardLineLimit) {
            SetError(ErrMaxBuffer);
            break;
        }
    }
    ConvertLineEnd = savedConvert;
    return result;
}

std::string TSerialDevice::SendModemCommand(const std::string& command) {
    return ReadCommand(command, AtTimeout, false);
}

std::string TSerialDevice::SendDialCommand(const std::string& command) {
    const long long t = static_cast<long long>(AtTimeout) * 90;
    return ReadCommand(command, static_cast<int>(std::min<long long>(t, 0x7fffffff)), true);
}

// ---------------------------------------------------------------- rarely used operations

namespace {
std::string LittleEndian32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
    return s;
}
uint32_t FromLittleEndian32(const std::string& s) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < s.size(); ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(s[i])) << (8 * i);
    return v;
}
constexpr size_t StreamStep = 8192;
}  // namespace

void TSerialDevice::WriteByte(uint8_t value) { WriteBuffer(&value, 1); }

void TSerialDevice::WriteInteger(int32_t value) {
    WriteText(LittleEndian32(static_cast<uint32_t>(value)));
}

void TSerialDevice::WriteBlock(const std::string& data) {
    WriteInteger(static_cast<int32_t>(data.size()));
    if (FLastError == 0) WriteText(data);
}

void TSerialDevice::WriteStream(std::istream& stream, bool withLength, bool reversedLength) {
    const auto pos = stream.tellg();
    stream.seekg(0, std::ios::end);
    const auto end = stream.tellg();
    stream.seekg(pos);
    const uint32_t size = pos >= 0 && end >= pos ? static_cast<uint32_t>(end - pos) : 0;
    if (withLength) {
        WriteInteger(static_cast<int32_t>(reversedLength ? ReverseBytes32(size) : size));
        if (FLastError != 0) return;
    }
    std::string chunk;
    while (FLastError == 0) {
        chunk = StreamToText(stream, StreamStep);
        if (chunk.empty()) break;
        WriteText(chunk);
    }
}

uint8_t TSerialDevice::ReadByte(int timeout) {
    if (LineBuffer.empty()) LineBuffer = ReadChunk(timeout);
    if (FLastError != 0 || LineBuffer.empty()) return 0;
    const auto b = static_cast<uint8_t>(LineBuffer[0]);
    LineBuffer.erase(0, 1);
    return b;
}

std::string TSerialDevice::ReadBlockOf(int timeout, size_t length) {
    std::string data;
    while (data.size() < length) {
        data += ReadChunk(timeout);
        if (FLastError != 0) break;
    }
    if (data.size() > length) {
        LineBuffer = data.substr(length) + LineBuffer;
        data.resize(length);
    }
    return data;
}

int32_t TSerialDevice::ReadInteger(int timeout) {
    const std::string s = ReadBlockOf(timeout, 4);
    return FLastError == 0 ? static_cast<int32_t>(FromLittleEndian32(s)) : 0;
}

std::string TSerialDevice::ReadBlock(int timeout, bool reversedLength) {
    uint32_t n = static_cast<uint32_t>(ReadInteger(timeout));
    if (FLastError != 0) return "";
    if (reversedLength) n = ReverseBytes32(n);
    // The length comes from the peer: refuse what no sane block needs.
    if (n > HardLineLimit * 16) {
        SetError(ErrMaxBuffer);
        RaiseIfError();
        return "";
    }
    return ReadBlockOf(timeout, n);
}

void TSerialDevice::ReadToStream(std::ostream& stream, int timeout) {
    for (;;) {
        const std::string chunk = ReadChunk(timeout);
        if (FLastError != 0) break;
        TextToStream(stream, chunk);
    }
}

void TSerialDevice::ReadStreamBlock(std::ostream& stream, int timeout, size_t length) {
    while (length > 0 && FLastError == 0) {
        const std::string chunk = ReadBlockOf(timeout, std::min(length, StreamStep));
        TextToStream(stream, chunk);
        length -= std::min(length, chunk.size());
        if (chunk.empty()) break;
    }
}

void TSerialDevice::Flush() {
    const int saved = FLastError;
    DrainOutput(DeadlockTimeout);
    SetError(saved);
}

void TSerialDevice::SendBreak(int ms) {
    SetError(0);
    if (ioctl(FHandle, TIOCSBRK) != 0) {
        CheckResult(-1);
        RaiseIfError();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
    if (ioctl(FHandle, TIOCCBRK) != 0) CheckResult(-1);
    RaiseIfError();
}

void TSerialDevice::SetRecvBufferSize(int size) {
    // Linux sizes its queues itself; the size still sets the flow-control limits.
    FRecvBufferSize = size;
    FLineSettings.XonLim = static_cast<uint16_t>(size / 4);
    FLineSettings.XoffLim = static_cast<uint16_t>(size / 4);
    if (FInstanceActive) StoreCommState();
}

void TSerialDevice::SetBandwidth(int sendBytesPerSec, int recvBytesPerSec) {
    FSendLimit = sendBytesPerSec;
    FRecvLimit = recvBytesPerSec;
    FNextSend = FNextRecv = TickNow();
}

void TSerialDevice::SetRTSToggle(bool value) {
    FRTSToggle = value;
    FLineSettings.Flags &= ~DCB_RTS_CONTROL_MASK;
    FLineSettings.Flags |= value ? DCB_RTS_CONTROL_TOGGLE : DCB_RTS_CONTROL_ENABLE;
}
