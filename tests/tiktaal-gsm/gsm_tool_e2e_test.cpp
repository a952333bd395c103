// tiktaal-gsm against the modem simulator on a pseudo-terminal: the program as a user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/smscipher.h"
#include "gsm/codecs/smsdecoder.h"
#include "gsm/codecs/utf.h"
#include "modem_sim.h"

namespace {

struct TRun {
    int Exit = -1;
    std::string Out, Err;
    long Ms = 0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Hex2(size_t v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", static_cast<unsigned>(v));
    return b;
}

// An SMS-DELIVER from +48123456789: a 7-bit text, whole or as part n of total.
std::string Deliver(const std::string& text, int reference = -1, int total = 0, int n = 0) {
    const std::string septets = TextToGsm7(Utf8ToUtf16(text));
    if (reference < 0)
        return "00040B918421436587F9000052100221436580" + Hex2(septets.size()) + PackGsm7(septets);
    const std::string packed = PackGsm7(std::string(7, '\0') + septets).substr(12);
    return "00440B918421436587F9000052100221436580" + Hex2(7 + septets.size()) + "050003" +
           Hex2(reference) + Hex2(total) + Hex2(n) + packed;
}

class GsmToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gsmtoolXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        Options.LinkPath = Dir + "/modem";
    }
    void TearDown() override {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
        if (Modem) Modem->Stop();
        std::system(("rm -rf " + Dir).c_str());
    }
    void StartModem() {
        Modem = std::make_unique<TModemSim>(Options);
        ASSERT_TRUE(Modem->Start());
    }
    void Start(std::vector<std::string> args) {
        args.insert(args.begin(), {TIKTAAL_GSM_TOOL, "--port", Options.LinkPath});
        Began = std::chrono::steady_clock::now();
        Pid = fork();
        if (Pid == 0) {
            const int out = open((Dir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open((Dir + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    TRun Wait(int boundMs = 60000) {
        TRun r;
        const auto end = Began + std::chrono::milliseconds(boundMs);
        int status = 0;
        while (waitpid(Pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(Pid, SIGKILL);
                waitpid(Pid, &status, 0);
                ADD_FAILURE() << "tiktaal-gsm ran past " << boundMs << " ms";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Pid = -1;
        r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.Out = ReadFile(Dir + "/out");
        r.Err = ReadFile(Dir + "/err");
        r.Ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - Began)
                                     .count());
        return r;
    }
    TRun Run(const std::vector<std::string>& args, int boundMs = 60000) {
        Start(args);
        return Wait(boundMs);
    }
    bool WaitFor(const std::function<bool()>& cond, int ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!cond()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    // The texts the simulator took, decoded from the SMS-SUBMIT PDUs, joined in order.
    std::string SentText() const {
        std::string text;
        for (const std::string& pdu : Modem->SentPdus()) {
            TSMS sms;
            sms.ParsePdu(pdu);
            text += Utf16ToUtf8(sms.GetText());
        }
        return text;
    }

    std::string Dir;
    TModemSimOptions Options;
    std::unique_ptr<TModemSim> Modem;
    pid_t Pid = -1;
    std::chrono::steady_clock::time_point Began;
};

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

}  // namespace

TEST_F(GsmToolTest, IdentifiesTheModem) {
    StartModem();
    const TRun r = Run({"identify"});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out,
              "model: TIKTAAL/TMS-900\nimei: 356938035643809\nfirmware: Revision:TMS900R01\n"
              "sim storage: 30\nphone storage: 100\n");
}

TEST_F(GsmToolTest, SendsSevenBitAndUcs2MessagesInParts) {
    StartModem();
    std::string seven;
    for (int i = 0; seven.size() < 400; ++i) seven += "part text " + std::to_string(i) + " ";
    TRun r = Run({"send", "+48 600-100-200", seven});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, "part 1/3: reference 1\npart 2/3: reference 2\npart 3/3: reference 3\n");
    EXPECT_EQ(SentText(), seven.substr(0, seven.find_last_not_of(' ') + 1));

    const std::string polish = "Zażółć gęślą jaźń, 😀 " + std::string(60, 'x');
    const size_t before = Modem->SentPdus().size();
    r = Run({"send", "600100200", polish, "--ucs2"});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(Count(r.Out, "/2: reference"), 2) << r.Out;
    std::string ucs2;
    for (size_t i = before; i < Modem->SentPdus().size(); ++i) {
        TSMS sms;
        sms.ParsePdu(Modem->SentPdus()[i]);
        ucs2 += Utf16ToUtf8(sms.GetText());
        EXPECT_EQ(sms.Alphabet(), 2);
    }
    EXPECT_EQ(ucs2, polish);
}

TEST_F(GsmToolTest, ARefusedMessageFailsItsPart) {
    Options.RefuseSends = 3;
    StartModem();
    const TRun r = Run({"send", "600100200", "hello"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Out.rfind("part 1/1: failed: ", 0), 0u) << r.Out;
}

TEST_F(GsmToolTest, ListensAndPrintsEachEventOnceRight) {
    StartModem();
    Start({"listen", "--json", "--seconds", "5", "--key", "abcd"});
    // Connected once the unread messages have been listed.
    ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT+CMGL=0") >= 2; }));
    Modem->Control("cmt " + Deliver("routed"));
    Modem->Control("store " + Deliver("stored and ", 9, 2, 1));
    Modem->Control("store " + Deliver("joined", 9, 2, 2));
    Modem->Control("cmti 2");
    Modem->Control(
        "raw \\r\\n+CDS: 25\\r\\n00062A0B918421436587F952100221436580521002214365804600\\r\\n");
    Modem->Control("ring 600100200");
    Modem->Control("ring 600100200");
    Modem->Control("ciev 3,1");
    Modem->Control("say +CSQ: 5,99");
    Modem->Control("cmt " + Deliver("55" + EncipherSmsText("abcdhidden", "abcd") + "AA"));
    const TRun r = Wait(30000);
    EXPECT_EQ(r.Exit, 0) << r.Err;
    const std::string from = "\"from\":\"+48123456789\",\"timestamp\":\"2025-01-20 12:34:56\",";
    EXPECT_EQ(Count(r.Out, "{\"event\":\"sms\"," + from + "\"text\":\"routed\"}\n"), 1) << r.Out;
    EXPECT_EQ(Count(r.Out, from + "\"text\":\"stored and joined\",\"reference\":9,\"parts\":2}"), 1)
        << r.Out;
    EXPECT_EQ(Count(r.Out,
                    "{\"event\":\"report\",\"number\":\"+48123456789\",\"reference\":42,"
                    "\"status\":70,\"delivered\":false,"),
              1)
        << r.Out;
    EXPECT_EQ(Count(r.Out, "{\"event\":\"ring\",\"number\":\"+48600100200\"}"), 1) << r.Out;
    EXPECT_EQ(Count(r.Out, "{\"event\":\"call\",\"status\":\"incoming\",\"busy\":true}"), 1);
    EXPECT_EQ(Count(r.Out, "{\"event\":\"signal\",\"percent\":15}"), 1) << r.Out;
    EXPECT_EQ(Count(r.Out, "{\"event\":\"secret\",\"from\":\"+48123456789\",\"text\":\"hidden\"}"),
              1)
        << r.Out;
}

TEST_F(GsmToolTest, BadCommandLinesPortsAndModemsEndWithOneLine) {
    TRun r = Run({"--bogus", "identify"});
    EXPECT_EQ(r.Exit, 2);
    EXPECT_EQ(r.Err, "tiktaal-gsm: unknown option --bogus (see --help)\n");
    r = Run({"identify"});  // no modem on the link
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(Count(r.Err, "\n"), 1) << r.Err;
    EXPECT_NE(r.Err.find("SerialConnect error"), std::string::npos) << r.Err;
    Options.Silent = true;
    StartModem();
    r = Run({"identify"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(Count(r.Err, "\n"), 1) << r.Err;
    EXPECT_LT(r.Ms, 10000);
    r = Run({"--help"});
    EXPECT_EQ(r.Exit, 0);
    EXPECT_NE(r.Out.find("usage: tiktaal-gsm"), std::string::npos);
}

namespace {

int CountGenerated(const std::string& out, int first, int count) {
    int n = 0;
    for (int i = first; i < first + count; ++i)
        n += Count(out, GeneratedMessageText(i).substr(0, 20)) > 0 ? 1 : 0;
    return n;
}

}  // namespace

TEST_F(GsmToolTest, DestinationsWithoutDigitsAreRefusedWithTheReason) {
    for (const char* bad : {"", "+", "-", " "}) {
        const TRun r = Run({"send", bad, "hello"});
        EXPECT_EQ(r.Exit, 2) << bad;
        EXPECT_EQ(Count(r.Err, "\n"), 1) << r.Err;
        EXPECT_NE(r.Err.find("has no digits"), std::string::npos) << r.Err;
    }
}

// 250 full-length stored messages (an 85 KB listing) and 400 routed at once (140 KB):
// every one printed once, and the stored ones deleted once printed.
TEST_F(GsmToolTest, AFullListingAndABurstAreAllPrintedAndDeleted) {
    Options.StoredMessages = 250;
    StartModem();
    Start({"listen", "--seconds", "8"});
    ASSERT_TRUE(WaitFor([&] { return Modem->StoredCount("SM") == 0; }, 20000));
    Modem->Control("burst 400 1000");
    const TRun r = Wait(30000);
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(CountGenerated(r.Out, 0, 250), 250);
    EXPECT_EQ(CountGenerated(r.Out, 1000, 400), 400);
    EXPECT_EQ(Count(r.Out, "\n"), 650 + Count(r.Out, "signal ") + Count(r.Out, "battery "));
    EXPECT_EQ(Modem->CountReceived("ATE0"), 1);  // one connection throughout
}

// A SIM of three: listen deletes what it printed, so nine messages pass; --keep leaves
// them, and the full SIM then refuses the rest.
TEST_F(GsmToolTest, ListenDeletesWhatItPrintedUnlessToldToKeep) {
    Options.SimCapacity = 3;
    StartModem();
    Start({"listen", "--seconds", "4", "--json"});
    ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT+CMGL=0") >= 1; }));
    for (int i = 0; i < 9; i += 3) {
        for (int j = i; j < i + 3; ++j) Modem->Control("deliver " + GeneratedMessagePdu(j));
        ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT+CMGD=") >= i + 3; })) << i;
    }
    TRun r = Wait(20000);
    EXPECT_EQ(CountGenerated(r.Out, 0, 9), 9) << r.Out;
    EXPECT_EQ(Modem->RefusedDeliveries(), 0);

    Start({"listen", "--seconds", "2", "--keep"});
    ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT+CMGL=0") >= 3; }));
    for (int j = 10; j < 14; ++j) Modem->Control("deliver " + GeneratedMessagePdu(j));
    r = Wait(20000);
    EXPECT_EQ(CountGenerated(r.Out, 10, 3), 3) << r.Out;
    EXPECT_EQ(Modem->StoredCount("SM"), 3);
    EXPECT_EQ(Modem->RefusedDeliveries(), 1);
}

TEST_F(GsmToolTest, AModemWithoutPhoneStorageIsToldOnceAndKeptListening) {
    Options.NoPhoneStorage = true;
    Options.ErrorCodes = true;
    StartModem();
    Start({"listen", "--seconds", "3"});
    ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT+CMGL=0") >= 1; }));
    Modem->Control("deliver " + GeneratedMessagePdu(5));
    const TRun r = Wait(20000);
    EXPECT_EQ(r.Exit, 0);
    EXPECT_EQ(r.Err,
              "tiktaal-gsm: the modem on " + Options.LinkPath +
                  " has no phone message storage: only the SIM's messages are read\n");
    EXPECT_EQ(CountGenerated(r.Out, 5, 1), 1);
    EXPECT_EQ(Modem->CountReceived("ATE0"), 1);
}

// An undecodable report is one error line (and an error event), never a message from
// nobody dated 1899; a modem gone for good ends listen with one line and exit 1.
TEST_F(GsmToolTest, ListenTellsOfUnreadableReportsAndAModemGoneForGood) {
    StartModem();
    Start({"listen", "--json", "--reconnect-for", "2"});
    ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT+CMGL=0") >= 2; }));
    Modem->Control("cmt 0011");
    Modem->Control("cmt " + Deliver("after the noise"));
    ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT") >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Modem->Control("vanish");
    const TRun r = Wait(20000);
    EXPECT_EQ(r.Exit, 1);
    EXPECT_LT(r.Ms, 15000);
    EXPECT_EQ(Count(r.Err, "\n"), 2) << r.Err;
    EXPECT_NE(r.Err.find("PDU cannot be decoded: 0011"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("is gone (not back within 2 s)"), std::string::npos) << r.Err;
    EXPECT_EQ(Count(r.Out, "{\"event\":\"error\",\"message\":"), 2) << r.Out;
    EXPECT_EQ(Count(r.Out, "1899"), 0) << r.Out;
    EXPECT_EQ(Count(r.Out, "\"text\":\"after the noise\""), 1) << r.Out;
}

// send --key as listen --key reads it.
TEST_F(GsmToolTest, ListenReadsWhatSendEnciphers) {
    StartModem();
    TRun r = Run({"send", "600100200", "meet at noon", "--key", "abcd"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    TSMS sent;
    sent.ParsePdu(Modem->SentPdus().at(0));
    const std::string framed = Utf16ToUtf8(sent.GetText());
    EXPECT_EQ(framed.substr(0, 2), "66");
    Start({"listen", "--seconds", "3", "--key", "abcd"});
    ASSERT_TRUE(WaitFor([&] { return Modem->CountReceived("AT+CMGL=0") >= 2; }));
    Modem->Control("cmt " + Deliver(framed));
    r = Wait(20000);
    EXPECT_NE(r.Out.find("secret from +48123456789: meet at noon"), std::string::npos) << r.Out;
}

// Three refusals of part 1 give up the message at once; a modem unplugged while a part
// goes out is used again as soon as it is back.
TEST_F(GsmToolTest, SendEndsItsWaitsWhenTheirCauseEnds) {
    Options.RefuseSends = 3;
    StartModem();
    const std::string text(400, 'x');
    TRun r = Run({"send", "600100200", text});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_LT(r.Ms, 15000);
    EXPECT_EQ(r.Out.rfind("part 1/3: failed: ", 0), 0u) << r.Out;
    EXPECT_NE(r.Out.find("part 2/3: not sent: part 1 failed\npart 3/3: not sent: part 1 failed\n"),
              std::string::npos)
        << r.Out;
    Modem->Stop();
    Options.RefuseSends = 0;
    Options.VanishOn = {"PDU"};
    Options.ReturnAfterMs = 2000;
    StartModem();
    r = Run({"send", "600100200", text});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_LT(r.Ms, 15000);
    EXPECT_EQ(Count(r.Out, "/3: reference "), 3) << r.Out;
    EXPECT_EQ(Modem->Vanishings(), 1);
}

// The reference goes on from run to run (kept in the user's state folder); --merge-max
// puts a long text under one reference; --at-timeout waits for a slow phone.
TEST_F(GsmToolTest, ReferencesMergeAndTimeOut) {
    Options.SlowCommands = {{"AT+CIMI", 2500}};
    StartModem();
    setenv("XDG_STATE_HOME", Dir.c_str(), 1);
    const std::string text(700, 'y');  // five parts
    ASSERT_EQ(Run({"send", "600100200", text}).Exit, 0);
    ASSERT_EQ(Run({"send", "600100200", text, "--merge-max", "5"}).Exit, 0);
    unsetenv("XDG_STATE_HOME");
    const auto pdus = Modem->SentPdus();
    ASSERT_EQ(pdus.size(), 10u);
    std::set<std::string> firstRun, secondRun;
    for (size_t i = 0; i < 10; ++i) {
        const TConcatInfo c = DecodeConcatInfo(pdus[i]);
        (i < 5 ? firstRun : secondRun).insert(std::to_string(c.Reference));
        if (i >= 5) {
            EXPECT_EQ(c.Total, 5);
        }
    }
    EXPECT_EQ(firstRun.size(), 2u);  // two groups: three parts and two
    EXPECT_EQ(secondRun.size(), 1u);
    EXPECT_EQ(firstRun.count(*secondRun.begin()), 0u);
    EXPECT_NE(ReadFile(Dir + "/tiktaal/ReferenceNumbers.ini").find("tiktaal-gsm=3"),
              std::string::npos);
    TSMS second;
    second.ParsePdu(pdus[5]);
    EXPECT_EQ(Utf16ToUtf8(second.GetText()).substr(0, 3), "yyy");  // no "<01z02>"

    TRun r = Run({"at", "AT+CIMI"});
    EXPECT_EQ(r.Exit, 1);
    r = Run({"at", "AT+CIMI", "--at-timeout", "5000"});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_NE(r.Out.find("260011234567890"), std::string::npos) << r.Out;
}
