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
// The device's flag values are the system's own.
static_assert(LINE_RXOVER == CE_RXOVER && LINE_OVERRUN == CE_OVERRUN &&
              LINE_RXPARITY == CE_RXPARITY && LINE_FRAME == CE_FRAME && LINE_TXFULL == CE_TXFULL);
static_assert(MODEM_CTS_ON == MS_CTS_ON && MODEM_DSR_ON == MS_DSR_ON &&
              MODEM_RING_ON == MS_RING_ON && MODEM_RLSD_ON == MS_RLSD_ON);

namespace {

// No read or write time-outs: a read waits until it has the count it asked for. Reads of
// data take only what the driver says it holds, so they complete at once; the one read that
// waits is the wait for input, one byte long, cut short by its own bound or the wake event.
const COMMTIMEOUTS NoTimeouts{0, 0, 0, 0, 0};

// How long the completion of a cancelled operation is waited for; the system completes
// them at once, this only keeps a broken driver from hanging us.
constexpr DWORD SettleWait = 1000;

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

// The device path as a mutex name may hold it: no backslashes, one case.
std::string DeviceKey(const std::string& path) {
    std::string key;
    for (char c : path)
        if (c != '\\') key += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return key;
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
    HANDLE Lock = nullptr;  // the named mutex that keeps our other programs off the port
    std::string Path;
    TOverlapped Reading, Writing;
    char WaitByte = 0;
    // Bytes the wait for input took from the driver, handed out before the driver's own.
    std::string Held;
    // Line errors ClearCommError reported to a count, until TakeLineErrors.
    DWORD Errors = 0;

    // The driver's status; its error flags are kept for TakeLineErrors. A device that went
    // away (an unplugged adapter, a hung-up line under Wine) fails it.
    int Status(COMSTAT& stat) {
        DWORD errors = 0;
        if (!ClearCommError(Port, &errors, &stat)) return LastSystemError();
        Errors |= errors;
        return 0;
    }

    // The outcome of an operation that may still be running: waited for up to wait ms,
    // then cancelled. A cancelled operation answers ERROR_OPERATION_ABORTED.
    int Finish(OVERLAPPED* ov, DWORD wait, DWORD& count) {
        count = 0;
        if (WaitForSingleObject(ov->hEvent, wait) != WAIT_OBJECT_0) {
            CancelIoEx(Port, ov);
            WaitForSingleObject(ov->hEvent, SettleWait);
        }
        if (GetOverlappedResult(Port, ov, &count, FALSE)) return 0;
        return LastSystemError();
    }

    // Reads length bytes, which the driver holds already.
    int ReadWaiting(char* buffer, DWORD length, DWORD& got) {
        got = 0;
        OVERLAPPED* ov = Reading.Fresh();
        if (ReadFile(Port, buffer, length, &got, ov)) return 0;
        const DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) return err == 0 ? ERROR_GEN_FAILURE : static_cast<int>(err);
        const int result = Finish(ov, SettleWait, got);
        return result == ERROR_OPERATION_ABORTED ? 0 : result;
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
    F->Path = path;
    F->Held.clear();
    F->Errors = 0;
    SetCommMask(h, 0);
    COMMTIMEOUTS timeouts = NoTimeouts;
    SetCommTimeouts(h, &timeouts);
    return 0;
}

// The system's open is exclusive already; where a driver lets a second open through (Wine
// does), a mutex named after the device still keeps our own programs apart.
int TPortIo::TakeExclusive() {
    std::wstring name = L"Local\\Tiktaal.port." + Wide(DeviceKey(F->Path));
    const HANDLE m = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!m) return LastSystemError();
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(m);
        return ERROR_ACCESS_DENIED;
    }
    F->Lock = m;
    return 0;
}

void TPortIo::Close() {
    if (F->Lock) CloseHandle(F->Lock);
    F->Lock = nullptr;
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
    // The presence probe: a device that went away fails the status call.
    COMSTAT stat{};
    if (const int err = F->Status(stat)) return err;
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
    COMSTAT stat{};
    if (const int err = F->Status(stat)) return got > 0 ? 0 : err;
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(want - held, stat.cbInQue));
    if (ask == 0) return 0;
    DWORD n = 0;
    const int err = F->ReadWaiting(out + held, ask, n);
    got += static_cast<int>(n);
    // Bytes already handed over count; a failure shows again at the next call.
    return got > 0 ? 0 : err;
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
        const int why = F->Finish(ov, Millis(timeout), n);
        done = static_cast<int>(n);
        if (why == ERROR_OPERATION_ABORTED || why == ERROR_IO_INCOMPLETE) return kPortTimedOut;
        if (why != 0) return why;
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
    status = bits & (MODEM_CTS_ON | MODEM_DSR_ON | MODEM_RING_ON | MODEM_RLSD_ON);
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
        F->Errors & (LINE_RXOVER | LINE_OVERRUN | LINE_RXPARITY | LINE_FRAME | LINE_TXFULL);
    F->Errors = 0;
    return flags;
}

// A one-byte read stands for the wait: it completes when a byte comes (the byte is held
// for the next read) or fails when the device goes away, and it is cancelled at the time-out
// or when the wake event is set. Comm events would do on Windows, but Wine ends those waits
// at once on a pseudo-terminal.
TPortWait TPortIo::WaitInput(int timeout, TWaitHandle wake) {
    TPortWait result;
    if (!IsOpen()) {
        result.Error = ERROR_INVALID_HANDLE;
        return result;
    }
    COMSTAT stat{};
    if (!F->Held.empty()) {
        result.Readable = true;
    } else if (const int failed = F->Status(stat)) {
        result.Error = failed;
    } else if (stat.cbInQue > 0) {
        result.Readable = true;
    } else {
        OVERLAPPED* ov = F->Reading.Fresh();
        DWORD n = 0;
        int err = 0;
        if (!ReadFile(F->Port, &F->WaitByte, 1, &n, ov)) {
            err = static_cast<int>(GetLastError());
            if (err == ERROR_IO_PENDING) {
                HANDLE handles[2] = {ov->hEvent, reinterpret_cast<HANDLE>(wake)};
                const DWORD count = wake == kNoWaitHandle ? 1 : 2;
                const DWORD r = WaitForMultipleObjects(count, handles, FALSE, Millis(timeout));
                result.Woken = r == WAIT_OBJECT_0 + 1;
                err = F->Finish(ov, 0, n);
            }
        }
        if (n == 1) F->Held.push_back(F->WaitByte);
        result.Readable = n == 1;
        if (err != 0 && err != ERROR_OPERATION_ABORTED && err != ERROR_IO_INCOMPLETE)
            result.Error = err;
    }
    return result;
}
