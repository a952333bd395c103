#include "app/hover_label.h"

#include <QMouseEvent>

THoverLabel::THoverLabel(QWidget* parent) : QLabel(parent) { setMouseTracking(true); }

void THoverLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        OnClick)
        OnClick();
    QLabel::mouseReleaseEvent(event);
}

void THoverLabel::mouseMoveEvent(QMouseEvent* event) {
    if (OnMouseMove) OnMouseMove();
    QLabel::mouseMoveEvent(event);
}

void THoverLabel::enterEvent(QEnterEvent* event) {
    if (OnMouseMove) OnMouseMove();
    QLabel::enterEvent(event);
}

void THoverLabel::leaveEvent(QEvent* event) {
    if (OnMouseLeave) OnMouseLeave();
    QLabel::leaveEvent(event);
}
