#include "app/port_names.h"

#include <cctype>

namespace {
const std::string DevPrefix = "/dev/";

bool IsComName(const std::string& s) {
    if (s.size() < 4) return false;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != "COM"[i]) return false;
    for (size_t i = 3; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}
}  // namespace

std::string PortShortName(const std::string& path) {
    if (path.rfind(DevPrefix, 0) != 0 || path.size() == DevPrefix.size()) return path;
    const std::string rest = path.substr(DevPrefix.size());
    // A short name that reads as COMn would open another port when typed back.
    return IsComName(rest) ? path : rest;
}

std::string PortPathFromText(const std::string& text) {
    const std::string name = Trimmed(text);
    if (name.empty() || name[0] == '/' || IsComName(name)) return name;
    return DevPrefix + name;
}
