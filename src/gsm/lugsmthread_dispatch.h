// The adapter through which the report dispatch works on the modem thread and its
// component.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "gsm/lugsmthread.h"
#include "gsm/modemdispatch.h"
#include "platform/locale_formats.h"
#include "toolkit/datetime.h"

namespace dispatchadapter {

inline std::vector<std::string> Lines(const TStringList& list) {
    std::vector<std::string> out;
    for (const auto& e : list) out.push_back(e.Text);
    return out;
}

inline TReceivedSMS ReceivedFields(const TDispatchedSms& sms) {
    TReceivedSMS r;
    r.PDU = sms.Pdu;
    r.SMSText = sms.Text;
    r.TelNr = sms.TelNr;
    r.Recipient = sms.Recipient;
    r.SMSTimeStamp = sms.TimeStamp;
    r.IsUDH = sms.IsUDH;
    r.StatusReport = sms.StatusReport;
    r.UDHInfo = {sms.UDHInfo.Reference, sms.UDHInfo.Total, sms.UDHInfo.Part, sms.UDHInfo.Delivered,
                 sms.UDHInfo.Status};
    return r;
}

}  // namespace dispatchadapter

// Events go to the main thread through the thread's synchronous calls; the component's
// fields an event passes are written in the same call, just before it is raised.
class TThreadDispatchTarget : public TModemDispatchTarget {
public:
    explicit TThreadDispatchTarget(TLuGSMThread& thread)
        : FThread(thread), FOwner(*thread.Owner()) {}

    TDispatchSettings Settings() const override {
        TDispatchSettings s;
        s.DisableIncomingSMS = FOwner.DisableIncomingSMS();
        s.DeleteSMSafterRead = FOwner.DeleteSMSafterRead();
        s.SMSPhoneCapacity = FOwner.SMSPhoneCapacity();
        s.SimStorage = FOwner.SMSSIMCapacity() >= 0;
        s.PhoneStorage = FOwner.SMSPhoneCapacity() >= 0;
        s.PromoQuestions = dispatchadapter::Lines(FOwner.PromoQuestions());
        s.PrefixForCountry = FOwner.PrefixForCountry();
        s.HangUpVoiceConnection = FOwner.HangUpVoiceConnection();
        s.HangUpSignalCount = FOwner.HangUpSignalCount();
        s.CanCheckPower = FOwner.CanCheckPower();
        s.CanCheckSignal = FOwner.CanCheckSignal();
        s.RecipientSepStart = FOwner.RecipientSepStart();
        s.RecipientSepStop = FOwner.RecipientSepStop();
        s.RecipientsTable = dispatchadapter::Lines(FOwner.RecipientsTable());
        s.RecipientsGroups = dispatchadapter::Lines(FOwner.RecipientsGroups());
        s.EncodePIN = FOwner.EncodePIN();
        s.PhoneBookUcs2 = FThread.PhoneBookUcs2();
        return s;
    }
    void AddPhoneBookLine(const std::string& line) override {
        FThread.OnMain([&] { FOwner.AddPhoneBookLine(line); });
    }
    void RaiseGetPhoneBook() override {
        FThread.OnMain([&] { FOwner.DoGetPhoneBook(); });
    }
    void RaiseNewSMS(const TDispatchedSms& sms) override {
        FThread.OnMain([&] {
            WriteReceived(sms);
            FOwner.DoNewSMS();
        });
    }
    void RaiseNewQuestion(const TDispatchedSms& sms, const std::string& question) override {
        FThread.OnMain([&] {
            WriteReceived(sms);
            FOwner.DoNewQuestion(question, sms.Text, sms.TelNr);
        });
    }
    void RaiseSecretSMS(const std::string& text, const std::string& from) override {
        FThread.OnMain([&] { FOwner.DoSecretSMS(text, from); });
    }
    void RaiseSMSMemoryFull() override { FOwner.DoSMSMemoryFull(); }
    void RaiseRing(const std::string& number) override {
        FThread.OnMain([&] {
            FOwner.RingNumber = number;
            FOwner.DoRing();
        });
    }
    void RaiseCallBusy(bool busy, TDispatchCallStatus status) override {
        FThread.OnMain([&] { FOwner.DoCallBusy(busy, static_cast<TCallStatus>(status)); });
    }
    void RaiseCheckSignalPower(const TDispatchReading& r) override {
        FThread.OnMain([&] {
            FOwner.Reading = {r.Signal, r.AcPower, r.BatteryStatus, r.StringSignal};
            FOwner.DoCheckSignalPower();
        });
    }
    void RaiseAfterComRx() override { FThread.RaiseAfterComRx(); }
    void ReportQuietError(const std::string& text) override { FThread.ReportError(text); }
    void Log(const std::string& line) override { FThread.Log(line); }

    std::string CurrentCommand() const override { return FThread.CurrentCommand(); }
    bool HasCommand(const std::string& command) const override {
        return FThread.HasCommand(command);
    }
    void AppendCommand(const std::string& command) override { FThread.AddCommand(command); }
    void InsertCommandsAtFront(const std::vector<std::string>& commands) override {
        FThread.InsertCommandsAtFront(commands);
    }
    void InsertCommandAfterCurrent(const std::string& command) override {
        FThread.InsertCommandAfterCurrent(command);
    }
    bool TakeSendOneSignal() override {
        if (!FOwner.SendOneSignal()) return false;
        FOwner.SetSendOneSignal(false);
        return true;
    }
    int64_t NowMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    std::string DateTimeText(TDateTime stamp) const override {
        return FormatDateTime(ShortDateFormat() + " " + LongTimeFormat(), stamp);
    }

private:
    void WriteReceived(const TDispatchedSms& sms) {
        FOwner.Received = dispatchadapter::ReceivedFields(sms);
        FOwner.SetRecipient(sms.Recipient);
        FOwner.SetIsUDH(sms.IsUDH);
    }

    TLuGSMThread& FThread;
    TLuGSM& FOwner;
};
