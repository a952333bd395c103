// Small window routines shared by the window's parts.
#pragma once

#include <QColor>
#include <QFont>

class QCheckBox;
class QWidget;

// A COLORREF value 0x00BBGGRR as a colour.
QColor ColorRef(unsigned bgr);
// The window's font: a sans face at pixel size 11 (Tahoma height -11 on the original).
QFont WindowFont();
void SetTextColor(QWidget* w, const QColor& c);
void SetBackground(QWidget* w, const QColor& c);
// Sets the box's state without running its click handler.
void SetCheckedSilently(QCheckBox* box, bool checked);
// Screen cursor: the hourglass while busy, the default otherwise.
void SetScreenCursorBusy(bool busy);
