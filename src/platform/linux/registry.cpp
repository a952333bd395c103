#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr size_t MaxStoreSize = 16u << 20;  // a settings file larger than this is not ours

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Key paths compare without case and without leading or trailing backslashes.
std::string NormalKey(const std::string& path) {
    size_t b = 0, e = path.size();
    while (b < e && path[b] == '\\') ++b;
    while (e > b && path[e - 1] == '\\') --e;
    return path.substr(b, e - b);
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\r') {
            out += "\\r";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// Reads a quoted text at line[pos]; pos moves past the closing quote.
bool Unquote(const std::string& line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (size_t i = pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c == '\\') {
            if (++i >= line.size()) return false;
            c = line[i];
            if (c == 'n') c = '\n';
            if (c == 'r') c = '\r';
        }
        out += c;
    }
    return false;
}

bool ParseDword(const std::string& text, int32_t& value) {
    if (text.size() != 8) return false;
    uint32_t v = 0;
    for (char c : text) {
        const int d =
            std::isxdigit(static_cast<unsigned char>(c))
                ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                               : (std::tolower(c) - 'a' + 10))
                : -1;
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    value = static_cast<int32_t>(v);
    return true;
}

bool ParseValueLine(const std::string& line, std::string& name, TRegValue& value) {
    size_t pos = 0;
    if (!Unquote(line, pos, name) || pos >= line.size() || line[pos] != '=') return false;
    const std::string rhs = line.substr(pos + 1);
    if (!rhs.empty() && rhs[0] == '"') {
        size_t p = 0;
        if (!Unquote(rhs, p, value.Text) || p != rhs.size()) return false;
        value.Type = TRegDataType::rdString;
        return true;
    }
    if (rhs.rfind("dword:", 0) == 0) {
        value.Type = TRegDataType::rdInteger;
        return ParseDword(rhs.substr(6), value.Integer);
    }
    if (rhs.empty()) return false;
    value.Type = TRegDataType::rdUnknown;
    value.Text = rhs;
    return true;
}

bool Absolute(const char* path) { return path && path[0] == '/'; }

const char* PasswdHome() {
    const passwd* pw = getpwuid(getuid());
    return pw ? pw->pw_dir : nullptr;
}

}  // namespace

TRegFile TRegFile::Parse(const std::string& text) {
    TRegFile f;
    TKey* current = nullptr;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // Files edited on Windows end their lines in CR LF.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line == "REGEDIT4" || line[0] == ';') continue;
        if (line[0] == '[') {
            current = line.back() == ']' ? &f.AddKey(line.substr(1, line.size() - 2)) : nullptr;
            continue;
        }
        std::string name;
        TRegValue value;
        if (current && ParseValueLine(line, name, value)) {
            if (TRegValue* existing = FindValue(*current, name))
                *existing = value;
            else
                current->Values.emplace_back(name, value);
        }
    }
    return f;
}

std::string TRegFile::Format() const {
    std::string out = "REGEDIT4\n";
    for (const TKey& k : FKeys) {
        out += "\n[" + k.Path + "]\n";
        for (const auto& [name, v] : k.Values) {
            out += Quote(name) + "=";
            if (v.Type == TRegDataType::rdString) {
                out += Quote(v.Text);
            } else if (v.Type == TRegDataType::rdInteger) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<uint32_t>(v.Integer));
                out += buf;
            } else {
                out += v.Text;
            }
            out += "\n";
        }
    }
    return out;
}

TRegFile::TKey* TRegFile::FindKey(const std::string& path) {
    const std::string want = NormalKey(path);
    for (TKey& k : FKeys)
        if (SameNoCase(NormalKey(k.Path), want)) return &k;
    return nullptr;
}

TRegFile::TKey& TRegFile::AddKey(const std::string& path) {
    if (TKey* k = FindKey(path)) return *k;
    FKeys.push_back(TKey{NormalKey(path), {}});
    return FKeys.back();
}

TRegValue* TRegFile::FindValue(TKey& key, const std::string& name) {
    for (auto& [n, v] : key.Values)
        if (SameNoCase(n, name)) return &v;
    return nullptr;
}

std::string ConfigDirectoryFrom(const char* xdgConfigHome, const char* home,
                                const char* passwdHome) {
    if (Absolute(xdgConfigHome)) return xdgConfigHome;
    if (Absolute(home)) return std::string(home) + "/.config";
    if (Absolute(passwdHome)) return std::string(passwdHome) + "/.config";
    return "";
}

std::string UserConfigDirectory() {
    return ConfigDirectoryFrom(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), PasswdHome());
}

std::string UserStorePath() {
    const std::string base = UserConfigDirectory();
    return base.empty() ? "" : base + "/Tiktaal/user.reg";
}

TRegistry::TRegistry(TRegRoot root, std::string storePath)
    : FRoot(root), FPath(storePath.empty() ? UserStorePath() : std::move(storePath)) {}

bool TRegistry::Load() {
    FFile = TRegFile();
    FLoadedAll = true;
    std::ifstream in(FPath, std::ios::binary);
    if (!in) {
        // A store that exists but cannot be read must not be overwritten by a later save.
        FLoadedAll = access(FPath.c_str(), F_OK) != 0 && errno == ENOENT;
        return false;
    }
    std::string text;
    char buf[8192];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > MaxStoreSize) {
            FLoadedAll = false;
            return false;
        }
    }
    FFile = TRegFile::Parse(text);
    return true;
}

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
    CloseKey();
    // Without a home folder there is no store: never one in a folder other users share.
    if (FRoot != TRegRoot::CurrentUser || FPath.empty() || NormalKey(path).empty()) return false;
    Load();
    if (!FFile.FindKey(path)) {
        if (!canCreate || !FLoadedAll) return false;
        FFile.AddKey(path);
    }
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
    TRegFile::TKey* k = FFile.FindKey(FKey);
    return k && TRegFile::FindValue(*k, name);
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
    if (!ValueExists(name)) return TRegDataType::rdUnknown;
    return Require(name).Type;
}

TRegValue& TRegistry::Require(const std::string& name) {
    TRegFile::TKey* k = FOpen ? FFile.FindKey(FKey) : nullptr;
    TRegValue* v = k ? TRegFile::FindValue(*k, name) : nullptr;
    if (!v) throw ERegistryException("Invalid data type for '" + name + "'");
    return *v;
}

std::string TRegistry::ReadString(const std::string& name) {
    TRegValue& v = Require(name);
    if (v.Type != TRegDataType::rdString)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return v.Text;
}

int32_t TRegistry::ReadInteger(const std::string& name) {
    TRegValue& v = Require(name);
    if (v.Type != TRegDataType::rdInteger)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return v.Integer;
}

void TRegistry::Store(const std::string& name, const TRegValue& value) {
    if (!FOpen) throw ERegistryException("Failed to set data for '" + name + "'");
    if (!FLoadedAll)
        throw ERegistryException("settings not saved to " + FPath +
                                 ": the file cannot be read, so it is left as it is");
    TRegFile::TKey& k = FFile.AddKey(FKey);
    if (TRegValue* v = TRegFile::FindValue(k, name))
        *v = value;
    else
        k.Values.emplace_back(name, value);
    Save();
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    Store(name, TRegValue{TRegDataType::rdString, value, 0});
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    Store(name, TRegValue{TRegDataType::rdInteger, "", value});
}

bool TRegistry::DeleteValue(const std::string& name) {
    TRegFile::TKey* k = FOpen ? FFile.FindKey(FKey) : nullptr;
    if (!k || !FLoadedAll) return false;
    for (auto it = k->Values.begin(); it != k->Values.end(); ++it) {
        if (SameNoCase(it->first, name)) {
            k->Values.erase(it);
            try {
                Save();
            } catch (const ERegistryException&) {
                return false;
            }
            return true;
        }
    }
    return false;
}

void TRegistry::Save() {
    if (!SaveFileAtomically(FPath, FFile.Format()))
        throw ERegistryException("settings not saved to " + FPath + ": " + std::strerror(errno));
}
