// The clock service (in the foreground, recording instead of setting the clock) against the
// window's clock setter; the setter against stand-in services that answer as told; and the
// service's access check with a member's and a non-member's token. Nothing here can set the
// clock: the service records, and the stand-ins are plain pipes.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "clock_requests.h"
#include "pipe_security.h"
#include "platform/clock.h"
#include "platform/windows/clock_service_protocol.h"

namespace {

std::wstring TempPath(const std::wstring& name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name + std::to_wstring(GetCurrentProcessId());
}

std::wstring BesideThisProgram(const std::wstring& name) {
    wchar_t path[MAX_PATH * 2];
    std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 2));
    return self.substr(0, self.find_last_of(L"\\/") + 1) + name;
}

std::string FileText(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits (bounded) until the condition holds.
template <typename Condition>
bool WaitFor(Condition condition, int ms = 30000) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (condition()) return true;
        Sleep(20);
    }
    return condition();
}

void UsePipe(const std::wstring& pipe) {
    SetEnvironmentVariableW(L"TIKTAAL_SET_CLOCK_PIPE", pipe.c_str());
    _wputenv_s(L"TIKTAAL_SET_CLOCK_PIPE", pipe.c_str());
}

// One raw request as any caller could send it; the answer's text.
std::string Ask(const std::wstring& pipe, const std::string& request) {
    HANDLE h = INVALID_HANDLE_VALUE;
    // Between two callers the service may not yet listen again, or for a moment have no
    // instance at all: wait, as the window's setter does.
    for (int tries = 0; h == INVALID_HANDLE_VALUE && tries < 100; ++tries) {
        h = CreateFileW(pipe.c_str(), GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES, 0,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) break;
        if (GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeW(pipe.c_str(), 5000);
        else
            Sleep(10);
    }
    if (h == INVALID_HANDLE_VALUE) return "cannot open: " + std::to_string(GetLastError());
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
    DWORD n = 0;
    char answer[ClockAnswerMax];
    std::string said;
    if (WriteFile(h, request.data(), static_cast<DWORD>(request.size()), &n, nullptr) &&
        ReadFile(h, answer, sizeof answer, &n, nullptr))
        said.assign(answer, n);
    CloseHandle(h);
    return said;
}

// tiktaal-set-clock.exe --console --record, on a pipe of this test's own.
class ClockServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        Pipe = L"\\\\.\\pipe\\Tiktaal.Clock.Test." + std::to_wstring(GetCurrentProcessId());
        Record = TempPath(L"tiktaal-clock-record-");
        Hold = TempPath(L"tiktaal-clock-hold-");
        DeleteFileW(Record.c_str());
        DeleteFileW(Hold.c_str());
        std::wstring command = L"\"" + BesideThisProgram(L"tiktaal-set-clock.exe") +
                               L"\" --console --pipe " + Pipe + L" --record \"" + Record +
                               L"\" --record-hold \"" + Hold + L"\"";
        STARTUPINFOW startup{sizeof startup};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &Service));
        ASSERT_TRUE(WaitFor([this] { return WaitNamedPipeW(Pipe.c_str(), 0) != FALSE; }))
            << "the service never listened";
        UsePipe(Pipe);
    }
    void TearDown() override {
        TerminateProcess(Service.hProcess, 0);
        WaitForSingleObject(Service.hProcess, 10000);
        CloseHandle(Service.hProcess);
        CloseHandle(Service.hThread);
        DeleteFileW(Record.c_str());
        DeleteFileW(Hold.c_str());
    }

    std::wstring Pipe, Record, Hold;
    PROCESS_INFORMATION Service{};
};

TEST_F(ClockServiceTest, AnAcceptedOffsetIsRecordedExactly) {
    EXPECT_TRUE(SystemStepClock(-0.000123));
    EXPECT_TRUE(SystemStepClock(3600.5));
    EXPECT_TRUE(StepPCClock(-86400.25));
    EXPECT_EQ(FileText(Record), "-0.000123000\n+3600.500000000\n-86400.250000000\n");
}

TEST_F(ClockServiceTest, AnythingButOneOffsetInBoundsIsRefusedWithItsReason) {
    const std::string bad = "2 the offset is not a decimal number in bounds";
    for (const std::string& request :
         {std::string("abc"), std::string("1e3"), std::string("+-1"), std::string(" 1"),
          std::string("1.5\n"), std::string("99999999999"), std::string("3155760001"),
          std::string("1\0"
                      "5",
                      3),
          std::string(200, '1')})
        EXPECT_EQ(Ask(Pipe, request), bad) << request;
    EXPECT_EQ(Ask(Pipe, "-1000000000"), "2 the clock would land before 2000 or after 2200");
    // Through the window's setter: raised with the service's reason, as on Linux.
    try {
        SystemStepClock(-1e9);
        ADD_FAILURE() << "a refused step passed for success";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the clock service refused it (status 2): the clock would land before 2000 or "
                  "after 2200");
    }
    EXPECT_THROW(SystemStepClock(4e9), std::runtime_error);
    EXPECT_FALSE(FileExists(Record)) << "a refused offset was recorded";
}

TEST_F(ClockServiceTest, ASecondRequestWhileOneIsAppliedIsTurnedAwayBusy) {
    std::ofstream(std::filesystem::path(Hold)) << "hold";
    // The first caller waits for its answer as long as it takes (a raw caller, without the
    // window's time limit), however slowly this test runs.
    std::string first;
    std::thread applying([&] { first = Ask(Pipe, "1.25"); });
    // The first is recorded and now held: the service is applying it.
    EXPECT_TRUE(WaitFor([this] { return FileText(Record) == "1.25\n"; }));
    EXPECT_EQ(Ask(Pipe, "2"), "4 another step of the clock is being applied");
    try {
        SystemStepClock(2.0);
        ADD_FAILURE() << "a busy service's answer passed for success";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("(status 4): another step"), std::string::npos)
            << e.what();
    }
    DeleteFileW(Hold.c_str());
    applying.join();
    EXPECT_EQ(first, "0 the offset was recorded (the clock is left alone)");
    EXPECT_EQ(FileText(Record), "1.25\n");
    EXPECT_TRUE(SystemStepClock(3.0));
}

// The service's exit status for a command line, run to its end (bounded).
DWORD RunService(const std::wstring& arguments) {
    std::wstring command = L"\"" + BesideThisProgram(L"tiktaal-set-clock.exe") + L"\" " + arguments;
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION run{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &run))
        return 1000;
    DWORD status = 1001;
    if (WaitForSingleObject(run.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(run.hProcess, &status);
    else
        TerminateProcess(run.hProcess, 1002);
    CloseHandle(run.hProcess);
    CloseHandle(run.hThread);
    return status;
}

TEST(ClockServiceCommandLine, RefusesWhatItCannotDo) {
    for (const wchar_t* arguments :
         {L"", L"--console --install", L"--console --record-hold x", L"--frobnicate"})
        EXPECT_EQ(RunService(arguments), 2u) << arguments;
    EXPECT_EQ(RunService(L"--help"), 0u);
}

// A stand-in service on a pipe of its own that takes one request and answers as told, or,
// given no answer, holds the line without a word.
class StandInService {
public:
    StandInService(const std::wstring& pipe, std::string answer) {
        FPipe =
            CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 512, 512, 0, nullptr);
        FThread = std::thread([this, answer] {
            ConnectNamedPipe(FPipe, nullptr);
            char request[64];
            DWORD n = 0;
            ReadFile(FPipe, request, sizeof request, &n, nullptr);
            if (!answer.empty())
                WriteFile(FPipe, answer.data(), static_cast<DWORD>(answer.size()), &n, nullptr);
            // Until the caller hangs up (peeked: a read left waiting for it may never end
            // under Wine).
            WaitFor(
                [this] { return !PeekNamedPipe(FPipe, nullptr, 0, nullptr, nullptr, nullptr); });
        });
    }
    ~StandInService() {
        FThread.join();
        CloseHandle(FPipe);
    }

private:
    HANDLE FPipe;
    std::thread FThread;
};

std::wstring StandInPipe(const char* what) {
    return L"\\\\.\\pipe\\Tiktaal.Clock.StandIn." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::wstring(what, what + std::strlen(what));
}

// The setter's error code for a stand-in's answer; 0 when it raised no system_error.
int RaisedCode(const char* name, const std::string& answer) {
    const std::wstring pipe = StandInPipe(name);
    StandInService service(pipe, answer);
    UsePipe(pipe);
    try {
        SystemStepClock(1.0);
    } catch (const std::system_error& e) {
        return e.code().value();
    } catch (const std::exception&) {
    }
    return 0;
}

TEST(ClockSetterAnswers, NoRightAndARefusedCallerAreSystemErrors) {
    EXPECT_EQ(RaisedCode("noright", "3 no right to set the clock: privilege not held"),
              ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_EQ(RaisedCode("caller", "5 only members of the group may set the clock"),
              ERROR_ACCESS_DENIED);
    // An answer that is none: a plain error, the clock not claimed set.
    const std::wstring pipe = StandInPipe("garbage");
    StandInService service(pipe, "ok!");
    UsePipe(pipe);
    EXPECT_THROW(SystemStepClock(1.0), std::runtime_error);
}

TEST(ClockSetterAnswers, AServiceThatNeverAnswersIsAReasonNotAHang) {
    const std::wstring pipe = StandInPipe("silent");
    StandInService service(pipe, "");
    UsePipe(pipe);
    try {
        SystemStepClock(1.0);
        ADD_FAILURE() << "a silent service passed for success";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), WAIT_TIMEOUT);
        EXPECT_NE(std::string(e.what()).find("did not answer"), std::string::npos) << e.what();
    }
}

TEST(ClockSetterAnswers, AMissingServiceIsOneReason) {
    UsePipe(StandInPipe("nobody"));
    try {
        SystemStepClock(1.0);
        ADD_FAILURE() << "a missing service passed for success";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ERROR_FILE_NOT_FOUND);
        EXPECT_NE(std::string(e.what()).find("the clock service is not running"),
                  std::string::npos);
    }
}

// Run as a child of the next test: fails three times, with stderr going to a file.
TEST(ClockSetterTold, ChildFailsThreeTimes) {
    if (!std::getenv("TIKTAAL_TOLD_ONCE_CHILD")) GTEST_SKIP() << "runs as a child of ToldOnce";
    UsePipe(StandInPipe("nobody-child"));
    for (int i = 0; i < 3; ++i) EXPECT_THROW(SystemStepClock(1.0), std::system_error);
}

TEST(ClockSetterTold, TheReasonIsToldOnceOnStandardError) {
    const std::wstring told = TempPath(L"tiktaal-clock-told-");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(told.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    std::wstring command = L"\"" + BesideThisProgram(L"clock_service_tests.exe") +
                           L"\" --gtest_filter=ClockSetterTold.ChildFailsThreeTimes";
    SetEnvironmentVariableW(L"TIKTAAL_TOLD_ONCE_CHILD", L"1");
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = out;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &child);
    SetEnvironmentVariableW(L"TIKTAAL_TOLD_ONCE_CHILD", nullptr);
    CloseHandle(out);
    ASSERT_TRUE(started);
    WaitForSingleObject(child.hProcess, 60000);
    DWORD status = 1;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    const std::string said = FileText(told);
    DeleteFileW(told.c_str());
    EXPECT_EQ(status, 0u);
    const std::string reason = "cannot set the PC clock: the clock service is not running";
    EXPECT_NE(said.find(reason), std::string::npos) << said;
    EXPECT_EQ(said.find("cannot set"), said.rfind("cannot set")) << said;
    EXPECT_NE(said.find("Tiktaal Clock"), std::string::npos) << said;
}

// The service's own check of a caller: a member's token, an administrator's, and one with
// neither (the group here is BUILTIN\Users, which Wine's user holds, since Wine has no
// local groups of its own making).
std::vector<BYTE> Sid(const char* text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(text, &sid)) return {};
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    std::vector<BYTE> copy(bytes, bytes + GetLengthSid(sid));
    LocalFree(sid);
    return copy;
}

// This process's token with the given groups made deny-only, as a token to check.
HANDLE TokenWithout(std::vector<std::vector<BYTE>> groups) {
    HANDLE process = nullptr, restricted = nullptr, checked = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process);
    std::vector<SID_AND_ATTRIBUTES> disabled;
    for (auto& g : groups) disabled.push_back({g.data(), 0});
    CreateRestrictedToken(process, 0, static_cast<DWORD>(disabled.size()), disabled.data(), 0,
                          nullptr, 0, nullptr, &restricted);
    DuplicateToken(restricted, SecurityIdentification, &checked);
    CloseHandle(restricted);
    CloseHandle(process);
    return checked;
}

TEST(PipeSecurity, AdmitsMembersAndAdministratorsOnly) {
    const auto users = Sid("S-1-5-32-545"), admins = Sid("S-1-5-32-544");
    TPipeSecurity security(users, {});
    ASSERT_TRUE(security.Valid());
    HANDLE full = TokenWithout({});
    HANDLE member = TokenWithout({admins});
    HANDLE outsider = TokenWithout({admins, users});
    EXPECT_TRUE(security.Admits(full));
    EXPECT_TRUE(security.Admits(member));
    EXPECT_FALSE(security.Admits(outsider));
    EXPECT_FALSE(security.Admits(nullptr));
    // Without the group (removed, or never made) only administrators and the system.
    TPipeSecurity noGroup({}, {});
    EXPECT_TRUE(noGroup.Admits(full));
    EXPECT_FALSE(noGroup.Admits(member));
    // A member may not create an instance of its own: its access is the client's only.
    EXPECT_EQ(security.Sddl().find(L"(A;;GA;;;S-1-5-32-545)"), std::wstring::npos);
    for (HANDLE t : {full, member, outsider}) CloseHandle(t);
}

TEST(ClockRequests, OneAtATimeAndOnlyOffsets) {
    std::atomic<bool> entered{false}, release{false};
    TClockRequests requests([&](const TClockOffset&, const std::string& text) {
        entered = true;
        while (!release) Sleep(1);
        return TClockAnswer{ClockStepped, "did " + text};
    });
    std::thread first([&] { EXPECT_EQ(requests.Handle("1.5").Text(), "0 did 1.5"); });
    ASSERT_TRUE(WaitFor([&] { return entered.load(); }));
    EXPECT_EQ(requests.Handle("2").Status, ClockBusy);
    EXPECT_EQ(requests.Handle("x").Status, ClockBadOffset);  // refused before it waits its turn
    release = true;
    first.join();
    EXPECT_EQ(requests.Handle(std::string("2\0", 2)).Status, ClockBadOffset);
    EXPECT_EQ(requests.Handle("2").Text(), "0 did 2");
}

}  // namespace

namespace {

// Run by install_test.sh once the service is installed, recording, under Wine's own
// service control manager: the window's setter reaches it on its real pipe.
TEST(InstalledService, TheSetterReachesItOnItsOwnPipe) {
    const char* record = std::getenv("TIKTAAL_INSTALLED_SERVICE_RECORD");
    if (!record) GTEST_SKIP() << "runs from install_test.sh";
    _putenv("TIKTAAL_SET_CLOCK_PIPE=");
    EXPECT_TRUE(SystemStepClock(12.5));
    EXPECT_EQ(FileText(std::filesystem::path(record).wstring()), "+12.500000000\n");
}

}  // namespace
