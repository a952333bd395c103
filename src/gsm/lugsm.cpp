// The GSM component: construction, the properties and their write rules.
#include "gsm/lugsm.h"

#include <cerrno>
#include <cstring>
#include <random>

#include "gsm/lugsmthread.h"
#include "gsm/refnumbers.h"
#include "gsm/codecs/partplanner.h"
#include "gsm/codecs/smscipher.h"
#include "gsm/codecs/utf.h"
#include "net/netutil.h"
#include "serial/comportlist.h"
#include "toolkit/messagebox.h"

namespace {

std::string NewGuid() {
    std::random_device rd;
    std::uniform_int_distribution<int> hex(0, 15);
    std::string g = "{";
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) g += '-';
        g += "0123456789ABCDEF"[hex(rd)];
    }
    return g + "}";
}

bool BlankText(const std::string& s) { return TrimText(s).empty(); }

// Every CR LF as one space.
std::string LineBreaksAsSpaces(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += ' ';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The first count characters (code points) of UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t count) {
    size_t chars = 0, i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == count) break;
    }
    return text.substr(0, i);
}

constexpr size_t MaxEncipheredChars = 325;

}  // namespace

TLuGSM::TLuGSM(TComponent* owner)
    : FInstanceName(NewGuid()), FPhone(std::make_unique<TPhone>(this)) {
    (void)owner;
    for (const char* line : {"AT&F", "ATE0", "AT+CMGF=0", "AT+CNMI=2,2,0,1,1", "AT+CLIP=1"})
        FInitStrings.Add(line);
    FillComPortList(FComPortList);

    FAutoConnectTimer.SetEnabled(false);
    FAutoConnectTimer.SetInterval(static_cast<unsigned>(FACTimerInterval.load()));
    FAutoConnectTimer.SetOnTimer([this] { AutoConnectTimerTick(); });
    FCheckTimer.SetEnabled(false);
    FCheckTimer.SetInterval(800);
    FCheckTimer.SetOnTimer([this] { CheckTimerTick(); });
    FCheckTimer.SetEnabled(FCheckPwrSig);
    FScanTimer.SetEnabled(false);
    FScanTimer.SetInterval(500);
    FScanTimer.SetOnTimer([this] { ScanTimerTick(); });
    FSearchStepTimer.SetEnabled(false);
    FSearchStepTimer.SetInterval(500);
    FSearchStepTimer.SetOnTimer([this] { ScanTimerTick(); });
}

TLuGSM::~TLuGSM() {
    FOnConnected = FOnDisconnected = FOnConnecting = FOnGSMActivate = FOnGSMDeActivate =
        FOnQuietError = FOnSMSMemoryFull = FOnGetPhoneBook = nullptr;
    FOnAfterComRx = nullptr;
    FOnNewSMS = nullptr;
    FOnRing = nullptr;
    FOnAfterSend = nullptr;
    FOnCheckSignalPower = nullptr;
    FOnGetModelGSM = nullptr;
    FOnSendProgress = nullptr;
    FOnSearchProgress = nullptr;
    FOnSecretSMS = nullptr;
    FOnNewQuestion = nullptr;
    FOnCallBusy = nullptr;
    for (TTimer* t : {&FAutoConnectTimer, &FCheckTimer, &FScanTimer, &FSearchStepTimer}) {
        t->SetEnabled(false);
        t->SetOnTimer(nullptr);
    }
    StopThread();
}

void TLuGSM::Loaded() {
    TComponent::Loaded();
    if (FActiveRequested) SetActive(true);
}

// ---------------------------------------------------------------- write rules

void TLuGSM::SetInstanceName(const std::string& value) {
    if (!BlankText(value)) return Set(FInstanceName, value);
    ShowMessage("Instance unique NAME must be set!");
    Set(FInstanceName, NewGuid());
}

void TLuGSM::SetInitStrings(const TStringList& value) {
    TStringList list = value;
    if (BlankText(value.Text())) {
        list.Clear();
        list.Add("AT");
    }
    Set(FInitStrings, list);
}

void TLuGSM::SetPrefixForCountry(const std::string& value) {
    if (!BlankText(value) && value[0] == '+') Set(FPrefixForCountry, value);
}

void TLuGSM::SetHardModemStop(bool value) {
    FHardModemStop = value;
    if (value) FAutoConnectTimer.SetEnabled(false);
}

void TLuGSM::SetTxMessageParts(const TStringList&) {
    ShowMessage("TxMessageParts - ReadOnly property!");
}

void TLuGSM::SetPhoneBook(const TStringList&) { ShowMessage("PhoneBook - ReadOnly property!"); }

void TLuGSM::SetACTimerInterval(int value) {
    FACTimerInterval = value;
    FAutoConnectTimer.SetInterval(value < 0 ? 0u : static_cast<unsigned>(value));
}

void TLuGSM::SetCheckPwrSig(bool value) {
    FCheckPwrSig = value;
    if (!value) return;
    FCheckTimer.SetInterval(200);
    FCheckTimer.SetEnabled(true);
}

void TLuGSM::SetCheckInterval(int value) {
    if (value < 1 || value > 1000) {
        ShowMessage("Możliwe wartości to: 1..1000 s");
        value = 5;
    }
    FCheckInterval = value;
    FCheckTimer.SetInterval(static_cast<unsigned>(value) * 1000u);
}

// Up to a minute: some phones take several seconds over an answer.
void TLuGSM::SetATTimeout(int value) {
    if (value < MinATTimeout || value > MaxATTimeout) {
        ShowMessage("Możliwe wartości to: 500..60000  [default = 1000]");
        value = 1000;
    }
    FATTimeout = value;
}

void TLuGSM::SetRecipientSepStart(char value) {
    if (value == ' ' || value == '.') {
        ShowMessage("Illegal character as StartSeparator - SPACE or DOT");
        FRecipientSepStart = 0;
    } else if (value == FRecipientSepStop) {
        ShowMessage("StartSeparator can't be the same as StopSeparator");
    } else {
        FRecipientSepStart = value;
    }
}

void TLuGSM::SetRecipientSepStop(char value) {
    if (value == ' ') {
        ShowMessage("Illegal character as StopSeparator - SPACE");
        FRecipientSepStop = 0;
    } else if (value == FRecipientSepStart) {
        ShowMessage("StopSeparator can't be the same as StartSeparator");
    } else {
        FRecipientSepStop = value;
    }
}

std::string TLuGSM::NormaliseNumber(const std::string& number) const {
    if (!FCheckNumberSyntax) return number;
    const std::string prefix = PrefixForCountry();
    std::string n = TrimText(number);
    if (n.compare(0, prefix.size(), prefix) == 0) n.erase(0, prefix.size());
    if (!n.empty() && n[0] == '0') n.erase(0, 1);
    return prefix + n;
}

// ---------------------------------------------------------------- the text to send

std::string TLuGSM::EncipherText(const std::string& text) const {
    const std::string key = SmsCipherKey(EncodePIN());
    return "66" + EncipherSmsText(key + FirstCharacters(text, MaxEncipheredChars), key) + "BB";
}

void TLuGSM::SetSMSText(const std::string& value) {
    const std::string working = TrimText(FCutCRLFfromText ? LineBreaksAsSpaces(value) : value);
    const std::string text = FEncodeSMS ? EncipherText(working) : working;
    Set(FSMSText, text);
    TStringList parts;
    if (!BlankText(value)) {
        auto reference = static_cast<uint8_t>(FReference & 0xFF);
        PlanMessageParts(SMSNumber(), text, SMSMessageMarker(), FSMSMergeMax, FSMSFlash,
                         FSpecialSymbols, FSMSReport, reference, parts);
        const int used = (FReference & ~0xFF) | reference;
        if (used != FReference) {
            FReference = used;
            StoreReference();
        }
    }
    Set(FTxMessageParts, parts);
}

std::string TLuGSM::ReferenceFile() const {
    return FReferenceFile.empty() ? DefaultReferenceFile() : FReferenceFile;
}

// The next run goes on from here. Written only once the stored value has been read (at
// activation), so that it is never replaced by a count that did not start from it.
void TLuGSM::StoreReference() {
    if (!FReferenceLoaded) return;
    const std::string file = ReferenceFile();
    if (WriteReferenceNumber(file, InstanceName(), FReference)) return;
    SetLastErrorText("ReferenceNumbers.ini not written: " + file + ": " + std::strerror(errno));
    ReportQuietError();
}

void TLuGSM::SetATCommand(const std::string& value) {
    Set(FATCommand, value);
    if (Loading()) return;
    if (!FActive || !FThread) {
        ShowMessage("Nie można wysłać polecenia AT (brak włączonej usługi GSM)");
        return;
    }
    if (!FConnected) {
        ShowMessage("Nie można wysłać polecenia AT (brak połączenia z Modemem GSM)");
        return;
    }
    FThread->AddCommand(value, true);
}

bool TLuGSM::SendSMS() {
    const TStringList parts = TxMessageParts();
    if (!FThread || !FConnected || parts.Empty()) return false;
    FThread->AddMessageParts(parts);
    DoSendProgress(static_cast<int>(FThread->SendQueueCount()));
    return true;
}

// ---------------------------------------------------------------- read-only values

void TLuGSM::SetCapacities(int sim, int phone) {
    FSMSSIMCapacity = sim;
    FSMSPhoneCapacity = phone;
}

void TLuGSM::AddPhoneBookLine(const std::string& line) {
    std::lock_guard<std::mutex> g(FLock);
    FPhoneBook.Add(line);
}

void TLuGSM::ClearPhoneBook() {
    std::lock_guard<std::mutex> g(FLock);
    FPhoneBook.Clear();
}

void TLuGSM::FillComPortList(TStringList& list) {
    try {
        std::string error;
        if (::FillComPortList(list, &error)) return;
        SetLastErrorText(ComPortEnumError);
        ReportQuietError();
    } catch (...) {
        // The list keeps what it held.
    }
}

const TStringList& TLuGSM::RefreshComPortList() {
    FillComPortList(FComPortList);
    return FComPortList;
}
