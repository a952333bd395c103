// tiktaal-set-clock.exe: the clock service of Tiktaal on Windows. It runs as LOCAL SERVICE,
// the account that holds the right to set the clock, so that the window never needs it:
// the window sends an offset over the pipe \\.\pipe\Tiktaal.Clock, which admits only the
// members of the local group "Tiktaal Clock", administrators and the system.
//
//   --install [DOMAIN\USER ...]  create the group, add the users, register and start the service
//   --uninstall                  stop and delete the service, remove the group
//   --console                    serve the pipe in the foreground (tests, diagnosis)
//   --record FILE                (with --console or --install) append each accepted offset
//                                to FILE instead of setting the clock
//   --service                    what the service control manager runs
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "clock_service.h"
#include "platform/windows/clock_service_protocol.h"
#include "service_install.h"

namespace {

const char* const UsageText =
    "Usage: tiktaal-set-clock.exe --install [DOMAIN\\USER ...] [--record FILE]\n"
    "       tiktaal-set-clock.exe --uninstall\n"
    "       tiktaal-set-clock.exe --console [--record FILE [--record-hold FILE]] [--pipe NAME]\n"
    "The clock service of Tiktaal: it sets the PC clock for members of the local group\n"
    "\"Tiktaal Clock\" who ask over the pipe \\\\.\\pipe\\Tiktaal.Clock.\n"
    "  --install     create the group, add the users to it, register the service (LOCAL\n"
    "                SERVICE, automatic start) and start it; run as an administrator\n"
    "  --uninstall   stop and delete the service and remove the group\n"
    "  --console     serve the pipe in the foreground until Ctrl+C\n"
    "  --record FILE append each accepted offset to FILE and leave the clock alone\n"
    "  --record-hold FILE  with --record: hold each request while FILE exists\n"
    "  --pipe NAME   with --console: serve this pipe instead\n";

int Usage(const char* why) {
    if (why) std::fprintf(stderr, "tiktaal-set-clock: %s\n", why);
    std::fputs(UsageText, why ? stderr : stdout);
    return why ? 2 : 0;
}

struct TCommand {
    std::wstring Mode;
    std::vector<std::wstring> Users;
    TServiceOptions Options{TIKTAAL_CLOCK_PIPE, L"", L""};
};

// Reads the command line; an empty string, or the reason it cannot be read.
const char* Parse(int argc, wchar_t** argv, TCommand& command) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--install" || arg == L"--uninstall" || arg == L"--console" ||
            arg == L"--service" || arg == L"--help") {
            if (!command.Mode.empty()) return "give one of --install, --uninstall, --console";
            command.Mode = arg;
        } else if (arg == L"--record" || arg == L"--record-hold" || arg == L"--pipe") {
            if (!hasValue || argv[i + 1][0] == 0) return "an option lacks its value";
            std::wstring& value = arg == L"--record"        ? command.Options.Record
                                  : arg == L"--record-hold" ? command.Options.RecordHold
                                                            : command.Options.Pipe;
            value = argv[++i];
        } else if (command.Mode == L"--install" && arg.rfind(L"--", 0) != 0) {
            command.Users.push_back(arg);
        } else {
            return "unknown argument";
        }
    }
    if (command.Mode.empty()) return "give one of --install, --uninstall, --console";
    const TServiceOptions& o = command.Options;
    if (!o.RecordHold.empty() && (o.Record.empty() || command.Mode != L"--console"))
        return "--record-hold goes with --console --record";
    if (o.Pipe != TIKTAAL_CLOCK_PIPE && command.Mode != L"--console")
        return "--pipe goes with --console";
    if (!o.Record.empty() && command.Mode == L"--uninstall")
        return "--record goes with --console or --install";
    return "";
}

// A record file as the service will find it: a full path.
std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(full, n) : path;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    TCommand command;
    const char* why = Parse(argc, argv, command);
    if (*why) return Usage(why);
    if (command.Mode == L"--help") return Usage(nullptr);
    if (!command.Options.Record.empty()) command.Options.Record = FullPath(command.Options.Record);
    if (command.Mode == L"--install") return InstallService(command.Users, command.Options.Record);
    if (command.Mode == L"--uninstall") return UninstallService();
    if (command.Mode == L"--console") return RunConsole(command.Options);
    return RunService(command.Options);
}
