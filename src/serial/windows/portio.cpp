// The serial communications API on \\.\COMn: an exclusive open for overlapped I/O, the
// line-settings record applied as the system's own DCB, and every wait bounded and
// cut short by the owner's wake event.
#include "serial/portio.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "net/netutil.h"

static_assert(sizeof(DCB) == sizeof(TLineSettings), "the record is the system's DCB");

namespace {

// Reads take only what the driver holds: interval "no wait" and no totals make ReadFile
// return at once, and every wait for data is a wait on a comm event instead.
const COMMTIMEOUTS ImmediateReads{MAXDWORD, 0, 0, 0, 0};

// How long the completion of a cancelled or immediate operation is waited for; the
// system completes them at once, this only keeps a broken driver from hanging us.
constexpr DWORD SettleWait = 1000;

// Bytes the wait's probe may take into the held buffer.
constexpr size_t ProbeSize = 4096;

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(), n);
    return w;
}

std::string Utf8(const wchar_t* text, size_t length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), s.data(), n, nullptr,
                            nullptr);
    return s;
}

// The error of the call that just failed; never 0, so a failure is never taken for success.
int LastSystemError() {
    const DWORD err = GetLastError();
    return err == 0 ? ERROR_GEN_FAILURE : static_cast<int>(err);
}

// Ports whose driver has no modem lines (a pseudo-terminal under Wine) refuse the status
// request with one of these; that is no link fault.
bool NoModemLines(DWORD err) {
    return err == ERROR_INVALID_FUNCTION || err == ERROR_INVALID_PARAMETER ||
           err == ERROR_NOT_SUPPORTED;
}

DWORD Millis(int timeout) { return static_cast<DWORD>(std::max(timeout, 0)); }

// One overlapped record with its own manual-reset event.
struct TOverlapped {
    OVERLAPPED Ov{};
    TOverlapped() { Ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~TOverlapped() {
        if (Ov.hEvent) CloseHandle(Ov.hEvent);
    }
    TOverlapped(const TOverlapped&) = delete;
    TOverlapped& operator=(const TOverlapped&) = delete;
    OVERLAPPED* Fresh() {
        HANDLE e = Ov.hEvent;
        Ov = OVERLAPPED{};
        Ov.hEvent = e;
        ResetEvent(e);
        return &Ov;
    }
};

}  // namespace

struct TPortIo::TState {
    HANDLE Port = INVALID_HANDLE_VALUE;
    TOverlapped Reading, Writing, Waiting;
    // Bytes a wait's probe took from the driver, handed out before the driver's own.
    std::string Held;
    // Line errors ClearCommError reported to a count or a probe, until TakeLineErrors.
    DWORD Errors = 0;

    // The driver's status; its error flags are kept for TakeLineErrors.
    int Status(COMSTAT& stat) {
        DWORD errors = 0;
        if (!ClearCommError(Port, &errors, &stat)) return LastSystemError();
        Errors |= errors;
        return 0;
    }

    // Takes up to length bytes the driver holds now, without waiting.
    int ReadNow(char* buffer, DWORD length, DWORD& got) {
        got = 0;
        OVERLAPPED* ov = Reading.Fresh();
        if (ReadFile(Port, buffer, length, &got, ov)) return 0;
        const DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) return err == 0 ? ERROR_GEN_FAILURE : static_cast<int>(err);
        return Settle(ov, got);
    }

    // Collects an operation that is still running after SettleWait, cancelling it.
    int Settle(OVERLAPPED* ov, DWORD& count) {
        if (WaitForSingleObject(ov->hEvent, SettleWait) != WAIT_OBJECT_0) CancelIoEx(Port, ov);
        if (GetOverlappedResult(Port, ov, &count, TRUE)) return 0;
        const DWORD err = GetLastError();
        return err == ERROR_OPERATION_ABORTED ? 0 : (err == 0 ? ERROR_GEN_FAILURE : int(err));
    }

    // A read of what is waiting: it moves bytes into Held, and a device that went away
    // fails it (a hung-up line still answers the status and settings calls).
    int Probe() {
        char buffer[ProbeSize];
        DWORD got = 0;
        const int err = ReadNow(buffer, sizeof buffer, got);
        Held.append(buffer, got);
        return err;
    }
};

TPortIo::TPortIo() : F(std::make_unique<TState>()) {}

TPortIo::~TPortIo() { Close(); }

std::string TPortIo::DevicePath(const std::string& name, int comNumber) {
    return comNumber >= 1 ? "\\\\.\\COM" + std::to_string(comNumber) : name;
}

std::string TPortIo::ErrorText(int code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s = n && text ? Utf8(text, n) : std::string();
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s.empty() ? "System error " + std::to_string(code) : s;
}

int TPortIo::ErrorIo() { return ERROR_GEN_FAILURE; }
int TPortIo::ErrorNotOpen() { return ERROR_INVALID_HANDLE; }
int TPortIo::ErrorBadValue() { return ERROR_INVALID_PARAMETER; }
int TPortIo::ErrorBusy() { return ERROR_ACCESS_DENIED; }

bool TPortIo::IsOpen() const { return F->Port != INVALID_HANDLE_VALUE; }

intptr_t TPortIo::Native() const { return IsOpen() ? reinterpret_cast<intptr_t>(F->Port) : -1; }

// No sharing: the system itself keeps every other program off the port while it is open.
int TPortIo::Open(const std::string& path) {
    const HANDLE h =
        CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastSystemError();
    // A plain file would accept writes and lose them: only a communications device is a port.
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!GetCommState(h, &probe)) {
        const int err = LastSystemError();
        CloseHandle(h);
        return err;
    }
    F->Port = h;
    F->Held.clear();
    F->Errors = 0;
    SetCommMask(h, 0);
    COMMTIMEOUTS timeouts = ImmediateReads;
    SetCommTimeouts(h, &timeouts);
    return 0;
}

int TPortIo::TakeExclusive() { return 0; }

void TPortIo::Close() {
    if (F->Port == INVALID_HANDLE_VALUE) return;
    CancelIo(F->Port);
    CloseHandle(F->Port);
    F->Port = INVALID_HANDLE_VALUE;
    F->Held.clear();
}

int TPortIo::ApplyLineSettings(const TLineSettings& settings) {
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    DCB dcb{};
    std::memcpy(&dcb, &settings, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    return SetCommState(F->Port, &dcb) ? 0 : LastSystemError();
}

int TPortIo::FetchLineSettings(TLineSettings& settings) {
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(F->Port, &dcb)) return LastSystemError();
    // The presence probe: a device that went away fails the read.
    if (const int err = F->Probe()) return err;
    settings.DCBlength = sizeof(TLineSettings);
    settings.BaudRate = dcb.BaudRate;
    settings.ByteSize = dcb.ByteSize;
    settings.Parity = dcb.Parity;
    settings.StopBits = dcb.StopBits;
    return 0;
}

int TPortIo::SetQueueSizes(int receive, int send) {
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    return SetupComm(F->Port, static_cast<DWORD>(std::max(receive, 0)),
                     static_cast<DWORD>(std::max(send, 0)))
               ? 0
               : LastSystemError();
}

int TPortIo::Purge() {
    F->Held.clear();
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    return PurgeComm(F->Port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)
               ? 0
               : LastSystemError();
}

int TPortIo::Read(void* buffer, int length, int& got) {
    got = 0;
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    char* out = static_cast<char*>(buffer);
    const size_t want = static_cast<size_t>(std::max(length, 0));
    const size_t held = std::min(want, F->Held.size());
    std::memcpy(out, F->Held.data(), held);
    F->Held.erase(0, held);
    got = static_cast<int>(held);
    if (held == want) return 0;
    DWORD n = 0;
    const int err = F->ReadNow(out + held, static_cast<DWORD>(want - held), n);
    got += static_cast<int>(n);
    // Bytes already handed over count; the failure shows at the next call.
    return got > 0 && err != 0 ? 0 : err;
}

// The write is waited on for at most timeout; then it is cancelled, and what the driver
// took by then still goes out.
int TPortIo::Write(const void* buffer, int length, int timeout, int& done) {
    done = 0;
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    if (length <= 0) return 0;
    OVERLAPPED* ov = F->Writing.Fresh();
    DWORD n = 0;
    if (!WriteFile(F->Port, buffer, static_cast<DWORD>(length), &n, ov)) {
        const DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) return err == 0 ? ERROR_GEN_FAILURE : static_cast<int>(err);
        const bool finished = WaitForSingleObject(ov->hEvent, Millis(timeout)) == WAIT_OBJECT_0;
        if (!finished) CancelIoEx(F->Port, ov);
        if (!GetOverlappedResult(F->Port, ov, &n, TRUE)) {
            const DWORD why = GetLastError();
            done = static_cast<int>(n);
            if (why == ERROR_OPERATION_ABORTED) return kPortTimedOut;
            return why == 0 ? ERROR_GEN_FAILURE : static_cast<int>(why);
        }
        if (!finished && static_cast<int>(n) < length) {
            done = static_cast<int>(n);
            return kPortTimedOut;
        }
    }
    done = static_cast<int>(n);
    return 0;
}

int TPortIo::InputCount(int& count) {
    count = 0;
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    COMSTAT stat{};
    if (const int err = F->Status(stat)) return err;
    count = static_cast<int>(std::min<size_t>(stat.cbInQue + F->Held.size(), 0x7fffffff));
    return 0;
}

int TPortIo::OutputCount(int& count) {
    count = 0;
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    COMSTAT stat{};
    if (const int err = F->Status(stat)) return err;
    count = static_cast<int>(std::min<DWORD>(stat.cbOutQue, 0x7fffffff));
    return 0;
}

int TPortIo::ModemStatus(uint32_t& status) {
    status = 0;
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    DWORD bits = 0;
    if (!GetCommModemStatus(F->Port, &bits)) {
        const DWORD err = GetLastError();
        return NoModemLines(err) ? 0 : (err == 0 ? ERROR_GEN_FAILURE : static_cast<int>(err));
    }
    status = bits & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return 0;
}

void TPortIo::SetDTR(bool on) {
    if (IsOpen()) EscapeCommFunction(F->Port, on ? SETDTR : CLRDTR);
}

void TPortIo::SetRTS(bool on) {
    if (IsOpen()) EscapeCommFunction(F->Port, on ? SETRTS : CLRRTS);
}

int TPortIo::SetBreak(bool on) {
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    const BOOL ok = on ? SetCommBreak(F->Port) : ClearCommBreak(F->Port);
    return ok ? 0 : LastSystemError();
}

uint32_t TPortIo::TakeLineErrors() {
    if (IsOpen()) {
        COMSTAT stat{};
        F->Status(stat);
    }
    const uint32_t flags =
        F->Errors & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_TXFULL);
    F->Errors = 0;
    return flags;
}

// The comm event for a received character, waited on beside the wake event. The mask is
// set before the count is looked at, so a byte that comes between the two still ends the
// wait. The wait ends with a probe read: a device that went away fails it.
TPortWait TPortIo::WaitInput(int timeout, TWaitHandle wake) {
    TPortWait result;
    if (!IsOpen()) {
        result.Error = ERROR_INVALID_HANDLE;
        return result;
    }
    HANDLE port = F->Port;
    SetCommMask(port, EV_RXCHAR | EV_ERR);
    int count = 0;
    if (const int err = InputCount(count)) {
        result.Error = err;
    } else if (count == 0) {
        OVERLAPPED* ov = F->Waiting.Fresh();
        DWORD events = 0;
        if (!WaitCommEvent(port, &events, ov)) {
            const DWORD why = GetLastError();
            if (why != ERROR_IO_PENDING) {
                result.Error = static_cast<int>(why);
            } else {
                HANDLE handles[2] = {ov->hEvent, reinterpret_cast<HANDLE>(wake)};
                const DWORD n = wake == kNoWaitHandle ? 1 : 2;
                const DWORD r = WaitForMultipleObjects(n, handles, FALSE, Millis(timeout));
                result.Woken = r == WAIT_OBJECT_0 + 1;
                // A new mask ends a wait still pending.
                if (r != WAIT_OBJECT_0) SetCommMask(port, 0);
                DWORD ignored = 0;
                F->Settle(ov, ignored);
            }
        }
    }
    SetCommMask(port, 0);
    if (result.Error == 0) result.Error = F->Probe();
    if (result.Error == 0 && InputCount(count) == 0) result.Readable = count > 0;
    return result;
}
