// The GSM component at run time: starting and stopping the modem thread, connection
// requests, automatic reconnection, the periodic readings and the port search.
#include <cstdio>

#include "gsm/lugsm.h"
#include "gsm/lugsmthread.h"
#include "gsm/refnumbers.h"
#include "toolkit/mainthread.h"
#include "toolkit/messagebox.h"

namespace {

// The thread is asked to stop and waited for in steps of this many ms, this many times.
constexpr int StopWaitStep = 10;
constexpr int StopWaitSteps = 3000;

}  // namespace

void TLuGSM::SetActive(bool value) {
    if (Loading()) {
        FActiveRequested = value;
        return;
    }
    if (value) {
        if (!FThread) StartThread();
        return;
    }
    StopThread();
    FUserDisconnect = false;
}

void TLuGSM::StartThread() {
    FReference = ReadReferenceNumber(ReferenceFile(), InstanceName());
    FReferenceLoaded = true;
    auto* thread = new TLuGSMThread(this);
    thread->SetFreeOnTerminate(true);
    thread->SetOnTerminate([this](TThread*) { ThreadEnded(); });
    FThread = thread;
    FActive = true;
    DoGSMActivate();
    thread->Start();
}

// A thread is never killed: every wait in it is bounded and cut short by the stop request,
// and it touches this component until it has ended, so this waits for it to end.
void TLuGSM::StopThread() {
    if (!FThread) return;
    FThread->RequestStop();
    for (int i = 0; i < StopWaitSteps && FThread; ++i) DelayWithMessages(StopWaitStep);
    if (FThread)
        std::fprintf(stderr,
                     "GSM: the modem thread has not ended 30 s after the stop request; "
                     "still waiting for it\n");
    while (FThread) {
        ProcessMessages();
        WaitForSynchronize(StopWaitStep);
    }
    // The thread object frees itself just after its end handler ran; let that happen so
    // that nothing of it outlives this component.
    for (int i = 0; i < 100 && TLuGSMThread::LiveCount() > 0; ++i) DelayWithMessages(1);
}

void TLuGSM::ThreadEnded() {
    FThread = nullptr;
    FActive = false;
    FConnected = false;
    DoGSMDeActivate();
}

void TLuGSM::SetConnected(bool value) {
    if (Loading()) return;
    if (!FActive || !FThread) {
        ShowMessage("Nie włączona usługa GSM dla portu: " + ComPort());
        return;
    }
    if (!value) FUserDisconnect = true;
    if (value == FConnected) return;
    if (value) {
        FThread->ClearCommands();
        FThread->SetPort(ComPort(), BaudRate());
        FThread->SearchStop = false;
        FThread->ConnectRequest = TLuGSMThread::crConnect;
        FUserDisconnect = false;
        FAttemptCount = 0;
        if (FCheckPwrSig) {
            FCheckTimer.SetInterval(500);
            FCheckTimer.SetEnabled(true);
        }
    } else {
        FThread->ConnectRequest = TLuGSMThread::crDisconnect;
    }
    FThread->Wake();
}

// ---------------------------------------------------------------- timers

void TLuGSM::AutoConnectTimerTick() {
    if (FAutoConnect && !FHardModemStop && !FNeverConnected) {
        if (FAutoConnectCNT <= 0)
            FAttemptCount = 0;
        else
            ++FAttemptCount;
        if (FAutoConnectCNT != 0 && FAttemptCount >= FAutoConnectCNT) {
            FAutoConnectTimer.SetEnabled(false);
            FAttemptCount = 0;
            return;
        }
        if (FThread) {
            FThread->SetPort(ComPort(), BaudRate());
            FThread->ConnectRequest = TLuGSMThread::crConnect;
            FThread->Wake();
        } else {
            FAutoConnect = false;
        }
    }
    FAutoConnectTimer.SetEnabled(false);
}

void TLuGSM::CheckTimerTick() {
    FCheckTimer.SetInterval(static_cast<unsigned>(FCheckInterval) * 1000u);
    if (!(FConnected && FActive && FCheckPwrSig && FThread)) return;
    if (FThread->SendQueueCount() > 0) return;
    const TModemAbilities a = FThread->Abilities();
    const std::string battery = a.CBC.Available ? a.CBC.Command : "AT+CBC";
    const std::string signal = a.CSQ.Available ? a.CSQ.Command : "AT+CSQ";
    if (!FThread->HasCommand(battery) && FCanCheckPower) FThread->AddCommand(battery);
    if (!FThread->HasCommand(signal)) {
        if (FCanCheckSignal)
            FThread->AddCommand(signal);
        else if (FThread->CommandCount() == 0)
            FThread->AddCommand("AT");
    }
}

// ---------------------------------------------------------------- port search

void TLuGSM::SearchModem() {
    if (!FThread) SetActive(true);
    RefreshComPortList();
    FSearching = true;
    FSearchIndex = 0;
    FSearchFound = 0;
    FScanTimer.SetEnabled(true);
}

void TLuGSM::StopSearch() {
    if (!FSearching) return;
    if (FThread && !FConnected) FThread->SearchStop = true;
    EndSearch(0, "", FSearchFound);
}

void TLuGSM::EndSearch(int progress, const std::string& port, int found) {
    FSearching = false;
    FScanTimer.SetEnabled(false);
    DoSearchProgress(progress, port, found);
}

void TLuGSM::ScanTimerTick() {
    FScanTimer.SetEnabled(false);
    if (!FSearching) return;
    const size_t count = FComPortList.Count();
    if (FSearchIndex >= count) {
        if (FSearchFound > 0)
            EndSearch(0, "", 2);
        else
            EndSearch(0, "brak modemu", 0);
        return;
    }
    const std::string port = FComPortList[FSearchIndex++];
    // Found -1: still searching.
    DoSearchProgress(static_cast<int>(FSearchIndex * 100 / count), port, -1);
    SetComPort(port);
    SetConnected(true);
}
