// The worker thread base: created suspended, started with Start(), optionally freed on
// the main thread when it ends, its OnTerminate handler run on the main thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class TThread {
public:
    TThread();
    // A thread still running is asked to terminate and waited for. Derived classes whose
    // members Execute uses call TerminateAndWait() in their own destructor, since those
    // members are gone by the time this one runs.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts Execute on a new thread (the toolkit's Resume of a suspended thread).
    void Start();
    void Resume() { Start(); }
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished; }
    // Blocks until Execute and the termination handler have run. On the main thread the
    // wait keeps handling synchronous calls and events, so a worker blocked in Synchronize
    // cannot deadlock it.
    void WaitFor();
    void TerminateAndWait() {
        Terminate();
        WaitFor();
    }

    bool FreeOnTerminate() const { return FFreeOnTerminate; }
    void SetFreeOnTerminate(bool value) { FFreeOnTerminate = value; }
    void SetOnTerminate(std::function<void(TThread*)> handler) {
        FOnTerminate = std::move(handler);
    }
    // What escaped Execute, if anything (the thread catches it so the process lives on).
    std::exception_ptr FatalException() const { return FFatalException; }
    // Thread objects that exist right now, freed-on-terminate ones until they are gone.
    static int LiveCount() { return FLiveCount; }

protected:
    virtual void Execute() = 0;
    // Runs fn on the main thread while this thread waits; re-throws what fn threw.
    void Synchronize(const std::function<void()>& fn);

private:
    void Run();
    void MarkFinished();

    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FFreeOnTerminate{false};
    std::function<void(TThread*)> FOnTerminate;
    std::exception_ptr FFatalException;
    std::mutex FLock;
    std::condition_variable FDone;
    static std::atomic<int> FLiveCount;
};
