// Whatever bytes a modem sends end in events or quiet errors: never a crash, an
// exception out of the dispatch, or a command queue that grows without bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gsm/modemdispatch.h"

namespace {

class TCountingTarget : public TModemDispatchTarget {
public:
    TDispatchSettings S;
    size_t Queued = 0;

    TDispatchSettings Settings() const override { return S; }
    void AddPhoneBookLine(const std::string&) override {}
    void RaiseGetPhoneBook() override {}
    void RaiseNewSMS(const TDispatchedSms&) override {}
    void RaiseNewQuestion(const TDispatchedSms&, const std::string&) override {}
    void RaiseSecretSMS(const std::string&, const std::string&) override {}
    void RaiseSMSMemoryFull() override {}
    void RaiseRing(const std::string&) override {}
    void RaiseCallBusy(bool, TDispatchCallStatus) override {}
    void RaiseCheckSignalPower(const TDispatchReading&) override {}
    void RaiseAfterComRx() override {}
    void ReportQuietError(const std::string& text) override {
        if (text.rfind("Thread (DispatchReply)", 0) == 0) std::abort();  // an escaped exception
    }
    void Log(const std::string&) override {}
    std::string CurrentCommand() const override { return "AT+CMGR=1"; }
    bool HasCommand(const std::string&) const override { return false; }
    void AppendCommand(const std::string&) override { ++Queued; }
    void InsertCommandsAtFront(const std::vector<std::string>& c) override { Queued += c.size(); }
    void InsertCommandAfterCurrent(const std::string&) override { ++Queued; }
    bool TakeSendOneSignal() override { return true; }
    int64_t NowMs() const override { return 0; }
    std::string DateTimeText(TDateTime) const override { return ""; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TCountingTarget target;
    target.S.SMSPhoneCapacity = 30;
    target.S.DeleteSMSafterRead = true;
    target.S.HangUpVoiceConnection = true;
    target.S.RecipientsTable = {"kitchen"};
    target.S.RecipientsGroups = {"hall"};
    target.S.PromoQuestions = {"quiz"};
    TModemDispatch dispatch(target);
    dispatch.SetIndicatorNumbers(ParseIndicatorList(text));
    // Cut in three, as the port may deliver it: a piece of a long reply, then two replies.
    dispatch.DispatchPiece(text.substr(0, size / 3));
    dispatch.DispatchReply(text.substr(size / 3, size / 3));
    dispatch.DispatchReply(text.substr(2 * (size / 3)));
    // Per reply: one listing (4), one read (1), an "AT", a hang-up (3), a one-signal hang-up
    // (7), and one deletion per listed message; a listed message needs a header and a PDU line.
    if (target.Queued > 3 * 16 + size / 8) std::abort();
    return 0;
}
