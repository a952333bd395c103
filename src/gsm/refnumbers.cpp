#include "gsm/refnumbers.h"

#include <unistd.h>

#include <fstream>

#include "gsm/modemreplies.h"
#include "net/netutil.h"

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

}  // namespace

std::string DefaultReferenceFile() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "ReferenceNumbers.ini";
    std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return (slash == std::string::npos ? std::string() : exe.substr(0, slash + 1)) +
           "ReferenceNumbers.ini";
}

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
