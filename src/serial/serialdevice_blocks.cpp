#include <algorithm>
#include <chrono>
#include <istream>
#include <ostream>
#include <thread>

#include "net/netutil.h"
#include "serial/serialdevice.h"
#include "serial/serialdevice_support.h"

using namespace serial_detail;

// ---------------------------------------------------------------- rarely used operations

namespace {
std::string LittleEndian32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
    return s;
}
uint32_t FromLittleEndian32(const std::string& s) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < s.size(); ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(s[i])) << (8 * i);
    return v;
}
constexpr size_t StreamStep = 8192;
}  // namespace

void TSerialDevice::WriteByte(uint8_t value) { WriteBuffer(&value, 1); }

void TSerialDevice::WriteInteger(int32_t value) {
    WriteText(LittleEndian32(static_cast<uint32_t>(value)));
}

void TSerialDevice::WriteBlock(const std::string& data) {
    WriteInteger(static_cast<int32_t>(data.size()));
    if (FLastError == 0) WriteText(data);
}

void TSerialDevice::WriteStream(std::istream& stream, bool withLength, bool reversedLength) {
    const auto pos = stream.tellg();
    stream.seekg(0, std::ios::end);
    const auto end = stream.tellg();
    stream.seekg(pos);
    const uint32_t size = pos >= 0 && end >= pos ? static_cast<uint32_t>(end - pos) : 0;
    if (withLength) {
        WriteInteger(static_cast<int32_t>(reversedLength ? ReverseBytes32(size) : size));
        if (FLastError != 0) return;
    }
    std::string chunk;
    while (FLastError == 0) {
        chunk = StreamToText(stream, StreamStep);
        if (chunk.empty()) break;
        WriteText(chunk);
    }
}

uint8_t TSerialDevice::ReadByte(int timeout) {
    if (LineBuffer.empty()) LineBuffer = ReadChunk(timeout);
    if (FLastError != 0 || LineBuffer.empty()) return 0;
    const auto b = static_cast<uint8_t>(LineBuffer[0]);
    LineBuffer.erase(0, 1);
    return b;
}

std::string TSerialDevice::ReadBlockOf(int timeout, size_t length) {
    std::string data;
    while (data.size() < length) {
        data += ReadChunk(timeout);
        if (FLastError != 0) break;
    }
    if (data.size() > length) {
        LineBuffer = data.substr(length) + LineBuffer;
        data.resize(length);
    }
    return data;
}

int32_t TSerialDevice::ReadInteger(int timeout) {
    const std::string s = ReadBlockOf(timeout, 4);
    return FLastError == 0 ? static_cast<int32_t>(FromLittleEndian32(s)) : 0;
}

std::string TSerialDevice::ReadBlock(int timeout, bool reversedLength) {
    uint32_t n = static_cast<uint32_t>(ReadInteger(timeout));
    if (FLastError != 0) return "";
    if (reversedLength) n = ReverseBytes32(n);
    // The length comes from the peer: refuse what no sane block needs.
    if (n > HardLineLimit * 16) {
        SetError(ErrMaxBuffer);
        RaiseIfError();
        return "";
    }
    return ReadBlockOf(timeout, n);
}

void TSerialDevice::ReadToStream(std::ostream& stream, int timeout) {
    for (;;) {
        const std::string chunk = ReadChunk(timeout);
        if (FLastError != 0) break;
        TextToStream(stream, chunk);
    }
}

void TSerialDevice::ReadStreamBlock(std::ostream& stream, int timeout, size_t length) {
    while (length > 0 && FLastError == 0) {
        const std::string chunk = ReadBlockOf(timeout, std::min(length, StreamStep));
        TextToStream(stream, chunk);
        length -= std::min(length, chunk.size());
        if (chunk.empty()) break;
    }
}

void TSerialDevice::Flush() {
    const int saved = FLastError;
    DrainOutput(DeadlockTimeout);
    SetError(saved);
}

void TSerialDevice::SendBreak(int ms) {
    SetError(0);
    if (const int err = FPort.SetBreak(true)) {
        SetSystemError(err);
        RaiseIfError();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
    if (const int err = FPort.SetBreak(false)) SetSystemError(err);
    RaiseIfError();
}

void TSerialDevice::SetRecvBufferSize(int size) {
    // The size sets the driver's receive queue where the system lets programs size it, and
    // the flow-control limits everywhere.
    FRecvBufferSize = size;
    FLineSettings.XonLim = static_cast<uint16_t>(size / 4);
    FLineSettings.XoffLim = static_cast<uint16_t>(size / 4);
    if (FInstanceActive) {
        FPort.SetQueueSizes(size, size);
        StoreCommState();
    }
}

void TSerialDevice::SetBandwidth(int sendBytesPerSec, int recvBytesPerSec) {
    FSendLimit = sendBytesPerSec;
    FRecvLimit = recvBytesPerSec;
    FNextSend = FNextRecv = TickNow();
}

void TSerialDevice::SetRTSToggle(bool value) {
    FRTSToggle = value;
    FLineSettings.Flags &= ~DCB_RTS_CONTROL_MASK;
    FLineSettings.Flags |= value ? DCB_RTS_CONTROL_TOGGLE : DCB_RTS_CONTROL_ENABLE;
}
