// The single-instance guard's channel on Windows. Every guard owns a hidden top-level
// window on the main thread. A new copy broadcasts the registered message
// "LU_OneInstanceQuest" with its window in wParam; a running copy answers with WM_COPYDATA
// carrying its instance name (UTF-16), its own window in wParam; the new copy then posts
// "LU_OneInstanceStop" to that window. The question and the stop are posted, and the answer
// is sent with a bound, so that a hung copy never holds up another. The named lock is a
// mutex in the session's namespace.
#include "platform/instance_channel.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>
#include <deque>
#include <functional>

#include "platform/instance_names.h"
#include "platform/windows/wide_text.h"

namespace {

// Marks our WM_COPYDATA among any other program's.
constexpr ULONG_PTR kAnswerMark = 0x4C554F49;  // "LUOI"
// How long a running copy waits for a new one to take its answer.
constexpr UINT kAnswerTimeoutMs = 2000;
// Past this many waiting messages the rest are dropped: a flood cannot eat memory.
constexpr size_t kMaxQueued = 64;
// Posted to itself so that the handler runs from the message loop, never from within a
// message another program sent.
constexpr UINT kWakeMessage = WM_APP + 0x4C;
const wchar_t* const kWindowClass = L"TiktaalOneInstance";

UINT QuestMessage() {
    static const UINT id = RegisterWindowMessageW(Utf8ToWide(std::string(kInstanceQuestMessage)).c_str());
    return id;
}

UINT StopMessage() {
    static const UINT id = RegisterWindowMessageW(Utf8ToWide(std::string(kInstanceStopMessage)).c_str());
    return id;
}

std::string WindowAddress(HWND window) {
    return std::to_string(reinterpret_cast<uintptr_t>(window));
}

HWND WindowFromAddress(const std::string& address) {
    if (address.empty()) return nullptr;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(address.c_str(), &end, 10);
    if (*end != '\0' || v == 0) return nullptr;
    const auto window = reinterpret_cast<HWND>(static_cast<uintptr_t>(v));
    return IsWindow(window) ? window : nullptr;
}

}  // namespace

struct TInstanceChannel::TSystemPart {
    HWND Window = nullptr;
    std::deque<TInstanceMessage> Queue;
    bool WakePosted = false;
    TInstanceChannel* Owner = nullptr;

    static bool RegisterClassOnce() {
        static const bool registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = WindowProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kWindowClass;
            return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        }();
        return registered;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* part = reinterpret_cast<TSystemPart*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!part) return DefWindowProcW(window, message, wParam, lParam);
        const auto sender = reinterpret_cast<HWND>(wParam);
        const std::string senderAddress =
            sender && IsWindow(sender) ? WindowAddress(sender) : std::string();
        if (message == QuestMessage() || message == StopMessage()) {
            part->Take(message == QuestMessage() ? TInstanceMessageKind::Quest
                                                 : TInstanceMessageKind::Stop,
                       senderAddress, "");
            return 0;
        }
        if (message == WM_COPYDATA) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (!data || data->dwData != kAnswerMark || data->cbData > kMaxInstanceDatagram ||
                (data->cbData > 0 && !data->lpData))
                return FALSE;
            part->Take(TInstanceMessageKind::Answer, senderAddress,
                       WideToUtf8(static_cast<const wchar_t*>(data->lpData),
                                  data->cbData / sizeof(wchar_t)));
            return TRUE;
        }
        if (message == kWakeMessage) {
            part->WakePosted = false;
            // A copy: the handler may destroy the guard, and this part with it.
            if (const std::function<void()> handler = part->Owner->FOnPending) handler();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    void Take(TInstanceMessageKind kind, const std::string& sender, std::string name) {
        if (Queue.size() >= kMaxQueued) return;
        TInstanceMessage msg;
        msg.Kind = kind;
        msg.Sender = sender;
        msg.Name = std::move(name);
        Queue.push_back(std::move(msg));
        if (!WakePosted) WakePosted = PostMessageW(Window, kWakeMessage, 0, 0) != 0;
    }
};

std::string InstanceDirectoryPath() { return "Local"; }

bool PrepareInstanceDirectory(const std::string& /*path*/, std::string& /*error*/) { return true; }

TInstanceChannel::TInstanceChannel(const std::string& directory)
    : FDirectory(directory), FSystem(std::make_unique<TSystemPart>()) {
    FSystem->Owner = this;
    if (!TSystemPart::RegisterClassOnce() || !QuestMessage() || !StopMessage()) {
        FError = "cannot register the guard's window class or messages: " +
                 WindowsErrorText(GetLastError());
        return;
    }
    // A top-level window, never shown: broadcasts reach top-level windows only.
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"LU_OneInstance", WS_POPUP, 0,
                                  0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) {
        FError = "cannot create the guard's window: " + WindowsErrorText(GetLastError());
        return;
    }
    // Other programs may post our registered messages to us: let them through any filter.
    ChangeWindowMessageFilterEx(window, QuestMessage(), MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, StopMessage(), MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(FSystem.get()));
    FSystem->Window = window;
    FAddress = WindowAddress(window);
    FOk = true;
}

TInstanceChannel::~TInstanceChannel() {
    if (FSystem && FSystem->Window) {
        SetWindowLongPtrW(FSystem->Window, GWLP_USERDATA, 0);
        DestroyWindow(FSystem->Window);
    }
}

int TInstanceChannel::AskWhoRuns() {
    if (!Ok()) return 0;
    return PostMessageW(HWND_BROADCAST, QuestMessage(), reinterpret_cast<WPARAM>(FSystem->Window),
                        0)
               ? 1
               : 0;
}

bool TInstanceChannel::Answer(const std::string& asker, const std::string& name) {
    HWND to = WindowFromAddress(asker);
    if (!Ok() || !to) return false;
    std::wstring text = Utf8ToWide(name);
    if ((text.size() + 1) * sizeof(wchar_t) > kMaxInstanceDatagram) return false;
    COPYDATASTRUCT data{};
    data.dwData = kAnswerMark;
    data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    data.lpData = text.data();
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(FSystem->Window),
                               reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                               kAnswerTimeoutMs, &result) != 0 &&
           result == TRUE;
}

bool TInstanceChannel::AskToComeForward(const std::string& answerer) {
    HWND to = WindowFromAddress(answerer);
    return Ok() && to &&
           PostMessageW(to, StopMessage(), reinterpret_cast<WPARAM>(FSystem->Window), 0) != 0;
}

bool TInstanceChannel::Receive(TInstanceMessage& msg) {
    if (!Ok() || FSystem->Queue.empty()) return false;
    msg = std::move(FSystem->Queue.front());
    FSystem->Queue.pop_front();
    return true;
}

TLockResult TNamedLock::Acquire(const std::string& directory, const std::string& name,
                                std::string& error) {
    Release();
    // The lock file's name is a safe, bounded object name as well.
    const std::string object = directory + "\\" + LockFileName(name);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Utf8ToWide(object).c_str());
    const DWORD e = GetLastError();
    if (!mutex) {
        error = "cannot create the mutex " + object + ": " + WindowsErrorText(e);
        return TLockResult::Failed;
    }
    if (e == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return TLockResult::HeldElsewhere;
    }
    FHandle = reinterpret_cast<intptr_t>(mutex);
    return TLockResult::Taken;
}

void TNamedLock::Release() {
    if (FHandle != -1) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
    FHandle = -1;
}

bool RandomBytes(void* buf, size_t size) {
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(buf),
                                          static_cast<ULONG>(size),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
