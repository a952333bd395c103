#include <algorithm>
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

// Line errors the driver saw since the last look become the outcome.
void TSerialDevice::ReadLineErrors() {
    if (const uint32_t flags = FPort.TakeLineErrors()) SetError(DecodeLineErrors(flags));
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
    // A full queue is waited on no longer than the deadlock bound. What was accepted stays
    // queued and goes out; only the rest is abandoned.
    int done = 0;
    const int err = FPort.Write(buffer, length, DeadlockTimeout, done);
    if (err == kPortTimedOut)
        SetError(ErrTimeout);
    else if (err != 0)
        SetSystemError(err);
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
    int n = 0;
    if (const int err = FPort.Read(buffer, length, n)) SetSystemError(err);
    ReadLineErrors();
    RaiseIfError();
    Report(HR_ReadCount, std::to_string(n));
    return n;
}

void TSerialDevice::WriteText(const std::string& text) {
    WriteBuffer(text.data(), static_cast<int>(std::min<size_t>(text.size(), 0x7fffffff)));
}

int TSerialDevice::InputCount() {
    SetError(0);
    int n = 0;
    if (const int err = FPort.InputCount(n)) SetSystemError(err);
    RaiseIfError();
    return n;
}

int TSerialDevice::OutputCount() {
    SetError(0);
    int n = 0;
    if (const int err = FPort.OutputCount(n)) SetSystemError(err);
    RaiseIfError();
    return n;
}

bool TSerialDevice::WaitReadable(int timeout) {
    bool ok = InputCount() > 0;
    if (!ok && FLastError == 0) {
        const TPortWait w = FPort.WaitInput(timeout, kNoWaitHandle);
        ok = w.Readable;
        // A hang-up ends the wait at once; say so instead of passing it off as silence.
        if (!ok && w.Error) SetError(w.Error);
    }
    if (ok) Report(HR_CanRead, "");
    return ok;
}

bool TSerialDevice::WaitReadableBuffered(int timeout) {
    if (!LineBuffer.empty()) return true;
    return WaitReadable(timeout);
}

bool TSerialDevice::WaitLineOrWoken(int timeout, TWaitHandle wakeHandle, char terminator) {
    if (LineBuffer.find(terminator) != std::string::npos) return true;
    // A partial line is not input: only new bytes can complete it. Waits even when the
    // count failed: a caller that loops on this must not spin.
    bool ok = InputCount() > 0;
    if (!ok) {
        const TPortWait w = FPort.WaitInput(timeout, wakeHandle);
        // A hung-up port also waits readable; it has nothing to read but the error.
        if (w.Error)
            SetError(w.Error);
        else
            ok = w.Readable;
    }
    if (ok) Report(HR_CanRead, "");
    return ok;
}

bool TSerialDevice::WaitWritable(int timeout) {
    const bool ok = DrainOutput(timeout);
    if (ok) Report(HR_CanWrite, "");
    return ok;
}

// Systems give no portable event for "output queue empty"; short sleeps keep this bounded
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
    std::this_thread::yield();
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
