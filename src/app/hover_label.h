// A label that reports clicks, mouse moves over it and the mouse leaving it.
#pragma once

#include <QLabel>
#include <functional>

class THoverLabel : public QLabel {
public:
    explicit THoverLabel(QWidget* parent);
    std::function<void()> OnClick, OnMouseMove, OnMouseLeave;
    // The width its text may take before it runs under a neighbour; 0: no limit.
    int Room = 0;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
