#include "app/lu_oneinstance.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>

#include "toolkit/messagebox.h"

namespace {

// Enough for any real conversation; the rest waits for the next wake-up, so that a flood
// on the socket cannot hold the main thread.
constexpr int kMaxMessagesPerWakeup = 32;

// One line per process, however many guards find the same directory unusable.
void ReportGuardOff(const std::string& reason) {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) return;
    std::fprintf(stderr, "tiktaal: running without the single-instance guard: %s\n",
                 reason.c_str());
}

// Qt drops a quit asked for before the event loop runs, as happens when the answer comes
// while the window is still being built; so the request waits for the loop.
void QuitApplicationWhenLoopRuns() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::quit();
    else
        QTimer::singleShot(0, app, QuitApplicationWhenLoopRuns);
}

// Blanks and control characters, as the name's emptiness test counts them.
bool IsBlank(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
}

}  // namespace

TLuOneInstance::TLuOneInstance(TComponent* /*owner*/) {
    OpenChannel();
    if (FChannel) FChannel->AskWhoRuns();
}

TLuOneInstance::~TLuOneInstance() { *FAlive = false; }

void TLuOneInstance::OpenChannel() {
    std::string directory = InstanceDirectoryPath();
    std::string error;
    if (!PrepareInstanceDirectory(directory, error)) {
        ReportGuardOff(error);
        return;
    }
    auto channel = std::make_unique<TInstanceChannel>(directory);
    if (!channel->Ok()) {
        ReportGuardOff(channel->Error());
        return;
    }
    FDirectory = std::move(directory);
    FChannel = std::move(channel);
    // A channel with a descriptor is watched here; one without is told by the main
    // thread's message loop that messages wait.
    if (FChannel->Fd() < 0) {
        FChannel->SetOnPending([this] { ReadMessages(); });
        return;
    }
    FNotifier = std::make_unique<QSocketNotifier>(FChannel->Fd(), QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                     [this] { ReadMessages(); });
}

bool TLuOneInstance::Guarding() const { return FChannel != nullptr; }

void TLuOneInstance::SetInstanceName(const std::string& value) {
    if (value == FInstanceName) return;
    if (IsBlank(value)) {
        ShowMessage("Instance unique NAME must be set!");
        FInstanceName = NewGuidName();
        return;
    }
    FInstanceName = value;
    TakeLock();
}

void TLuOneInstance::TakeLock() {
    if (FDirectory.empty()) return;
    std::string error;
    switch (FLock.Acquire(FDirectory, FInstanceName, error)) {
        case TLockResult::Taken:
            break;
        case TLockResult::HeldElsewhere:
            FInstanceExists = true;
            break;
        case TLockResult::Failed:
            std::fprintf(stderr, "tiktaal: instance lock not taken: %s\n", error.c_str());
            break;
    }
}

std::string TLuOneInstance::NewGuidName() {
    unsigned char b[16];
    if (!RandomBytes(b, sizeof b)) return "";
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    char text[39];
    std::snprintf(text, sizeof text,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

void TLuOneInstance::ReadMessages() {
    const std::shared_ptr<bool> alive = FAlive;
    TInstanceMessage msg;
    for (int i = 0; i < kMaxMessagesPerWakeup && *alive && FChannel->Receive(msg); ++i)
        HandleMessage(msg);
}

void TLuOneInstance::HandleMessage(const TInstanceMessage& msg) {
    switch (msg.Kind) {
        case TInstanceMessageKind::Quest:
            // Our own question comes back to us with the others' answers; only they count.
            // Only the holder of a lock answers: two copies started together would otherwise
            // answer each other and both end.
            if (FLock.Held() && !msg.Sender.empty() && msg.Sender != FChannel->Address())
                FChannel->Answer(msg.Sender, FInstanceName);
            break;
        case TInstanceMessageKind::Answer:
            HandleAnswer(msg);
            break;
        case TInstanceMessageKind::Stop:
            DoCanShow();
            break;
    }
}

void TLuOneInstance::HandleAnswer(const TInstanceMessage& msg) {
    const std::shared_ptr<bool> alive = FAlive;
    DoExist();
    if (!*alive) return;
    if (msg.Name == FInstanceName) {
        if (!msg.Sender.empty()) FChannel->AskToComeForward(msg.Sender);
        Terminate();
    } else if (FInstanceExists) {
        Terminate();
    }
}

// Each hook runs from a copy, so that a handler which destroys the guard (and with it the
// stored handler) still has itself to finish with.
void TLuOneInstance::Terminate() {
    if (const auto terminate = FOnTerminate)
        terminate();
    else
        QuitApplicationWhenLoopRuns();
}

void TLuOneInstance::DoExist() {
    if (const TNotifyEvent handler = FOnExist) handler(this);
}

void TLuOneInstance::DoCanShow() {
    if (const TNotifyEvent handler = FOnCanShow)
        handler(this);
    else if (const auto restore = FOnRestore)
        restore();
}
