// The window's life: creation, settings, close-to-tray and the quit paths.
#include "app/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSystemTrayIcon>
#include <QTimeEdit>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/command_line.h"
#include "app/hover_label.h"
#include "app/port_combo.h"
#include "app/port_names.h"
#include "app/settings.h"
#include "app/taskbar_button.h"
#include "app/widget_helpers.h"
#include "platform/locale_formats.h"
#include "toolkit/mainthread.h"
#include "toolkit/messagebox.h"

bool QuitRequested = false;

namespace {
const char* const DefaultPrefix = "AT+CZAS=";
const char* const AutostartName = "Tiktaal";
// How soon a panel that starts or ends is noticed.
constexpr unsigned TrayCheckMs = 2000;

QDate ToQDate(TDateTime dt) {
    const TDateParts d = DecodeDate(dt);
    return QDate(d.Year, d.Month, d.Day);
}

QTime ToQTime(TDateTime dt) {
    const TTimeParts t = DecodeTime(dt);
    return QTime(t.Hour, t.Minute, t.Second, t.MilliSecond);
}

TDateTime FromQDate(const QDate& d) {
    TDateTime r = 0;
    TryEncodeDate(d.year(), d.month(), d.day(), r);
    return r;
}

TDateTime FromQTime(const QTime& t) {
    TDateTime r = 0;
    TryEncodeTime(t.hour(), t.minute(), t.second(), t.msec(), r);
    return r;
}
}  // namespace

TForm1::TForm1(TFormOptions options) : FOptions(options) {
    FTrayAvailable = options.TrayAvailable >= 0 ? options.TrayAvailable != 0
                                                : QSystemTrayIcon::isSystemTrayAvailable();
    Timer1.SetEnabled(false);
    Timer1.SetInterval(1000);
    Timer2.SetInterval(1000);
    CreateComponents();
    CreateControls();
    CreateTray();
    ConnectHandlers();
    Timer1.SetOnTimer([this] { Timer1Timer(); });
    Timer2.SetOnTimer([this] { Timer2Timer(); });
    TrayCheck.SetInterval(TrayCheckMs);
    TrayCheck.SetOnTimer([this] { TrayCheckTimer(); });
    TrayCheck.SetEnabled(options.TrayAvailable < 0);
    FormCreate();
}

TForm1::~TForm1() {
    // The link thread must be gone before the window it reports to.
    bool canClose = true;
    if (LuComPort1) LuComPort1->OwnerCloseQuery(canClose);
}

void TForm1::FormCreate() {
    cpyLb->setText(QString::fromUtf8("©"));
    cpyLb->adjustSize();
    SetPickerDateTime(NowLocal());
    if (AutostartExists(AutostartName)) Timer1.SetEnabled(true);
    SetCheckedSilently(CheckBox2, RegReadBool("HideOnStart", false, SettingsKey));
    setWindowState(CheckBox2->isChecked() ? Qt::WindowMinimized : Qt::WindowNoState);
    SetCheckedSilently(CheckBox1, AutostartExists(AutostartName));
    FillPortList(true);
    std::string port;
    RegReadString("Port komunikacyjny", "COM1", SettingsKey, port);
    ComboBox1->setEditText(QString::fromStdString(PortShortName(port)));
    const int32_t baud = RegReadInteger("baudRate", 5, SettingsKey);
    ComboBox2->setCurrentIndex(baud >= 0 && baud < ComboBox2->count() ? baud : -1);
    std::string prefix;
    RegReadString("ATString", DefaultPrefix, SettingsKey, prefix);
    Edit1->setText(QString::fromStdString(prefix));
}

void TForm1::SetPickerDateTime(TDateTime value) {
    DateTimePicker1->setDate(ToQDate(value));
    DateTimePicker2->setTime(ToQTime(value));
}

std::string TForm1::CommandLine(TDateTime date, TDateTime time) const {
    return BuildCommandLine(Edit1->text().toStdString(), date, time, ShortDateFormat(),
                            LongTimeFormat());
}

// With a tray its icon is the way back and the taskbar button goes; without one the button
// is the only way back. The choice is written while the window is still withdrawn, just
// before it maps, since window managers drop the state of a window they withdraw.
void TForm1::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) ShowTaskbarButton(*this, !FTrayAvailable, false);
    QWidget::showEvent(event);
}

void TForm1::TrayCheckTimer() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available != FTrayAvailable) TrayPresenceChanged(available);
}

// A window is never left without a way back: hidden to a tray that went away, it comes back
// minimised with its taskbar button.
void TForm1::TrayPresenceChanged(bool available) {
    FTrayAvailable = available;
    TrayIcon1->setVisible(available);
    if (isVisible()) ShowTaskbarButton(*this, !available, true);
    if (!available && !isVisible() && !QuitRequested) showMinimized();
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool canClose = FormCloseQuery();
    LuComPort1->OwnerCloseQuery(canClose);
    if (canClose) {
        event->accept();
        QApplication::quit();
    } else {
        event->ignore();
    }
}

bool TForm1::FormCloseQuery() {
    if (QuitRequested) {
        RegWriteString("ATString", Edit1->text().toStdString(), SettingsKey);
        // No cycle may start once the quit began, and none that runs may hold it up.
        Timer1.SetEnabled(false);
        Timer2.SetEnabled(false);
        DeactivateComponents();
        SetTrayIconIndex(3);
        return true;
    }
    FCloseToTray = true;
    if (FTrayAvailable)
        hide();
    else
        showMinimized();
    SetTrayIconIndex(2);
    if (!LinkConnected()) SetTrayIconIndex(1);
    return false;
}

void TForm1::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A quitting main window closes without being hidden first, so its icon stays.
    if (!isMinimized() && !QuitRequested) FormHide();
}

void TForm1::FormHide() {
    FCloseToTray = false;
    SetTrayIconIndex(2);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        BitBtn2->click();  // the window's cancel button
        return;
    }
    QWidget::keyPressEvent(event);
}

// For the start-up benchmark: when the first frame is drawn, as wall-clock milliseconds.
void TForm1::paintEvent(QPaintEvent* event) {
    if (!FPainted) {
        FPainted = true;
        if (std::getenv("TIKTAAL_REPORT_FIRST_PAINT")) {
            timespec ts{};
            clock_gettime(CLOCK_REALTIME, &ts);
            std::fprintf(stderr, "first paint at %lld ms\n",
                         static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
        }
    }
    QWidget::paintEvent(event);
}

void TForm1::RequestQuit() {
    QuitRequested = true;
    close();
}

void TForm1::BitBtn2Click() {
    SetScreenCursorBusy(true);
    RequestQuit();
}

void TForm1::Zamknij1Click() { RequestQuit(); }
void TForm1::LuOneInstance1Exist() { RequestQuit(); }

// The session manager's end-of-session request, and SIGTERM: quit without asking.
void TForm1::EndSession() {
    if (QuitRequested) return;
    QuitRequested = true;
    SetTrayIconIndex(3);
    // The loop runs on only while the close is still pending, so a quit stays short.
    if (!close()) DelayWithMessages(1000);
}

void TForm1::Label3Click() { Edit1->setText(QString::fromLatin1(DefaultPrefix)); }

void TForm1::Label5Click() {
    const std::string line =
        CommandLine(FromQDate(DateTimePicker1->date()), FromQTime(DateTimePicker2->time()));
    SendCommandLine(line);
}

void TForm1::wwwLBClick() { QDesktopServices::openUrl(QUrl(wwwLB->text())); }

void TForm1::CheckBox1Click() {
    try {
        if (CheckBox1->isChecked()) {
            // A copy started at login runs as this one does (servers, clock switch ...).
            AddAutostart(AutostartName, QCoreApplication::applicationFilePath().toStdString(),
                         FOptions.Program.Words);
        } else if (AutostartExists(AutostartName)) {
            RemoveAutostart(AutostartName);
        }
    } catch (const std::exception& e) {
        ShowException(e.what());
    }
}

void TForm1::CheckBox2Click() { RegWriteBool("HideOnStart", CheckBox2->isChecked(), SettingsKey); }

void TForm1::ComboBox2Change() {
    RegWriteInteger("baudRate", ComboBox2->currentIndex(), SettingsKey);
}

// After a connection Timer2 ends the board's boot time. A line held meanwhile goes now, and
// the clock it carries was synchronised moments ago: no new cycle is needed for it.
void TForm1::Timer2Timer() {
    Timer2.SetEnabled(false);
    if (QuitRequested) return;
    const bool bootEnded = FBootPending;
    FBootPending = false;
    if (bootEnded && FLineHeld) {
        FLineHeld = false;
        SendSyncLine();
        return;
    }
    ActivateTimeSync();
}

void TForm1::LuTimeSync1SyncError() {
    Label2->setText(QStringLiteral("sync error"));
    Label2->adjustSize();
}

void TForm1::LuComPort1SendStr(const std::string& line) {
    if (LineHoldsPrefix(line, Edit1->text().toStdString()))
        Label1->setText(QString::fromStdString(line));
}

void TForm1::ShowFromTray() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TForm1::TrayIcon1Click() { ShowFromTray(); }
void TForm1::Pokaz1Click() { ShowFromTray(); }
void TForm1::Ukryj1Click() { hide(); }

void TForm1::ConnectHandlers() {
    Label3->OnClick = [this] { Label3Click(); };
    Label4->OnClick = [this] { Label4Click(); };
    Label5->OnClick = [this] { Label5Click(); };
    wwwLB->OnClick = [this] { wwwLBClick(); };
    ConnectHoverEffects();
    connect(BitBtn4, &QPushButton::clicked, this, [this] { BitBtn4Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connect(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(); });
    connect(ComboBox2, &QComboBox::activated, this, [this] { ComboBox2Change(); });
    ComboBox1->OnDropDown = [this] { ComboBox1DropDown(); };
}

namespace {
void SetHoverLook(THoverLabel* l, bool over, bool autoSize) {
    QFont f = l->font();
    f.setBold(over);
    // Bold text is wider: a smaller size keeps it clear of the neighbouring controls.
    f.setPixelSize(WindowFont().pixelSize());
    while (over && l->Room > 0 && f.pixelSize() > 8 &&
           QFontMetrics(f).horizontalAdvance(l->text()) > l->Room)
        f.setPixelSize(f.pixelSize() - 1);
    l->setFont(f);
    if (autoSize) l->adjustSize();
    if (over)
        l->setCursor(Qt::PointingHandCursor);
    else
        l->unsetCursor();
}

void SetLinkLook(THoverLabel* l, bool over) {
    SetTextColor(l, ColorRef(over ? 0xFF0000 : 0x808080));
    QFont f = l->font();
    f.setUnderline(over);
    l->setFont(f);
    SetHoverLook(l, over, true);
}
}  // namespace

void TForm1::ConnectHoverEffects() {
    for (THoverLabel* l : {Label3, Label4, Label5}) {
        const bool autoSize = l != Label5;  // Label5 has a fixed size
        l->OnMouseMove = [l, autoSize] { SetHoverLook(l, true, autoSize); };
        l->OnMouseLeave = [l, autoSize] { SetHoverLook(l, false, autoSize); };
    }
    wwwLB->OnMouseMove = [this] { SetLinkLook(wwwLB, true); };
    wwwLB->OnMouseLeave = [this] { SetLinkLook(wwwLB, false); };
}
