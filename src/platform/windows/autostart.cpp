// Autostart on Windows: a value named after the program under the current user's Run key,
// holding the quoted program path and the options of the copy that wrote it.
#include "platform/autostart.h"

#include <stdexcept>

#include "platform/registry.h"
#include "platform/windows/autostart.h"

namespace {

void AppendQuoted(std::string& out, const std::string& word) {
    out += '"';
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each one is doubled.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');  // before the closing quote
    out += '"';
}

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

}  // namespace

std::string RunCommandLine(const std::string& path, const std::vector<std::string>& args) {
    std::string out;
    AppendQuoted(out, path);
    for (const std::string& a : args) {
        out += ' ';
        AppendQuoted(out, a);
    }
    return out;
}

std::string AutostartDirectory() { return std::string("HKEY_CURRENT_USER\\") + RunKeyPath; }

bool AutostartEntryExists(const std::string& name) {
    if (name.empty()) return false;
    TRegistry reg(TRegRoot::CurrentUser);
    return reg.OpenKeyReadOnly(RunKeyPath) && reg.ValueExists(name);
}

void WriteAutostartEntry(const std::string& name, const std::string& executablePath,
                         const std::vector<std::string>& args) {
    const std::string failure = "Failed to set data for '" + name + "'";
    bool bad = name.empty() || HasControl(executablePath);
    for (const std::string& a : args) bad = bad || HasControl(a);
    if (bad) throw std::runtime_error(failure);
    try {
        TRegistry reg(TRegRoot::CurrentUser);
        if (!reg.OpenKey(RunKeyPath, true)) throw std::runtime_error(failure);
        reg.WriteString(name, RunCommandLine(executablePath, args));
    } catch (const ERegistryException&) {
        throw std::runtime_error(failure);
    }
}

bool RemoveAutostartEntry(const std::string& name) {
    if (name.empty()) return false;
    TRegistry reg(TRegRoot::CurrentUser);
    return reg.OpenKey(RunKeyPath, false) && reg.DeleteValue(name);
}
