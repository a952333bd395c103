#include "platform/autostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "platform/registry.h"

namespace {
std::string EntryPath(const std::string& name) {
    return AutostartDirectory() + "/" + name + ".desktop";
}
// A name that could leave the directory is no entry of ours.
bool SafeName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}
}  // namespace

std::string AutostartDirectory() {
    // The store lives in <config>/Tiktaal/user.reg; autostart is <config>/autostart.
    std::string store = UserStorePath();
    for (int i = 0; i < 2; ++i) store = store.substr(0, store.rfind('/'));
    return store + "/autostart";
}

bool AutostartEntryExists(const std::string& name) {
    return SafeName(name) && access(EntryPath(name).c_str(), F_OK) == 0;
}

std::string DesktopExecValue(const std::string& path) {
    // Inside the quotes ", `, $ and \ are escaped; then the whole value is escaped again
    // as a desktop-entry string, which doubles every backslash. % is a field code.
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : quoted) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

void WriteAutostartEntry(const std::string& name, const std::string& executablePath) {
    const std::string failure = "Failed to set data for '" + name + "'";
    if (!SafeName(name) || executablePath.find_first_of("\r\n") != std::string::npos)
        throw std::runtime_error(failure);
    const std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=" +
        name +
        "\n"
        "Exec=" +
        DesktopExecValue(executablePath) +
        "\n"
        "X-GNOME-Autostart-enabled=true\n";
    if (!SaveFileAtomically(EntryPath(name), text)) throw std::runtime_error(failure);
}

bool RemoveAutostartEntry(const std::string& name) {
    return SafeName(name) && unlink(EntryPath(name).c_str()) == 0;
}
