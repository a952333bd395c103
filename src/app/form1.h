// The main window: owns every component, reads the settings at creation, connects the
// serial link on a timer, starts the time synchronisation, turns each synchronisation into
// one command line for the microcontroller and lives in the tray instead of closing.
#pragma once

#include <QIcon>
#include <QWidget>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/board_options.h"
#include "app/board_replies.h"
#include "app/lu_oneinstance.h"
#include "app/options.h"
#include "gsm/lugsm.h"
#include "serial/lucomport.h"
#include "timesync/lutimesync.h"
#include "toolkit/datetime.h"
#include "toolkit/eventlog.h"
#include "toolkit/timer.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTimeEdit;
class QTimer;
class THoverLabel;
class TPortComboBox;

// Set by every path that really ends the program; never reset.
extern bool QuitRequested;

struct TFormOptions {
    // Whether a notification area is there; unset asks the desktop, now and while running.
    int TrayAvailable = -1;
    TProgramOptions Program;
};

class TForm1 : public QWidget {
public:
    explicit TForm1(TFormOptions options = {});
    ~TForm1() override;

    // Controls, named as the window's design names them.
    THoverLabel* Label4 = nullptr;
    THoverLabel* Label5 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label2 = nullptr;
    THoverLabel* wwwLB = nullptr;
    QLabel* cpyLb = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label1 = nullptr;
    THoverLabel* Label3 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Panel3 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    TPortComboBox* ComboBox1 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QDateEdit* DateTimePicker1 = nullptr;
    QTimeEdit* DateTimePicker2 = nullptr;
    QLineEdit* Edit1 = nullptr;

    // Components, created before the controls read their settings.
    std::unique_ptr<TLuComPort> LuComPort1;
    std::unique_ptr<TLuTimeSync> LuTimeSync1;
    std::unique_ptr<TLuOneInstance> LuOneInstance1;
    // Created with its design values and never activated: its port list fills the port box.
    std::unique_ptr<TLuGSM> LuGSM1;

    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    TTimer Timer1;
    TTimer Timer2;
    // Follows the tray: a panel may start after the program, or go away while it runs.
    TTimer TrayCheck;

    int TrayIconIndex() const { return FTrayIconIndex; }
    bool TrayAvailable() const { return FTrayAvailable; }
    bool CloseToTray() const { return FCloseToTray; }

    void SetPickerDateTime(TDateTime value);
    // The line for a date and a time in the user's formats, with Edit1's prefix.
    std::string CommandLine(TDateTime date, TDateTime time) const;

    // Handlers, named control plus event.
    void FormCreate();
    bool FormCloseQuery();
    void FormHide();
    void EndSession();
    void Label3Click();
    void Label4Click();
    void Label5Click();
    void wwwLBClick();
    void BitBtn4Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void CheckBox1Click();
    void CheckBox2Click();
    void ComboBox1DropDown();
    void ComboBox2Change();
    void Timer1Timer();
    void Timer2Timer();
    void LuComPort1Connected();
    void LuComPort1Disconnected();
    void LuComPort1SendStr(const std::string& line);
    void LuComPort1RxString(const std::string& line);
    void LuComPort1ComError(int error, const std::string& text);
    void LuTimeSync1Sync(TDateTime stamp);
    void LuTimeSync1SyncError();
    void LuOneInstance1Exist();
    void TrayIcon1Click();
    void Pokaz1Click();
    void Ukryj1Click();
    void Zamknij1Click();
    void TrayCheckTimer();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void CreateControls();
    void CreateLabels();
    void CreateLinkControls();
    void CreatePickersAndSettings();
    void FitTimePicker();
    void CreateTray();
    void CreateComponents();
    void ConnectHandlers();
    void ConnectHoverEffects();
    void SetTrayIconIndex(int index);
    void ShowFromTray();
    void RequestQuit();
    void TrayPresenceChanged(bool available);
    // The link and synchronisation side: the components the window drives.
    void FillPortList(bool atCreation);
    void SendCommandLine(const std::string& line);
    bool LinkConnected() const;
    void DeactivateComponents();
    void ActivateTimeSync();
    // The board side (form1_board.cpp): its settings for this run, the line after a
    // synchronisation and the read-back query.
    void ResolveBoardSettings();
    void SendSyncLine();
    bool BoardBooting() const;
    void SendBoardQuery();

    TFormOptions FOptions;
    bool FTrayAvailable = false;
    bool FCloseToTray = false;
    bool FLinkUpLogged = false;
    TFailuresTold FLinkFailures;
    bool FAttemptFailed = false;  // this connection attempt has told its reason
    bool FPainted = false;
    int FTrayIconIndex = 2;
    std::vector<QIcon> FTrayImages;
    TBoardSettings FBoard;
    TReplyRateLimit FReplyLimit;
    // A board that resets when the port opens is deaf until Timer2 ends its boot time; a
    // line due meanwhile is held until then.
    bool FBoardUp = false;
    bool FBootPending = false;
    bool FLineHeld = false;
    std::string FLastSyncLine;
    QTimer* FQueryTimer = nullptr;  // the query after an aligned line
    std::chrono::system_clock::time_point FQuerySent;
    bool FQueryOpen = false;
};
