#include <windows.h>

#include <QCoreApplication>
#include <QWinEventNotifier>

#include "app/session_end.h"

namespace {

std::function<void()> OnConsoleEnd;

// Runs on a thread of the system's; the end itself is queued to the main thread. For a closed
// console the system ends the process when this returns, so it gives the main thread a moment.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (!OnConsoleEnd) return FALSE;
    QMetaObject::invokeMethod(QCoreApplication::instance(), OnConsoleEnd, Qt::QueuedConnection);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(2000);
    return TRUE;
}

}  // namespace

// Ctrl+C and a closed console, when the program has one, end it as the session manager's
// query (WM_QUERYENDSESSION, which Qt turns into commitDataRequest) does.
void WatchSystemEnd(std::function<void()> onEnd) {
    OnConsoleEnd = std::move(onEnd);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// Windows has no user signal: the session's named event "Local\Tiktaal.SyncNow" stands in for
// SIGUSR1. Any program of the session may set it; each set is one synchronisation.
void WatchSyncRequest(std::function<void()> onRequest) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"Local\\Tiktaal.SyncNow");
    if (!event) return;
    auto* notifier = new QWinEventNotifier(event, QCoreApplication::instance());
    QObject::connect(notifier, &QWinEventNotifier::activated, notifier,
                     [onRequest](HANDLE) { onRequest(); });
}
