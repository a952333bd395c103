#include "app/session_end.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

namespace {

// A signal turned into a call on the main thread through a pipe; only async-signal-safe
// work happens in the handler itself.
struct TSignalPipe {
    int Fds[2] = {-1, -1};
    std::function<void()> OnSignal;
};
TSignalPipe TermPipe, UsrPipe;

void WriteByte(int fd) {
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] ssize_t n = write(fd, &byte, 1);
    errno = saved;
}
void OnTerm(int) { WriteByte(TermPipe.Fds[1]); }
void OnUsr1(int) { WriteByte(UsrPipe.Fds[1]); }

void Watch(TSignalPipe& p, int signo, void (*handler)(int), std::function<void()> fn) {
    p.OnSignal = std::move(fn);
    if (p.Fds[0] >= 0 || pipe2(p.Fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier =
        new QSocketNotifier(p.Fds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [&p] {
        char buf[16];
        while (read(p.Fds[0], buf, sizeof buf) > 0) {
        }
        if (p.OnSignal) p.OnSignal();
    });
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(signo, &sa, nullptr);
}

}  // namespace

void WatchSystemEnd(std::function<void()> onEnd) {
    Watch(TermPipe, SIGTERM, OnTerm, std::move(onEnd));
    // Ctrl+C in a terminal ends the program the same orderly way.
    struct sigaction sa {};
    sa.sa_handler = OnTerm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
}

void WatchSyncRequest(std::function<void()> onRequest) {
    Watch(UsrPipe, SIGUSR1, OnUsr1, std::move(onRequest));
}
