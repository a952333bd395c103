#include "service_install.h"

#include <windows.h>
// After windows.h, which it needs.
#include <lm.h>

#include <cstdio>

#include "platform/windows/clock_service_protocol.h"

namespace {

constexpr DWORD StateWaitMs = 15000;

int Fail(const char* what, DWORD error) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::fprintf(stderr, "tiktaal-set-clock: %s: %s (system error %lu)\n", what, text, error);
    return 1;
}

class TScHandle {
public:
    explicit TScHandle(SC_HANDLE handle) : FHandle(handle) {}
    ~TScHandle() {
        if (FHandle) CloseServiceHandle(FHandle);
    }
    TScHandle(const TScHandle&) = delete;
    TScHandle& operator=(const TScHandle&) = delete;
    operator SC_HANDLE() const { return FHandle; }

private:
    SC_HANDLE FHandle;
};

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring ThisProgram() {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return std::wstring(path, n);
}

// Waits until the service is in the state; false when it does not get there in time.
bool WaitForState(SC_HANDLE service, DWORD wanted) {
    for (DWORD waited = 0; waited <= StateWaitMs; waited += 100) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == wanted) return true;
        Sleep(100);
    }
    return false;
}

bool StopService(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    return WaitForState(service, SERVICE_STOPPED);
}

int AddGroupAndUsers(const std::vector<std::wstring>& users) {
    LOCALGROUP_INFO_1 group{const_cast<LPWSTR>(TIKTAAL_CLOCK_GROUP),
                            const_cast<LPWSTR>(L"Members may set the PC clock through Tiktaal")};
    NET_API_STATUS status = NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&group), nullptr);
    if (status != NERR_Success && status != NERR_GroupExists && status != ERROR_ALIAS_EXISTS)
        return Fail("cannot create the group \"Tiktaal Clock\"", status);
    int result = 0;
    for (const std::wstring& user : users) {
        LOCALGROUP_MEMBERS_INFO_3 member{const_cast<LPWSTR>(user.c_str())};
        status = NetLocalGroupAddMembers(nullptr, TIKTAAL_CLOCK_GROUP, 3,
                                         reinterpret_cast<LPBYTE>(&member), 1);
        if (status != NERR_Success && status != ERROR_MEMBER_IN_ALIAS) {
            std::fprintf(stderr, "tiktaal-set-clock: cannot add %ls to the group:\n", user.c_str());
            result = Fail("  adding a member", status);
        }
    }
    return result;
}

// The service's settings beyond CreateService's: its description, its one privilege,
// and a restart after a failure.
void ConfigureService(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(
        L"Sets the PC clock for Tiktaal on request of members of the group \"Tiktaal Clock\".")};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    // The service's token holds the system-time privilege and nothing it does not need.
    wchar_t privileges[] = L"SeSystemtimePrivilege\0SeChangeNotifyPrivilege\0";
    SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required))
        std::fprintf(stderr,
                     "tiktaal-set-clock: the service's token keeps LOCAL SERVICE's usual "
                     "privileges, as the system could not limit it to the system-time one "
                     "(system error %lu)\n",
                     GetLastError());
    SC_ACTION restart{SC_ACTION_RESTART, 5000};
    SERVICE_FAILURE_ACTIONSW failure{86400, nullptr, nullptr, 1, &restart};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

}  // namespace

int InstallService(const std::vector<std::wstring>& users, const std::wstring& record) {
    int result = AddGroupAndUsers(users);
    TScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return Fail("cannot open the service control manager", GetLastError());
    std::wstring command = Quoted(ThisProgram()) + L" --service";
    if (!record.empty()) command += L" --record " + Quoted(record);
    const wchar_t* account = L"NT AUTHORITY\\LocalService";
    TScHandle created(CreateServiceW(manager, TIKTAAL_CLOCK_SERVICE, L"Tiktaal Clock",
                                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                     nullptr, nullptr, nullptr, account, L""));
    SC_HANDLE service = created;
    TScHandle existing(service ? nullptr
                               : OpenServiceW(manager, TIKTAAL_CLOCK_SERVICE, SERVICE_ALL_ACCESS));
    if (!service) {
        // Installed before: an upgrade in place, with this program and these options.
        if (!existing) return Fail("cannot register the service", GetLastError());
        service = existing;
        StopService(service);
        if (!ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  account, L"", L"Tiktaal Clock"))
            return Fail("cannot update the registered service", GetLastError());
    }
    ConfigureService(service);
    if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return Fail("cannot start the service", GetLastError());
    if (!WaitForState(service, SERVICE_RUNNING))
        return Fail("the service did not report running", ERROR_SERVICE_REQUEST_TIMEOUT);
    return result;
}

int UninstallService() {
    int result = 0;
    TScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return Fail("cannot open the service control manager", GetLastError());
    TScHandle service(OpenServiceW(manager, TIKTAAL_CLOCK_SERVICE, SERVICE_ALL_ACCESS));
    if (service) {
        if (!StopService(service))
            result = Fail("the service did not stop", ERROR_SERVICE_REQUEST_TIMEOUT);
        if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            result = Fail("cannot delete the service", GetLastError());
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        result = Fail("cannot open the service", GetLastError());
    }
    const NET_API_STATUS status = NetLocalGroupDel(nullptr, TIKTAAL_CLOCK_GROUP);
    if (status != NERR_Success && status != NERR_GroupNotFound && status != ERROR_NO_SUCH_ALIAS)
        result = Fail("cannot remove the group \"Tiktaal Clock\"", status);
    return result;
}
