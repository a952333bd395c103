#include "toolkit/mainthread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Static initialisation runs on the thread that starts the program.
const std::thread::id MainThreadId = std::this_thread::get_id();

struct TSyncCall {
    const std::function<void()>* Fn = nullptr;
    std::exception_ptr Error;
    bool Done = false;
};

std::mutex QueueLock;
std::condition_variable QueueChanged;  // a call queued, or a call done
std::deque<std::shared_ptr<TSyncCall>> Pending;
bool WakeRequested = false;

void PostDrain() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
}

uint32_t TickMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == MainThreadId; }

void SynchronizeCall(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto call = std::make_shared<TSyncCall>();
    call->Fn = &fn;
    std::unique_lock<std::mutex> lock(QueueLock);
    Pending.push_back(call);
    QueueChanged.notify_all();
    lock.unlock();
    PostDrain();
    lock.lock();
    QueueChanged.wait(lock, [&] { return call->Done; });
    if (call->Error) std::rethrow_exception(call->Error);
}

void QueueOnMainThread(std::function<void()> fn) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool CheckSynchronize() {
    if (!IsMainThread()) return false;
    bool ran = false;
    for (;;) {
        std::shared_ptr<TSyncCall> call;
        {
            std::lock_guard<std::mutex> g(QueueLock);
            if (Pending.empty()) break;
            call = Pending.front();
            Pending.pop_front();
        }
        try {
            (*call->Fn)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> g(QueueLock);
            call->Done = true;
        }
        QueueChanged.notify_all();
        ran = true;
    }
    return ran;
}

void WaitForSynchronize(int ms) {
    std::unique_lock<std::mutex> lock(QueueLock);
    QueueChanged.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms),
                          [] { return !Pending.empty() || WakeRequested; });
    WakeRequested = false;
}

void WakeMainThread() {
    {
        std::lock_guard<std::mutex> g(QueueLock);
        WakeRequested = true;
    }
    QueueChanged.notify_all();
}

void ProcessMessages() {
    CheckSynchronize();
    if (QCoreApplication::instance() && IsMainThread()) QCoreApplication::processEvents();
}

void DelayWithMessages(int ms) {
    const uint32_t start = TickMs();
    for (;;) {
        ProcessMessages();
        const auto elapsed = static_cast<int32_t>(TickMs() - start);
        if (elapsed >= ms) break;
        // Short waits keep timers and posted events responsive without spinning the CPU.
        const int rest = ms - elapsed;
        WaitForSynchronize(rest < 2 ? rest : 2);
    }
}
