#include "gsm_tool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "event_lines.h"
#include "net/netutil.h"
#include "platform/user_state.h"
#include "gsm/codecs/address.h"
#include "gsm/codecs/gsmerrors.h"
#include "gsm/lugsm.h"
#include "part_joiner.h"
#include "toolkit/mainthread.h"

namespace {

constexpr int ConnectBoundMs = 90000;
constexpr int AtBoundMs = 60000;
constexpr int SendBoundPerPartMs = 80000;  // three attempts of 18.5 s each, and a restart
constexpr int ReconnectIntervalMs = 1000;  // a modem plugged back in is used within a second
// Commands of one connection (probes, initialisation, identification, phone books): a slow
// modem's time-out stretches the bound by this many.
constexpr int ConnectCommands = 60;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PrintLine(const std::string& line) {
    std::fputs((TerminalText(line) + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// ">: (bufRx) -> myERR;<why>  ----> [ <command>] :<" as <why>.
std::string RefusalText(const std::string& logLine) {
    std::string why = logLine;
    const size_t start = why.find("myERR;");
    if (start != std::string::npos) why.erase(0, start + 6);
    const size_t arrow = why.find("  ---->");
    if (arrow != std::string::npos) why.erase(arrow);
    const size_t first = why.find_first_not_of(' ');
    return first == std::string::npos ? "ERROR" : why.substr(first);
}

void PrintError(const std::string& line) {
    std::fputs(("tiktaal-gsm: " + TerminalText(line) + "\n").c_str(), stderr);
}

// The reference of long messages is kept per user, so that each run goes on from the last.
std::string ReferenceFile() {
    const std::string state = UserStateDirectory();
    return state.empty() ? "" : state + "/tiktaal/ReferenceNumbers.ini";
}

class TGsmTool {
public:
    TGsmTool(const TGsmToolOptions& o, const std::atomic<bool>& interrupted)
        : O(o), Interrupted(interrupted) {}

    int Run() {
        if (O.Command == TGsmToolOptions::Send && !PrepareMessage()) return 2;
        Configure();
        Gsm.SetActive(true);
        Gsm.SetConnected(true);
        const int bound = std::max(ConnectBoundMs, ConnectCommands * Gsm.ATTimeout());
        const bool up = Pump([&] { return Connected || ConnectFailed; }, bound);
        int status = 1;
        if (!up || ConnectFailed) {
            PrintError(ConnectFailed ? FailureText()
                                     : "no modem answered on " + O.Port + " in time");
        } else if (Connected) {
            status = RunCommand();
        }
        Gsm.SetActive(false);
        if (Interrupted && status == 1 && O.Command == TGsmToolOptions::Listen) status = 0;
        return status;
    }

private:
    // The engine as a command-line tool wants it: numbers taken as given, no reset of the
    // modem on leaving, no reconnection except while listening.
    void Configure() {
        Gsm.SetComPort(O.Port);
        Gsm.SetBaudRate(O.Baud);
        Gsm.SetCheckNumberSyntax(false);
        Gsm.SetResetModemOnClose(false);
        Gsm.SetInstanceName("tiktaal-gsm");
        Gsm.SetReferenceFile(ReferenceFile());
        if (O.AtTimeoutMs > 0) Gsm.SetATTimeout(O.AtTimeoutMs);
        const bool listen = O.Command == TGsmToolOptions::Listen;
        // A modem that went away is taken back as soon as it returns.
        Gsm.SetAutoConnect(listen || O.Command == TGsmToolOptions::Send);
        Gsm.SetACTimerInterval(ReconnectIntervalMs);
        Gsm.SetGetUnreaded(listen);
        Gsm.SetDeleteSMSafterRead(listen && !O.Keep);
        Gsm.SetCheckPwrSig(listen);
        if (listen) Gsm.SetCheckInterval(30);
        if (!listen) Gsm.CheckTimer().SetEnabled(false);
        Gsm.SetOnConnected([this](TComponent*) { Connected = EverConnected = true; });
        Gsm.SetOnDisconnected([this](TComponent*) {
            if (!EverConnected) ConnectFailed = true;
            if (Connected) DownSinceMs = NowMs();
            Connected = false;
            // A part given up closes the link: the rest of that message is not sent.
            if (PartFailed) Abandoned = true;
        });
        Gsm.SetOnQuietError([this](TComponent*) {
            const std::string e = Gsm.LastErrorText();
            if (e == "OK") return;
            LastError = e;
            // A port that cannot be opened never counts as having been open.
            if (!Connected && e.rfind("SerialConnect error", 0) == 0 && !EverConnected)
                ConnectFailed = true;
            // Reports that cannot be read: one line each, never a made-up message.
            if (Listening && e.rfind("Thread (", 0) == 0) PrintFailure(e);
            if (e.rfind("ReferenceNumbers.ini not written", 0) == 0) PrintError(e);
        });
        // Only `at` reads the exchange back; listening keeps nothing of it.
        const bool keepExchange = O.Command == TGsmToolOptions::At;
        Gsm.SetOnAfterComRx([this, keepExchange](TComponent*, const TStringList& lines) {
            for (const auto& e : lines) {
                if (O.Verbose) std::fprintf(stderr, "%s\n", TerminalText(e.Text).c_str());
                if (keepExchange) ComRx.push_back(e.Text);
            }
        });
    }

    std::string FailureText() const {
        return LastError.empty() ? "the modem on " + O.Port + " did not answer" : LastError;
    }

    // Processes the engine's calls until done() or the bound; false when the bound (or an
    // interruption) came first.
    bool Pump(const std::function<bool()>& done, int boundMs) {
        const int64_t end = boundMs > 0 ? NowMs() + boundMs : INT64_MAX;
        while (!done()) {
            if (Interrupted || NowMs() >= end) return false;
            ProcessMessages();
            WaitForSynchronize(20);
            Tick();
        }
        return true;
    }

    int RunCommand() {
        switch (O.Command) {
            case TGsmToolOptions::Identify:
                return Identify();
            case TGsmToolOptions::Send:
                return Send();
            case TGsmToolOptions::At:
                return At();
            default:
                return Listen();
        }
    }

    int Identify() {
        const TModemIdentity& id = Gsm.Identity;
        PrintLine("model: " + TrimText(id.Model));
        PrintLine("imei: " + TrimText(id.IMEI));
        PrintLine("firmware: " + TrimText(id.Bios));  // a second line shows after " / "
        PrintLine("sim storage: " + std::to_string(id.SIMCapacity));
        PrintLine("phone storage: " + std::to_string(id.PhoneCapacity));
        return 0;
    }

    // ---- send
    bool PrepareMessage() {
        try {
            EncodeAddress(O.Number);
        } catch (const EGsmCodecError& e) {
            PrintError(e.what());
            return false;
        }
        if (O.Text.find_first_not_of(" \t\r\n") == std::string::npos) {
            PrintError("the text is blank: nothing to send");
            return false;
        }
        return true;
    }

    int Send() {
        Gsm.SetSMSFlash(O.Flash);
        Gsm.SetSMSReport(O.Report);
        Gsm.SetSpecialSymbols(O.Ucs2);
        Gsm.SetEncodeSMS(O.HasKey);
        Gsm.SetEncodePIN(O.Key);
        Gsm.SetSMSNumber(O.Number);
        if (O.MergeMax > 0) Gsm.SetSMSMergeMax(O.MergeMax);
        Gsm.SetSMSText(O.Text);
        const int parts = static_cast<int>(Gsm.TxMessageParts().Count());
        int answered = 0, accepted = 0;
        Gsm.SetOnAfterSend([&](TComponent*, std::string&, const std::string&, int& status,
                               const std::string&, int ref, int part, int total, bool) {
            ++answered;
            PartFailed = status != 1;
            const std::string which =
                "part " + std::to_string(part) + "/" + std::to_string(total) + ": ";
            if (status == 1) {
                ++accepted;
                PrintLine(which + "reference " + std::to_string(ref));
            } else {
                PrintLine(which + "failed: " +
                          (LastError.empty() ? "no reference from the modem" : LastError));
            }
            LastError.clear();
        });
        LastError.clear();
        if (parts == 0 || !Gsm.SendSMS()) {
            PrintError("the message could not be planned into parts");
            return 1;
        }
        // Two failed attempts restart the link, and the part is tried again on the new one;
        // a modem unplugged meanwhile is taken back as soon as it returns.
        if (!Pump([&] { return answered >= parts || Abandoned || Gone(); },
                  SendBoundPerPartMs * parts)) {
            PrintError("the modem did not answer every part in time");
            return 1;
        }
        if (Abandoned) {
            for (int p = answered + 1; p <= parts; ++p)
                PrintLine("part " + std::to_string(p) + "/" + std::to_string(parts) +
                          ": not sent: part " + std::to_string(answered) + " failed");
            return 1;
        }
        if (answered < parts) {
            PrintError("the link was lost: " + FailureText());
            return 1;
        }
        return accepted == parts ? 0 : 1;
    }

    // ---- at
    int At() {
        ComRx.clear();
        Gsm.SetATCommand(O.AtCommand);
        std::vector<std::string> reply;
        bool failed = false;
        const bool done = Pump([&] { return FindAtReply(reply, failed); }, AtBoundMs);
        if (!done) {
            PrintError("no reply to " + O.AtCommand + " in time");
            return 1;
        }
        for (const std::string& line : reply) (failed ? PrintError(line) : PrintLine(line));
        return failed ? 1 : 0;
    }

    // The thread logs a queued command as a header line, the command, the reply and an end
    // line; a failed one as a header, the command and the failure.
    bool FindAtReply(std::vector<std::string>& reply, bool& failed) {
        for (size_t i = 0; i + 1 < ComRx.size(); ++i) {
            const bool ok = ComRx[i] == "******* AT Command ********";
            const bool bad = ComRx[i] == "******* AT Command [error] ********";
            if ((!ok && !bad) || ComRx[i + 1] != O.AtCommand) continue;
            failed = bad;
            for (size_t j = i + 2; j < ComRx.size(); ++j) {
                std::string line = ComRx[j];
                if (ok && line == "----------- BufComRx END #1 ---") return true;
                if (bad && line.rfind(">: (bufRx) -> ", 0) == 0) {
                    reply = {"the modem refused " + O.AtCommand + ": " + RefusalText(line)};
                    return true;
                }
                if (line.rfind("> ", 0) == 0) line.erase(0, 2);
                if (ok && !line.empty()) reply.push_back(line);
            }
            reply.clear();
            return false;
        }
        return false;
    }

    // ---- listen
    int Listen() {
        Gsm.SetOnNewSMS([this](TComponent*, const std::string&, const std::string& text,
                               const std::string& from, const std::string&, bool isUdh,
                               const TUDHinfo& udh, const std::string& stamp, bool report) {
            if (report) {
                Print(ReportEvent(from, udh.Reference, udh.Status, stamp));
                return;
            }
            const int parts = isUdh ? udh.Total : 1;
            for (const auto& m :
                 Joiner.Add(from, stamp, text, udh.Reference, udh.Part, parts, NowMs()))
                PrintMessage(m);
        });
        Gsm.SetOnNewQuestion([this](TComponent*, const std::string&, const std::string& text,
                                    const std::string& number) {
            Print(SmsEvent(number, Gsm.Received.SMSTimeStamp, text, 0, 1, false));
        });
        Gsm.SetOnSecretSMS([this](TComponent*, const std::string& text, const std::string& from) {
            Print(SecretEvent(from, text));
        });
        Gsm.SetOnRing([this](TComponent*, const std::string& number) { Print(RingEvent(number)); });
        Gsm.SetOnCallBusy([this](TComponent*, bool busy, TCallStatus status) {
            Print(CallEvent(busy, static_cast<int>(status)));
        });
        Gsm.SetOnCheckSignalPower(
            [this](TComponent*, int signal, bool ac, int battery, const std::string& kind) {
                Print(kind == "BAT" ? BatteryEvent(battery, ac) : SignalEvent(signal));
            });
        Gsm.SetEncodePIN(O.Key);
        Listening = true;
        if (Gsm.SMSPhoneCapacity() < 0 && Gsm.SMSSIMCapacity() >= 0)
            PrintError("the modem on " + O.Port +
                       " has no phone message storage: only the SIM's messages are read");
        const bool gone = Pump([&] { return Gone(); }, O.Seconds * 1000);
        for (const auto& m : Joiner.Flush()) PrintMessage(m);
        if (gone) {
            PrintFailure("the modem on " + O.Port + " is gone (not back within " +
                         std::to_string(O.ReconnectSeconds) + " s): " + FailureText());
            return 1;
        }
        return Interrupted || O.Seconds > 0 ? 0 : 1;
    }

    // Lost, and not back within the time the user gave it.
    bool Gone() const {
        return EverConnected && !Connected &&
               NowMs() - DownSinceMs > static_cast<int64_t>(O.ReconnectSeconds) * 1000;
    }

    // One line on standard error; with --json also an "error" event among the others.
    void PrintFailure(const std::string& message) {
        PrintError(message);
        if (O.Json) Print(ErrorEvent(message));
    }

    void Tick() {
        if (!Listening) return;
        for (const auto& m : Joiner.Expired(NowMs())) PrintMessage(m);
    }

    void PrintMessage(const TJoinedMessage& m) {
        Print(SmsEvent(m.From, m.Timestamp, m.Text, m.Reference, m.Parts, m.Partial, m.Part));
    }
    void Print(const TToolEvent& e) { PrintLine(EventLine(e, O.Json)); }

    const TGsmToolOptions& O;
    const std::atomic<bool>& Interrupted;
    TLuGSM Gsm;
    bool Connected = false, EverConnected = false, ConnectFailed = false, Listening = false;
    bool PartFailed = false, Abandoned = false;
    int64_t DownSinceMs = 0;
    std::string LastError;
    std::vector<std::string> ComRx;
    TPartJoiner Joiner;
};

}  // namespace

int RunGsmTool(const TGsmToolOptions& options, const std::atomic<bool>& interrupted) {
    TGsmTool tool(options, interrupted);
    return tool.Run();
}
