// The serial reply framing with bytes of any content: the line-break finder, the line
// framing options (checksum frame, address byte), and ReadUntil over a real pseudo-terminal
// in every terminator, line-end and length mode. Nothing crashes, a found line end is where
// it is said to be, a line never outgrows its limit, and no byte is lost or invented.
// Input: mode byte, length-limit byte, address byte, then the bytes the board sends.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/netutil.h"
#include "serial/lineframe.h"
#include "serial/serialdevice.h"

namespace {

struct TPair {
    int Master = -1;
    TSerialDevice Dev;
    TPair() {
        termios raw{};
        cfmakeraw(&raw);
        int slave = -1;
        char name[256] = {};
        if (openpty(&Master, &slave, name, &raw, nullptr) != 0) std::abort();
        close(slave);
        Dev.DeadlockTimeout = 100;
        Dev.OpenPort(name);
        Dev.ConfigurePort(115200, 8, 'N', 0, false, false);
        if (Dev.LastError() != 0) std::abort();
    }
};

void CheckLineBreak(const std::string& text) {
    std::string lineEnd;
    const long pos = FindLineBreak(text, lineEnd);
    if (pos == -1) {
        if (text.find_first_of("\r\n") != std::string::npos) std::abort();
        return;
    }
    if (pos < 1 || static_cast<size_t>(pos) - 1 != text.find_first_of("\r\n")) std::abort();
    if (text.compare(static_cast<size_t>(pos) - 1, lineEnd.size(), lineEnd) != 0) std::abort();
}

void CheckFrame(const std::string& line, uint8_t mode, uint8_t address) {
    const bool crc = mode & 1, rs485 = mode & 2, general = mode & 4;
    const std::string adr =
        (mode & 0x40) ? std::string(1, static_cast<char>(address)) : std::to_string(address);
    const std::string framed = FrameLine(line, general, crc, rs485, adr);
    if (framed.size() < line.size() ||
        framed.compare(framed.size() - line.size(), line.size(), line))
        std::abort();
    if (rs485 && general && static_cast<unsigned char>(framed[0]) != 255) std::abort();
}

// Feeds the bytes to the board's side and waits until the port side holds them all.
bool Feed(TPair& p, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(p.Master, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    for (int i = 0; i < 100 && p.Dev.InputCount() < static_cast<int>(bytes.size()); ++i) {
        pollfd w{p.Master, 0, 0};
        poll(&w, 1, 1);
    }
    return p.Dev.InputCount() == static_cast<int>(bytes.size());
}

void CheckReadUntil(TPair& p, const std::string& bytes, uint8_t mode, uint8_t limit) {
    TSerialDevice& d = p.Dev;
    d.ConvertLineEnd = mode & 8;
    d.MaxLineLength = limit;
    const std::string terminator = (mode & 16) ? "\r\n" : ((mode & 32) ? "OK" : "\r");
    if (!Feed(p, bytes)) {
        d.PurgeBuffers();
        return;
    }
    size_t taken = 0;
    for (int i = 0; i <= static_cast<int>(bytes.size()); ++i) {
        const std::string line = d.ReadUntil(0, terminator);
        if (limit != 0 && line.size() > limit) std::abort();
        taken += line.size();
        if (d.LastError() != 0 && d.LastError() != ErrMaxBuffer) break;
    }
    // Lines and what is left never hold more than came in.
    if (taken + d.LineBuffer.size() > bytes.size()) std::abort();
    d.PurgeBuffers();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static TPair pair;
    const uint8_t mode = data[0], limit = data[1], address = data[2];
    const std::string bytes(reinterpret_cast<const char*>(data) + 3, size - 3);
    CheckLineBreak(bytes);
    CheckFrame(bytes, mode, address);
    CheckReadUntil(pair, bytes, mode, limit);
    return 0;
}
