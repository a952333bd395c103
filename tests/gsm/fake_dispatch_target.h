// A dispatch target that records what the dispatch asks of it, one line per call.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "gsm/modemdispatch.h"
#include "toolkit/datetime.h"

class TFakeDispatchTarget : public TModemDispatchTarget {
public:
    TDispatchSettings S;
    std::vector<std::string> Events;  // "ring +48...", "sms <from>|<text>|..." and so on
    std::vector<TDispatchedSms> Messages;
    std::vector<std::string> PhoneBookLines, LogLines, Errors;
    std::deque<std::string> Queue;  // the command queue, front first
    std::string Current;            // the command being answered
    bool SendOneSignal = false;
    int64_t Now = 1000000;

    TDispatchSettings Settings() const override { return S; }
    void AddPhoneBookLine(const std::string& line) override { PhoneBookLines.push_back(line); }
    void RaiseGetPhoneBook() override { Events.push_back("phonebook"); }
    void RaiseNewSMS(const TDispatchedSms& sms) override {
        Messages.push_back(sms);
        Events.push_back(std::string(sms.StatusReport ? "report " : "sms ") + sms.TelNr + "|" +
                         sms.Text + "|" + sms.Recipient);
    }
    void RaiseNewQuestion(const TDispatchedSms& sms, const std::string& q) override {
        Messages.push_back(sms);
        Events.push_back("question " + q + "|" + sms.Text);
    }
    void RaiseSecretSMS(const std::string& text, const std::string& from) override {
        Events.push_back("secret " + from + "|" + text);
    }
    void RaiseSMSMemoryFull() override { Events.push_back("memoryfull"); }
    void RaiseRing(const std::string& number) override { Events.push_back("ring " + number); }
    void RaiseCallBusy(bool busy, TDispatchCallStatus status) override {
        Events.push_back("call " + std::to_string(busy) + " " +
                         std::to_string(static_cast<int>(status)));
    }
    void RaiseCheckSignalPower(const TDispatchReading& r) override {
        Events.push_back("reading " + r.StringSignal + " " + std::to_string(r.Signal) + " " +
                         std::to_string(r.AcPower) + " " + std::to_string(r.BatteryStatus));
    }
    void RaiseAfterComRx() override { Events.push_back("afterrx"); }
    void ReportQuietError(const std::string& text) override { Errors.push_back(text); }
    void Log(const std::string& line) override { LogLines.push_back(line); }
    std::string CurrentCommand() const override { return Current; }
    bool HasCommand(const std::string& c) const override {
        for (const auto& q : Queue)
            if (q == c) return true;
        return false;
    }
    void AppendCommand(const std::string& c) override { Queue.push_back(c); }
    void InsertCommandsAtFront(const std::vector<std::string>& commands) override {
        Queue.insert(Queue.begin(), commands.begin(), commands.end());
    }
    void InsertCommandAfterCurrent(const std::string& c) override { Queue.push_front(c); }
    bool TakeSendOneSignal() override { return std::exchange(SendOneSignal, false); }
    int64_t NowMs() const override { return Now; }
    std::string DateTimeText(TDateTime stamp) const override {
        return FormatDateTime("yyyy-MM-dd HH:mm:ss", stamp);
    }
};
