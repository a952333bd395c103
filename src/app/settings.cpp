#include "app/settings.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/autostart.h"
#include "toolkit/eventlog.h"

namespace {

// Decimal text to a 32-bit integer; anything else is not a number.
bool ParseInteger(const std::string& text, int32_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || end == text.c_str() || v < INT32_MIN || v > INT32_MAX ||
        std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

// Each access opens a fresh store, does one thing and lets it go.
template <typename Fn>
void WithKeyForRead(const std::string& name, const std::string& keyPath, TRegRoot root, Fn fn) {
    if (name.empty() || keyPath.empty()) return;
    try {
        TRegistry reg(root);
        if (reg.OpenKeyReadOnly(keyPath) && reg.ValueExists(name)) fn(reg);
        reg.CloseKey();
    } catch (const std::exception&) {
        // A value of another type or a refused access leaves the default.
    }
}

// A save that fails keeps the old file; the user learns why once, not at every change.
TFailuresTold SaveFailures;

bool RefuseWrite(const std::string& reason) {
    SaveFailures.Tell(reason);
    return false;
}

template <typename Fn>
bool WithKeyForWrite(const std::string& keyPath, TRegRoot root, Fn fn) {
    if (root == TRegRoot::CurrentUser && UserStorePath().empty())
        return RefuseWrite(
            "settings are not saved: no home folder (HOME is not set and the user has no "
            "passwd entry)");
    try {
        TRegistry reg(root);
        if (!reg.OpenKey(keyPath, true)) {
            if (root != TRegRoot::CurrentUser) return false;
            return RefuseWrite("settings not saved to " + UserStorePath() +
                               ": the file cannot be read, so it is left as it is");
        }
        fn(reg);
        reg.CloseKey();
        SaveFailures.Clear();
        return true;
    } catch (const std::exception& e) {
        return RefuseWrite(e.what());
    }
}

}  // namespace

void RegReadString(const std::string& name, const std::string& defaultValue,
                   const std::string& keyPath, std::string& value, TRegRoot root) {
    value = defaultValue;
    WithKeyForRead(name, keyPath, root, [&](TRegistry& reg) { value = reg.ReadString(name); });
}

int32_t RegReadInteger(const std::string& name, int32_t defaultValue, const std::string& keyPath,
                       TRegRoot root) {
    int32_t result = defaultValue;
    WithKeyForRead(name, keyPath, root, [&](TRegistry& reg) {
        int32_t v = 0;
        if (ParseInteger(reg.ReadString(name), v)) result = v;
    });
    return result;
}

bool RegReadBool(const std::string& name, bool defaultValue, const std::string& keyPath,
                 TRegRoot root) {
    bool result = defaultValue;
    WithKeyForRead(name, keyPath, root,
                   [&](TRegistry& reg) { result = reg.ReadInteger(name) != 0; });
    return result;
}

TRegDataType RegReadType(const std::string& name, const std::string& keyPath, TRegRoot root) {
    TRegDataType type = TRegDataType::rdUnknown;
    WithKeyForRead(name, keyPath, root, [&](TRegistry& reg) { type = reg.GetDataType(name); });
    return type;
}

bool RegWriteString(const std::string& name, const std::string& value, const std::string& keyPath,
                    TRegRoot root) {
    // An empty text never reaches the store: the previous value stays.
    if (name.empty() || value.empty()) return false;
    return WithKeyForWrite(keyPath, root, [&](TRegistry& reg) { reg.WriteString(name, value); });
}

bool RegWriteInteger(const std::string& name, int32_t value, const std::string& keyPath,
                     TRegRoot root) {
    if (name.empty()) return false;
    const std::string text = std::to_string(value);
    return WithKeyForWrite(keyPath, root, [&](TRegistry& reg) { reg.WriteString(name, text); });
}

bool RegWriteBool(const std::string& name, bool value, const std::string& keyPath, TRegRoot root) {
    if (name.empty()) return false;
    return WithKeyForWrite(keyPath, root,
                           [&](TRegistry& reg) { reg.WriteInteger(name, value ? 1 : 0); });
}

void AddAutostart(const std::string& name, const std::string& data,
                  const std::vector<std::string>& args) {
    WriteAutostartEntry(name, data, args);
}

bool AutostartExists(const std::string& name) { return AutostartEntryExists(name); }

void RemoveAutostart(const std::string& name) {
    if (AutostartEntryExists(name)) RemoveAutostartEntry(name);  // a failed delete is ignored
}
