// Creation of the window's controls: positions, texts, colours and fonts.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimeEdit>
#include <algorithm>

#include "app/form1.h"
#include "app/hover_label.h"
#include "app/images.h"
#include "app/port_combo.h"
#include "app/widget_helpers.h"
#include "platform/locale_formats.h"

namespace {

const QColor clGreen = ColorRef(0x008000);
const QColor clBlue = ColorRef(0xFF0000);
const QColor clRed = ColorRef(0x0000FF);
const QColor clGray = ColorRef(0x808080);
const QColor clAzure = ColorRef(16744448);     // 0xFF8000
const QColor clDarkGreen = ColorRef(4227072);  // 0x408000

// Labels without a fixed size take the size of their text.
template <typename L>
L* AutoLabel(QWidget* parent, int left, int top, const char* text) {
    auto* l = new L(parent);
    l->setText(QString::fromUtf8(text));
    l->move(left, top);
    l->adjustSize();
    return l;
}

QLabel* FixedLabel(QLabel* l, int left, int top, int width, int height, const char* text) {
    l->setText(QString::fromUtf8(text));
    l->setGeometry(left, top, width, height);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return l;
}

// Qt's picker formats take the same letters; AP is written without the hour's
// 12-hour marker in Qt, so it passes through unchanged.
QString PickerFormat(const std::string& f) { return QString::fromStdString(f); }

}  // namespace

void TForm1::CreateControls() {
    setWindowTitle(QStringLiteral("Tiktaal "));
    setFixedSize(239, 350);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(WindowFont());
    setWindowIcon(QIcon(ChipImage(2, 32)));
    if (const QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    CreateLabels();
    CreateLinkControls();
    CreatePickersAndSettings();
    // Hover makes these labels bold: they may grow up to their right-hand neighbour.
    Label4->Room = Label2->x() - Label4->x() - 2;
    Label3->Room = Edit1->x() - Label3->x() - 2;
    wwwLB->Room = cpyLb->x() - wwwLB->x() - 2;
}

void TForm1::CreateLabels() {
    Label4 = AutoLabel<THoverLabel>(this, 16, 52, "Synchronizacja PC:");
    SetTextColor(Label4, clGreen);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->setToolTip(QString::fromUtf8("Synchronizuj teraz PC !"));

    Label5 = new THoverLabel(this);
    FixedLabel(Label5, 8, 75, 223, 13, "Synchronizacja uC:");
    SetTextColor(Label5, clBlue);
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->setToolTip(QString::fromUtf8("Synchronizuj teraz uC !"));

    Image1 = new QLabel(this);
    Image1->setGeometry(30, 8, 32, 32);
    Image1->setPixmap(LogoImage());

    Label2 = AutoLabel<QLabel>(this, 137, 52, "--:--:--");
    SetTextColor(Label2, clDarkGreen);

    wwwLB = AutoLabel<THoverLabel>(this, 8, 329, "https://tiktaal.example");
    wwwLB->setCursor(Qt::PointingHandCursor);
    SetTextColor(wwwLB, clGray);

    cpyLb = AutoLabel<QLabel>(this, 145, 329, "");
    SetTextColor(cpyLb, clRed);
    QFont bold = font();
    bold.setBold(true);
    cpyLb->setFont(bold);
    Label7 = AutoLabel<QLabel>(this, 158, 329, "2026 Tiktaal");
    SetTextColor(Label7, clRed);

    Label1 = new QLabel(this);
    FixedLabel(Label1, 8, 120, 223, 13, "?\?\?\?-?\?-?\?   ?\?:?\?:?\?");
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    Label1->setFont(mono);
    SetTextColor(Label1, clAzure);

    Label3 = AutoLabel<THoverLabel>(this, 11, 148, "Określ własne polecenie:");
    SetTextColor(Label3, clGray);
    Label3->setToolTip(QString::fromUtf8("Przywróć domyślne !"));

    Panel1 = new QFrame(this);
    Panel1->setGeometry(86, 15, 108, 23);
    SetBackground(Panel1, Qt::black);
    Panel3 = new QLabel(Panel1);
    Panel3->setGeometry(2, 2, 104, 19);
    Panel3->setText(QString::fromUtf8("połączenie"));
    Panel3->setAlignment(Qt::AlignCenter);
    SetBackground(Panel3, clRed);
}

void TForm1::CreateLinkControls() {
    GroupBox2 = new QGroupBox(QString::fromUtf8(" Port komunikacyjny "), this);
    GroupBox2->setGeometry(8, 172, 222, 86);
    // The frame runs through the middle of the title, as the controls' positions expect;
    // styles that draw it below the title would leave "Start" poking above it.
    GroupBox2->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0px; }"));

    ComboBox1 = new TPortComboBox(GroupBox2);
    ComboBox1->setEditable(true);
    ComboBox1->setGeometry(22, 24, 81, 24);
    // Pixel size 12, not the original 13: the sans face here is wider than Tahoma, and a
    // device's short name (ttyUSB0, ttyACM0) must fit the 81-pixel box.
    QFont portFont = font();
    portFont.setPixelSize(12);
    portFont.setBold(true);
    ComboBox1->setFont(portFont);
    SetTextColor(ComboBox1, clBlue);

    BitBtn4 = new QPushButton(StartGlyph(), QStringLiteral("Start"), GroupBox2);
    BitBtn4->setGeometry(120, 15, 83, 29);

    ComboBox2 = new QComboBox(GroupBox2);
    ComboBox2->setGeometry(24, 56, 79, 21);
    for (const char* rate : {"300", "600", "1200", "2400", "4800", "9600", "19200", "28800",
                             "38400", "57600", "115200"})
        ComboBox2->addItem(QString::fromLatin1(rate));
    ComboBox2->setCurrentIndex(5);

    BitBtn1 = new QPushButton(StopGlyph(), QStringLiteral("Stop"), GroupBox2);
    BitBtn1->setGeometry(120, 50, 83, 29);
}

void TForm1::CreatePickersAndSettings() {
    CheckBox1 = new QCheckBox(QStringLiteral("Start z Windows"), this);
    CheckBox1->setGeometry(16, 270, 119, 17);
    CheckBox2 = new QCheckBox(QStringLiteral("Ukryj przy starcie"), this);
    CheckBox2->setGeometry(16, 293, 119, 17);
    CheckBox2->setChecked(true);

    BitBtn2 = new QPushButton(CloseGlyph(), QStringLiteral("Zamknij"), this);
    BitBtn2->setGeometry(148, 285, 82, 34);

    DateTimePicker1 = new QDateEdit(this);
    DateTimePicker1->setGeometry(24, 95, 95, 21);
    DateTimePicker1->setCalendarPopup(true);
    DateTimePicker1->setDisplayFormat(PickerFormat(ShortDateFormat()));
    SetTextColor(DateTimePicker1, clAzure);
    DateTimePicker2 = new QTimeEdit(this);
    DateTimePicker2->setGeometry(142, 95, 73, 21);
    DateTimePicker2->setDisplayFormat(PickerFormat(LongTimeFormat()));
    SetTextColor(DateTimePicker2, clAzure);
    FitTimePicker();

    Edit1 = new QLineEdit(QStringLiteral("AT+CZAS="), this);
    Edit1->setGeometry(158, 145, 73, 21);
}

// A 12-hour time with its AM/PM marker is wider than the picker's 73 pixels: it drops the
// arrows (the keys and the wheel still step it) and widens up to the window's margin, so
// that the marker is not cut off.
void TForm1::FitTimePicker() {
    const QString widest =
        DateTimePicker2->locale().toString(QTime(20, 58, 58), DateTimePicker2->displayFormat());
    const int needed = QFontMetrics(DateTimePicker2->font()).horizontalAdvance(widest) + 10;
    if (!DateTimePicker2->displayFormat().contains(QLatin1Char('A'), Qt::CaseInsensitive) ||
        needed <= DateTimePicker2->width() - 20)
        return;
    DateTimePicker2->setButtonSymbols(QAbstractSpinBox::NoButtons);
    const int room = width() - 8 - DateTimePicker2->x();
    DateTimePicker2->resize(std::clamp(needed, DateTimePicker2->width(), room),
                            DateTimePicker2->height());
}
