#include "app/session_end.h"

#include <fcntl.h>
#include <cerrno>
#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

namespace {
int SignalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the main loop picks the byte up.
void OnTerminateSignal(int) {
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] ssize_t n = write(SignalPipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

void WatchSessionEnd(std::function<void()> onEnd) {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app) {
        QObject::connect(app, &QGuiApplication::commitDataRequest, app,
                         [onEnd](QSessionManager&) { onEnd(); });
    }
    if (SignalPipe[0] >= 0 || pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onEnd] {
        char buf[16];
        while (read(SignalPipe[0], buf, sizeof buf) > 0) {
        }
        onEnd();
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
}
