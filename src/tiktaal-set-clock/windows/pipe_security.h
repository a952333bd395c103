// Who may talk to the clock service: members of the local group, the system, administrators
// and the account the service runs as (which must create the pipe's further instances).
// The pipe carries this as its access list, so Windows turns others away at the door; the
// service checks each caller's token against the same list once more, so a refusal has a
// reason of its own in the answer and the check does not rest on one layer alone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TPipeSecurity {
public:
    // groupSid may be empty: then only the system, administrators and the service's own
    // account are admitted (the group was removed, or never made).
    TPipeSecurity(const std::vector<BYTE>& groupSid, const std::vector<BYTE>& ownSid);
    ~TPipeSecurity();
    TPipeSecurity(const TPipeSecurity&) = delete;
    TPipeSecurity& operator=(const TPipeSecurity&) = delete;

    bool Valid() const { return FDescriptor != nullptr; }
    // For CreateNamedPipe.
    SECURITY_ATTRIBUTES* Attributes() { return &FAttributes; }
    // Whether the token (an impersonation or identification token) may use the pipe.
    bool Admits(HANDLE token) const;
    const std::wstring& Sddl() const { return FSddl; }

private:
    std::wstring FSddl;
    PSECURITY_DESCRIPTOR FDescriptor = nullptr;
    SECURITY_ATTRIBUTES FAttributes{};
};

// The SID of a local account or group by name; empty when there is none.
std::vector<BYTE> AccountSid(const std::wstring& name);
// The SID of the account this process runs as; empty on failure.
std::vector<BYTE> ProcessUserSid();
// The caller's token of a connected pipe, or nullptr when it cannot be had.
HANDLE PipeClientToken(HANDLE pipe);
