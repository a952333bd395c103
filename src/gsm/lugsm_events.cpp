// The GSM component's event dispatchers, the quiet-error report and its log file.
#include <cstdio>
#include <fstream>

#include "gsm/lugsm.h"
#include "gsm/lugsmthread.h"
#include "net/netutil.h"
#include "platform/locale_formats.h"
#include "toolkit/mainthread.h"

// The user's own date and time formats, as the rest of the program writes times.
static std::string DefaultDateTimeText() {
    return FormatDateTime(ShortDateFormat() + " " + LongTimeFormat(), NowLocal());
}

void TLuGSM::ReportQuietError() {
    if (FOnQuietError) FOnQuietError(this);
    const std::string text = LastErrorText();
    if (text == "OK" || !FMakeLog || TrimText(LogFileName()).empty()) return;
    AppendLogLine(DefaultDateTimeText() + " > " + text);
}

// Lines are appended; a file that cannot be written is told once and never stops anything.
void TLuGSM::AppendLogLine(const std::string& text) {
    std::ofstream out(LogFileName(), std::ios::app | std::ios::binary);
    if (out) out << text << "\r\n";
    if (out.good()) return;
    if (FLogFailureShown) return;
    FLogFailureShown = true;
    std::fprintf(stderr, "GSM: cannot write the log file %s\n", LogFileName().c_str());
}

void TLuGSM::DoConnecting() {
    if (FOnConnecting) FOnConnecting(this);
}

void TLuGSM::DoConnected() {
    if (FSearching) {
        ++FSearchFound;
        EndSearch(100, ComPort(), 1);
    }
    if (FOnConnected) FOnConnected(this);
}

void TLuGSM::DoDisconnected() {
    FConnected = false;
    if (FAutoConnect && !FUserDisconnect) {
        FAutoConnectTimer.SetInterval(static_cast<unsigned>(std::max(0, FACTimerInterval.load())));
        FAutoConnectTimer.SetEnabled(true);
    }
    FUserDisconnect = false;
    if (FSearching) FScanTimer.SetEnabled(true);
    if (FOnDisconnected) FOnDisconnected(this);
}

void TLuGSM::DoGSMActivate() {
    if (FOnGSMActivate) FOnGSMActivate(this);
}

void TLuGSM::DoGSMDeActivate() {
    if (FOnGSMDeActivate) FOnGSMDeActivate(this);
}

void TLuGSM::DoAfterComRx(const TStringList& lines) {
    if (FOnAfterComRx) FOnAfterComRx(this, lines);
}

void TLuGSM::DoNewSMS() {
    if (FOnNewSMS)
        FOnNewSMS(this, Received.PDU, Received.SMSText, Received.TelNr, Received.Recipient,
                  Received.IsUDH, Received.UDHInfo, Received.SMSTimeStamp, Received.StatusReport);
}

void TLuGSM::DoRing() {
    if (FOnRing) FOnRing(this, RingNumber);
}

void TLuGSM::DoAfterSend(std::string& marker, const std::string& number, int& status,
                         const std::string& text, int ref, int part, int total, bool waitReport) {
    if (FOnAfterSend)
        FOnAfterSend(this, marker, number, status, text, ref, part, total, waitReport);
}

void TLuGSM::DoCheckSignalPower() {
    if (FOnCheckSignalPower)
        FOnCheckSignalPower(this, Reading.Signal, Reading.AcPower, Reading.BatteryStatus,
                            Reading.StringSignal);
}

void TLuGSM::DoGetModelGSM() {
    if (FOnGetModelGSM)
        FOnGetModelGSM(this, Identity.Model, Identity.IMEI, Identity.Bios, Identity.SIMCapacity,
                       Identity.PhoneCapacity);
}

void TLuGSM::DoSendProgress(int queue) {
    if (FOnSendProgress) FOnSendProgress(this, queue);
}

void TLuGSM::DoSearchProgress(int progress, const std::string& port, int found) {
    if (FOnSearchProgress) FOnSearchProgress(this, progress, port, found);
}

void TLuGSM::DoSecretSMS(const std::string& text, const std::string& from) {
    if (FOnSecretSMS) FOnSecretSMS(this, text, from);
}

// Raised on the main thread like every other event: a handler that touches the window
// from the modem thread would bring the toolkit down.
void TLuGSM::DoSMSMemoryFull() {
    SynchronizeCall([this] {
        if (FOnSMSMemoryFull) FOnSMSMemoryFull(this);
    });
}

void TLuGSM::DoGetPhoneBook() {
    if (FOnGetPhoneBook) FOnGetPhoneBook(this);
}

void TLuGSM::DoNewQuestion(const std::string& question, const std::string& text,
                           const std::string& number) {
    if (FOnNewQuestion) FOnNewQuestion(this, question, text, number);
}

void TLuGSM::DoCallBusy(bool busy, TCallStatus status) {
    FCallBusy = busy;
    CallStatus = status;
    if (FOnCallBusy) FOnCallBusy(this, busy, status);
}
