// The serial ports of the machine as Windows lists them: the values of
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, each a port name such as COM3.
#include "platform/tty_ports.h"

#include <windows.h>

#include "platform/windows/wide_text.h"

namespace {

// Enough for any machine; a map that claims more is not read further.
constexpr DWORD kMaxPorts = 4096;

}  // namespace

// The directory argument names the Linux device class; Windows has its one map.
bool ListTtyPorts(std::vector<std::string>& names, const std::string& /*ttyClassDir*/) {
    names.clear();
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM",
                                         0, KEY_QUERY_VALUE, &key);
    // A machine without serial ports has no map at all: that is an empty list, not an error.
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    bool ok = true;
    for (DWORD i = 0; i < kMaxPorts; ++i) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = REG_NONE;
        const LSTATUS e = RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
        if (e == ERROR_NO_MORE_ITEMS) break;
        if (e == ERROR_MORE_DATA) continue;  // no port has so long a name
        if (e != ERROR_SUCCESS) {
            ok = false;
            break;
        }
        if (type != REG_SZ) continue;
        data[dataBytes / sizeof(wchar_t)] = L'\0';
        const std::string port = WideToUtf8(data, dataBytes / sizeof(wchar_t));
        if (!port.empty()) names.push_back(port);
    }
    RegCloseKey(key);
    if (!ok) names.clear();
    return ok;
}
