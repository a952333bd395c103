// The GSM component: drives a GSM modem or phone on a serial port through its modem thread,
// holds the whole configuration as properties and raises every event on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "toolkit/component.h"
#include "toolkit/datetime.h"
#include "toolkit/stringlist.h"
#include "toolkit/timer.h"

class TLuGSMThread;
class TLuGSM;

enum TCallStatus { inCall, outCall, connectCall, noCall, connectedCall };

// Concatenation data of a received message; for a status report Reference holds the
// message reference.
struct TUDHinfo {
    int32_t Reference = 0, Total = 0, Part = 0, Delivered = 0, Status = 0;
};

// One modem ability: found at initialisation, with the command that sets or reads it.
struct TATAbility {
    bool Available = false;
    std::string Command;
};
using TATCNMI = TATAbility;
using TATCMMS = TATAbility;
using TATCLIP = TATAbility;
using TATCBC = TATAbility;
using TATCSQ = TATAbility;
using TATCIND = TATAbility;
using TATCMER = TATAbility;
using TATCMGF = TATAbility;

using TOnAfterComRx = std::function<void(TComponent* sender, const TStringList& rxLines)>;
using TOnNewSMS = std::function<void(
    TComponent* sender, const std::string& pdu, const std::string& smsText,
    const std::string& telNr, const std::string& recipient, bool isUDH, const TUDHinfo& udhInfo,
    const std::string& smsTimeStamp, bool statusReport)>;
using TOnRing = std::function<void(TComponent* sender, const std::string& nrTel)>;
using TOnAfterSend = std::function<void(
    TComponent* sender, std::string& smsMessageMarker, const std::string& nrTel, int& sendingStatus,
    const std::string& smsText, int smsRef, int smsPartNr, int smsTotal, bool waitReport)>;
using TOnCheckSignalPower = std::function<void(TComponent* sender, int signal, bool acPower,
                                               int batteryStatus, const std::string& stringSignal)>;
using TOnGetModelGSM =
    std::function<void(TComponent* sender, const std::string& model, const std::string& imei,
                       const std::string& bios, int simCapacity, int phoneCapacity)>;
using TOnSendProgress = std::function<void(TComponent* sender, int queueSMS)>;
using TOnSearchProgress =
    std::function<void(TComponent* sender, int progress, const std::string& port, int found)>;
using TOnSecretSMS =
    std::function<void(TComponent* sender, const std::string& smsText, const std::string& from)>;
using TOnNewQuestion = std::function<void(TComponent* sender, const std::string& promoQuestion,
                                          const std::string& smsText, const std::string& number)>;
using TOnCallBusy = std::function<void(TComponent* sender, bool callBusy, TCallStatus status)>;

// The companion object of the component: five lists for the caller's use.
class TPhone {
public:
    explicit TPhone(TLuGSM* owner) : Owner(owner) {}
    TLuGSM* Owner;
    TStringList Lists[5];
};

// What OnNewSMS passes; the modem thread fills it just before raising the event.
struct TReceivedSMS {
    std::string PDU, SMSText, TelNr, Recipient, SMSTimeStamp;
    bool IsUDH = false, StatusReport = false;
    TUDHinfo UDHInfo;
};

// Identification found after connecting.
struct TModemIdentity {
    std::string Model, IMEI, Bios;
    int SIMCapacity = -88, PhoneCapacity = -77;
};

// A battery or signal reading.
struct TSignalReading {
    int Signal = -1;
    bool AcPower = false;
    int BatteryStatus = -1;
    std::string StringSignal;
};

class TLuGSM : public TComponent {
public:
    explicit TLuGSM(TComponent* owner = nullptr);
    // Stops a thread that is still running, waiting with messages, before anything goes.
    ~TLuGSM() override;
    TLuGSM(const TLuGSM&) = delete;
    TLuGSM& operator=(const TLuGSM&) = delete;

    void Loaded() override;

    // ---- published properties, in declaration order
    std::string InstanceName() const { return Get(FInstanceName); }
    void SetInstanceName(const std::string& value);
    std::string ComPort() const { return Get(FComPort); }
    void SetComPort(const std::string& value) { Set(FComPort, value); }
    bool Active() const { return FActive; }
    void SetActive(bool value);
    bool Connected() const { return FConnected; }
    void SetConnected(bool value);
    std::string BaudRate() const { return Get(FBaudRate); }
    void SetBaudRate(const std::string& value) { Set(FBaudRate, value); }
    TStringList InitStrings() const { return Get(FInitStrings); }
    void SetInitStrings(const TStringList& value);
    std::string PrefixForCountry() const { return Get(FPrefixForCountry); }
    void SetPrefixForCountry(const std::string& value);
    std::string OwnPhoneNumber() const { return Get(FOwnPhoneNumber); }
    void SetOwnPhoneNumber(const std::string& value) {
        Set(FOwnPhoneNumber, NormaliseNumber(value));
    }
    std::string ResetCMD() const { return Get(FResetCMD); }
    void SetResetCMD(const std::string& value) { Set(FResetCMD, value); }
    bool ResetModemOnClose() const { return FResetModemOnClose; }
    void SetResetModemOnClose(bool value) { FResetModemOnClose = value; }
    bool HardModemStop() const { return FHardModemStop; }
    void SetHardModemStop(bool value);
    bool SMSReport() const { return FSMSReport; }
    void SetSMSReport(bool value) { FSMSReport = value; }
    int SMSPDULength() const { return FSMSPDULength; }
    void SetSMSPDULength(int value) { FSMSPDULength = value; }
    std::string SMSPDU() const { return Get(FSMSPDU); }
    void SetSMSPDU(const std::string& value) { Set(FSMSPDU, value); }
    std::string SMSText() const { return Get(FSMSText); }
    void SetSMSText(const std::string& value);
    std::string SMSMessageMarker() const { return Get(FSMSMessageMarker); }
    void SetSMSMessageMarker(const std::string& value) { Set(FSMSMessageMarker, value); }
    TDateTime SMSTimeStamp() const { return FSMSTimeStamp; }
    void SetSMSTimeStamp(TDateTime value) { FSMSTimeStamp = value; }
    bool SMSFlash() const { return FSMSFlash; }
    void SetSMSFlash(bool value) { FSMSFlash = value; }
    bool DisableIncomingSMS() const { return FDisableIncomingSMS; }
    void SetDisableIncomingSMS(bool value) { FDisableIncomingSMS = value; }
    std::string UDHI() const { return Get(FUDHI); }
    void SetUDHI(const std::string& value) { Set(FUDHI, value); }
    bool IsUDH() const { return FIsUDH; }
    void SetIsUDH(bool value) { FIsUDH = value; }
    bool MakeLog() const { return FMakeLog; }
    void SetMakeLog(bool value) { FMakeLog = value; }
    std::string LogFileName() const { return Get(FLogFileName); }
    void SetLogFileName(const std::string& value) { Set(FLogFileName, value); }
    std::string ATCommand() const { return Get(FATCommand); }
    void SetATCommand(const std::string& value);
    bool SpecialSymbols() const { return FSpecialSymbols; }
    void SetSpecialSymbols(bool value) { FSpecialSymbols = value; }
    TStringList TxMessageParts() const { return Get(FTxMessageParts); }
    void SetTxMessageParts(const TStringList& value);
    std::string SMSNumber() const { return Get(FSMSNumber); }
    void SetSMSNumber(const std::string& value) { Set(FSMSNumber, NormaliseNumber(value)); }
    bool LongSMS() const { return FLongSMS; }
    void SetLongSMS(bool value) { FLongSMS = value; }
    bool SMSMerge() const { return FSMSMerge; }
    void SetSMSMerge(bool value) { FSMSMerge = value; }
    int SMSMergeMax() const { return FSMSMergeMax; }
    void SetSMSMergeMax(int value) { FSMSMergeMax = value < 2 ? 2 : value; }
    bool AutoConnect() const { return FAutoConnect; }
    void SetAutoConnect(bool value) { FAutoConnect = value; }
    int AutoConnectCNT() const { return FAutoConnectCNT; }
    void SetAutoConnectCNT(int value) { FAutoConnectCNT = value; }
    int ACTimerInterval() const { return FACTimerInterval; }
    void SetACTimerInterval(int value);
    bool CheckPwrSig() const { return FCheckPwrSig; }
    void SetCheckPwrSig(bool value);
    int CheckInterval() const { return FCheckInterval; }
    void SetCheckInterval(int value);
    bool GetUnreaded() const { return FGetUnreaded; }
    void SetGetUnreaded(bool value) { FGetUnreaded = value; }
    TStringList PhoneBook() const { return Get(FPhoneBook); }
    void SetPhoneBook(const TStringList& value);
    bool AddrBookPhone() const { return FAddrBookPhone; }
    void SetAddrBookPhone(bool value) { FAddrBookPhone = value; }
    bool AddrBookSIM() const { return FAddrBookSIM; }
    void SetAddrBookSIM(bool value) { FAddrBookSIM = value; }
    int ATDelay() const { return FATDelay; }
    void SetATDelay(int value) { FATDelay = value; }
    int ATTimeout() const { return FATTimeout; }
    static constexpr int MinATTimeout = 500, MaxATTimeout = 60000;
    void SetATTimeout(int value);
    int SMSSIMCapacity() const { return FSMSSIMCapacity; }
    int SMSPhoneCapacity() const { return FSMSPhoneCapacity; }
    bool DeleteSMSafterRead() const { return FDeleteSMSafterRead; }
    void SetDeleteSMSafterRead(bool value) { FDeleteSMSafterRead = value; }
    bool CanCheckPower() const { return FCanCheckPower; }
    void SetCanCheckPower(bool value) { FCanCheckPower = value; }
    bool CanCheckSignal() const { return FCanCheckSignal; }
    void SetCanCheckSignal(bool value) { FCanCheckSignal = value; }
    TStringList RecipientsTable() const { return Get(FRecipientsTable); }
    void SetRecipientsTable(const TStringList& value) { Set(FRecipientsTable, value); }
    TStringList RecipientsGroups() const { return Get(FRecipientsGroups); }
    void SetRecipientsGroups(const TStringList& value) { Set(FRecipientsGroups, value); }
    std::string Recipient() const { return Get(FRecipient); }
    void SetRecipient(const std::string& value) { Set(FRecipient, value); }
    char RecipientSepStart() const { return FRecipientSepStart; }
    void SetRecipientSepStart(char value);
    char RecipientSepStop() const { return FRecipientSepStop; }
    void SetRecipientSepStop(char value);
    bool CutCRLFfromText() const { return FCutCRLFfromText; }
    void SetCutCRLFfromText(bool value) { FCutCRLFfromText = value; }
    bool HangUpVoiceConnection() const { return FHangUpVoiceConnection; }
    void SetHangUpVoiceConnection(bool value) { FHangUpVoiceConnection = value; }
    int HangUpSignalCount() const { return FHangUpSignalCount; }
    void SetHangUpSignalCount(int value) { FHangUpSignalCount = value; }
    bool AutoModemINIT() const { return FAutoModemINIT; }
    void SetAutoModemINIT(bool value) { FAutoModemINIT = value; }
    bool EncodeSMS() const { return FEncodeSMS; }
    void SetEncodeSMS(bool value) { FEncodeSMS = value; }
    std::string EncodePIN() const { return Get(FEncodePIN); }
    void SetEncodePIN(const std::string& value) { Set(FEncodePIN, value); }
    bool DisableAutoRxSMS() const { return FDisableAutoRxSMS; }
    void SetDisableAutoRxSMS(bool value) { FDisableAutoRxSMS = value; }
    TStringList PromoQuestions() const { return Get(FPromoQuestions); }
    void SetPromoQuestions(const TStringList& value) { Set(FPromoQuestions, value); }
    bool CheckNumberSyntax() const { return FCheckNumberSyntax; }
    void SetCheckNumberSyntax(bool value) { FCheckNumberSyntax = value; }
    bool EnableCIEV() const { return FEnableCIEV; }
    void SetEnableCIEV(bool value) { FEnableCIEV = value; }
    bool CallBusy() const { return FCallBusy; }
    bool SendOneSignal() const { return FSendOneSignal; }
    void SetSendOneSignal(bool value) { FSendOneSignal = value; }

    // ---- events
    void SetOnConnected(TNotifyEvent h) { FOnConnected = std::move(h); }
    void SetOnDisconnected(TNotifyEvent h) { FOnDisconnected = std::move(h); }
    void SetOnConnecting(TNotifyEvent h) { FOnConnecting = std::move(h); }
    void SetOnGSMActivate(TNotifyEvent h) { FOnGSMActivate = std::move(h); }
    void SetOnGSMDeActivate(TNotifyEvent h) { FOnGSMDeActivate = std::move(h); }
    void SetOnAfterComRx(TOnAfterComRx h) { FOnAfterComRx = std::move(h); }
    void SetOnNewSMS(TOnNewSMS h) { FOnNewSMS = std::move(h); }
    void SetOnRing(TOnRing h) { FOnRing = std::move(h); }
    void SetOnQuietError(TNotifyEvent h) { FOnQuietError = std::move(h); }
    void SetOnAfterSend(TOnAfterSend h) { FOnAfterSend = std::move(h); }
    void SetOnCheckSignalPower(TOnCheckSignalPower h) { FOnCheckSignalPower = std::move(h); }
    void SetOnGetModelGSM(TOnGetModelGSM h) { FOnGetModelGSM = std::move(h); }
    void SetOnSendProgress(TOnSendProgress h) { FOnSendProgress = std::move(h); }
    void SetOnSearchProgress(TOnSearchProgress h) { FOnSearchProgress = std::move(h); }
    void SetOnSecretSMS(TOnSecretSMS h) { FOnSecretSMS = std::move(h); }
    void SetOnSMSMemoryFull(TNotifyEvent h) { FOnSMSMemoryFull = std::move(h); }
    void SetOnGetPhoneBook(TNotifyEvent h) { FOnGetPhoneBook = std::move(h); }
    void SetOnNewQuestion(TOnNewQuestion h) { FOnNewQuestion = std::move(h); }
    void SetOnCallBusy(TOnCallBusy h) { FOnCallBusy = std::move(h); }

    // ---- operations
    // The number with the country prefix, as the numbers of this component are kept.
    std::string NormaliseNumber(const std::string& number) const;
    // The serial ports in numeric order (COM2 before COM10) into list.
    void FillComPortList(TStringList& list);
    // Refills ComPortList from the system and returns it.
    const TStringList& RefreshComPortList();
    // Raises OnQuietError and appends LastErrorText to the log file when asked to.
    void ReportQuietError();
    // Queues the parts of the current SMSText (TxMessageParts) for sending: set
    // SMSNumber and SMSText, then call this. False when not connected or nothing to send.
    bool SendSMS();
    // Walks ComPortList, trying each port until a modem answers (OnSearchProgress).
    void SearchModem();
    // Ends a running search; a connection attempt on the current port is dropped.
    void StopSearch();

    // ---- public, non-published
    const TStringList& ComPortList() const { return FComPortList; }
    std::string LastErrorText() const { return Get(FLastErrorText); }
    void SetLastErrorText(const std::string& text) { Set(FLastErrorText, text); }
    TLuGSMThread* GSMThread() const { return FThread; }
    TPhone& Phone() { return *FPhone; }
    int ReferenceNumber() const { return FReference; }
    // Received-message fields, identification and readings as the last event passed them.
    TReceivedSMS Received;
    TModemIdentity Identity;
    TSignalReading Reading;
    std::string RingNumber;
    TCallStatus CallStatus = noCall;
    bool Searching() const { return FSearching; }
    bool NeverConnected() const { return FNeverConnected; }
    bool UserDisconnect() const { return FUserDisconnect; }
    int AttemptCount() const { return FAttemptCount; }
    // The timers, for tests that drive them by their tick handlers.
    TTimer& AutoConnectTimer() { return FAutoConnectTimer; }
    TTimer& CheckTimer() { return FCheckTimer; }
    TTimer& ScanTimer() { return FScanTimer; }
    TTimer& SearchStepTimer() { return FSearchStepTimer; }
    // Where ReferenceNumbers.ini is read at activation and written back whenever a long
    // message used references (beside the executable unless set).
    void SetReferenceFile(const std::string& path) { FReferenceFile = path; }
    std::string ReferenceFile() const;

    // ---- dispatchers: the modem thread calls them on the main thread
    void DoConnecting();
    void DoConnected();     // the modem thread finished initialising
    void DoDisconnected();  // the modem thread closed the link or failed to open it
    void DoGSMActivate();
    void DoGSMDeActivate();
    void DoAfterComRx(const TStringList& lines);
    void DoNewSMS();
    void DoRing();
    void DoAfterSend(std::string& marker, const std::string& number, int& status,
                     const std::string& text, int ref, int part, int total, bool waitReport);
    void DoCheckSignalPower();
    void DoGetModelGSM();
    void DoSendProgress(int queue);
    void DoSearchProgress(int progress, const std::string& port, int found);
    void DoSecretSMS(const std::string& text, const std::string& from);
    void DoSMSMemoryFull();  // any thread
    void DoGetPhoneBook();
    void DoNewQuestion(const std::string& question, const std::string& text,
                       const std::string& number);
    void DoCallBusy(bool busy, TCallStatus status);
    // Thread-side writers of read-only properties (run on the main thread).
    void SetCapacities(int sim, int phone);
    void SetCallBusy(bool busy) { FCallBusy = busy; }
    void AddPhoneBookLine(const std::string& line);
    void ClearPhoneBook();
    void SetNeverConnected(bool value) { FNeverConnected = value; }
    void SetConnectedState(bool value) { FConnected = value; }

    // The thread's handlers (main thread).
    void AutoConnectTimerTick();
    void CheckTimerTick();
    void ScanTimerTick();

private:
    template <typename T>
    T Get(const T& field) const {
        std::lock_guard<std::mutex> g(FLock);
        return field;
    }
    template <typename T>
    void Set(T& field, const T& value) {
        std::lock_guard<std::mutex> g(FLock);
        field = value;
    }
    void StartThread();
    void StopThread();
    void ThreadEnded();
    void AppendLogLine(const std::string& text);
    std::string EncipherText(const std::string& text) const;
    void EndSearch(int progress, const std::string& port, int found);
    void StoreReference();

    mutable std::mutex FLock;  // guards the strings and lists the thread reads
    std::string FInstanceName, FComPort = "COM1", FBaudRate = "115200", FPrefixForCountry = "+48",
                               FOwnPhoneNumber, FResetCMD = "AT&F", FSMSPDU, FSMSText,
                               FSMSMessageMarker, FUDHI, FLogFileName, FATCommand, FSMSNumber,
                               FEncodePIN, FRecipient, FLastErrorText = "OK";
    TStringList FInitStrings, FTxMessageParts, FPhoneBook, FRecipientsTable, FRecipientsGroups,
        FPromoQuestions;
    std::atomic<bool> FActive{false}, FConnected{false}, FResetModemOnClose{true},
        FHardModemStop{false}, FSMSReport{false}, FSMSFlash{false}, FDisableIncomingSMS{false},
        FIsUDH{false}, FMakeLog{false}, FSpecialSymbols{false}, FLongSMS{false}, FSMSMerge{true},
        FAutoConnect{true}, FCheckPwrSig{true}, FGetUnreaded{true}, FAddrBookPhone{true},
        FAddrBookSIM{true}, FDeleteSMSafterRead{false}, FCanCheckPower{true}, FCanCheckSignal{true},
        FCutCRLFfromText{true}, FHangUpVoiceConnection{false}, FAutoModemINIT{true},
        FEncodeSMS{false}, FDisableAutoRxSMS{true}, FCheckNumberSyntax{true}, FEnableCIEV{true},
        FCallBusy{false}, FSendOneSignal{false};
    std::atomic<int> FSMSPDULength{0}, FSMSMergeMax{3}, FAutoConnectCNT{0}, FACTimerInterval{2000},
        FCheckInterval{5}, FATDelay{20}, FATTimeout{2000}, FSMSSIMCapacity{0}, FSMSPhoneCapacity{0},
        FHangUpSignalCount{0};
    std::atomic<char> FRecipientSepStart{'='}, FRecipientSepStop{'.'};
    TDateTime FSMSTimeStamp = 0;

    TStringList FComPortList;
    std::unique_ptr<TPhone> FPhone;
    TLuGSMThread* FThread = nullptr;
    bool FActiveRequested = false;  // Active written while loading
    std::atomic<bool> FUserDisconnect{false}, FNeverConnected{true};
    int FAttemptCount = 0;
    int FReference = 0;
    std::string FReferenceFile;
    bool FReferenceLoaded = false;
    bool FLogFailureShown = false;

    // Port search.
    bool FSearching = false;
    size_t FSearchIndex = 0;
    int FSearchFound = 0;

    TTimer FAutoConnectTimer, FCheckTimer, FScanTimer, FSearchStepTimer;

    TNotifyEvent FOnConnected, FOnDisconnected, FOnConnecting, FOnGSMActivate, FOnGSMDeActivate,
        FOnQuietError, FOnSMSMemoryFull, FOnGetPhoneBook;
    TOnAfterComRx FOnAfterComRx;
    TOnNewSMS FOnNewSMS;
    TOnRing FOnRing;
    TOnAfterSend FOnAfterSend;
    TOnCheckSignalPower FOnCheckSignalPower;
    TOnGetModelGSM FOnGetModelGSM;
    TOnSendProgress FOnSendProgress;
    TOnSearchProgress FOnSearchProgress;
    TOnSecretSMS FOnSecretSMS;
    TOnNewQuestion FOnNewQuestion;
    TOnCallBusy FOnCallBusy;
};
