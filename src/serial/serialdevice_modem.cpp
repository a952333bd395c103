#include <algorithm>

#include "net/netutil.h"
#include "serial/serialdevice.h"
#include "serial/serialdevice_support.h"

using namespace serial_detail;

// ---------------------------------------------------------------- modem lines

uint32_t TSerialDevice::ReadModemStatus() {
    SetError(0);
    uint32_t status = 0;
    if (const int err = FPort.ModemStatus(status)) SetSystemError(err);
    RaiseIfError();
    FModemStatus = status;
    return status;
}

bool TSerialDevice::CTSOn() { return (ReadModemStatus() & MODEM_CTS_ON) != 0; }
bool TSerialDevice::DSROn() { return (ReadModemStatus() & MODEM_DSR_ON) != 0; }
bool TSerialDevice::RingOn() { return (ReadModemStatus() & MODEM_RING_ON) != 0; }
bool TSerialDevice::CarrierOn() { return (ReadModemStatus() & MODEM_RLSD_ON) != 0; }

void TSerialDevice::SetDTRLine(bool value) { FPort.SetDTR(value); }

void TSerialDevice::SetRTSLine(bool value) { FPort.SetRTS(value); }

// ---------------------------------------------------------------- modem commands

namespace {

// Refusals are final results: real modems end them with a numbered code ("+CME ERROR: 10",
// "+CMS ERROR: 500", with or without text after the colon) rather than a bare ERROR.
bool IsErrorResult(const std::string& line) {
    return line == "ERROR" || line.rfind("+CME ERROR", 0) == 0 || line.rfind("+CMS ERROR", 0) == 0;
}

}  // namespace

// One reply line within lineTimeout. The wait also ends when WakeHandle turns ready;
// a line that arrives in pieces is gathered in LineBuffer between the waits.
std::string TSerialDevice::ReadReplyLine(int lineTimeout) {
    const uint32_t start = TickNow();
    for (;;) {
        std::string lineEnd;
        if (FindLineBreak(LineBuffer, lineEnd) < 0) {
            const TPortWait w = FPort.WaitInput(Remaining(start, lineTimeout), WakeHandle);
            if (w.Error) {
                SetError(w.Error);
                return "";
            }
            if (!w.Readable || w.Woken) {
                SetError(ErrTimeout);
                return "";
            }
            // The new bytes go behind the partial line: a read would hand back the held
            // part alone and never reach them.
            std::string held;
            held.swap(LineBuffer);
            const std::string fresh = ReadChunk(0);
            LineBuffer = held + fresh;
            if (FLastError != 0 && FLastError != ErrTimeout) return "";
        }
        const std::string line = ReadLine(0);
        if (FLastError != ErrTimeout) return line;
        if (Remaining(start, lineTimeout) == 0) return "";
        SetError(0);
    }
}

std::string TSerialDevice::ReadCommand(const std::string& command, int lineTimeout, bool dial) {
    std::string result;
    FATResult = false;
    const bool savedConvert = ConvertLineEnd;
    ConvertLineEnd = true;
    WriteText(command + CR);
    while (FLastError == 0) {
        const std::string line = ReadReplyLine(lineTimeout);
        if (line != command) result += line + "\r\n";
        if (dial) {
            if (line.rfind("CONNECT", 0) == 0) {
                FATResult = true;
                break;
            }
            if (line == "NO CARRIER" || IsErrorResult(line) || line == "BUSY" ||
                line == "NO DIALTONE")
                break;
        } else {
            if (line == "OK") {
                FATResult = true;
                break;
            }
            if (IsErrorResult(line)) break;
        }
        if (OnReplyPiece && result.size() >= ReplyPieceSize) {
            OnReplyPiece(result);
            result.clear();
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
