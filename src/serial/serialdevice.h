// The blocking serial-port object: one instance belongs to one thread. Every operation
// records its outcome in LastError()/LastErrorDesc() (0 = success) and never throws unless
// RaiseExcept is set. Every wait is bounded, so no call blocks longer than its time-out.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>

#include "serial/linesettings.h"
#include "serial/pollwait.h"
#include "serial/portio.h"

// The device's own outcome codes; any other non-zero code is the system's error number.
constexpr int ErrAlreadyOwned = 9991;
constexpr int ErrAlreadyInUse = 9992;
constexpr int ErrWrongParameter = 9993;
constexpr int ErrPortNotOpen = 9994;
constexpr int ErrNoDeviceAnswer = 9995;
constexpr int ErrMaxBuffer = 9996;
constexpr int ErrTimeout = 9997;
constexpr int ErrNotRead = 9998;
constexpr int ErrFrame = 9999;
constexpr int ErrOverrun = 10000;
constexpr int ErrRxOver = 10001;
constexpr int ErrRxParity = 10002;
constexpr int ErrTxFull = 10003;

enum THookSerialReason {
    HR_SerialClose,
    HR_Connect,
    HR_CanRead,
    HR_CanWrite,
    HR_ReadCount,
    HR_WriteCount,
    HR_Wait
};

class TSerialDevice;
using THookSerialStatus =
    std::function<void(TSerialDevice* sender, THookSerialReason reason, const std::string& value)>;

class ESerialError : public std::runtime_error {
public:
    ESerialError(int code, const std::string& text);
    int ErrorCode;
    std::string ErrorMessage;
};

class TSerialDevice {
public:
    TSerialDevice();
    ~TSerialDevice();  // closes the port
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    static std::string GetVersion() { return "SerialDevice 1.0"; }
    static std::string GetErrorDesc(int code);
    // The name of a device code ("ErrTimeout"), empty for any other code.
    static std::string GetErrorName(int code);
    // Maps driver line-error flags to a code; later matches win, 0 when none is set.
    static int DecodeLineErrors(uint32_t flags);
    // The line-settings record for these arguments, as ConfigurePort builds it.
    static TLineSettings BuildLineSettings(int baud, int bits, char parity, int stop, bool softFlow,
                                           bool hardFlow, int recvBufferSize);
    // The path a port name opens: COMn (any case) is the system's n-th serial port (/dev/ttyS(n-1)
    // on Linux, \\.\COMn on Windows), anything else itself.
    static std::string DevicePathFor(const std::string& name);

    // Outcome and identity.
    int LastError() const { return FLastError; }
    const std::string& LastErrorDesc() const { return FLastErrorDesc; }
    const std::string& Device() const { return FDevice; }
    int PortNumber() const { return FPortNumber; }
    bool InstanceActive() const { return FInstanceActive; }
    // The system's handle of the open port, -1 when closed.
    intptr_t Handle() const { return FPort.Native(); }
    bool ATResult() const { return FATResult; }
    const TLineSettings& LineSettings() const { return FLineSettings; }
    uint32_t ModemStatus() const { return FModemStatus; }
    int RecvBufferSize() const { return FRecvBufferSize; }

    // Options (plain fields in the classic class).
    int Tag = 0;
    std::string LineBuffer;
    bool RaiseExcept = false;
    THookSerialStatus OnStatus;
    bool TestDSR = false;
    bool TestCTS = false;
    // Upper bound of a terminated read; 0 = only the built-in ceiling (HardLineLimit).
    int MaxLineLength = 0;
    int DeadlockTimeout = 30000;
    bool PortLock = true;
    bool ConvertLineEnd = false;
    int AtTimeout = 1000;
    bool InterPacketTimeout = true;
    // An object whose readiness ends a modem command's wait for its reply at once
    // (ErrTimeout): the owner's stop request. kNoWaitHandle = none.
    TWaitHandle WakeHandle = kNoWaitHandle;

    // Takes a modem command's reply in pieces of whole lines while it is still arriving,
    // each piece once ReplyPieceSize bytes have gathered; the call then returns the rest.
    // So a reply of any length is read with bounded memory. Without it a reply longer
    // than HardLineLimit ends with ErrMaxBuffer.
    std::function<void(const std::string& lines)> OnReplyPiece;
    static constexpr size_t ReplyPieceSize = 16384;

    // No read gathers more than this, whatever MaxLineLength says: a peer that floods
    // without a terminator must not grow memory without end.
    static constexpr size_t HardLineLimit = 65536;
    // Bytes taken from the driver in one read.
    static constexpr size_t ChunkLimit = 16384;

    void ParsePortNumber(const std::string& name);
    void OpenPort(const std::string& name);
    void ConfigurePort(int baud, int bits, char parity, int stop, bool softFlow, bool hardFlow);
    void FetchCommState();
    void StoreCommState();
    void PurgeBuffers();
    void ClosePort();

    int WriteBuffer(const void* buffer, int length);
    int ReadBuffer(void* buffer, int length);
    void WriteText(const std::string& text);
    std::string ReadChunk(int timeout);
    std::string ReadUntil(int timeout, const std::string& terminator);
    std::string ReadLine(int timeout);

    int InputCount();
    int OutputCount();
    bool WaitReadable(int timeout);
    bool WaitReadableBuffered(int timeout);
    // True at once when LineBuffer holds a whole line (up to terminator), else waits for
    // new input at the port; ends, False, as soon as wakeHandle turns readable: the owner's
    // wake-up, so that one wait serves for input and for requests alike.
    bool WaitLineOrWoken(int timeout, TWaitHandle wakeHandle, char terminator);
    bool WaitWritable(int timeout);

    uint32_t ReadModemStatus();
    bool CTSOn();
    bool DSROn();
    bool CarrierOn();
    bool RingOn();
    void SetDTRLine(bool value);
    void SetRTSLine(bool value);

    std::string SendModemCommand(const std::string& command);
    std::string SendDialCommand(const std::string& command);

    // Operations kept for completeness of the class.
    void WriteByte(uint8_t value);
    void WriteInteger(int32_t value);
    void WriteBlock(const std::string& data);
    void WriteStream(std::istream& stream, bool withLength, bool reversedLength);
    uint8_t ReadByte(int timeout);
    int32_t ReadInteger(int timeout);
    std::string ReadBlockOf(int timeout, size_t length);
    std::string ReadBlock(int timeout, bool reversedLength);
    void ReadToStream(std::ostream& stream, int timeout);
    void ReadStreamBlock(std::ostream& stream, int timeout, size_t length);
    void Flush();
    void SendBreak(int ms);
    void SetRecvBufferSize(int size);
    void SetBandwidth(int sendBytesPerSec, int recvBytesPerSec);
    void SetRTSToggle(bool value);

private:
    void SetError(int code);
    void SetSystemError(int err);
    void RaiseIfError();
    void Report(THookSerialReason reason, const std::string& value);
    bool CheckControlLines();
    bool PreflightFails();
    void LimitBandwidth(int length, int limit, uint32_t& nextTick);
    void ReadLineErrors();
    bool TakeLock();
    bool DrainOutput(int timeout);
    std::string ReadCommand(const std::string& command, int lineTimeout, bool dial);
    std::string ReadReplyLine(int lineTimeout);

    TPortIo FPort;
    int FLastError = 0;
    std::string FLastErrorDesc;
    std::string FDevice;
    int FPortNumber = -1;
    bool FInstanceActive = false;
    int FRecvBufferSize = 4096;
    bool FRTSToggle = false;
    int FSendLimit = 0, FRecvLimit = 0;
    uint32_t FNextSend = 0, FNextRecv = 0;
    bool FATResult = false;
    bool FLastCR = false, FLastLF = false;
    TLineSettings FLineSettings{};
    uint32_t FModemStatus = 0;
};
