#include "toolkit/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "support/wait.h"
#include "toolkit/mainthread.h"

namespace {

class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> body) : FBody(std::move(body)) {}
    using TThread::Synchronize;
    static std::atomic<int> Destroyed;
    ~TLambdaThread() override {
        TerminateAndWait();
        ++Destroyed;
    }

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TLambdaThread&)> FBody;
};
std::atomic<int> TLambdaThread::Destroyed{0};

}  // namespace

TEST(Thread, StartsSuspendedAndRunsOnStart) {
    std::atomic<bool> ran{false};
    TLambdaThread t([&](TLambdaThread&) { ran = true; });
    EXPECT_FALSE(t.Started());
    EXPECT_FALSE(ran);
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(t.Finished());
}

TEST(Thread, SynchronizeBlocksTheWorkerAndRunsOnTheMainThread) {
    std::atomic<bool> onMain{false};
    std::atomic<int> step{0};
    TLambdaThread t([&](TLambdaThread& self) {
        step = 1;
        self.Synchronize([&] {
            onMain = IsMainThread();
            step = 2;
        });
        // The worker resumes only after the handler returned.
        if (step == 2) step = 3;
    });
    t.Start();
    ASSERT_TRUE(WaitUntil([&] { return t.Finished(); }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(step, 3);
}

TEST(Thread, SynchronizeCarriesTheExceptionBackToTheWorker) {
    std::string caught;
    TLambdaThread t([&](TLambdaThread& self) {
        try {
            self.Synchronize([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    t.Start();
    t.WaitFor();
    EXPECT_EQ(caught, "handler failed");
}

TEST(Thread, TerminationHandlerRunsOnMainAndFreeOnTerminateDeletes) {
    const int before = TLambdaThread::Destroyed;
    std::atomic<bool> handlerOnMain{false};
    auto* t = new TLambdaThread([](TLambdaThread&) {});
    t->SetFreeOnTerminate(true);
    t->SetOnTerminate([&](TThread*) { handlerOnMain = IsMainThread(); });
    t->Start();
    ASSERT_TRUE(WaitUntil([&] { return TLambdaThread::Destroyed == before + 1; }));
    EXPECT_TRUE(handlerOnMain);
    EXPECT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }));
}

TEST(Thread, ExceptionInExecuteIsKeptNotFatal) {
    TLambdaThread t([](TLambdaThread&) { throw std::runtime_error("boom"); });
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.FatalException() != nullptr);
}

TEST(Thread, DestructorStopsARunningThread) {
    std::atomic<bool> sawTerminate{false};
    {
        TLambdaThread t([&](TLambdaThread& self) {
            while (!self.Terminated()) std::this_thread::yield();
            sawTerminate = true;
        });
        t.Start();
    }
    EXPECT_TRUE(sawTerminate);
}

TEST(MainThread, DelayWithMessagesRunsPendingWorkEvenForZero) {
    bool ran = false;
    QueueOnMainThread([&] { ran = true; });
    DelayWithMessages(0);
    EXPECT_TRUE(ran);
}
