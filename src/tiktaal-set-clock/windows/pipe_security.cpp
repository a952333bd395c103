#include "pipe_security.h"

#include <sddl.h>

#include "platform/windows/clock_service_protocol.h"

namespace {

std::wstring SidText(const std::vector<BYTE>& sid) {
    if (sid.empty()) return std::wstring();
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(const_cast<BYTE*>(sid.data()), &text)) return std::wstring();
    std::wstring result(text);
    LocalFree(text);
    return result;
}

std::wstring Hex(unsigned long value) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%lx", value);
    return text;
}

}  // namespace

TPipeSecurity::TPipeSecurity(const std::vector<BYTE>& groupSid, const std::vector<BYTE>& ownSid) {
    // Protected (no inherited entries): the system and the service's own account in full,
    // administrators and the group as clients only.
    const std::wstring client = Hex(ClockPipeClientAccess);
    FSddl = L"D:P(A;;GA;;;SY)(A;;" + client + L";;;BA)";
    const std::wstring own = SidText(ownSid);
    if (!own.empty()) FSddl += L"(A;;GA;;;" + own + L")";
    const std::wstring group = SidText(groupSid);
    if (!group.empty()) FSddl += L"(A;;" + client + L";;;" + group + L")";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(FSddl.c_str(), SDDL_REVISION_1,
                                                              &FDescriptor, nullptr))
        FDescriptor = nullptr;
    FAttributes.nLength = sizeof FAttributes;
    FAttributes.lpSecurityDescriptor = FDescriptor;
    FAttributes.bInheritHandle = FALSE;
}

TPipeSecurity::~TPipeSecurity() {
    if (FDescriptor) LocalFree(FDescriptor);
}

bool TPipeSecurity::Admits(HANDLE token) const {
    if (!FDescriptor || !token) return false;
    // AccessCheck wants owner and group in the descriptor; a copy with them set to the
    // system keeps the pipe's own descriptor as it is.
    std::wstring full = L"O:SYG:SY" + FSddl;
    PSECURITY_DESCRIPTOR checked = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(full.c_str(), SDDL_REVISION_1,
                                                              &checked, nullptr))
        return false;
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesLength = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    const BOOL checkedOk = AccessCheck(checked, token, ClockPipeClientAccess, &mapping, &privileges,
                                       &privilegesLength, &granted, &allowed);
    LocalFree(checked);
    return checkedOk && allowed;
}

std::vector<BYTE> AccountSid(const std::wstring& name) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD sidLength = static_cast<DWORD>(sid.size());
    wchar_t domain[256];
    DWORD domainLength = 256;
    SID_NAME_USE use;
    if (!LookupAccountNameW(nullptr, name.c_str(), sid.data(), &sidLength, domain, &domainLength,
                            &use))
        return {};
    sid.resize(sidLength);
    return sid;
}

std::vector<BYTE> ProcessUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    std::vector<BYTE> sid;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
        const BYTE* bytes = static_cast<const BYTE*>(user);
        sid.assign(bytes, bytes + GetLengthSid(user));
    }
    CloseHandle(token);
    return sid;
}

HANDLE PipeClientToken(HANDLE pipe) {
    if (!ImpersonateNamedPipeClient(pipe)) return nullptr;
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) token = nullptr;
    // A thread that cannot shed the caller's identity must not go on serving.
    if (!RevertToSelf()) ExitProcess(1);
    return token;
}
