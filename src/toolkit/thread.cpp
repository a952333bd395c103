#include "toolkit/thread.h"

#include "toolkit/mainthread.h"

std::atomic<int> TThread::FLiveCount{0};

TThread::TThread() { ++FLiveCount; }

TThread::~TThread() {
    if (FStarted && !FFinished) {
        Terminate();
        WaitFor();
    }
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();
        else
            FThread.join();
    }
    --FLiveCount;
}

void TThread::Start() {
    bool expected = false;
    if (!FStarted.compare_exchange_strong(expected, true)) return;
    FThread = std::thread([this] { Run(); });
}

void TThread::Synchronize(const std::function<void()>& fn) { SynchronizeCall(fn); }

void TThread::Run() {
    try {
        Execute();
    } catch (...) {
        FFatalException = std::current_exception();
    }
    if (FOnTerminate) {
        try {
            SynchronizeCall([this] { FOnTerminate(this); });
        } catch (...) {
            // A failing termination handler must not take the process down.
        }
    }
    const bool freeSelf = FFreeOnTerminate;
    MarkFinished();
    // After this point the object may be gone unless this thread frees it. It frees
    // itself here rather than on the main thread, whose loop may already have ended.
    if (freeSelf) delete this;
}

void TThread::MarkFinished() {
    {
        std::lock_guard<std::mutex> g(FLock);
        FFinished = true;
    }
    FDone.notify_all();
    WakeMainThread();
}

void TThread::WaitFor() {
    if (!FStarted || FThread.get_id() == std::this_thread::get_id()) return;
    if (IsMainThread()) {
        while (!FFinished) {
            ProcessMessages();
            WaitForSynchronize(5);
        }
    } else {
        std::unique_lock<std::mutex> lock(FLock);
        FDone.wait(lock, [this] { return FFinished.load(); });
    }
}
