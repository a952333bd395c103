#include "serial/serialdevice.h"

#include <cctype>

#include "net/netutil.h"
#include "serial/serialdevice_support.h"

using namespace serial_detail;

namespace {

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
        default:
            return TPortIo::ErrorText(code);
    }
}

int TSerialDevice::DecodeLineErrors(uint32_t flags) {
    int code = 0;
    if (flags & LINE_FRAME) code = ErrFrame;
    if (flags & LINE_OVERRUN) code = ErrOverrun;
    if (flags & LINE_RXOVER) code = ErrRxOver;
    if (flags & LINE_RXPARITY) code = ErrRxParity;
    if (flags & LINE_TXFULL) code = ErrTxFull;
    return code;
}

// ---------------------------------------------------------------- error bookkeeping

void TSerialDevice::SetError(int code) {
    FLastError = code;
    FLastErrorDesc = GetErrorDesc(code);
}

void TSerialDevice::SetSystemError(int err) { SetError(err == 0 ? TPortIo::ErrorIo() : err); }

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
    const bool com = Upper(name).rfind("COM", 0) == 0 && probe.FPortNumber >= 0;
    return TPortIo::DevicePath(name, com ? probe.FPortNumber + 1 : 0);
}

bool TSerialDevice::TakeLock() {
    if (!PortLock) return true;
    const int err = FPort.TakeExclusive();
    if (err != 0) SetSystemError(err);
    return err == 0;
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

    if (const int err = FPort.Open(FDevice)) {
        SetSystemError(err);
        RaiseIfError();
        return;
    }
    if (!TakeLock()) {
        FPort.Close();
        RaiseIfError();
        return;
    }
    SetError(0);
    FPort.SetQueueSizes(FRecvBufferSize, FRecvBufferSize);
    FPort.TakeLineErrors();  // notes the driver's counters as the base line
    SetError(0);
    if (CheckControlLines()) {
        FInstanceActive = true;
        SetRTSLine(true);
        SetDTRLine(true);
        PurgeBuffers();
    } else {
        SetError(ErrNoDeviceAnswer);
        FPort.Close();
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
    if (TestDSR && !(status & MODEM_DSR_ON)) return false;
    if (TestCTS && !(status & MODEM_CTS_ON)) return false;
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
    // Baud 0 would hang the line up instead of setting a speed.
    if (d.BaudRate == 0 || d.BaudRate > 0x7fffffff || d.ByteSize < 5 || d.ByteSize > 8 ||
        d.Parity > 4 || d.StopBits > 2) {
        SetError(FPort.IsOpen() ? TPortIo::ErrorBadValue() : TPortIo::ErrorNotOpen());
        RaiseIfError();
        return;
    }
    if (const int err = FPort.ApplyLineSettings(d)) {
        SetSystemError(err);
        RaiseIfError();
        return;
    }
    if (d.Flags & DCB_DTR_CONTROL_ENABLE) SetDTRLine(true);
    if ((d.Flags & DCB_RTS_CONTROL_MASK) == DCB_RTS_CONTROL_ENABLE) SetRTSLine(true);
    RaiseIfError();
}

void TSerialDevice::FetchCommState() {
    SetError(0);
    if (const int err = FPort.FetchLineSettings(FLineSettings)) SetSystemError(err);
    RaiseIfError();
}

void TSerialDevice::PurgeBuffers() {
    SetError(0);
    if (const int err = FPort.Purge()) SetSystemError(err);
    LineBuffer.clear();
    RaiseIfError();
}

void TSerialDevice::ClosePort() {
    if (FPort.IsOpen()) {
        // Let bytes already accepted for sending reach the wire before the queues are
        // emptied; a line reported as written must not be discarded at close.
        const bool raise = RaiseExcept;
        RaiseExcept = false;
        DrainOutput(100);
        PurgeBuffers();
        SetRTSLine(false);
        SetDTRLine(false);
        RaiseExcept = raise;
        FPort.Close();
    }
    FInstanceActive = false;
    FPortNumber = -1;
    SetError(0);
    Report(HR_SerialClose, FDevice);
}
