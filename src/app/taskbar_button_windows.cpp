// Windows: a tool window (WS_EX_TOOLWINDOW) has no taskbar button. The taskbar reads the
// style when the window is shown, so a shown window is shown again to take the change.
#include <windows.h>

#include <QWidget>

#include "app/taskbar_button.h"

void ShowTaskbarButton(QWidget& window, bool shown, bool mapped) {
    const auto hwnd = reinterpret_cast<HWND>(window.winId());
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    const LONG_PTR wanted = shown ? (style & ~WS_EX_TOOLWINDOW) : (style | WS_EX_TOOLWINDOW);
    if (wanted == style) return;
    const bool minimised = IsIconic(hwnd);
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, wanted);
    if (mapped && IsWindowVisible(hwnd)) {
        ShowWindow(hwnd, SW_HIDE);
        ShowWindow(hwnd, minimised ? SW_SHOWMINNOACTIVE : SW_SHOWNA);
    }
}
