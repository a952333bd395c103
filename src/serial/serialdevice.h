// The blocking serial-port object: one instance belongs to one thread. Every operation
// records its outcome in LastError()/LastErrorDesc() (0 = success) and never throws unless
// RaiseExcept is set. Every wait is bounded, so no call blocks longer than its time-out.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>

// The device's own outcome codes; any other non-zero code is an errno value.
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

// Driver line-error flags, in the values the error decoder has always used.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_TXFULL = 0x0100;

// Modem-status bits as ReadModemStatus returns them.
constexpr uint32_t MS_CTS_ON = 0x0010;
constexpr uint32_t MS_DSR_ON = 0x0020;
constexpr uint32_t MS_RING_ON = 0x0040;
constexpr uint32_t MS_RLSD_ON = 0x0080;

// The line-settings record: the classic 28-byte layout, computed first and then applied
// through termios, so that its fields can be checked without a port.
struct TLineSettings {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;
};
static_assert(sizeof(TLineSettings) == 28);

// Flag bits of TLineSettings::Flags.
constexpr uint32_t DCB_BINARY = 0x0001;
constexpr uint32_t DCB_PARITY = 0x0002;
constexpr uint32_t DCB_OUTX_CTS_FLOW = 0x0004;
constexpr uint32_t DCB_DTR_CONTROL_ENABLE = 0x0010;
constexpr uint32_t DCB_OUTX = 0x0100;
constexpr uint32_t DCB_INX = 0x0200;
constexpr uint32_t DCB_RTS_CONTROL_ENABLE = 0x1000;
constexpr uint32_t DCB_RTS_CONTROL_HANDSHAKE = 0x2000;
constexpr uint32_t DCB_RTS_CONTROL_TOGGLE = 0x3000;
constexpr uint32_t DCB_RTS_CONTROL_MASK = 0x3000;

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
    // The path a port name opens: COMn (any case) is /dev/ttyS(n-1), anything else itself.
    static std::string DevicePathFor(const std::string& name);

    // Outcome and identity.
    int LastError() const { return FLastError; }
    const std::string& LastErrorDesc() const { return FLastErrorDesc; }
    const std::string& Device() const { return FDevice; }
    int PortNumber() const { return FPortNumber; }
    bool InstanceActive() const { return FInstanceActive; }
    int Handle() const { return FHandle; }
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
    // A descriptor whose readability ends a modem command's wait for its reply at once
    // (ErrTimeout): the owner's stop request. -1 = none.
    int WakeHandle = -1;

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
    bool WaitLineOrWoken(int timeout, int wakeHandle, char terminator);
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
    void CheckResult(long value);  // errno is read by the caller before anything else runs
    void SetSystemError(int err);
    void RaiseIfError();
    void Report(THookSerialReason reason, const std::string& value);
    bool CheckControlLines();
    bool PreflightFails();
    void LimitBandwidth(int length, int limit, uint32_t& nextTick);
    void ReadLineErrors();
    bool TakeLock();
    void ReleaseHandle();
    bool DrainOutput(int timeout);
    std::string ReadCommand(const std::string& command, int lineTimeout, bool dial);
    std::string ReadReplyLine(int lineTimeout);

    int FHandle = -1;
    bool FExclusive = false;  // this object set TIOCEXCL on FHandle
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
    // Driver error counters seen last, to turn increases into line errors.
    struct TErrorCounts {
        int Frame = 0, Overrun = 0, Parity = 0, BufOverrun = 0;
    } FCounts;
    bool FCountsKnown = false;
};
