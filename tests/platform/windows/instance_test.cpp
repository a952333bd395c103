// The single-instance guard's channel on Windows: two processes, the registered messages,
// the WM_COPYDATA answer and the session's named mutex.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/instance_channel.h"
#include "platform/windows/wide_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs this thread's messages until done() or the time is up.
template <typename Done>
bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

std::string UniqueName(const char* what) {
    return std::string("TiktaalTest-") + what + "-" + std::to_string(GetCurrentProcessId());
}

// The second copy: this same program, running only the test named after the first's name.
HANDLE StartSecondCopy(const std::string& name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=InstanceSecondCopy.AsksWhoRunsAndStopsIt";
    SetEnvironmentVariableW(L"TIKTAAL_TEST_INSTANCE", Utf8ToWide(name).c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"TIKTAAL_TEST_INSTANCE", nullptr);
    if (!started) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

TEST(InstanceMessages, TheRunningCopyAnswersTheNewOneAndIsAskedToComeForward) {
    const std::string name = UniqueName("pair");
    TInstanceChannel channel(InstanceDirectoryPath());
    ASSERT_TRUE(channel.Ok()) << channel.Error();
    EXPECT_EQ(channel.Fd(), -1);
    TNamedLock lock;
    std::string error;
    ASSERT_EQ(lock.Acquire(InstanceDirectoryPath(), name, error), TLockResult::Taken) << error;
    bool pending = false;
    channel.SetOnPending([&] { pending = true; });
    // The second copy stays until its request was taken: with its window gone, the request
    // could no longer be traced to it.
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, Utf8ToWide(name + "-taken").c_str());
    ASSERT_NE(taken, nullptr);

    HANDLE second = StartSecondCopy(name);
    ASSERT_NE(second, nullptr);
    bool asked = false, stopped = false;
    std::string asker;
    const bool done = PumpUntil([&] {
        TInstanceMessage msg;
        while (channel.Receive(msg)) {
            if (msg.Kind == TInstanceMessageKind::Quest && !msg.Sender.empty() &&
                msg.Sender != channel.Address()) {
                asked = true;
                asker = msg.Sender;
                EXPECT_TRUE(channel.Answer(msg.Sender, name));
            } else if (msg.Kind == TInstanceMessageKind::Stop) {
                stopped = true;
                EXPECT_EQ(msg.Sender, asker);
                SetEvent(taken);
            }
        }
        return stopped;
    });
    SetEvent(taken);
    EXPECT_TRUE(pending);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(done) << "no request to come forward";
    ASSERT_EQ(WaitForSingleObject(second, 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(second, &code);
    CloseHandle(second);
    CloseHandle(taken);
    EXPECT_EQ(code, 0u) << "the second copy's checks failed";
}

// Run by the test above in a second process; passes at once when run on its own.
TEST(InstanceSecondCopy, AsksWhoRunsAndStopsIt) {
    const char* wanted = std::getenv("TIKTAAL_TEST_INSTANCE");
    if (!wanted) GTEST_SKIP() << "the second copy of the instance test";
    TNamedLock lock;
    std::string error;
    EXPECT_EQ(lock.Acquire(InstanceDirectoryPath(), wanted, error), TLockResult::HeldElsewhere);
    EXPECT_FALSE(lock.Held());
    TInstanceChannel channel(InstanceDirectoryPath());
    ASSERT_TRUE(channel.Ok()) << channel.Error();
    EXPECT_EQ(channel.AskWhoRuns(), 1);
    bool answered = false;
    EXPECT_TRUE(PumpUntil([&] {
        TInstanceMessage msg;
        while (channel.Receive(msg)) {
            if (msg.Kind != TInstanceMessageKind::Answer) continue;
            EXPECT_EQ(msg.Name, wanted);
            EXPECT_FALSE(msg.Sender.empty());
            EXPECT_TRUE(channel.AskToComeForward(msg.Sender));
            answered = true;
        }
        return answered;
    }));
    HANDLE taken =
        CreateEventW(nullptr, TRUE, FALSE, Utf8ToWide(std::string(wanted) + "-taken").c_str());
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(WaitForSingleObject(taken, 30000), WAIT_OBJECT_0) << "the request was not taken";
    CloseHandle(taken);
}

TEST(InstanceMessages, AnAnswerToACopyThatDoesNotReadIsGivenUpInBoundedTime) {
    std::string address;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A copy whose main thread hangs: its window exists, nobody reads its messages.
    std::thread hung([&] {
        TInstanceChannel channel(InstanceDirectoryPath());
        address = channel.Address();
        SetEvent(ready);
        WaitForSingleObject(release, INFINITE);
    });
    WaitForSingleObject(ready, INFINITE);
    TInstanceChannel channel(InstanceDirectoryPath());
    ASSERT_TRUE(channel.Ok());
    const auto start = Clock::now();
    EXPECT_FALSE(channel.Answer(address, "Tiktaal"));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(channel.AskToComeForward(address));  // posted: never waits
    SetEvent(release);
    hung.join();
    CloseHandle(ready);
    CloseHandle(release);
}

TEST(InstanceMessages, ForeignOrMalformedMessagesAreNotTakenForOurs) {
    TInstanceChannel channel(InstanceDirectoryPath());
    ASSERT_TRUE(channel.Ok());
    const auto window = reinterpret_cast<HWND>(std::stoull(channel.Address()));
    // Another program's WM_COPYDATA, an oversized one, and a question naming no window.
    const wchar_t text[] = L"Tiktaal";
    COPYDATASTRUCT foreign{1, sizeof text, const_cast<wchar_t*>(text)};
    EXPECT_EQ(SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&foreign)), FALSE);
    COPYDATASTRUCT huge{0x4C554F49, 1u << 30, const_cast<wchar_t*>(text)};
    EXPECT_EQ(SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&huge)), FALSE);
    PostMessageW(window, RegisterWindowMessageW(L"LU_OneInstanceQuest"), 12345, 0);
    TInstanceMessage msg;
    ASSERT_TRUE(PumpUntil([&] { return channel.Receive(msg); }));
    EXPECT_EQ(msg.Kind, TInstanceMessageKind::Quest);
    EXPECT_EQ(msg.Sender, "");  // cannot be answered
    EXPECT_FALSE(channel.Receive(msg));
    EXPECT_FALSE(channel.Answer("12345", "x"));
    EXPECT_FALSE(channel.Answer("not a window", "x"));
}

TEST(NamedLock, HeldUntilReleasedAndFreeAfterwards) {
    const std::string name = UniqueName("lock\\with backslash");
    TNamedLock first, second;
    std::string error;
    ASSERT_EQ(first.Acquire(InstanceDirectoryPath(), name, error), TLockResult::Taken) << error;
    EXPECT_TRUE(first.Held());
    EXPECT_EQ(second.Acquire(InstanceDirectoryPath(), name, error), TLockResult::HeldElsewhere);
    first.Release();
    EXPECT_EQ(second.Acquire(InstanceDirectoryPath(), name, error), TLockResult::Taken) << error;
}

TEST(RandomBytes, FillsTheBuffer) {
    unsigned char a[32] = {}, b[32] = {};
    ASSERT_TRUE(RandomBytes(a, sizeof a));
    ASSERT_TRUE(RandomBytes(b, sizeof b));
    EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
}

}  // namespace
