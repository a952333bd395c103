#include "app/images.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// The chip: a dark body with pins on both sides and a notch, scaled to size.
void DrawChip(QPainter& p, int size) {
    const double s = size / 16.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(160, 160, 160));
    for (int i = 0; i < 4; ++i) {
        const double y = (3 + i * 3) * s;
        p.drawRect(QRectF(1 * s, y, 2 * s, 1.2 * s));
        p.drawRect(QRectF(13 * s, y, 2 * s, 1.2 * s));
    }
    p.setBrush(QColor(40, 40, 48));
    p.drawRoundedRect(QRectF(3 * s, 1 * s, 10 * s, 14 * s), 1.2 * s, 1.2 * s);
    p.setBrush(QColor(90, 90, 100));
    p.drawEllipse(QRectF(7 * s, 1.5 * s, 2 * s, 2 * s));
}

// The clock badge in the lower left corner, its face in the state's colour.
void DrawBadge(QPainter& p, int size, int index) {
    const double s = size / 16.0;
    const QRectF face(0.5 * s, 7.5 * s, 8 * s, 8 * s);
    QColor fill;
    QColor ring(20, 20, 20);
    switch (index) {
        case 0:
            fill = QColor(154, 205, 50);
            break;  // yellow-green
        case 1:
            fill = QColor(255, 255, 255);
            ring = QColor(230, 0, 0);
            break;
        case 2:
            fill = QColor(0, 220, 230);
            break;  // cyan
        default:
            fill = QColor(220, 0, 0);
            ring = QColor(140, 0, 0);
            break;  // solid red
    }
    p.setPen(QPen(ring, index == 1 ? 1.6 * s : 0.9 * s));
    p.setBrush(fill);
    p.drawEllipse(face);
    const QPointF c = face.center();
    p.setPen(QPen(index == 3 ? QColor(255, 255, 255) : QColor(0, 0, 0), 0.9 * s, Qt::SolidLine,
                  Qt::RoundCap));
    p.drawLine(c, c + QPointF(0, -2.8 * s));
    p.drawLine(c, c + QPointF(2.2 * s, 0));
}

QPixmap Blank(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

}  // namespace

QPixmap ChipImage(int index, int size) {
    QPixmap pm = Blank(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    DrawChip(p, size);
    DrawBadge(p, size, index);
    return pm;
}

std::vector<QIcon> TrayImages() {
    std::vector<QIcon> icons;
    for (int i = 0; i < 4; ++i) {
        QIcon icon(ChipImage(i, 16));
        icon.addPixmap(ChipImage(i, 32));
        icons.push_back(icon);
    }
    return icons;
}

QPixmap LogoImage() { return ChipImage(2, 32); }

QIcon StartGlyph() {
    QPixmap pm = Blank(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 90, 0), 1));
    p.setBrush(QColor(0, 170, 0));
    p.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(13, 8), QPointF(4, 14)}));
    return QIcon(pm);
}

QIcon StopGlyph() {
    QPixmap pm = Blank(16, 16);
    QPainter p(&pm);
    p.setPen(QPen(QColor(120, 0, 0), 1));
    p.setBrush(QColor(210, 0, 0));
    p.drawRect(3, 3, 10, 10);
    return QIcon(pm);
}

QIcon CloseGlyph() {
    QPixmap pm = Blank(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(160, 0, 0), 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 4), QPointF(12, 12));
    p.drawLine(QPointF(12, 4), QPointF(4, 12));
    return QIcon(pm);
}
