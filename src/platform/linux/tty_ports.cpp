#include "platform/tty_ports.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// The 8250 driver registers every legacy ttyS slot; a slot without a UART reports type 0.
bool HasUart(const std::string& entry) {
    std::ifstream f(entry + "/type");
    int type = 0;
    return static_cast<bool>(f >> type) && type != 0;
}

}  // namespace

bool ListTtyPorts(std::vector<std::string>& names, const std::string& ttyClassDir) {
    names.clear();
    DIR* dir = opendir(ttyClassDir.c_str());
    if (!dir) return false;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        const std::string entry = ttyClassDir + "/" + name;
        // Virtual consoles, ptmx and pseudo-terminals have no device link.
        if (!Exists(entry + "/device")) continue;
        if (name.rfind("ttyS", 0) == 0 && !HasUart(entry)) continue;
        names.push_back("/dev/" + name);
    }
    closedir(dir);
    return true;
}
