#include "serial/serialdevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "net/netutil.h"
#include "serial/custom_baud.h"
#include "serial/pollwait.h"
#include "serial/serialdevice_support.h"

using namespace serial_detail;

namespace {

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

// flock() covers programs that honour advisory locks, privileged ones included; TIOCEXCL
// then keeps further opens off the tty (except for privileged processes). The lock comes
// first, so that an open that loses it never touches the flag of the one that holds it.
bool TSerialDevice::TakeLock() {
    if (PortLock && flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        SetSystemError(err == EWOULDBLOCK ? EBUSY : err);
        return false;
    }
    ioctl(FHandle, TIOCEXCL);
    FExclusive = true;
    return true;
}

// The exclusive flag belongs to the tty, not to this descriptor: it outlives the close
// while anything else (socat, a terminal program) holds the device, and would keep every
// later open by an ordinary user out. Every path that gives the port up clears it first.
void TSerialDevice::ReleaseHandle() {
    if (FHandle < 0) return;
    if (FExclusive) ioctl(FHandle, TIOCNXCL);
    FExclusive = false;
    close(FHandle);
    FHandle = -1;
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
        ReleaseHandle();
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
        ReleaseHandle();
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
        ReleaseHandle();
    }
    FInstanceActive = false;
    FHandle = -1;
    FPortNumber = -1;
    SetError(0);
    Report(HR_SerialClose, FDevice);
}
