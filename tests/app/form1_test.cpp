#include "app/form1.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimeEdit>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/hover_label.h"
#include "app/port_combo.h"
#include "app/settings.h"
#include "serial/comportlist.h"
#include "support/event_recorder.h"
#include "support/pty_pair.h"
#include "support/socat_pair.h"
#include "support/temp_config.h"
#include "support/wait.h"
#include "toolkit/eventlog.h"
#include "toolkit/messagebox.h"

namespace {

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override {
        QuitRequested = false;
        Formats.Set("TIKTAAL_DATE_FORMAT", "yyyy-MM-dd").Set("TIKTAAL_TIME_FORMAT", "HH:mm:ss");
    }
    void TearDown() override { QuitRequested = false; }

    std::string Stored(const char* name) {
        std::string v;
        RegReadString(name, "<none>", SettingsKey, v);
        return v;
    }

    // A tooltip as the user reads it: rich text is drawn, plain text shown as it is.
    static std::string ShownToolTip(const QWidget& w) {
        const QString tip = w.toolTip();
        if (!Qt::mightBeRichText(tip)) return tip.toStdString();
        QTextDocument shown;
        shown.setHtml(tip);
        return shown.toPlainText().toStdString();
    }

    static QColor PanelColour(const TForm1& f) {
        return f.Panel3->palette().color(QPalette::Window);
    }

    // The window's own time servers are public: tests ask a loopback port nobody serves.
    static TFormOptions Options(int trayAvailable) {
        TFormOptions o{trayAvailable, {}};
        o.Program.TimeServers = {"127.0.0.1:9"};
        o.Program.SetClock = TSetClockMode::Never;  // as the words say: never this PC's clock
        o.Program.Words = {"--time-server=127.0.0.1:9", "--no-set-clock"};
        return o;
    }

    TScopedEnv Formats;
    TTempConfig Config;
    TMessageRecorder Boxes;
};

}  // namespace

TEST_F(Form1Test, EmptyStoreGivesTheDefaults) {
    TForm1 f(Options(1));
    EXPECT_EQ(f.ComboBox1->currentText().toStdString(), "COM1");
    EXPECT_EQ(f.ComboBox2->currentIndex(), 5);
    EXPECT_EQ(f.ComboBox2->currentText().toStdString(), "9600");
    EXPECT_FALSE(f.CheckBox2->isChecked());
    EXPECT_FALSE(f.CheckBox1->isChecked());
    EXPECT_EQ(f.Edit1->text().toStdString(), "AT+CZAS=");
    EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(f.Timer1.Enabled());
    EXPECT_TRUE(f.Timer2.Enabled());
    EXPECT_EQ(f.Timer2.Interval(), 1000u);
    EXPECT_EQ(f.windowTitle().toStdString(), "Tiktaal ");
    EXPECT_EQ(f.size(), QSize(239, 350));
    // Reading the settings writes nothing back.
    EXPECT_EQ(Config.ReadStore(), "");
}

TEST_F(Form1Test, ThePortBoxShowsTheGsmComponentsListRefreshedAtEachDropDown) {
    char tmpl[] = "/tmp/ttyclassXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    auto plug = [&](const std::string& name) {
        mkdir((dir + "/" + name).c_str(), 0755);
        mkdir((dir + "/" + name + "/device").c_str(), 0755);
    };
    plug("ttyUSB10");
    SetTtyClassDir(dir);
    TForm1 f(Options(1));
    EXPECT_FALSE(f.LuGSM1->Active());
    EXPECT_EQ(f.LuGSM1->ComPort(), "COM1");
    EXPECT_EQ(f.LuGSM1->InitStrings().Count(), 5u);
    plug("ttyUSB2");  // plugged in after start
    f.ComboBox1DropDown();
    ASSERT_EQ(f.ComboBox1->count(), 2);
    EXPECT_EQ(f.ComboBox1->itemText(0).toStdString(), "ttyUSB2");
    EXPECT_EQ(f.ComboBox1->itemText(1).toStdString(), "ttyUSB10");
    EXPECT_EQ(f.ComboBox1->currentText().toStdString(), "COM1");
    SetTtyClassDir("/sys/class/tty");
    std::system(("rm -rf " + dir).c_str());
}

TEST_F(Form1Test, StoredSettingsAreShown) {
    Config.WriteStore(
        "REGEDIT4\n[Software\\Tiktaal]\n\"Port komunikacyjny\"=\"/dev/ttyUSB0\"\n"
        "\"baudRate\"=\"10\"\n\"HideOnStart\"=dword:00000001\n\"ATString\"=\"SET=\"\n");
    TForm1 f(Options(1));
    EXPECT_EQ(f.ComboBox1->currentText().toStdString(), "ttyUSB0");
    EXPECT_EQ(f.ComboBox2->currentText().toStdString(), "115200");
    EXPECT_TRUE(f.CheckBox2->isChecked());
    EXPECT_TRUE(f.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(f.Edit1->text().toStdString(), "SET=");
}

TEST_F(Form1Test, OutOfRangeBaudIndexShowsAnEmptyBox) {
    Config.WriteStore("REGEDIT4\n[Software\\Tiktaal]\n\"baudRate\"=\"11\"\n");
    TForm1 f(Options(1));
    EXPECT_EQ(f.ComboBox2->currentIndex(), -1);
    EXPECT_EQ(f.ComboBox2->currentText().toStdString(), "");
}

TEST_F(Form1Test, AutostartEntryEnablesTheReconnectTimer) {
    AddAutostart("Tiktaal", "/usr/bin/tiktaal");
    // Not the default COM1: a test machine's /dev/ttyS0 is no board of ours.
    ASSERT_TRUE(RegWriteString("Port komunikacyjny", Config.Dir + "/no-such-tty", SettingsKey));
    TForm1 f(Options(1));
    EXPECT_TRUE(f.CheckBox1->isChecked());
    EXPECT_TRUE(f.Timer1.Enabled());
    EXPECT_EQ(f.Timer1.Interval(), 1000u);
    f.Timer1.Tick();
    EXPECT_EQ(f.Timer1.Interval(), 5000u);
    f.BitBtn1->click();  // Stop: no further tick
    EXPECT_FALSE(f.Timer1.Enabled());
}

TEST_F(Form1Test, CloseBoxOnlyHidesToTheTray) {
    TForm1 f(Options(1));
    f.show();
    EXPECT_FALSE(f.close());
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(QuitRequested);
    EXPECT_FALSE(f.CloseToTray());
    EXPECT_EQ(f.TrayIconIndex(), 1);  // the link is not up
    f.Pokaz1Click();
    EXPECT_TRUE(f.isVisible());
    f.Ukryj1Click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.TrayIconIndex(), 2);
}

TEST_F(Form1Test, ControlsStayInsideTheirFramesAndFitTheirText) {
    TForm1 f(Options(1));
    f.show();
    for (QWidget* w : f.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(f.rect().contains(w->geometry())) << w->metaObject()->className();
    // Where the group's frame is drawn: the first row, right of the title, that is not
    // background.
    const QImage group = f.GroupBox2->grab().toImage();
    const int x = group.width() - 12;
    int frameTop = 0;
    while (frameTop < group.height() && group.pixel(x, frameTop) == group.pixel(x, 0)) ++frameTop;
    for (QWidget* w : {static_cast<QWidget*>(f.ComboBox1), static_cast<QWidget*>(f.BitBtn4),
                       static_cast<QWidget*>(f.ComboBox2), static_cast<QWidget*>(f.BitBtn1)}) {
        EXPECT_GT(w->y(), frameTop) << w->metaObject()->className();
        EXPECT_LT(w->geometry().bottom(), f.GroupBox2->height() - 1);
    }
    // Bold hover text stays clear of the control to its right.
    const std::vector<std::pair<THoverLabel*, QWidget*>> neighbours{
        {f.Label4, f.Label2}, {f.Label3, f.Edit1}, {f.wwwLB, f.cpyLb}};
    for (const auto& [label, next] : neighbours) {
        label->OnMouseMove();
        EXPECT_LT(label->geometry().right(), next->x()) << label->text().toStdString();
        EXPECT_TRUE(label->font().bold());
        label->OnMouseLeave();
    }
    // A device name fits the port box in its short form, and either form opens it.
    const QFontMetrics port(f.ComboBox1->font());
    for (const char* name : {"ttyUSB0", "ttyACM0", "ttyAMA0", "ttyS12"})
        EXPECT_LE(port.horizontalAdvance(QString::fromLatin1(name)),
                  f.ComboBox1->lineEdit()->contentsRect().width())
            << name;
}

TEST_F(Form1Test, DisabledPortBoxesLookDisabled) {
    TForm1 f(Options(1));
    f.Timer2.SetEnabled(false);
    f.LuComPort1Connected();
    for (QWidget* w : {static_cast<QWidget*>(f.ComboBox1), static_cast<QWidget*>(f.ComboBox2)}) {
        EXPECT_FALSE(w->isEnabled());
        EXPECT_NE(w->palette().color(QPalette::Disabled, QPalette::Text),
                  w->palette().color(QPalette::Active, QPalette::Text));
    }
}

TEST_F(Form1Test, TwelveHourTimeKeepsAmPmInThePicker) {
    Formats.Set("TIKTAAL_TIME_FORMAT", "hh:mm:ss AP");
    TForm1 f(Options(1));
    f.SetPickerDateTime(EncodeDateTime(2011, 5, 4, 15, 4, 5));
    EXPECT_EQ(f.DateTimePicker2->text().toStdString(), "03:04:05 PM");
    EXPECT_EQ(f.DateTimePicker2->buttonSymbols(), QAbstractSpinBox::NoButtons);
    EXPECT_LE(QFontMetrics(f.DateTimePicker2->font()).horizontalAdvance("03:04:05 PM") + 6,
              f.DateTimePicker2->width());
    EXPECT_LE(f.DateTimePicker2->geometry().right(), f.width() - 8);
}

TEST_F(Form1Test, WithoutATrayCloseMinimisesInstead) {
    TForm1 f(Options(0));
    f.show();
    EXPECT_FALSE(f.close());
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.windowState() & Qt::WindowMinimized);
}

TEST_F(Form1Test, EscQuitsAndStoresThePrefix) {
    TForm1 f(Options(1));
    f.show();
    f.Edit1->setText("NEW=");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&f, &esc);
    EXPECT_TRUE(QuitRequested);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.TrayIconIndex(), 3);
    EXPECT_EQ(Stored("ATString"), "NEW=");
    QApplication::restoreOverrideCursor();
}

TEST_F(Form1Test, ClearedPrefixKeepsTheStoredOne) {
    ASSERT_TRUE(RegWriteString("ATString", "OLD=", SettingsKey));
    TForm1 f(Options(1));
    f.Edit1->clear();
    f.Zamknij1Click();
    EXPECT_TRUE(QuitRequested);
    EXPECT_EQ(Stored("ATString"), "OLD=");
}

TEST_F(Form1Test, EndOfSessionQuitsAndStoresThePrefix) {
    TForm1 f(Options(1));
    f.show();
    f.Edit1->setText("END=");
    f.EndSession();
    EXPECT_TRUE(QuitRequested);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.TrayIconIndex(), 3);
    EXPECT_EQ(Stored("ATString"), "END=");
}

namespace {
// A loopback socket of the given type bound to an ephemeral port; its port in port.
int LoopbackSocket(int type, int& port) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    port = ntohs(addr.sin_port);
    return fd;
}
}  // namespace

TEST_F(Form1Test, QuitCutsTheWorkersWaitsAndStartsNoCycle) {
    // A time server that never answers (its worker would wait out its 5 s time-out), and a
    // time script whose server never completes a handshake: a listener with a full queue.
    int serverPort = 0, scriptPort = 0;
    const int silent = LoopbackSocket(SOCK_DGRAM, serverPort);
    const int full = LoopbackSocket(SOCK_STREAM, scriptPort);
    ASSERT_GE(silent, 0);
    ASSERT_GE(full, 0);
    ASSERT_EQ(listen(full, 0), 0);
    int filler = 0;
    const int queued = LoopbackSocket(SOCK_STREAM, filler);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(scriptPort));
    ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    TFormOptions o = Options(1);
    o.Program.TimeServers = {"127.0.0.1:" + std::to_string(serverPort)};
    o.Program.TimeScripts = {"http://127.0.0.1:" + std::to_string(scriptPort) + "/time.php"};
    auto f = std::make_unique<TForm1>(o);
    f->Timer2.SetEnabled(false);
    f->LuTimeSync1->SyncTimerTick();
    ASSERT_EQ(f->LuTimeSync1->WorkerCount(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // both well into their waits

    const auto start = std::chrono::steady_clock::now();
    f->Zamknij1Click();
    f->Timer2Timer();  // a late tick and a late SIGUSR1 start nothing
    f->Label4Click();
    EXPECT_FALSE(f->LuTimeSync1->Active());
    EXPECT_FALSE(f->LuTimeSync1->SyncTimer().Enabled());
    f.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    for (int fd : {silent, full, queued}) close(fd);
}

TEST_F(Form1Test, StartConnectsAndTheManualLineReachesTheBoard) {
    TPtyPair board;
    TForm1 f(Options(1));
    f.Timer2.SetEnabled(false);
    f.ComboBox1->setEditText(QString::fromStdString(board.SlavePath()));
    f.BitBtn4->click();
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(Boxes.Shown[0].Text, "Ustawiono pomyślnie      ");
    EXPECT_EQ(Boxes.Shown[0].Caption, " INFORMACJA");
    EXPECT_EQ(Boxes.Shown[0].Flags, MB_ICONINFORMATION);
    EXPECT_EQ(Stored("Port komunikacyjny"), board.SlavePath());
    EXPECT_TRUE(f.Timer1.Enabled());
    ASSERT_TRUE(WaitUntil([&] { return f.LuComPort1->Connected() && !f.ComboBox1->isEnabled(); }));
    EXPECT_EQ(PanelColour(f), QColor(0, 255, 0));
    EXPECT_TRUE(f.Timer2.Enabled());  // synchronisation follows every connection

    f.SetPickerDateTime(EncodeDateTime(2011, 5, 4, 12, 34, 56));
    f.Label5Click();
    EXPECT_EQ(f.Label1->text().toStdString(), "AT+CZAS=2011-05-04,12:34:56");
    EXPECT_EQ(board.ReadLine(), "AT+CZAS=2011-05-04,12:34:56\r");

    f.Edit1->clear();  // without a prefix the line still goes, but is not echoed
    f.SetPickerDateTime(EncodeDateTime(2012, 1, 2, 3, 4, 5));
    f.Label5Click();
    EXPECT_EQ(board.ReadLine(), "2012-01-02,03:04:05\r");
    EXPECT_EQ(f.Label1->text().toStdString(), "AT+CZAS=2011-05-04,12:34:56");

    f.BitBtn1->click();
    EXPECT_FALSE(f.Timer1.Enabled());
    ASSERT_TRUE(WaitUntil([&] { return f.ComboBox1->isEnabled(); }));
    EXPECT_EQ(PanelColour(f), QColor(255, 0, 0));
    f.Label3Click();
    EXPECT_EQ(f.Edit1->text().toStdString(), "AT+CZAS=");
}

TEST_F(Form1Test, UnpluggedBoardShowsLostAndTheNextTickReconnects) {
    if (!SocatAvailable()) GTEST_SKIP() << "socat is not installed";
    TSocatPair socat(Config.Dir);
    ASSERT_TRUE(socat.Start());
    TForm1 f(Options(1));
    f.Timer2.SetEnabled(false);
    f.ComboBox1->setEditText(QString::fromStdString(socat.A));
    f.BitBtn4->click();
    ASSERT_TRUE(WaitUntil([&] { return !f.ComboBox1->isEnabled(); }));
    {
        TBoard board(socat.B);
        f.SetPickerDateTime(EncodeDateTime(2011, 5, 4, 12, 34, 56));
        f.Label5Click();
        EXPECT_EQ(board.ReadLine(), "AT+CZAS=2011-05-04,12:34:56\r");
    }
    socat.Stop();
    ASSERT_TRUE(WaitUntil([&] { return f.ComboBox1->isEnabled(); }));
    EXPECT_EQ(PanelColour(f), QColor(255, 0, 0));
    EXPECT_TRUE(f.Timer1.Enabled());  // it keeps trying
    // The board comes back after the old link thread has wound down, as a person replugs.
    ASSERT_TRUE(WaitUntil([&] { return f.LuComPort1->ComThread() == nullptr; }));

    ASSERT_TRUE(socat.Start());
    f.Timer1Timer();  // the next reconnect tick
    ASSERT_TRUE(WaitUntil([&] { return !f.ComboBox1->isEnabled(); }));
    TBoard board(socat.B);
    f.SetPickerDateTime(EncodeDateTime(2011, 5, 4, 12, 35, 0));
    f.Label5Click();
    EXPECT_EQ(board.ReadLine(), "AT+CZAS=2011-05-04,12:35:00\r");
    EXPECT_EQ(board.Drain(30), "");  // exactly once
}

TEST_F(Form1Test, PortThatCannotOpenIsToldOnceWithItsReason) {
    TEventRecorder events;
    const std::string missing = Config.Dir + "/no-such-tty";
    TForm1 f(Options(1));
    f.Timer2.SetEnabled(false);
    f.ComboBox1->setEditText(QString::fromStdString(missing));
    f.BitBtn4->click();
    const std::string told = "port " + missing + ": No such file or directory";
    ASSERT_TRUE(WaitUntil([&] { return !events.Lines().empty(); }));
    for (int tick = 0; tick < 3; ++tick) {
        ASSERT_TRUE(WaitUntil([&] { return f.LuComPort1->ComThread() == nullptr; }));
        f.Timer1Timer();
    }
    ASSERT_TRUE(WaitUntil([&] { return f.LuComPort1->ComThread() == nullptr; }));
    EXPECT_EQ(events.Lines(), std::vector<std::string>{told});
}

TEST_F(Form1Test, ReconnectTickOpensTheTypedPort) {
    TPtyPair board;
    TForm1 f(Options(1));
    f.Timer2.SetEnabled(false);
    f.ComboBox1->setEditText(QString::fromStdString(board.SlavePath()));
    f.Timer1Timer();
    EXPECT_EQ(f.Timer1.Interval(), 5000u);
    EXPECT_TRUE(f.LuComPort1->Active());
    ASSERT_TRUE(WaitUntil([&] { return !f.ComboBox1->isEnabled(); }));
    EXPECT_EQ(f.LuComPort1->ComPort(), board.SlavePath());
}

TEST_F(Form1Test, SyncSendsThePcTimeAndShowsIt) {
    TPtyPair board;
    TForm1 f(Options(1));
    f.Timer2.SetEnabled(false);
    f.ComboBox1->setEditText(QString::fromStdString(board.SlavePath()));
    f.Timer1Timer();
    ASSERT_TRUE(WaitUntil([&] { return f.LuComPort1->Connected() && !f.ComboBox1->isEnabled(); }));
    const TDateTime before = NowLocal();
    const QString unsent = f.Label1->text();
    f.LuTimeSync1Sync(0);  // inside the board's boot time: held
    EXPECT_EQ(f.Label1->text(), unsent);
    f.Timer2.Tick();  // the boot time ends
    const std::string line = board.ReadLine();
    ASSERT_EQ(line.size(), std::string("AT+CZAS=2011-05-04,12:34:56\r").size()) << line;
    EXPECT_EQ(line.substr(0, 8), "AT+CZAS=");
    const std::string day = FormatDateTime("yyyy-MM-dd", before);
    EXPECT_EQ(line.substr(8, 10), day);
    EXPECT_EQ(f.Label1->text().toStdString() + "\r", line);
    EXPECT_NE(f.Label2->text().toStdString(), "--:--:--");
}

TEST_F(Form1Test, RepliesAreEventLinesAndTheTooltipAndTheBootDelayArmsTheSync) {
    TPtyPair board;
    TFormOptions o = Options(1);
    o.Program.BoardBootMs = 2500;
    std::vector<std::string> events;
    const TEventLogSink old =
        SetEventLogSink([&](const std::string& line) { events.push_back(line); });
    {
        TForm1 f(o);
        f.Timer2.SetEnabled(false);
        f.ComboBox1->setEditText(QString::fromStdString(board.SlavePath()));
        f.Timer1Timer();
        ASSERT_TRUE(WaitUntil([&] { return !f.ComboBox1->isEnabled(); }));
        EXPECT_EQ(f.Timer2.Interval(), 2500u);
        EXPECT_TRUE(f.Timer2.Enabled());
        ASSERT_TRUE(board.Send(std::string("O\x01K\r\n", 5)));
        ASSERT_TRUE(WaitUntil([&] { return ShownToolTip(*f.Label1) == "O\\x01K"; }));
        // Markup in a reply is text the board sent, not formatting.
        ASSERT_TRUE(board.Send("<b>1</b> &amp;\r\n"));
        ASSERT_TRUE(WaitUntil([&] { return ShownToolTip(*f.Label1) == "<b>1</b> &amp;"; }))
            << f.Label1->toolTip().toStdString();
    }
    SetEventLogSink(old);
    EXPECT_NE(std::find(events.begin(), events.end(), "board: O\\x01K"), events.end());
}

TEST_F(Form1Test, APortNamedComNTellsTheDeviceItOpens) {
    std::vector<std::string> events;
    const TEventLogSink old =
        SetEventLogSink([&](const std::string& line) { events.push_back(line); });
    {
        TForm1 f(Options(1));
        f.LuComPort1->SetComPort("COM3");  // as the reconnect tick names it; nothing is opened
        f.LuComPort1ComError(ENOENT, "No such file or directory");
    }
    SetEventLogSink(old);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], "port COM3 (/dev/ttyS2): No such file or directory");
}

TEST_F(Form1Test, SettingsAreWrittenOnChange) {
    TForm1 f(Options(1));
    f.CheckBox2->click();
    EXPECT_TRUE(RegReadBool("HideOnStart", false, SettingsKey));
    f.ComboBox2->setCurrentIndex(3);
    f.ComboBox2Change();
    EXPECT_EQ(Stored("baudRate"), "3");
    f.CheckBox1->click();
    EXPECT_TRUE(AutostartExists("Tiktaal"));
    std::ifstream entry(Config.Dir + "/autostart/Tiktaal.desktop");
    const std::string text((std::istreambuf_iterator<char>(entry)), {});
    EXPECT_NE(text.find("\" \"--time-server=127.0.0.1:9\" \"--no-set-clock\"\n"), std::string::npos)
        << text;
    // The copy started at login sends the line in the same formats.
    EXPECT_NE(text.find("\nExec=\"env\" \"TIKTAAL_DATE_FORMAT=yyyy-MM-dd\" "
                        "\"TIKTAAL_TIME_FORMAT=HH:mm:ss\" \"/"),
              std::string::npos)
        << text;
    f.CheckBox1->click();
    EXPECT_FALSE(AutostartExists("Tiktaal"));
}

TEST_F(Form1Test, AutostartFailureIsShownAndTheBoxStaysChecked) {
    std::ofstream(Config.Dir + "/autostart") << "a file where the directory should be";
    TForm1 f(Options(1));
    f.CheckBox1->click();
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(Boxes.Shown[0].Text, "Failed to set data for 'Tiktaal'");
    EXPECT_TRUE(f.CheckBox1->isChecked());
}

TEST_F(Form1Test, LinkDisplays) {
    TForm1 f(Options(1));
    f.Timer2.SetEnabled(false);
    f.LuComPort1Connected();
    EXPECT_EQ(PanelColour(f), QColor(0, 255, 0));
    EXPECT_FALSE(f.ComboBox1->isEnabled());
    EXPECT_FALSE(f.ComboBox2->isEnabled());
    EXPECT_TRUE(f.Timer2.Enabled());
    EXPECT_EQ(f.TrayIconIndex(), 2);
    f.LuComPort1Disconnected();
    EXPECT_EQ(PanelColour(f), QColor(255, 0, 0));
    EXPECT_TRUE(f.ComboBox1->isEnabled());
    EXPECT_EQ(f.TrayIconIndex(), 2);  // losing the link leaves the icon
    f.LuTimeSync1SyncError();
    EXPECT_EQ(f.Label2->text().toStdString(), "sync error");
}
