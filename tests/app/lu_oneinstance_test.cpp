// The guard against a second guard in the same process (flock locks belong to open files,
// so two guards conflict as two processes would), and against raw sockets that play
// crashed, hung or garbling copies. Each test has its own XDG_RUNTIME_DIR.
#include "app/lu_oneinstance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "support/scoped_env.h"
#include "support/wait.h"
#include "toolkit/messagebox.h"

namespace fs = std::filesystem;

namespace {

const std::string kName = "{0F47050C-402E-4F86-B610-A821F5B0FB3D}";
const std::regex kGuid("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");

// A guard with every hook recorded in order.
struct TCopy {
    TLuOneInstance Guard;
    std::vector<std::string> Log;
    explicit TCopy(const std::string& name = "") {
        Guard.SetOnExist([this](TComponent*) { Log.push_back("exist"); });
        Guard.SetOnRestore([this] { Log.push_back("restore"); });
        Guard.SetOnTerminate([this] { Log.push_back("terminate"); });
        if (!name.empty()) Guard.SetInstanceName(name);
    }
};

using TLog = std::vector<std::string>;

// A bare socket in the directory, standing for a copy that misbehaves.
struct TRawPeer {
    int Fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    std::string Path;
    explicit TRawPeer(std::string path = "") : Path(std::move(path)) {
        if (Path.empty()) return;
        sockaddr_un a = Address(Path);
        EXPECT_EQ(0, bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
    }
    ~TRawPeer() {
        if (Fd >= 0) close(Fd);
    }
    static sockaddr_un Address(const std::string& path) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        return a;
    }
    ssize_t Send(const std::string& to, const std::string& data) {
        sockaddr_un a = Address(to);
        return sendto(Fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    bool TryReceive(std::string& data) {
        char buf[256];
        const ssize_t n = recv(Fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n >= 0) data.assign(buf, static_cast<size_t>(n));
        return n >= 0;
    }
};

class GuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tiktaal-guard-XXXXXX";
        Root = mkdtemp(pattern);
        Env.Set("XDG_RUNTIME_DIR", Root);
        Dir = Root + "/LU_OneInstance";
        std::string error;
        ASSERT_TRUE(PrepareInstanceDirectory(Dir, error)) << error;
    }
    void TearDown() override { fs::remove_all(Root); }
    // Gives queued datagrams time to arrive and be handled.
    static void Settle(int ms = 60) {
        WaitUntil([] { return false; }, ms);
    }
    std::vector<std::string> Sockets() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(Dir))
            if (e.is_socket()) out.push_back(e.path());
        return out;
    }

    std::string Root, Dir;

private:
    TScopedEnv Env;
};

// --- the conversation ---

TEST_F(GuardTest, SecondCopyEndsAndTheFirstComesForward) {
    TCopy first(kName);
    TCopy second(kName);
    EXPECT_FALSE(first.Guard.InstanceExists());
    EXPECT_TRUE(second.Guard.InstanceExists());
    ASSERT_TRUE(WaitUntil([&] { return !first.Log.empty() && second.Log.size() >= 2; }, 2000));
    Settle();
    EXPECT_EQ(TLog({"exist", "terminate"}), second.Log);
    EXPECT_EQ(TLog({"restore"}), first.Log);
}

TEST_F(GuardTest, OnCanShowTakesThePlaceOfTheRestore) {
    TCopy first(kName);
    int canShow = 0;
    first.Guard.SetOnCanShow([&](TComponent* sender) {
        EXPECT_EQ(&first.Guard, sender);
        ++canShow;
    });
    TCopy second(kName);
    ASSERT_TRUE(WaitUntil([&] { return canShow == 1; }, 2000));
    EXPECT_TRUE(first.Log.empty());
}

TEST_F(GuardTest, AnotherNameRaisesExistButAsksNobodyForward) {
    TCopy other("another program");
    TCopy copy(kName);
    ASSERT_TRUE(WaitUntil([&] { return !copy.Log.empty(); }, 2000));
    Settle();
    EXPECT_EQ(TLog({"exist"}), copy.Log);  // its own lock was free: it runs on
    EXPECT_TRUE(other.Log.empty());
}

TEST_F(GuardTest, AnotherNameEndsACopyWhoseLockIsHeld) {
    TNamedLock held;
    std::string error;
    ASSERT_EQ(TLockResult::Taken, held.Acquire(Dir, kName, error));
    TCopy other("another program");
    TCopy copy(kName);
    ASSERT_TRUE(WaitUntil([&] { return copy.Log.size() >= 2; }, 2000));
    Settle();
    EXPECT_EQ(TLog({"exist", "terminate"}), copy.Log);
    EXPECT_TRUE(other.Log.empty());
}

TEST_F(GuardTest, OnlyTheLockHolderAnswersAndNeverItself) {
    TCopy holder(kName);
    Settle();
    EXPECT_TRUE(holder.Log.empty());  // its own question came back unanswered
    TCopy loser(kName);               // as if started together: answering would end the holder too
    TRawPeer asker(Dir + "/asker.sock");
    for (const std::string& s : Sockets())
        if (s != asker.Path) asker.Send(s, EncodeInstanceMessage(TInstanceMessageKind::Quest));
    std::string reply;
    ASSERT_TRUE(WaitUntil([&] { return asker.TryReceive(reply); }, 2000));
    EXPECT_EQ(EncodeInstanceMessage(TInstanceMessageKind::Answer, kName), reply);
    Settle();
    EXPECT_FALSE(asker.TryReceive(reply));
}

TEST_F(GuardTest, LockIsTakenOnceAndGoesWithTheGuard) {
    {
        TCopy copy(kName);
        copy.Guard.SetInstanceName(kName);  // a second lock would find the first held
        EXPECT_FALSE(copy.Guard.InstanceExists());
        TCopy later(kName);
        EXPECT_TRUE(later.Guard.InstanceExists());
    }
    EXPECT_TRUE(Sockets().empty());
    TCopy next(kName);
    EXPECT_FALSE(next.Guard.InstanceExists());
}

TEST_F(GuardTest, BlankNameShowsTheMessageAndTakesAFreshGuid) {
    TMessageRecorder boxes;
    TCopy copy;
    copy.Guard.SetInstanceName(" \t\r\n");
    ASSERT_EQ(1u, boxes.Shown.size());
    EXPECT_EQ("Instance unique NAME must be set!", boxes.Shown[0].Text);
    EXPECT_TRUE(std::regex_match(copy.Guard.InstanceName(), kGuid)) << copy.Guard.InstanceName();
    EXPECT_FALSE(fs::exists(Dir + "/" + LockFileName(copy.Guard.InstanceName())));
    EXPECT_NE(TLuOneInstance::NewGuidName(), TLuOneInstance::NewGuidName());
}

TEST_F(GuardTest, ExistHandlerMayDestroyTheGuard) {
    TCopy first(kName);
    auto* second = new TLuOneInstance;
    bool ran = false;
    second->SetOnExist([&](TComponent*) {
        delete second;
        ran = true;
    });
    second->SetInstanceName(kName);
    ASSERT_TRUE(WaitUntil([&] { return ran; }, 2000));
    Settle();
    EXPECT_TRUE(first.Log.empty());  // ended before asking the first copy forward
}

TEST_F(GuardTest, QuitAskedBeforeTheEventLoopRunsIsNotLost) {
    TCopy first(kName);
    TLuOneInstance second;
    bool existed = false;
    second.SetOnExist([&](TComponent*) { existed = true; });
    second.SetInstanceName(kName);
    ASSERT_TRUE(WaitUntil([&] { return existed; }, 2000));  // handled outside exec()
    QObject fallback;  // goes with the test, so its timer cannot end a later one
    QTimer::singleShot(2000, &fallback, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(0, QCoreApplication::exec());
}

// --- what other copies and files may leave in the directory ---

TEST_F(GuardTest, StaleSocketOfACrashedCopyIsRemoved) {
    { TRawPeer crashed(Dir + "/crashed.sock"); }  // closed, file left behind
    TCopy copy(kName);
    EXPECT_TRUE(copy.Guard.Guarding());
    EXPECT_FALSE(fs::exists(Dir + "/crashed.sock"));
}

TEST_F(GuardTest, HungCopyNeverAnswersAndTheNewCopyRunsOn) {
    TNamedLock held;
    std::string error;
    ASSERT_EQ(TLockResult::Taken, held.Acquire(Dir, kName, error));
    TRawPeer hung(Dir + "/hung.sock");
    while (hung.Send(hung.Path, "x") >= 0) {
    }  // its queue is full: a blocking send would hang
    const auto start = std::chrono::steady_clock::now();
    TCopy copy(kName);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(copy.Guard.InstanceExists());
    Settle(150);
    EXPECT_TRUE(copy.Log.empty());
}

TEST_F(GuardTest, GarbageOnTheSocketIsDroppedAndReadingGoesOn) {
    TCopy copy(kName);
    const std::string target = Sockets().at(0);
    TRawPeer peer(Dir + "/peer.sock");
    TRawPeer unbound;
    int big = 1 << 20;
    setsockopt(peer.Fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    std::string oversized = EncodeInstanceMessage(TInstanceMessageKind::Answer, "x");
    oversized.resize(kMaxInstanceDatagram + 100, 'x');
    ASSERT_GT(peer.Send(target, oversized), 0);
    unbound.Send(target, EncodeInstanceMessage(TInstanceMessageKind::Quest));  // no way back
    for (const std::string& junk :
         {std::string(), std::string("hello"), std::string("LU_OneInstanceQuestX\0", 21)})
        peer.Send(target, junk);
    for (int i = 0; i < 150; ++i)  // more than the socket queues: sent as the guard reads
        ASSERT_TRUE(
            WaitUntil([&] { return peer.Send(target, std::string(1, char(i)) + "?") > 0; }));
    peer.Send(target, EncodeInstanceMessage(TInstanceMessageKind::Answer, "someone else"));
    ASSERT_TRUE(WaitUntil([&] { return !copy.Log.empty(); }, 2000));
    Settle();
    EXPECT_EQ(TLog({"exist"}), copy.Log);
}

TEST_F(GuardTest, FilesThatAreNotSocketsAreLeftAlone) {
    std::ofstream(Dir + "/file.sock") << "x";
    fs::create_directory(Dir + "/dir.sock");
    ASSERT_EQ(0, mkfifo((Dir + "/fifo.sock").c_str(), 0600));
    fs::create_symlink("/dev/null", Dir + "/link.sock");
    TCopy copy(kName);  // a fifo opened for writing would block here
    EXPECT_TRUE(copy.Guard.Guarding());
    for (const char* f : {"file.sock", "dir.sock", "fifo.sock", "link.sock"})
        EXPECT_TRUE(fs::exists(fs::symlink_status(Dir + "/" + f))) << f;
}

TEST_F(GuardTest, UntrustedDirectoriesAreRefused) {
    std::string error;
    chmod(Dir.c_str(), 0755);
    EXPECT_FALSE(PrepareInstanceDirectory(Dir, error));
    EXPECT_NE(std::string::npos, error.find("mode 0755")) << error;
    fs::create_symlink(Dir, Root + "/link");
    EXPECT_FALSE(PrepareInstanceDirectory(Root + "/link", error));
    std::ofstream(Root + "/file") << "x";
    EXPECT_FALSE(PrepareInstanceDirectory(Root + "/file", error));
    if (geteuid() == 0) {  // only root can hand a directory to someone else
        chmod(Dir.c_str(), 0700);
        ASSERT_EQ(0, chown(Dir.c_str(), 65534, 65534));
        EXPECT_FALSE(PrepareInstanceDirectory(Dir, error));
        EXPECT_NE(std::string::npos, error.find("another user")) << error;
    }
}

TEST_F(GuardTest, RefusedDirectoryRunsWithoutTheGuardAndSaysSoOnce) {
    chmod(Dir.c_str(), 0777);
    testing::internal::CaptureStderr();
    TCopy a(kName), b(kName);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(a.Guard.Guarding());
    EXPECT_FALSE(b.Guard.InstanceExists());
    EXPECT_TRUE(Sockets().empty());
    EXPECT_EQ(said.find("single-instance guard"), said.rfind("single-instance guard")) << said;
}

// --- the wire and the lock file names ---

TEST(InstanceMessage, DecodesOnlyTheThreeTagsAndCutsTheNameAtNul) {
    TInstanceMessage m;
    using K = TInstanceMessageKind;
    for (K k : {K::Quest, K::Stop, K::Answer}) {
        const std::string d = EncodeInstanceMessage(k, "n");
        ASSERT_TRUE(DecodeInstanceMessage(d.data(), d.size(), m));
        EXPECT_EQ(k, m.Kind);
    }
    const std::string unterminated("LU_OneInstanceCopyData\0abc", 26);
    ASSERT_TRUE(DecodeInstanceMessage(unterminated.data(), unterminated.size(), m));
    EXPECT_EQ("abc", m.Name);
    const std::string embedded("LU_OneInstanceCopyData\0ab\0cd", 28);
    ASSERT_TRUE(DecodeInstanceMessage(embedded.data(), embedded.size(), m));
    EXPECT_EQ("ab", m.Name);
    for (const std::string& bad : {std::string(""), std::string("LU_OneInstanceQuest"),
                                   std::string("lu_oneinstancequest\0", 20)})
        EXPECT_FALSE(DecodeInstanceMessage(bad.data(), bad.size(), m)) << bad;
}

TEST(LockFileName, StaysInsideTheDirectoryAndUnique) {
    EXPECT_EQ(kName + ".lock", LockFileName(kName));
    EXPECT_EQ(std::string::npos, LockFileName("../a/b").find('/'));
    EXPECT_NE('.', LockFileName("..")[0]);
    EXPECT_NE(LockFileName("a/b"), LockFileName("a%2Fb"));
    const std::string longA(1000, 'a'), longB = longA + "b";
    EXPECT_LE(LockFileName(longB).size(), 255u);
    EXPECT_NE(LockFileName(longA), LockFileName(longB));
}

}  // namespace
