// Setting the clock through the clock helper: the window never holds CAP_SYS_TIME itself,
// so no plugin or library it loads can set the clock; it asks the helper, whose group
// membership decides who may.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/clock.h"

namespace {

// The helper's exit statuses (see src/tiktaal-set-clock).
constexpr int HelperStepped = 0;
constexpr int HelperNotPermitted = 3;

std::atomic<bool> FailureTold{false};

// Tells the user once why the clock stays as it is, so the reason is in the journal.
void TellFailureOnce(const std::string& helper, const std::string& reason) {
    if (FailureTold.exchange(true)) return;
    std::fprintf(stderr,
                 "tiktaal: cannot set the PC clock: %s (%s). Only the clock helper may set "
                 "it: install it with its capability and add this user to the group "
                 "tiktaal-clock (see the README), or run with --set-clock=never to leave the "
                 "clock to the system.\n",
                 reason.c_str(), helper.c_str());
}

std::string DirectoryOfThisProgram() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

[[noreturn]] void Refuse(const std::string& helper, int err, const std::string& reason) {
    TellFailureOnce(helper, reason);
    throw std::system_error(err, std::generic_category(), reason);
}

}  // namespace

std::string ClockHelperPath() {
    const char* chosen = std::getenv("TIKTAAL_SET_CLOCK_HELPER");
    if (chosen && *chosen) return chosen;
    // Installed beside this program (wherever the prefix was), where this build would
    // install it, or built beside it in the build tree.
    const std::string here = DirectoryOfThisProgram();
    const std::string installed = TIKTAAL_CLOCK_HELPER;
    for (const std::string& candidate : {here + "/../" + TIKTAAL_CLOCK_HELPER_RELATIVE, installed,
                                         here + "/../tiktaal-set-clock/tiktaal-set-clock"})
        if (access(candidate.c_str(), F_OK) == 0) return candidate;
    return installed;
}

bool SystemStepClock(double offsetSeconds) {
    if (!std::isfinite(offsetSeconds)) return false;
    const std::string helper = ClockHelperPath();
    char offset[64];
    std::snprintf(offset, sizeof offset, "%+.9f", offsetSeconds);
    char* const argv[] = {const_cast<char*>(helper.c_str()), offset, nullptr};
    char* const noEnvironment[] = {nullptr};
    // The reason is told here, once; the helper's own words would repeat every cycle.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawnError = posix_spawn(&pid, helper.c_str(), &quiet, nullptr, argv, noEnvironment);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawnError != 0) Refuse(helper, spawnError, std::strerror(spawnError));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    if (WIFEXITED(status) && WEXITSTATUS(status) == HelperStepped) return true;
    if (WIFEXITED(status) && WEXITSTATUS(status) == HelperNotPermitted)
        Refuse(helper, EPERM, std::strerror(EPERM));
    return false;
}
