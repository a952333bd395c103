#include "platform/clock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <system_error>

namespace {

// True when this process holds no capability at all (so it cannot set the clock).
bool NoCapabilities() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("CapEff:", 0) == 0)
            return line.find_first_not_of("0\t ", 7) == std::string::npos;
    return false;
}

// In a child without the right to set the clock: what the system's setter does.
// 0 = raised EPERM and told the reason once; 77 = could not give the right up.
int ChildWithoutClockRight() {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 77;
    if (!NoCapabilities()) return 77;
    int errPipe[2];
    if (pipe(errPipe) != 0) return 3;
    dup2(errPipe[1], STDERR_FILENO);
    int raised = 0;
    for (int i = 0; i < 2; ++i) {
        try {
            SystemSetLocalTime(NowLocal());
        } catch (const std::system_error& e) {
            if (e.code().value() == EPERM &&
                std::string(e.what()).find("Operation not permitted") != std::string::npos)
                ++raised;
        }
    }
    close(errPipe[1]);
    close(STDERR_FILENO);
    char buf[4096];
    const ssize_t n = read(errPipe[0], buf, sizeof buf);
    const std::string told(buf, n > 0 ? static_cast<size_t>(n) : 0);
    const bool toldOnce = told.find("CAP_SYS_TIME") != std::string::npos &&
                          told.find("CAP_SYS_TIME") == told.rfind("CAP_SYS_TIME");
    return raised == 2 && toldOnce ? 0 : 1;
}

}  // namespace

TEST(SystemClock, MissingRightRaisesTheSystemTextAndSaysWhyOnce) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(ChildWithoutClockRight());
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop the right to set the clock here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
