// The settings store on Windows: the registry itself, through the wide API. Each call
// opens the key, does one thing and closes it again, as the store's users expect of a
// store that other programs may change in between.
#include "platform/registry.h"

#include <windows.h>

#include "platform/windows/wide_text.h"

namespace {

// Larger values are no setting of ours: refused rather than read into memory.
constexpr DWORD kMaxValueBytes = 1 << 20;

HKEY RootHandle(TRegRoot root) {
    return root == TRegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring KeyPath(const std::string& path) {
    size_t start = 0;
    while (start < path.size() && path[start] == '\\') ++start;
    return Utf8ToWide(path.substr(start));
}

class TKeyHandle {
public:
    TKeyHandle(TRegRoot root, const std::string& path, REGSAM access) {
        if (RegOpenKeyExW(RootHandle(root), KeyPath(path).c_str(), 0, access, &FKey) !=
            ERROR_SUCCESS)
            FKey = nullptr;
    }
    ~TKeyHandle() {
        if (FKey) RegCloseKey(FKey);
    }
    TKeyHandle(const TKeyHandle&) = delete;
    TKeyHandle& operator=(const TKeyHandle&) = delete;
    HKEY Get() const { return FKey; }

private:
    HKEY FKey = nullptr;
};

[[noreturn]] void InvalidType(const std::string& name) {
    throw ERegistryException("Invalid data type for '" + name + "'");
}

[[noreturn]] void FailedToSet(const std::string& name) {
    throw ERegistryException("Failed to set data for '" + name + "'");
}

}  // namespace

std::string UserStorePath() { return "HKEY_CURRENT_USER"; }

TRegistry::TRegistry(TRegRoot root, std::string storePath)
    : FRoot(root), FPath(std::move(storePath)) {}

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
    CloseKey();
    const std::wstring key = KeyPath(path);
    if (key.empty()) return false;
    HKEY handle = nullptr;
    LSTATUS status = RegOpenKeyExW(RootHandle(FRoot), key.c_str(), 0,
                                   canCreate ? KEY_READ | KEY_WRITE : KEY_READ, &handle);
    if (status == ERROR_FILE_NOT_FOUND && canCreate)
        status = RegCreateKeyExW(RootHandle(FRoot), key.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &handle,
                                 nullptr);
    if (status != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    FKey = path;
    FOpen = true;
    return true;
}

void TRegistry::CloseKey() {
    FOpen = false;
    FKey.clear();
}

bool TRegistry::ValueExists(const std::string& name) {
    if (!FOpen) return false;
    TKeyHandle key(FRoot, FKey, KEY_QUERY_VALUE);
    return key.Get() && RegQueryValueExW(key.Get(), Utf8ToWide(name).c_str(), nullptr, nullptr,
                                         nullptr, nullptr) == ERROR_SUCCESS;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
    if (!FOpen) return TRegDataType::rdUnknown;
    TKeyHandle key(FRoot, FKey, KEY_QUERY_VALUE);
    DWORD type = REG_NONE;
    if (!key.Get() || RegQueryValueExW(key.Get(), Utf8ToWide(name).c_str(), nullptr, &type,
                                       nullptr, nullptr) != ERROR_SUCCESS)
        return TRegDataType::rdUnknown;
    if (type == REG_SZ || type == REG_EXPAND_SZ) return TRegDataType::rdString;
    if (type == REG_DWORD) return TRegDataType::rdInteger;
    return TRegDataType::rdUnknown;
}

std::string TRegistry::ReadString(const std::string& name) {
    if (!FOpen) InvalidType(name);
    TKeyHandle key(FRoot, FKey, KEY_QUERY_VALUE);
    const std::wstring wname = Utf8ToWide(name);
    DWORD type = REG_NONE, bytes = 0;
    if (!key.Get() ||
        RegQueryValueExW(key.Get(), wname.c_str(), nullptr, &type, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || bytes > kMaxValueBytes)
        InvalidType(name);
    // One spare character: a value stored without its final NUL still ends.
    std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = bytes;
    if (RegQueryValueExW(key.Get(), wname.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &got) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        InvalidType(name);
    return WideToUtf8(data.data(), got / sizeof(wchar_t));
}

int32_t TRegistry::ReadInteger(const std::string& name) {
    if (!FOpen) InvalidType(name);
    TKeyHandle key(FRoot, FKey, KEY_QUERY_VALUE);
    DWORD type = REG_NONE, value = 0, bytes = sizeof value;
    if (!key.Get() ||
        RegQueryValueExW(key.Get(), Utf8ToWide(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof value)
        InvalidType(name);
    return static_cast<int32_t>(value);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    if (!FOpen) FailedToSet(name);
    TKeyHandle key(FRoot, FKey, KEY_SET_VALUE);
    const std::wstring data = Utf8ToWide(value);
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    if (!key.Get() || RegSetValueExW(key.Get(), Utf8ToWide(name).c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(data.c_str()),
                                     bytes) != ERROR_SUCCESS)
        FailedToSet(name);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    if (!FOpen) FailedToSet(name);
    TKeyHandle key(FRoot, FKey, KEY_SET_VALUE);
    const auto data = static_cast<DWORD>(value);
    if (!key.Get() || RegSetValueExW(key.Get(), Utf8ToWide(name).c_str(), 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&data),
                                     sizeof data) != ERROR_SUCCESS)
        FailedToSet(name);
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!FOpen) return false;
    TKeyHandle key(FRoot, FKey, KEY_SET_VALUE);
    return key.Get() && RegDeleteValueW(key.Get(), Utf8ToWide(name).c_str()) == ERROR_SUCCESS;
}
