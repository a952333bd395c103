#include "clock_service.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "clock_step.h"
#include "pipe_server.h"
#include "platform/windows/clock_service_protocol.h"

namespace {

// Everything that serves the pipe, built from the options.
class TClockServer {
public:
    explicit TClockServer(const TServiceOptions& options)
        : FSecurity(AccountSid(TIKTAAL_CLOCK_GROUP), ProcessUserSid()),
          FRequests(Applier(options)),
          FServer(options.Pipe, FSecurity, FRequests) {}
    DWORD Start() { return FServer.Start(); }
    void Stop() { FServer.Stop(); }

private:
    static TClockApplier Applier(const TServiceOptions& options) {
        if (!options.Record.empty()) return TClockRecorder(options.Record, options.RecordHold);
        return
            [](const TClockOffset& offset, const std::string&) { return StepSystemClock(offset); };
    }

    TPipeSecurity FSecurity;
    TClockRequests FRequests;
    TPipeServer FServer;
};

HANDLE ConsoleStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(ConsoleStop);
    return TRUE;
}

// What the service control manager talks to.
struct TServiceState {
    TServiceOptions Options;
    SERVICE_STATUS_HANDLE Handle = nullptr;
    SERVICE_STATUS Status{};
    HANDLE Stop = nullptr;
    int ExitStatus = 0;
};
TServiceState Service;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    Service.Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    Service.Status.dwCurrentState = state;
    Service.Status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    Service.Status.dwWin32ExitCode = exitCode;
    Service.Status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    SetServiceStatus(Service.Handle, &Service.Status);
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(Service.Stop);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    Service.Handle =
        RegisterServiceCtrlHandlerExW(TIKTAAL_CLOCK_SERVICE, OnServiceControl, nullptr);
    if (!Service.Handle) {
        Service.ExitStatus = 1;
        return;
    }
    Report(SERVICE_START_PENDING);
    auto server = std::make_unique<TClockServer>(Service.Options);
    const DWORD error = server->Start();
    if (error != 0) {
        Service.ExitStatus = 1;
        Report(SERVICE_STOPPED, error);
        return;
    }
    Report(SERVICE_RUNNING);
    WaitForSingleObject(Service.Stop, INFINITE);
    server->Stop();
    Report(SERVICE_STOPPED);
}

}  // namespace

int RunConsole(const TServiceOptions& options) {
    ConsoleStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    TClockServer server(options);
    const DWORD error = server.Start();
    if (error != 0) {
        std::fprintf(stderr, "tiktaal-set-clock: cannot listen on %ls (system error %lu)\n",
                     options.Pipe.c_str(), error);
        return 1;
    }
    std::printf("tiktaal-set-clock: listening on %ls%s; Ctrl+C ends\n", options.Pipe.c_str(),
                options.Record.empty() ? "" : ", recording offsets instead of setting the clock");
    std::fflush(stdout);
    WaitForSingleObject(ConsoleStop, INFINITE);
    server.Stop();
    return 0;
}

int RunService(const TServiceOptions& options) {
    Service.Options = options;
    Service.Stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(TIKTAAL_CLOCK_SERVICE), ServiceMain},
                                    {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        std::fprintf(stderr,
                     "tiktaal-set-clock: --service is for the service control manager; "
                     "use --console to run in the foreground\n");
        return 1;
    }
    return Service.ExitStatus;
}
