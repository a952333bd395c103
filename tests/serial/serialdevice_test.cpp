#include "serial/serialdevice.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "serial/pollwait.h"
#include "support/pty_pair.h"

namespace {

// A device opened and configured on the slave side of a fresh pair.
class SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Pty.Ok());
        Dev.DeadlockTimeout = 1000;
        Dev.OpenPort(Pty.SlavePath());
        ASSERT_EQ(Dev.LastError(), 0) << Dev.LastErrorDesc();
        Dev.ConfigurePort(115200, 8, 'N', 0, false, false);
        ASSERT_EQ(Dev.LastError(), 0) << Dev.LastErrorDesc();
    }
    // Hooks capture locals of the test body, which are gone by the fixture's end.
    void TearDown() override { Dev.OnStatus = nullptr; }
    TPtyPair Pty;
    TSerialDevice Dev;
};

}  // namespace

TEST(SerialDeviceNames, ErrorTextsAndNames) {
    EXPECT_EQ(TSerialDevice::GetErrorDesc(0), "OK");
    EXPECT_EQ(TSerialDevice::GetErrorDesc(9994), "Instance not yet connected");
    EXPECT_EQ(TSerialDevice::GetErrorDesc(10003), "Tranceive Queue is full");
    EXPECT_EQ(TSerialDevice::GetErrorDesc(2), std::strerror(2));
    EXPECT_EQ(TSerialDevice::GetErrorName(ErrTimeout), "ErrTimeout");
    EXPECT_EQ(TSerialDevice::GetErrorName(12345), "");
    EXPECT_EQ(TSerialDevice::GetVersion(), "SerialDevice 1.0");
    ESerialError e(9997, "Timeout during operation");
    EXPECT_STREQ(e.what(), "Communication error 9997: Timeout during operation");
}

TEST(SerialDeviceNames, PortNamesMapToDevicePaths) {
    EXPECT_EQ(TSerialDevice::DevicePathFor("COM4"), "/dev/ttyS3");
    EXPECT_EQ(TSerialDevice::DevicePathFor("com12"), "/dev/ttyS11");
    EXPECT_EQ(TSerialDevice::DevicePathFor("/tmp/ttyA"), "/tmp/ttyA");
    EXPECT_EQ(TSerialDevice::DevicePathFor("COMx"), "COMx");
    EXPECT_EQ(TSerialDevice::DevicePathFor("COM0"), "COM0");
    TSerialDevice d;
    d.ParsePortNumber("/dev/ttyS5");
    EXPECT_EQ(d.PortNumber(), 5);
    d.ParsePortNumber("/dev/ttySx");
    EXPECT_EQ(d.PortNumber(), -2);
    d.ParsePortNumber("COM99999999999");
    EXPECT_EQ(d.PortNumber(), -1);
}

TEST(SerialDeviceNames, LineSettingsRecordAndLineErrors) {
    TLineSettings d = TSerialDevice::BuildLineSettings(115200, 8, 'N', 0, false, false, 4096);
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, 0);
    EXPECT_EQ(d.StopBits, 0);
    EXPECT_EQ(d.XonLim, 1024);
    EXPECT_EQ(d.XoffLim, 1024);
    EXPECT_EQ(d.Flags, 0x1011u);
    d = TSerialDevice::BuildLineSettings(9600, 7, 'e', 2, true, true, 4096);
    EXPECT_EQ(d.Parity, 2);
    EXPECT_EQ(d.Flags, DCB_BINARY | DCB_PARITY | DCB_OUTX_CTS_FLOW | DCB_DTR_CONTROL_ENABLE |
                           DCB_OUTX | DCB_INX | DCB_RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(TSerialDevice::BuildLineSettings(9600, 8, 'x', 0, false, false, 4096).Parity, 0);

    EXPECT_EQ(TSerialDevice::DecodeLineErrors(LINE_FRAME | LINE_RXPARITY), ErrRxParity);
    EXPECT_EQ(TSerialDevice::DecodeLineErrors(LINE_RXOVER), ErrRxOver);
    EXPECT_EQ(TSerialDevice::DecodeLineErrors(LINE_FRAME | LINE_TXFULL), ErrTxFull);
    EXPECT_EQ(TSerialDevice::DecodeLineErrors(0x0010), 0);
}

TEST(SerialDeviceOpen, BadNamesFailWithTheSystemErrorAndNoReport) {
    char dirTemplate[] = "/tmp/serialdevXXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string file = dir + "/plain";
    std::ofstream(file) << "not a tty";

    struct TCase {
        std::string Name;
        int Error;
    } cases[] = {{dir + "/missing", ENOENT},
                 {dir, EISDIR},
                 {file, ENOTTY},
                 {"", ENOENT},
                 {"no such port", ENOENT}};
    for (const TCase& c : cases) {
        TSerialDevice d;
        int reports = 0;
        d.OnStatus = [&](TSerialDevice*, THookSerialReason, const std::string&) { ++reports; };
        d.OpenPort(c.Name);
        EXPECT_EQ(d.LastError(), c.Error) << c.Name;
        EXPECT_EQ(d.LastErrorDesc(), std::strerror(c.Error)) << c.Name;
        EXPECT_EQ(d.Handle(), -1);
        EXPECT_FALSE(d.InstanceActive());
        EXPECT_EQ(reports, 0);
        // Everything else on the closed port refuses cleanly.
        d.WriteText("x");
        EXPECT_EQ(d.LastError(), ErrPortNotOpen);
        EXPECT_EQ(d.ReadUntil(10, "\r"), "");
        EXPECT_EQ(d.LastError(), ErrPortNotOpen);
        d.OnStatus = nullptr;
    }
    std::remove(file.c_str());
    rmdir(dir.c_str());
}

TEST(SerialDeviceOpen, RaiseExceptThrowsTheCodeAndText) {
    TSerialDevice d;
    d.RaiseExcept = true;
    try {
        d.OpenPort("/nonexistent/tty");
        FAIL() << "no exception";
    } catch (const ESerialError& e) {
        EXPECT_EQ(e.ErrorCode, ENOENT);
        EXPECT_EQ(e.ErrorMessage, std::strerror(ENOENT));
    }
}

TEST_F(SerialDeviceTest, PortIsExclusiveAndReleasedOnClose) {
    TSerialDevice second;
    second.OpenPort(Pty.SlavePath());
    EXPECT_EQ(second.LastError(), EBUSY);
    EXPECT_EQ(second.Handle(), -1);

    Dev.OpenPort(Pty.SlavePath());
    EXPECT_EQ(Dev.LastError(), ErrAlreadyInUse);
    EXPECT_TRUE(Dev.InstanceActive());

    std::vector<THookSerialReason> reasons;
    Dev.OnStatus = [&](TSerialDevice*, THookSerialReason r, const std::string&) {
        reasons.push_back(r);
    };
    Dev.ClosePort();
    EXPECT_EQ(reasons, std::vector<THookSerialReason>{HR_SerialClose});
    second.OpenPort(Pty.SlavePath());
    EXPECT_EQ(second.LastError(), 0);
}

namespace {
// The probe's output and exit status, run as nobody when this test runs as root; each
// line goes to onLine as it comes.
int RunExclusiveProbe(std::string& output, const std::string& args = "",
                      const std::function<void(const std::string&)>& onLine = {}) {
    std::string command = EXCLUSIVE_PROBE;
    std::string dir;
    if (geteuid() == 0) {
        if (std::system("command -v setpriv >/dev/null 2>&1") != 0) return -1;
        // The build tree may be closed to other users: the probe runs from a copy.
        char tmpl[] = "/tmp/tiktaal-probeXXXXXX";
        if (!mkdtemp(tmpl)) return -1;
        dir = tmpl;
        chmod(dir.c_str(), 0755);
        const std::string copy = dir + "/probe";
        std::system(("cp " + command + " " + copy + " && chmod 0755 " + copy).c_str());
        command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + copy;
    }
    FILE* p = popen((command + " " + args + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) {
        output += buf;
        if (onLine) onLine(buf);
    }
    const int status = pclose(p);
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST(SerialDeviceOpen, EveryReleaseLeavesThePortOpenableForOrdinaryUsers) {
    std::string output;
    const int status = RunExclusiveProbe(output);
    if (status == -1) GTEST_SKIP() << "cannot run the probe as an ordinary user";
    EXPECT_EQ(status, 0) << output;
}

// A hang-up (a modem's carrier lost, a login manager's vhangup; here TIOCVHANGUP) while
// another program keeps the tty open leaves every descriptor of it dead: an ordinary user's
// copy must still open the port again.
TEST(SerialDeviceOpen, AHangUpWhileAnotherHolderKeepsTheTtyLeavesItOpenable) {
    if (geteuid() != 0) GTEST_SKIP() << "hanging a tty up takes a privileged test";
    int master = -1, holder = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &holder, name, nullptr, nullptr), 0);
    ASSERT_EQ(chmod(name, 0666), 0);  // the ordinary user's port
    std::string output;
    const int status = RunExclusiveProbe(output, std::string("hangup ") + name,
                                         [&](const std::string& line) {
                                             if (line == "open\n") ioctl(holder, TIOCVHANGUP);
                                         });
    close(holder);
    close(master);
    if (status == -1) GTEST_SKIP() << "cannot run the probe as an ordinary user";
    EXPECT_EQ(status, 0) << output;
}

TEST_F(SerialDeviceTest, WritesExactBytesAndReports) {
    std::vector<std::string> values;
    Dev.OnStatus = [&](TSerialDevice*, THookSerialReason r, const std::string& v) {
        if (r == HR_WriteCount) values.push_back(v);
    };
    Dev.WriteText(std::string("AT\0\xff\r", 5));
    EXPECT_EQ(Dev.LastError(), 0);
    EXPECT_EQ(Pty.Receive(5), std::string("AT\0\xff\r", 5));
    EXPECT_EQ(values, std::vector<std::string>{"5"});

    Dev.WriteInteger(0x01020304);
    EXPECT_EQ(Pty.Receive(4), "\x04\x03\x02\x01");
    Dev.WriteBlock("xy");
    EXPECT_EQ(Pty.Receive(6), std::string("\x02\0\0\0xy", 6));
}

TEST_F(SerialDeviceTest, ReadUntilSplitsLinesAndKeepsTheRest) {
    ASSERT_TRUE(Pty.Send("OK\rOK\r"));
    EXPECT_EQ(Dev.ReadUntil(200, "\r"), "OK");
    EXPECT_EQ(Dev.LineBuffer, "OK\r");
    // The second line comes from the buffer even with the board gone.
    Pty.CloseMaster();
    EXPECT_EQ(Dev.ReadUntil(200, "\r"), "OK");
    EXPECT_EQ(Dev.LastError(), 0);
    EXPECT_EQ(Dev.LineBuffer, "");
}

TEST_F(SerialDeviceTest, ReadUntilTimesOutAndKeepsThePartialLine) {
    ASSERT_TRUE(Pty.Send("partial"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Dev.ReadUntil(50, "\r"), "");
    EXPECT_EQ(Dev.LastError(), ErrTimeout);
    EXPECT_GE(ElapsedMs(start), 45);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(Dev.LineBuffer, "partial");
    ASSERT_TRUE(Pty.Send(" line\r"));
    EXPECT_EQ(Dev.ReadUntil(200, "\r"), "partial line");
}

TEST_F(SerialDeviceTest, ReadUntilWithoutInterPacketTimeoutBoundsTheWholeRead) {
    Dev.InterPacketTimeout = false;
    std::thread trickle([&] {
        for (int i = 0; i < 20; ++i) {
            Pty.Send("x");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    Dev.ReadUntil(60, "\r");
    EXPECT_EQ(Dev.LastError(), ErrTimeout);
    EXPECT_LT(ElapsedMs(start), 150);
    trickle.join();
}

TEST_F(SerialDeviceTest, OverlongLinesComeInBoundedPieces) {
    Dev.MaxLineLength = 10;
    ASSERT_TRUE(Pty.Send("0123456789A"));
    EXPECT_EQ(Dev.ReadUntil(200, "\r"), "0123456789");
    EXPECT_EQ(Dev.LastError(), ErrMaxBuffer);
    EXPECT_EQ(Dev.LineBuffer, "A");
    // A line that fits is taken even when more came with it.
    ASSERT_TRUE(Pty.Send("BC\rrest"));
    EXPECT_EQ(Dev.ReadUntil(200, "\r"), "ABC");
    EXPECT_EQ(Dev.LastError(), 0);
}

TEST_F(SerialDeviceTest, FloodWithoutTerminatorKeepsMemoryBounded) {
    // MaxLineLength 0 still stops at the built-in ceiling.
    const std::string flood(3 * TSerialDevice::HardLineLimit, '\0');
    std::thread writer([&] { Pty.Send(flood); });
    size_t received = 0;
    for (int i = 0; i < 10 && received < flood.size(); ++i) {
        const std::string piece = Dev.ReadUntil(200, "\r");
        EXPECT_LE(piece.size(), TSerialDevice::HardLineLimit);
        EXPECT_LE(Dev.LineBuffer.size(), TSerialDevice::HardLineLimit + TSerialDevice::ChunkLimit);
        received += piece.size();
        if (Dev.LastError() == ErrTimeout) break;
    }
    writer.join();
    received += Dev.LineBuffer.size();
    EXPECT_EQ(received, flood.size());
}

TEST_F(SerialDeviceTest, ConvertLineEndJoinsSplitPairs) {
    Dev.ConvertLineEnd = true;
    ASSERT_TRUE(Pty.Send("A\r"));
    EXPECT_EQ(Dev.ReadLine(200), "A");
    ASSERT_TRUE(Pty.Send("\nB\n\rC\r\n"));
    EXPECT_EQ(Dev.ReadLine(200), "B");
    EXPECT_EQ(Dev.ReadLine(200), "C");
    EXPECT_EQ(Dev.LineBuffer, "");
}

TEST_F(SerialDeviceTest, ModemCommandsCollectTheReply) {
    std::thread modem([&] {
        Pty.Receive(5);
        Pty.Send("AT+X\r\nline 1\r\nOK\r\n");
        Pty.Receive(5);
        Pty.Send("ERROR\r\n");
    });
    EXPECT_EQ(Dev.SendModemCommand("AT+X"), "line 1\r\nOK\r\n");
    EXPECT_TRUE(Dev.ATResult());
    EXPECT_EQ(Dev.SendModemCommand("AT+Y"), "ERROR\r\n");
    EXPECT_FALSE(Dev.ATResult());
    EXPECT_FALSE(Dev.ConvertLineEnd);
    modem.join();
}

// A reply far over the ceiling comes whole, in pieces of whole lines, and memory stays
// bounded by the piece; without a taker the ceiling still ends it.
TEST_F(SerialDeviceTest, AReplyOfAnySizeComesInPiecesOfWholeLines) {
    Dev.AtTimeout = 3000;
    constexpr int Lines = 20000;  // about 600 KB
    std::thread modem([&] {
        Pty.Receive(5);
        std::string reply;
        for (int i = 0; i < Lines; ++i) reply += "+CPBR: " + std::to_string(i) + ",\"1234\"\r\n";
        Pty.Send(reply + "OK\r\n");
    });
    std::string all;
    size_t pieces = 0, largest = 0;
    Dev.OnReplyPiece = [&](const std::string& piece) {
        ++pieces;
        largest = std::max(largest, piece.size());
        EXPECT_EQ(piece.substr(piece.size() - 2), "\r\n");
        all += piece;
    };
    all += Dev.SendModemCommand("AT+CPBR=0,20000");
    modem.join();
    EXPECT_EQ(Dev.LastError(), 0);
    EXPECT_TRUE(Dev.ATResult());
    EXPECT_GT(pieces, 10u);
    EXPECT_LT(largest, TSerialDevice::ReplyPieceSize + 100);
    size_t n = 0;
    for (size_t p = all.find("+CPBR: "); p != std::string::npos; p = all.find("+CPBR: ", p + 1))
        ++n;
    EXPECT_EQ(n, static_cast<size_t>(Lines));
    EXPECT_EQ(all.substr(all.size() - 4), "OK\r\n");

    Dev.OnReplyPiece = nullptr;
    std::thread flood([&] {
        Pty.Receive(5);
        std::string reply;
        for (int i = 0; i < Lines; ++i) reply += "+CPBR: " + std::to_string(i) + "\r\n";
        Pty.Send(reply + "OK\r\n");
    });
    Dev.SendModemCommand("AT+CPBR=0,20000");
    EXPECT_EQ(Dev.LastError(), ErrMaxBuffer);
    flood.join();
}

TEST_F(SerialDeviceTest, NumberedRefusalsEndAModemCommandAtOnceAndAWakeEndsItsWait) {
    Dev.AtTimeout = 3000;
    std::thread modem([&] {
        Pty.Receive(5);
        Pty.Send("\r\n+CME ERROR: 10\r\n");
        Pty.Receive(5);
        Pty.Send("\r\n+CMS ERROR: 500 unknown error\r\n");
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Dev.SendModemCommand("AT+X"), "\r\n+CME ERROR: 10\r\n");
    EXPECT_FALSE(Dev.ATResult());
    EXPECT_EQ(Dev.SendModemCommand("AT+Y"), "\r\n+CMS ERROR: 500 unknown error\r\n");
    EXPECT_LT(ElapsedMs(start), 1000);
    modem.join();
    // A raised wake handle ends the wait for a reply that never comes.
    int wake[2];
    ASSERT_EQ(pipe(wake), 0);
    ASSERT_EQ(write(wake[1], "x", 1), 1);
    Dev.WakeHandle = wake[0];
    start = std::chrono::steady_clock::now();
    Dev.SendModemCommand("AT");
    EXPECT_EQ(Dev.LastError(), ErrTimeout);
    EXPECT_LT(ElapsedMs(start), 1000);
    Dev.WakeHandle = -1;
    close(wake[0]);
    close(wake[1]);
}

TEST_F(SerialDeviceTest, WriteToABoardThatNeverReadsTimesOut) {
    Dev.DeadlockTimeout = 50;
    const std::string big(4 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    const int n = Dev.WriteBuffer(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(Dev.LastError(), ErrTimeout);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(big.size()));
    EXPECT_LT(ElapsedMs(start), 500);
}

TEST_F(SerialDeviceTest, VanishedBoardFailsTheProbeAndEndsWaitsAtOnce) {
    Dev.FetchCommState();
    EXPECT_EQ(Dev.LastError(), 0);
    EXPECT_EQ(Dev.LineSettings().BaudRate, 115200u);
    EXPECT_EQ(Dev.ReadModemStatus(), 0u);  // a pty has no modem lines, and that is fine
    EXPECT_EQ(Dev.LastError(), 0);

    Pty.CloseMaster();
    Dev.FetchCommState();
    EXPECT_EQ(Dev.LastError(), EIO);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Dev.WaitReadable(500));
    EXPECT_LT(ElapsedMs(start), 100);
    Dev.ClosePort();
    EXPECT_EQ(Dev.LastError(), 0);
}

TEST_F(SerialDeviceTest, WaitForInputOrWakeEndsOnWhicheverComesFirst) {
    TWakeSignal wake;
    // A raise from another thread ends a long wait, which then reports no input.
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wake.Raise();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Dev.WaitLineOrWoken(2000, wake.Handle(), '\r'));
    EXPECT_LT(ElapsedMs(start), 500);
    EXPECT_EQ(Dev.LastError(), 0);
    raiser.join();
    wake.Clear();

    // Nothing at all: the time-out ends it.
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Dev.WaitLineOrWoken(30, wake.Handle(), '\r'));
    EXPECT_GE(ElapsedMs(start), 25);

    // Input that arrives while waiting, and a whole line already buffered; a partial one
    // waits for more.
    std::thread board([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Pty.Send("OK\r");
    });
    EXPECT_TRUE(Dev.WaitLineOrWoken(2000, wake.Handle(), '\r'));
    board.join();
    EXPECT_EQ(Dev.ReadUntil(200, "\r"), "OK");
    Dev.LineBuffer = "par";
    EXPECT_FALSE(Dev.WaitLineOrWoken(20, wake.Handle(), '\r'));
    Dev.LineBuffer = "par\rt";
    EXPECT_TRUE(Dev.WaitLineOrWoken(2000, wake.Handle(), '\r'));
    Dev.LineBuffer.clear();

    // The board going away ends the wait at once and says so.
    Pty.CloseMaster();
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Dev.WaitLineOrWoken(2000, wake.Handle(), '\r'));
    EXPECT_EQ(Dev.LastError(), EIO);
    EXPECT_LT(ElapsedMs(start), 500);
}

TEST_F(SerialDeviceTest, InvalidLineSettingsAreRefused) {
    Dev.ConfigurePort(0, 8, 'N', 0, false, false);
    EXPECT_EQ(Dev.LastError(), EINVAL);
    Dev.ConfigurePort(-5, 8, 'N', 0, false, false);
    EXPECT_EQ(Dev.LastError(), EINVAL);
    Dev.ConfigurePort(9600, 9, 'N', 0, false, false);
    EXPECT_EQ(Dev.LastError(), EINVAL);
    Dev.ConfigurePort(9600, 7, 'E', 2, false, false);
    EXPECT_EQ(Dev.LastError(), 0);
    // Pseudo-terminals force 8 bits without parity; the speed is kept.
    Dev.FetchCommState();
    EXPECT_EQ(Dev.LastError(), 0);
    EXPECT_EQ(Dev.LineSettings().BaudRate, 9600u);
    Dev.ConfigurePort(12345, 8, 'N', 0, false, false);
    EXPECT_EQ(Dev.LastError(), 0) << Dev.LastErrorDesc();
}

TEST_F(SerialDeviceTest, BlocksAndBytesReadBack) {
    ASSERT_TRUE(Pty.Send(std::string("\x03\0\0\0abcZ\x01\0\0\0", 12)));
    EXPECT_EQ(Dev.ReadBlock(200, false), "abc");
    EXPECT_EQ(Dev.ReadByte(200), 'Z');
    EXPECT_EQ(Dev.ReadInteger(200), 1);
    // A length from the peer that no block needs is refused, not allocated.
    ASSERT_TRUE(Pty.Send(std::string("\xff\xff\xff\x7f", 4)));
    EXPECT_EQ(Dev.ReadBlock(200, false), "");
    EXPECT_EQ(Dev.LastError(), ErrMaxBuffer);
}

TEST(SerialDeviceCycles, ThousandOpenCloseCyclesLeakNoDescriptors) {
    TPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto openFds = [] {
        int n = 0;
        for (int fd = 0; fd < 4096; ++fd)
            if (fcntl(fd, F_GETFD) != -1) ++n;
        return n;
    };
    const int before = openFds();
    TSerialDevice d;
    for (int i = 0; i < 1000; ++i) {
        d.OpenPort(pty.SlavePath());
        ASSERT_EQ(d.LastError(), 0);
        d.ConfigurePort(115200, 8, 'N', 0, false, false);
        d.ClosePort();
    }
    EXPECT_EQ(openFds(), before);
}
