// The tray icon, its four images and its pop-up menu with the drawn title.
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidgetAction>

#include "app/form1.h"
#include "app/images.h"
#include "app/widget_helpers.h"

namespace {

// The menu's title item " Tiktaal": aqua bold text on navy, black outline.
class TMenuTitle : public QWidget {
public:
    explicit TMenuTitle(QWidget* parent) : QWidget(parent) { setMinimumSize(110, 18); }

protected:
    void paintEvent(QPaintEvent*) override { SERWER1AdvancedDrawItem(); }

private:
    void SERWER1AdvancedDrawItem() {
        QPainter p(this);
        p.setPen(Qt::black);
        p.setBrush(ColorRef(0x800000));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        QFont f = WindowFont();
        f.setBold(true);
        p.setFont(f);
        p.setPen(ColorRef(0xFFFF00));
        p.drawText(QPoint(10, 2 + p.fontMetrics().ascent()), QStringLiteral(" Tiktaal"));
    }
};

}  // namespace

void TForm1::CreateTray() {
    FTrayImages = TrayImages();
    PopupMenu1 = new QMenu(this);
    auto* SERWER1 = new QWidgetAction(PopupMenu1);
    SERWER1->setDefaultWidget(new TMenuTitle(PopupMenu1));
    PopupMenu1->addAction(SERWER1);
    PopupMenu1->addSeparator();  // N2
    QAction* Pokaz1 = PopupMenu1->addAction(FTrayImages[0], QString::fromUtf8("Pokaż"));
    QAction* Ukryj1 = PopupMenu1->addAction(FTrayImages[1], QStringLiteral("Ukryj"));
    PopupMenu1->addSeparator();  // N3
    QAction* Zamknij1 = PopupMenu1->addAction(FTrayImages[2], QStringLiteral("Zamknij"));
    connect(Pokaz1, &QAction::triggered, this, [this] { Pokaz1Click(); });
    connect(Ukryj1, &QAction::triggered, this, [this] { Ukryj1Click(); });
    connect(Zamknij1, &QAction::triggered, this, [this] { Zamknij1Click(); });

    TrayIcon1 = new QSystemTrayIcon(FTrayImages[2], this);
    TrayIcon1->setToolTip(QStringLiteral("Tiktaal"));
    TrayIcon1->setContextMenu(PopupMenu1);
    connect(TrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    TrayIcon1Click();
            });
    // Shown only where a tray is: elsewhere Qt warns that it cannot follow one.
    TrayIcon1->setVisible(FTrayAvailable);
}

void TForm1::SetTrayIconIndex(int index) {
    if (index < 0 || index >= static_cast<int>(FTrayImages.size())) return;
    FTrayIconIndex = index;
    TrayIcon1->setIcon(FTrayImages[static_cast<size_t>(index)]);
}
