// Connecting: opening the port, waking the modem, probing what it can do, initialising,
// identifying it and reading its storage and phone-book sizes.
#include "gsm/lugsmthread.h"
#include "gsm/modemreplies.h"
#include "net/netutil.h"

namespace {

bool Failed(const std::string& reply) { return reply.find("myERR") != std::string::npos; }

// The phone books are read in one request each; a modem claiming more entries than this
// is read only this far.
constexpr int MaxPhoneBookRead = 1000;

}  // namespace

bool TLuGSMThread::OpenAndConfigure() {
    std::string port, baudText;
    {
        std::lock_guard<std::mutex> g(FLock);
        port = FPort;
        baudText = FBaud;
    }
    Serial.ClosePort();
    Serial.LineBuffer.clear();
    Serial.RaiseExcept = false;
    Serial.OpenPort(port);
    if (Serial.LastError() != 0) {
        ReportError("SerialConnect error [" + FOwner->ComPort() + "] : " + Serial.LastErrorDesc());
        Serial.ClosePort();
        ModemOff();
        OnMain([this] { FOwner->DoDisconnected(); });
        return false;
    }
    int baud = 0;
    const bool readable = ReadBoundedInt(baudText, 1, 100000000, baud) ||
                          ReadBoundedInt(FOwner->BaudRate(), 1, 100000000, baud);
    if (readable) Serial.ConfigurePort(baud, 8, 'N', 0, false, false);
    if (!readable || Serial.LastError() != 0) {
        if (!ReadBoundedInt(baudText, 1, 100000000, baud)) baud = 9600;
        Serial.ConfigurePort(baud, 8, 'N', 0, false, false);
    }
    return true;
}

bool TLuGSMThread::WakeModem() {
    Serial.DeadlockTimeout = 1000;
    Serial.AtTimeout = FOwner->ATTimeout();
    Serial.SendModemCommand("AT");
    Serial.SendModemCommand("AT");
    if (Serial.LastError() == 0) return true;
    const std::string desc = Serial.LastErrorDesc();
    Error = true;
    ModemOff();
    ReportError("Modem CONNECT ERROR [" + FOwner->ComPort() + "] (deadlockTimeout) : " + desc);
    return false;
}

void TLuGSMThread::ProbeOne(const std::string& probe, TATAbility& ability,
                            const std::string& notAvailable) {
    const std::string reply = SendSerialAT(probe, true);
    ability.Available = !Failed(reply);
    Log(ability.Available ? reply : notAvailable);
    RaiseAfterComRx();
    if (!ability.Available) return;
    if (probe == "AT+CNMI=?") {
        ability.Command = NewMessageRoutingCommand(reply, FOwner->DisableAutoRxSMS());
    } else if (probe == "AT+CMMS=?" || probe == "AT+CLIP=?") {
        const int v = HighestFirstGroupValue(reply, probe == "AT+CMMS=?" ? "+CMMS:" : "+CLIP:");
        ability.Command = v < 0 ? "" : probe.substr(0, probe.size() - 1) + std::to_string(v);
    } else if (probe == "AT+CBC=?" || probe == "AT+CSQ=?") {
        ability.Command = probe.substr(0, probe.size() - 2);
    } else if (probe == "AT+CMER=?") {
        ability.Command = "AT+CMER=2,0,0,2";
    }
    // A reply that cannot be read leaves the setting unknown: the ability is not used.
    if (ability.Command.empty() && probe != "AT+CIND?" && probe != "AT+CMGF=?")
        ability.Available = false;
}

bool TLuGSMThread::ProbeAbilities() {
    TModemAbilities a;
    ProbeOne("AT+CNMI=?", a.CNMI, "AT+CNMI -----> NOT AVAILABLE!");
    ProbeOne("AT+CMMS=?", a.CMMS, "AT+CMMS -----> NOT AVAILABLE!");
    ProbeOne("AT+CLIP=?", a.CLIP, "AT+CLIP -----> NOT AVAILABLE!");
    ProbeOne("AT+CIND?", a.CIND, "AT+CIND -----> NOT AVAILABLE!");
    // The indicator order, for the report dispatch to number "+CIEV:" by name.
    const std::string list = SendSerialAT("AT+CIND=?", true);
    ProbeOne("AT+CMER=?", a.CMER, "AT+CMER -----> NOT AVAILABLE!");
    ProbeOne("AT+CBC=?", a.CBC, "AT+CBC -----> NOT AVAILABLE!");
    ProbeOne("AT+CSQ=?", a.CSQ, "AT+CSQ -----> NOT AVAILABLE!");
    ProbeOne("AT+CMGF=?", a.CMGF, "myERR * AT+CMGF -----> NOT AVAILABLE!");
    std::lock_guard<std::mutex> g(FLock);
    FAbilities = a;
    FIndicatorList = Failed(list) ? "" : list;
    return Serial.InstanceActive();
}

bool TLuGSMThread::InitialiseModem() {
    std::vector<std::string> commands;
    TModemAbilities a = Abilities();
    if (FOwner->AutoModemINIT()) {
        commands = {"AT", "AT&F", "ATZ", "ATE0", "AT+CMGF=0"};
        if (!FOwner->DisableIncomingSMS() && a.CNMI.Available) commands.push_back(a.CNMI.Command);
        if (a.CLIP.Available) commands.push_back(a.CLIP.Command);
        if (a.CMER.Available && FOwner->EnableCIEV()) commands.push_back(a.CMER.Command);
        if (a.CBC.Available) commands.push_back(a.CBC.Command);
        if (a.CSQ.Available) commands.push_back(a.CSQ.Command);
    } else {
        for (const auto& e : FOwner->InitStrings()) {
            commands.push_back(e.Text);
            if (e.Text.find("AT+CMMS") != std::string::npos) a.CMMS = {true, "AT+CMMS=1"};
            if (e.Text.find("AT+CSQ") != std::string::npos) a.CSQ = {true, "AT+CSQ"};
            if (e.Text.find("AT+CBC") != std::string::npos) a.CBC = {true, "AT+CBC"};
        }
        std::lock_guard<std::mutex> g(FLock);
        FAbilities = a;
    }
    for (const std::string& command : commands) {
        const std::string reply = SendSerialAT(command, false);
        Log(reply);
        Log(command);
        RaiseAfterComRx();
        if (!Serial.InstanceActive()) return false;
        if (reply.find("OK") == std::string::npos) ReportError("PROPERTY ERROR ---> " + command);
    }
    return true;
}

void TLuGSMThread::Identify() {
    Log(SendSerialAT("ATI", true));
    const std::string maker = SendSerialAT("AT+CGMI", true);
    const std::string model = SendSerialAT("ATI3", true);
    Log(maker);
    Log(model);
    for (const char* c : {"ATI0", "ATI1", "ATI2", "ATI4"})
        Log(std::string(c) + " -> " + SendSerialAT(c, true));
    Log("CGMM -> " + SendSerialAT("AT+CGMM", true));
    TModemIdentity id;
    id.Model = TrimText(ReplyLine(maker, 1)) + "/" + TrimText(ReplyLine(model, 1));
    id.IMEI = TrimText(ReplyLine(SendSerialAT("AT+CGSN", true), 1));
    id.Bios = TrimText(WithoutFinalOk(SendSerialAT("AT+CGMR", true)));
    Log(id.IMEI);
    Log(id.Bios);
    RaiseAfterComRx();
    int used = 0;
    if (!ReadStorageUse(SendSerialAT("AT+CPMS=\"SM\"", true), used, id.SIMCapacity))
        id.SIMCapacity = -88;
    if (!ReadStorageUse(SendSerialAT("AT+CPMS=\"ME\"", true), used, id.PhoneCapacity))
        id.PhoneCapacity = -77;
    OnMain([this, &id] {
        FOwner->Identity = id;
        FOwner->SetCapacities(id.SIMCapacity, id.PhoneCapacity);
        FOwner->DoGetModelGSM();
    });
}

// Reads the size of one phone book; returns the commands that read its entries.
std::vector<std::string> TLuGSMThread::ReadPhoneBookSizes(const std::string& book) {
    const std::string select = "AT+CPBS=\"" + book + "\"";
    const std::string selected = SendSerialAT(select, true);
    const std::string rangeReply = SendSerialAT("AT+CPBR=?", true);
    const std::string useReply = SendSerialAT("AT+CPBS?", true);
    Log(selected + rangeReply + useReply);
    TPhoneBookRange range;
    int used = 0, total = 0;
    const bool hasRange = !Failed(selected) && ReadPhoneBookRange(rangeReply, range);
    ReadPhoneBookUse(useReply, used, total);
    if (!hasRange || (total > 0 && used == 0)) return {};
    const int last = std::min(range.Last, range.First + MaxPhoneBookRead - 1);
    return {select, "AT+CPBR=" + std::to_string(range.First) + "," + std::to_string(last)};
}

// Names are asked for in UCS-2, which the report dispatch reads, and the set in use before
// is restored after the reads. Modems answer in their current set (often IRA or GSM), so
// without the switch the names would be misread; one that refuses UCS-2 gives its names in
// the set it reported.
std::vector<std::string> TLuGSMThread::InCharacterSetForNames(
    const std::vector<std::string>& reads) {
    std::string previous;
    const bool known = ReadCharacterSet(SendSerialAT("AT+CSCS?", true), previous);
    {
        std::lock_guard<std::mutex> g(FLock);
        FCharacterSet = known ? previous : "";
    }
    if (reads.empty() || !known || previous == "UCS2") return reads;
    std::vector<std::string> wrapped = {"AT+CSCS=\"UCS2\""};
    wrapped.insert(wrapped.end(), reads.begin(), reads.end());
    wrapped.push_back("AT+CSCS=\"" + previous + "\"");
    return wrapped;
}

void TLuGSMThread::QueueStartCommands(const std::vector<std::string>& phoneBookReads) {
    std::vector<std::string> front;
    const TModemAbilities a = Abilities();
    if (FOwner->CheckPwrSig()) {
        if (FOwner->CanCheckPower() && a.CBC.Available) front.push_back(a.CBC.Command);
        if (FOwner->CanCheckSignal() && a.CSQ.Available) front.push_back(a.CSQ.Command);
    }
    if (FOwner->GetUnreaded()) {
        // A storage whose size the modem refused to tell (no phone storage) is not read:
        // selecting it would fail and drop the link.
        const bool sim = FOwner->SMSSIMCapacity() >= 0, phone = FOwner->SMSPhoneCapacity() >= 0;
        if (sim) front.insert(front.end(), {"AT+CPMS=\"SM\"", "AT+CMGL=0"});
        if (phone) front.insert(front.end(), {"AT+CPMS=\"ME\"", "AT+CMGL=0"});
        if (!sim && !phone) front.push_back("AT+CMGL=0");
    }
    front.insert(front.end(), phoneBookReads.begin(), phoneBookReads.end());
    // The character-set commands run tolerant: a refusal only means names as they come.
    {
        std::lock_guard<std::mutex> g(FLock);
        for (size_t i = 0; i < front.size(); ++i)
            FCommandQueue.Insert(i, front[i], SelectedCharacterSet(front[i]).empty() ? 0 : 1);
    }
    Wake();
}

bool TLuGSMThread::ConnectModem() {
    Error = false;
    Closing = false;
    Step = 1;
    {
        TModemAbilities a;
        if (!FOwner->AutoModemINIT()) {
            a.CNMI.Command = "AT+CNMI";
            a.CMMS.Command = "AT+CMMS";
            a.CLIP.Command = "AT+CLIP";
            a.CSQ.Command = "AT+CSQ";
            a.CBC.Command = "AT+CBC";
            a.CIND.Command = "AT+CIND?";
            a.CMER.Command = "AT+CMER";
            a.CMGF.Command = "AT+CMGF";
        } else {
            for (TATAbility* x :
                 {&a.CNMI, &a.CMMS, &a.CLIP, &a.CSQ, &a.CBC, &a.CIND, &a.CMER, &a.CMGF})
                x->Command = "AT";
        }
        std::lock_guard<std::mutex> g(FLock);
        FAbilities = a;
        FIndicatorList.clear();
    }
    OnMain([this] { FOwner->DoConnecting(); });
    if (!OpenAndConfigure()) return false;
    Step = 2;
    Log("Initializing Modem GSM\r\n");
    RaiseAfterComRx();
    if (!WakeModem()) return false;
    Step = 3;
    Serial.DeadlockTimeout = 30000;
    for (int i = 0; i < 3; ++i)
        if (Failed(SendSerialAT("AT&F", false))) return false;
    Step = 4;
    if (FOwner->AutoModemINIT() && !ProbeAbilities()) return false;
    Step = 5;
    if (!InitialiseModem()) return false;
    Step = 6;
    if (SendSerialAT("AT", true).find("OK") == std::string::npos || !Serial.InstanceActive())
        return false;
    IsConnected = true;
    OnMain([this] {
        FOwner->SetConnectedState(true);
        FOwner->SetNeverConnected(false);
    });
    Step = 7;
    Identify();
    OnMain([this] { FOwner->ClearPhoneBook(); });  // read afresh at every connection
    std::vector<std::string> reads = ReadPhoneBookSizes("SM");
    const std::vector<std::string> phone = ReadPhoneBookSizes("ME");
    reads.insert(reads.end(), phone.begin(), phone.end());
    RaiseAfterComRx();
    const int queued = static_cast<int>(SendQueueCount());
    OnMain([this, queued] { FOwner->DoSendProgress(queued); });
    QueueStartCommands(InCharacterSetForNames(reads));
    Step = 0;
    return IsConnected;
}
