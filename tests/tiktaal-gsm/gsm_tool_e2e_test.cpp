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
