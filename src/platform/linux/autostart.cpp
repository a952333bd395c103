#include "platform/autostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "platform/linux/format_overrides.h"
#include "platform/registry.h"

namespace {
std::string EntryPath(const std::string& name) {
    return AutostartDirectory() + "/" + name + ".desktop";
}
// A name that could leave the directory is no entry of ours.
bool SafeName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

// The command of the entry: the program and its words, run through env with the format
// variables that are set, since a login session does not have the shell's environment.
std::vector<std::string> EntryCommand(const std::string& path, const std::vector<std::string>& args) {
    std::vector<std::string> words;
    for (const char* name : {DateFormatVariable, TimeFormatVariable}) {
        const char* value = std::getenv(name);
        if (value && *value) words.push_back(std::string(name) + "=" + value);
    }
    if (!words.empty()) words.insert(words.begin(), "env");
    words.push_back(path);
    words.insert(words.end(), args.begin(), args.end());
    return words;
}
}  // namespace

std::string AutostartDirectory() {
    const std::string config = UserConfigDirectory();
    return config.empty() ? "" : config + "/autostart";
}

bool AutostartEntryExists(const std::string& name) {
    return SafeName(name) && !AutostartDirectory().empty() &&
           access(EntryPath(name).c_str(), F_OK) == 0;
}

std::string DesktopExecValue(const std::string& path, const std::vector<std::string>& args) {
    // Each word in double quotes with ", `, $ and \ escaped; % is a field code and doubles.
    // Then the whole value is escaped again as a desktop-entry string, which doubles every
    // backslash.
    std::string quoted;
    for (std::size_t i = 0; i <= args.size(); ++i) {
        if (i > 0) quoted += ' ';
        quoted += '"';
        for (char c : i == 0 ? path : args[i - 1]) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            if (c == '%') quoted += '%';
            quoted += c;
        }
        quoted += '"';
    }
    std::string out;
    for (char c : quoted) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

void WriteAutostartEntry(const std::string& name, const std::string& executablePath,
                         const std::vector<std::string>& args) {
    const std::string failure = "Failed to set data for '" + name + "'";
    // A control character cannot be carried by a desktop-entry line.
    const auto hasControl = [](const std::string& s) {
        for (unsigned char c : s)
            if (c < 0x20 || c == 0x7f) return true;
        return false;
    };
    const std::vector<std::string> command = EntryCommand(executablePath, args);
    bool bad = !SafeName(name) || AutostartDirectory().empty();
    for (const std::string& word : command) bad = bad || hasControl(word);
    if (bad) throw std::runtime_error(failure);
    const std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=" +
        name +
        "\n"
        "Exec=" +
        DesktopExecValue(command.front(), {command.begin() + 1, command.end()}) +
        "\n"
        "X-GNOME-Autostart-enabled=true\n";
    if (!SaveFileAtomically(EntryPath(name), text)) throw std::runtime_error(failure);
}

bool RemoveAutostartEntry(const std::string& name) {
    return SafeName(name) && unlink(EntryPath(name).c_str()) == 0;
}
