// The link and synchronisation side of the window: the components it creates and drives.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSystemTrayIcon>

#include "app/form1.h"
#include "app/port_combo.h"
#include "app/port_names.h"
#include "app/settings.h"
#include "app/widget_helpers.h"
#include "platform/locale_formats.h"
#include "serial/serialdevice.h"
#include "toolkit/eventlog.h"
#include "toolkit/messagebox.h"

namespace {
const char* const InstanceName = "{0F47050C-402E-4F86-B610-A821F5B0FB3D}";
const char* const GsmInstanceName = "{6A1D3F2E-8B47-4C59-9E10-2D7C5B8A4F31}";

// The port as the user named it, with the device that name opens where they differ (COM3 is
// /dev/ttyS2), so that a message about it points at the file to look at.
std::string PortForUser(const std::string& name) {
    const std::string device = TSerialDevice::DevicePathFor(name);
    return device == name ? name : name + " (" + device + ")";
}

TStringList ListOf(const std::vector<std::string>& lines) {
    TStringList l;
    for (const std::string& s : lines) l.Add(s);
    return l;
}
}  // namespace

void TForm1::CreateComponents() {
    ResolveBoardSettings();
    // The guard asks at once whether a copy runs; the answer comes once events flow.
    LuOneInstance1 = std::make_unique<TLuOneInstance>();
    LuOneInstance1->SetOnExist([this](TComponent*) { LuOneInstance1Exist(); });
    LuOneInstance1->SetOnRestore([this] { ShowFromTray(); });
    LuOneInstance1->SetInstanceName(InstanceName);

    LuComPort1 = std::make_unique<TLuComPort>();
    LuComPort1->BeginLoading();
    LuComPort1->SetComPort("COM4");
    LuComPort1->SetBaudRate("115200");
    LuComPort1->SetDataBits("8");
    LuComPort1->SetParityBits(prNone);
    LuComPort1->SetStopBits(sbOneStopBit);
    LuComPort1->SetCheckCmd("AT");
    LuComPort1->SetOnConnected([this](TComponent*) { LuComPort1Connected(); });
    LuComPort1->SetOnDisconnected([this](TComponent*) { LuComPort1Disconnected(); });
    LuComPort1->SetOnSendStr(
        [this](TComponent*, const std::string& line) { LuComPort1SendStr(line); });
    LuComPort1->SetOnRxString(
        [this](TComponent*, const std::string& line) { LuComPort1RxString(line); });
    LuComPort1->SetOnComError([this](TComponent*, int error, const std::string& text) {
        LuComPort1ComError(error, text);
    });
    LuComPort1->Loaded();

    const TProgramOptions& program = FOptions.Program;
    LuTimeSync1 = std::make_unique<TLuTimeSync>();
    LuTimeSync1->BeginLoading();
    LuTimeSync1->SetActive(false);
    const TSetClockMode clockMode = program.SetClock.value_or(StoredSetClockMode());
    LuTimeSync1->SetSetLocalTime(clockMode != TSetClockMode::Never);
    LuTimeSync1->SetDeferToTimeService(clockMode == TSetClockMode::Auto);
    if (!program.TimeServers.empty()) LuTimeSync1->SetTimeServerList(ListOf(program.TimeServers));
    LuTimeSync1->SetPHPsyncList(ListOf(program.TimeScripts));
    LuTimeSync1->SetTimeCaFile(program.TimeCa.value_or(StoredTimeCa()));
    LuTimeSync1->SetOnSync([this](TComponent*, TDateTime stamp) { LuTimeSync1Sync(stamp); });
    LuTimeSync1->SetOnSyncError([this](TComponent*) { LuTimeSync1SyncError(); });
    LuTimeSync1->Loaded();

    LuGSM1 = std::make_unique<TLuGSM>();
    LuGSM1->BeginLoading();
    LuGSM1->SetInstanceName(GsmInstanceName);
    LuGSM1->SetComPort("COM1");
    LuGSM1->SetBaudRate("115200");
    TStringList init;
    init.SetText("AT&F\r\nATE0\r\nAT+CMGF=0\r\nAT+CNMI=2,2,0,1,1\r\nAT+CLIP=1");
    LuGSM1->SetInitStrings(init);
    LuGSM1->SetPrefixForCountry("+48");
    LuGSM1->SetResetCMD("AT&F");
    LuGSM1->SetRecipientSepStart('=');
    LuGSM1->SetRecipientSepStop('.');
    LuGSM1->SetHangUpSignalCount(0);
    LuGSM1->Loaded();
}

// At creation the list comes from the com-port component, on drop-down from the GSM
// component's list, refreshed each time so that a board plugged in later appears; the
// typed text stays either way.
void TForm1::FillPortList(bool atCreation) {
    const QString text = ComboBox1->currentText();
    TStringList fresh;
    if (atCreation)
        fresh = LuComPort1->GetComPortList();
    else
        fresh = LuGSM1->RefreshComPortList();
    ComboBox1->clear();
    for (const auto& entry : fresh)
        ComboBox1->addItem(QString::fromStdString(PortShortName(entry.Text)));
    ComboBox1->setEditText(text);
}

void TForm1::ComboBox1DropDown() { FillPortList(false); }

void TForm1::SendCommandLine(const std::string& line) { LuComPort1->SendStr(line, false); }

bool TForm1::LinkConnected() const { return LuComPort1->Connected(); }

void TForm1::DeactivateComponents() {
    if (LuComPort1->Active()) LuComPort1->SetActive(false);
    if (LuTimeSync1->Active()) LuTimeSync1->SetActive(false);
    LuTimeSync1->StopWorkers();
}

void TForm1::ActivateTimeSync() { LuTimeSync1->SetActive(true); }

void TForm1::BitBtn4Click() {
    SetScreenCursorBusy(true);
    LuComPort1->SetActive(false);
    LuComPort1->SetComPort(PortPathFromText(ComboBox1->currentText().toStdString()));
    LuComPort1->SetBaudRate(ComboBox2->currentText().toStdString());
    FAttemptFailed = false;
    LuComPort1->SetActive(true);
    LuComPort1->SetConnected(true);
    RegWriteString("Port komunikacyjny", LuComPort1->ComPort(), SettingsKey);
    ShowMessageBox("Ustawiono pomyślnie      ", " INFORMACJA", MB_ICONINFORMATION | MB_OK);
    Timer1.SetEnabled(true);
}

void TForm1::BitBtn1Click() {
    Timer1.SetEnabled(false);
    LuComPort1->SetConnected(false);
    LuComPort1->SetActive(false);
}

void TForm1::Timer1Timer() {
    Timer1.SetInterval(5000);
    if (LuComPort1->Connected() || QuitRequested) return;
    LuComPort1->SetComPort(PortPathFromText(ComboBox1->currentText().toStdString()));
    LuComPort1->SetBaudRate(ComboBox2->currentText().toStdString());
    FAttemptFailed = false;
    if (!LuComPort1->Active()) LuComPort1->SetActive(true);
    if (!LuComPort1->Connected()) LuComPort1->SetConnected(true);
    SetScreenCursorBusy(true);
}

// The reconnect tick retries every 5 s: the user needs the reason once, not every time.
void TForm1::LuComPort1ComError(int /*error*/, const std::string& text) {
    // Configuring a port that did not open fails as well; the open's reason is the one.
    if (!FLinkUpLogged) {  // the link never came up in this attempt
        if (FAttemptFailed) return;
        FAttemptFailed = true;
    }
    FLinkFailures.Tell("port " + PortForUser(LuComPort1->ComPort()) + ": " + text);
}

void TForm1::LuComPort1Connected() {
    if (!FLinkUpLogged) LogEvent("link up on " + PortForUser(LuComPort1->ComPort()));
    FLinkUpLogged = true;
    FLinkFailures.Clear();
    SetBackground(Panel3, ColorRef(0x00FF00));
    if (!QuitRequested) {
        SetTrayIconIndex(1);
        SetTrayIconIndex(FCloseToTray ? 0 : 2);
    }
    TrayIcon1->setVisible(FTrayAvailable);  // a tray-less desktop has nothing to show it in
    SetScreenCursorBusy(false);
    // Boards that reset when the port opens need longer before the first line.
    FBoardUp = true;
    FBootPending = true;
    Timer2.SetInterval(static_cast<unsigned>(std::max(FBoard.BootMs, 1)));
    Timer2.SetEnabled(true);
    ComboBox1->setEnabled(false);
    ComboBox2->setEnabled(false);
}

void TForm1::LuComPort1Disconnected() {
    // Stopping the link reports its end more than once; the user needs one line. Timer1 runs
    // while the link should be up: without it, Stop or the quit closed the link.
    if (FLinkUpLogged)
        LogEvent((Timer1.Enabled() ? "link lost on " : "link closed on ") +
                 PortForUser(LuComPort1->ComPort()));
    FLinkUpLogged = false;
    FBoardUp = FBootPending = FLineHeld = false;  // the next connection boots the board anew
    SetBackground(Panel3, ColorRef(0x0000FF));
    if (!QuitRequested) SetScreenCursorBusy(false);
    ComboBox1->setEnabled(true);
    ComboBox2->setEnabled(true);
}

void TForm1::Label4Click() {
    if (!QuitRequested) LuTimeSync1->SyncNow();  // also SIGUSR1, which may come late
}

// The clock was set already: the board gets the PC's time, read afresh for each part.
void TForm1::LuTimeSync1Sync(TDateTime /*stamp*/) {
    SendSyncLine();
    Label2->setText(QString::fromStdString(FormatDateTime(LongTimeFormat(), NowLocal())));
    Label2->adjustSize();
    SetPickerDateTime(NowLocal());
}
