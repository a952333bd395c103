#include "platform/user_state.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace {

bool Absolute(const char* path) { return path && path[0] == '/'; }

}  // namespace

std::string StateDirectoryFrom(const char* xdgStateHome, const char* home, const char* passwdHome) {
    if (Absolute(xdgStateHome)) return xdgStateHome;
    if (Absolute(home)) return std::string(home) + "/.local/state";
    if (Absolute(passwdHome)) return std::string(passwdHome) + "/.local/state";
    return "";
}

std::string UserStateDirectory() {
    const passwd* pw = getpwuid(getuid());
    return StateDirectoryFrom(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"),
                              pw ? pw->pw_dir : nullptr);
}

std::string ExecutableDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    const std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "" : exe.substr(0, slash + 1);
}
