#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "net/netutil.h"
#include "serial/serialdevice.h"
#include "serial/serialdevice_support.h"

using namespace serial_detail;

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

bool TSerialDevice::WaitLineOrWoken(int timeout, int wakeHandle, char terminator) {
    if (LineBuffer.find(terminator) != std::string::npos) return true;
    // A partial line is not input: only new bytes can complete it. Waits even when the
    // count failed: a caller that loops on this must not spin.
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
