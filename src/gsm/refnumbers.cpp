#include "gsm/refnumbers.h"

#include <cerrno>
#include <fstream>
#include <sstream>

#include "gsm/modemreplies.h"
#include "net/netutil.h"
#include "platform/registry.h"
#include "platform/user_state.h"

namespace {

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A file larger than this is not a reference list: it is not read.
constexpr std::streamoff MaxFileSize = 1 << 20;

// The file's text (empty when it is missing); false for one too large to be a reference
// list, which is never replaced.
bool FileText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;
    in.seekg(0, std::ios::end);
    if (in.tellg() > MaxFileSize) return false;
    in.seekg(0);
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

}  // namespace

std::string DefaultReferenceFile() { return ExecutableDirectory() + "ReferenceNumbers.ini"; }

int ReadReferenceNumber(const std::string& path, const std::string& key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    in.seekg(0, std::ios::end);
    if (in.tellg() > MaxFileSize) return 0;
    in.seekg(0);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        line = TrimText(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            inSection = SameNoCase(line, "[RefNum]");
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos || !SameNoCase(TrimText(line.substr(0, eq)), key))
            continue;
        int value = 0;
        return ReadBoundedInt(line.substr(eq + 1), -2147483647 - 1, 2147483647, value) ? value : 0;
    }
    return 0;
}

bool WriteReferenceNumber(const std::string& path, const std::string& key, int value) {
    std::string text;
    if (!FileText(path, text)) {
        errno = EFBIG;
        return false;
    }
    std::stringstream in(text);
    std::string out, line;
    bool inSection = false, sectionSeen = false, written = false;
    const std::string entry = key + "=" + std::to_string(value) + "\n";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = TrimText(line);
        if (!trimmed.empty() && trimmed[0] == '[') {
            if (inSection && !written) out += entry, written = true;
            inSection = SameNoCase(trimmed, "[RefNum]");
            sectionSeen = sectionSeen || inSection;
        } else if (inSection) {
            const size_t eq = trimmed.find('=');
            if (eq != std::string::npos && SameNoCase(TrimText(trimmed.substr(0, eq)), key)) {
                if (!written) out += entry, written = true;
                continue;
            }
        }
        out += line + "\n";
    }
    if (!sectionSeen) out += "[RefNum]\n";
    if (!written) out += entry;
    return SaveFileAtomically(path, out);
}
