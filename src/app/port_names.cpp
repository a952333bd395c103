#include "app/port_names.h"

#include <cctype>

#include "net/netutil.h"

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

}  // namespace

std::string PortShortName(const std::string& path) {
    if (path.rfind(DevPrefix, 0) != 0 || path.size() == DevPrefix.size()) return path;
    const std::string rest = path.substr(DevPrefix.size());
    // A short name that reads as COMn would open another port when typed back.
    return IsComName(rest) ? path : rest;
}

std::string PortPathFromText(const std::string& text) {
    const std::string name = TrimText(text);
    if (name.empty() || name[0] == '/' || IsComName(name)) return name;
    return DevPrefix + name;
}
