#include "serial/portio.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "net/netutil.h"
#include "serial/linux/custom_baud.h"
#include "serial/linux/polluntil.h"

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

// errno of the call that just failed; never 0, so a failure is never taken for success.
int LastErrno() { return errno == 0 ? EIO : errno; }

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

// Turns off every line-discipline trick and sets the record's framing: a raw byte channel.
void FillTermios(termios& t, const TLineSettings& d) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
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
}

void ReadTermios(const termios& t, TLineSettings& d) {
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

// Whether this process passes the tty's exclusive flag (CAP_SYS_ADMIN), and so can open a
// tty whose flag a hang-up left set, to clear it.
bool MayReopenExclusiveTty() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_SYS_ADMIN)].effective & CAP_TO_MASK(CAP_SYS_ADMIN)) != 0;
}

void ClearExclusiveFlag(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;  // gone with its device: so is the flag
    if (isatty(fd)) ioctl(fd, TIOCNXCL);
    close(fd);
}

}  // namespace

struct TPortIo::TState {
    int Fd = -1;
    std::string Path;        // what Fd was opened as, to clear a flag a hang-up left
    bool Exclusive = false;  // this object set TIOCEXCL on Fd
    // Driver error counters seen last, to turn increases into line errors.
    serial_icounter_struct Counts{};
    bool CountsKnown = false;
};

TPortIo::TPortIo() : F(std::make_unique<TState>()) {}

TPortIo::~TPortIo() { Close(); }

std::string TPortIo::DevicePath(const std::string& name, int comNumber) {
    return comNumber >= 1 ? "/dev/ttyS" + std::to_string(comNumber - 1) : name;
}

std::string TPortIo::ErrorText(int code) {
    char buf[256];
    return strerror_r(code, buf, sizeof buf);
}

int TPortIo::ErrorIo() { return EIO; }
int TPortIo::ErrorNotOpen() { return EBADF; }
int TPortIo::ErrorBadValue() { return EINVAL; }
int TPortIo::ErrorBusy() { return EBUSY; }

bool TPortIo::IsOpen() const { return F->Fd >= 0; }
intptr_t TPortIo::Native() const { return F->Fd; }

int TPortIo::Open(const std::string& path) {
    errno = 0;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return LastErrno();
    // A plain file or a pipe would accept writes and lose them: only a terminal is a port.
    if (!isatty(fd)) {
        close(fd);
        return ENOTTY;
    }
    F->Fd = fd;
    F->Path = path;
    F->CountsKnown = false;
    return 0;
}

// flock() covers programs that honour advisory locks, privileged ones included; TIOCEXCL
// then keeps further opens off the tty (except for privileged processes). The lock comes
// first, so that an open that loses it never touches the flag of the one that holds it.
// The flag belongs to the tty and outlives a hang-up while another program holds the
// device: the hung-up descriptor can no longer clear it, and only a privileged process can
// open the tty again to do so. An ordinary user's copy would lock itself (and everyone)
// out, so only a process that can clear the flag after a hang-up sets it.
int TPortIo::TakeExclusive() {
    if (flock(F->Fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        return err == EWOULDBLOCK ? EBUSY : (err == 0 ? EIO : err);
    }
    if (MayReopenExclusiveTty()) {
        ioctl(F->Fd, TIOCEXCL);
        F->Exclusive = true;
    }
    return 0;
}

// The exclusive flag outlives the close while anything else (socat, a terminal program)
// holds the device, and would keep every later open by an ordinary user out: every path
// that gives the port up clears it first, through a fresh descriptor when a hang-up has
// left this one dead.
void TPortIo::Close() {
    if (F->Fd < 0) return;
    if (F->Exclusive && ioctl(F->Fd, TIOCNXCL) != 0) ClearExclusiveFlag(F->Path);
    F->Exclusive = false;
    close(F->Fd);
    F->Fd = -1;
}

int TPortIo::ApplyLineSettings(const TLineSettings& d) {
    termios t{};
    if (tcgetattr(F->Fd, &t) != 0) return LastErrno();
    speed_t code = B0;
    const bool standard = SpeedCode(static_cast<int>(d.BaudRate), code);
    FillTermios(t, d);
    if (standard) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    if (tcsetattr(F->Fd, TCSANOW, &t) != 0) return LastErrno();
    // Rates outside the table go through the kernel's own interface.
    if (!standard) return SetCustomBaud(F->Fd, static_cast<int>(d.BaudRate));
    return 0;
}

int TPortIo::FetchLineSettings(TLineSettings& settings) {
    if (F->Fd < 0) return EBADF;
    // A tty whose device vanished (an unplugged adapter, a pseudo-terminal whose other side
    // closed) may still answer tcgetattr; the hang-up shows in poll().
    if (const int err = HangUpError(PollOne(F->Fd, POLLIN, 0))) return err;
    termios t{};
    if (tcgetattr(F->Fd, &t) != 0) return LastErrno();
    ReadTermios(t, settings);
    return 0;
}

// Linux sizes its queues itself.
int TPortIo::SetQueueSizes(int /*receive*/, int /*send*/) { return 0; }

int TPortIo::Purge() { return tcflush(F->Fd, TCIOFLUSH) != 0 ? LastErrno() : 0; }

int TPortIo::Read(void* buffer, int length, int& got) {
    got = 0;
    ssize_t n;
    do {
        n = read(F->Fd, buffer, static_cast<size_t>(std::max(length, 0)));
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        got = static_cast<int>(n);
        return 0;
    }
    const int err = errno;
    // Nothing waiting is not a failure: reads only take what the driver holds.
    return err == EAGAIN || err == EWOULDBLOCK ? 0 : (err == 0 ? EIO : err);
}

int TPortIo::Write(const void* buffer, int length, int timeout, int& done) {
    const char* p = static_cast<const char*>(buffer);
    done = 0;
    const uint32_t start = TickNow();
    while (done < length) {
        const ssize_t n = write(F->Fd, p + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        const int err = n < 0 ? errno : EAGAIN;
        if (err == EINTR) continue;
        if (err != EAGAIN && err != EWOULDBLOCK) return err == 0 ? EIO : err;
        // The driver's queue is full: wait for room, but never beyond the time-out.
        const int left = Remaining(start, timeout);
        if (left <= 0 || PollOne(F->Fd, POLLOUT, left) == 0) return kPortTimedOut;
    }
    return 0;
}

int TPortIo::InputCount(int& count) {
    count = 0;
    if (ioctl(F->Fd, FIONREAD, &count) != 0) {
        count = 0;
        return LastErrno();
    }
    count = std::max(count, 0);
    return 0;
}

int TPortIo::OutputCount(int& count) {
    count = 0;
    if (ioctl(F->Fd, TIOCOUTQ, &count) != 0) {
        count = 0;
        return LastErrno();
    }
    count = std::max(count, 0);
    return 0;
}

int TPortIo::ModemStatus(uint32_t& status) {
    status = 0;
    int bits = 0;
    if (ioctl(F->Fd, TIOCMGET, &bits) != 0) {
        const int err = errno;
        return NoModemLines(err) ? 0 : (err == 0 ? EIO : err);
    }
    if (bits & TIOCM_CTS) status |= MODEM_CTS_ON;
    if (bits & TIOCM_DSR) status |= MODEM_DSR_ON;
    if (bits & TIOCM_RNG) status |= MODEM_RING_ON;
    if (bits & TIOCM_CAR) status |= MODEM_RLSD_ON;
    return 0;
}

void TPortIo::SetDTR(bool on) {
    int bit = TIOCM_DTR;
    ioctl(F->Fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void TPortIo::SetRTS(bool on) {
    int bit = TIOCM_RTS;
    ioctl(F->Fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

int TPortIo::SetBreak(bool on) {
    return ioctl(F->Fd, on ? TIOCSBRK : TIOCCBRK) != 0 ? LastErrno() : 0;
}

// Increases of the driver's error counters, where the driver keeps such counters (real
// UARTs do, pseudo-terminals do not).
uint32_t TPortIo::TakeLineErrors() {
    serial_icounter_struct c{};
    if (F->Fd < 0 || ioctl(F->Fd, TIOCGICOUNT, &c) != 0) return 0;
    uint32_t flags = 0;
    if (F->CountsKnown) {
        const serial_icounter_struct& was = F->Counts;
        if (c.frame != was.frame) flags |= LINE_FRAME;
        if (c.overrun != was.overrun) flags |= LINE_OVERRUN;
        if (c.buf_overrun != was.buf_overrun) flags |= LINE_RXOVER;
        if (c.parity != was.parity) flags |= LINE_RXPARITY;
    }
    F->Counts = c;
    F->CountsKnown = true;
    return flags;
}

TPortWait TPortIo::WaitInput(int timeout, TWaitHandle wake) {
    TPortWait result;
    pollfd p[2] = {{F->Fd, POLLIN, 0}, {static_cast<int>(wake), POLLIN, 0}};
    const int ready = PollUntil(p, wake == kNoWaitHandle ? 1 : 2, timeout);
    if (ready < 0) {
        result.Error = LastErrno();
        return result;
    }
    // A hung-up port also polls readable; it has nothing to read but the error.
    result.Error = HangUpError(p[0].revents);
    result.Readable = (p[0].revents & POLLIN) != 0;
    result.Woken = (p[1].revents & POLLIN) != 0;
    return result;
}
