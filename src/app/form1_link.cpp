// The link and synchronisation side of the window.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSystemTrayIcon>

#include "app/form1.h"
#include "app/port_combo.h"
#include "app/settings.h"
#include "app/widget_helpers.h"
#include "toolkit/messagebox.h"

void TForm1::FillPortList(bool /*atCreation*/) {}

void TForm1::SendCommandLine(const std::string& line) { LuComPort1SendStr(line); }

bool TForm1::LinkConnected() const { return false; }

void TForm1::DeactivateComponents() {}

void TForm1::ActivateTimeSync() {}

void TForm1::ComboBox1DropDown() { FillPortList(false); }

void TForm1::BitBtn4Click() {
    SetScreenCursorBusy(true);
    RegWriteString("Port komunikacyjny", ComboBox1->currentText().toStdString(), SettingsKey);
    ShowMessageBox("Ustawiono pomyślnie      ", " INFORMACJA", MB_ICONINFORMATION | MB_OK);
    Timer1.SetEnabled(true);
}

void TForm1::BitBtn1Click() { Timer1.SetEnabled(false); }

void TForm1::Timer1Timer() {
    HideTaskbarButton();
    Timer1.SetInterval(5000);
}

void TForm1::LuComPort1Connected() {
    SetBackground(Panel3, ColorRef(0x00FF00));
    if (!QuitRequested) {
        SetTrayIconIndex(1);
        SetTrayIconIndex(FCloseToTray ? 0 : 2);
    }
    TrayIcon1->show();
    SetScreenCursorBusy(false);
    Timer2.SetEnabled(true);
    ComboBox1->setEnabled(false);
    ComboBox2->setEnabled(false);
}

void TForm1::LuComPort1Disconnected() {
    SetBackground(Panel3, ColorRef(0x0000FF));
    if (!QuitRequested) SetScreenCursorBusy(false);
    ComboBox1->setEnabled(true);
    ComboBox2->setEnabled(true);
}

void TForm1::Label4Click() {}

void TForm1::LuTimeSync1Sync(TDateTime /*stamp*/) {}
