// Run as an ordinary user (privileged processes pass the tty's exclusive flag): opens a
// port that another holder keeps open, gives it up, and opens it again, on every path that
// gives a port up. Exit status 0 when every later open succeeds; the failures on stderr.
// With "hangup PATH": opens PATH, says "open" and waits for the caller to hang the tty up
// (while another program keeps it open), then gives the port up and opens it again.
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "serial/serialdevice.h"

namespace {

int Failures = 0;

void Expect(bool ok, const char* what, const TSerialDevice& d) {
    if (ok) return;
    ++Failures;
    std::fprintf(stderr, "FAIL: %s (%d %s)\n", what, d.LastError(), d.LastErrorDesc().c_str());
}

bool OpensAgain(const std::string& path) {
    TSerialDevice again;
    again.OpenPort(path);
    Expect(again.LastError() == 0, "a later open by the same user", again);
    return again.LastError() == 0;
}

// The link's way through a hang-up: the presence probe fails, the port is given up, and the
// next connection opens it again.
int AfterAHangUp(const std::string& path) {
    TSerialDevice dev;
    dev.OpenPort(path);
    Expect(dev.LastError() == 0, "the open before the hang-up", dev);
    std::puts("open");
    std::fflush(stdout);
    for (int i = 0; i < 500 && dev.LastError() == 0; ++i) {
        usleep(10000);
        dev.FetchCommState();
    }
    Expect(dev.LastError() != 0, "the hang-up seen by the presence probe", dev);
    dev.ClosePort();
    OpensAgain(path);
    return Failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (geteuid() == 0) {
        std::fputs("the probe must run as an ordinary user\n", stderr);
        return 2;
    }
    if (argc == 3 && std::strcmp(argv[1], "hangup") == 0) return AfterAHangUp(argv[2]);
    // The master stands for socat (or a terminal program): it keeps the tty alive.
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 2;
    }
    close(slave);
    const std::string path = name;

    {
        TSerialDevice dev;
        dev.OpenPort(path);
        Expect(dev.LastError() == 0, "the first open", dev);
        TSerialDevice second;
        second.OpenPort(path);
        Expect(second.LastError() == EBUSY, "a second open while the port is held", second);
        dev.ClosePort();
        OpensAgain(path);
    }
    {
        // Another program holds the advisory lock: the open that loses it must leave the
        // tty as it found it.
        const int holder = open(path.c_str(), O_RDWR | O_NOCTTY);
        flock(holder, LOCK_EX);
        TSerialDevice loser;
        loser.OpenPort(path);
        Expect(loser.LastError() == EBUSY, "an open that loses the lock", loser);
        close(holder);
        OpensAgain(path);
    }
    {
        // A device destroyed while open (a thread that ends) releases the port too.
        auto* dev = new TSerialDevice;
        dev->OpenPort(path);
        Expect(dev->LastError() == 0, "an open before destruction", *dev);
        delete dev;
        OpensAgain(path);
    }
    close(master);
    return Failures == 0 ? 0 : 1;
}
