#include "serial/comportlist.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/tty_ports.h"

namespace {

std::string TtyClassDir = "/sys/class/tty";

bool LessNoCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // names that differ only in case keep a fixed order
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// COM1 sorts as COM01: one lone final digit gets a leading zero for the comparison only.
std::string NumericKey(const std::string& name) {
    const size_t n = name.size();
    if (n == 0 || !IsDigit(name[n - 1]) || (n > 1 && IsDigit(name[n - 2]))) return name;
    return name.substr(0, n - 1) + "0" + name.substr(n - 1);
}

}  // namespace

void SetTtyClassDir(const std::string& dir) { TtyClassDir = dir; }

bool ReadComPortNames(std::vector<std::string>& names) { return ListTtyPorts(names, TtyClassDir); }

void SortPortNamesAsText(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), LessNoCase);
}

void SortPortNamesNumerically(std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (const std::string& n : names) keyed.emplace_back(NumericKey(n), n);
    std::sort(keyed.begin(), keyed.end(),
              [](const auto& a, const auto& b) { return LessNoCase(a.first, b.first); });
    for (size_t i = 0; i < names.size(); ++i) names[i] = keyed[i].second;
}

bool FillComPortList(TStringList& list, std::string* errorText) {
    std::vector<std::string> names;
    const bool ok = ReadComPortNames(names);
    if (!ok && errorText) *errorText = ComPortEnumError;
    SortPortNamesNumerically(names);
    list.Clear();
    for (const std::string& n : names) list.Add(n);
    return ok;
}
