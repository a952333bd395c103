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
#include <stdexcept>
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

// The helper's first line on standard error without its name: why it refused the step.
std::string HelperReason(const std::string& said) {
    std::string line = said.substr(0, said.find('\n'));
    const std::string name = "tiktaal-set-clock: ";
    if (line.compare(0, name.size(), name) == 0) line.erase(0, name.size());
    return line.empty() ? std::string("it gave no reason") : line;
}

// Everything the child writes to the pipe until it closes it, at most a few lines.
std::string ReadAll(int fd) {
    std::string said;
    char buffer[512];
    while (said.size() < 4096) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        said.append(buffer, static_cast<size_t>(n));
    }
    return said;
}

// Runs the helper with its standard error into a pipe; false (errno set) when it cannot.
bool SpawnHelper(const std::string& helper, const char* offset, pid_t& pid, int& errorPipe) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    char* const argv[] = {const_cast<char*>(helper.c_str()), const_cast<char*>(offset), nullptr};
    char* const noEnvironment[] = {nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    const int spawnError = posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, noEnvironment);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawnError != 0) {
        close(fds[0]);
        errno = spawnError;
        return false;
    }
    errorPipe = fds[0];
    return true;
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
    // The helper's words are caught, not passed through: the caller tells them once.
    pid_t pid = 0;
    int errorPipe = -1;
    if (!SpawnHelper(helper, offset, pid, errorPipe)) {
        const int err = errno;
        Refuse(helper, err, std::strerror(err));
    }
    const std::string said = ReadAll(errorPipe);
    close(errorPipe);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    if (!WIFEXITED(status)) throw std::runtime_error("the clock helper was killed by a signal");
    const int code = WEXITSTATUS(status);
    if (code == HelperStepped) return true;
    if (code == HelperNotPermitted) Refuse(helper, EPERM, std::strerror(EPERM));
    throw std::runtime_error("the clock helper refused it (exit status " + std::to_string(code) +
                             "): " + HelperReason(said));
}
