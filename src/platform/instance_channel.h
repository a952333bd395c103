// The single-instance guard's channel between copies of a program, and a named lock that a
// process holds for its life (a lock that cannot be taken means another copy runs).
// Linux: a per-user directory in which every guard listens on its own Unix datagram socket;
// the lock is flock on <dir>/<name>.lock. Windows: a hidden window per guard that takes the
// registered messages "LU_OneInstanceQuest" and "LU_OneInstanceStop" (the question is
// broadcast) and the answer as WM_COPYDATA; the lock is a named mutex of the session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Where the guards of one user's session find each other. Linux: the directory
// $XDG_RUNTIME_DIR/LU_OneInstance, or /tmp/LU_OneInstance-<uid> when XDG_RUNTIME_DIR is
// unset, blank or not absolute. Windows: the session's namespace of named objects.
std::string InstanceDirectoryPath();
// Linux: creates path (mode 0700) when missing and checks that it is a real directory of
// this user that nobody else may enter. Returns false with a readable reason otherwise: a
// directory that another user could fill with sockets must not be trusted.
bool PrepareInstanceDirectory(const std::string& path, std::string& error);

// The three steps of the conversation, and the datagrams that carry them.
enum class TInstanceMessageKind { Quest, Answer, Stop };

struct TInstanceMessage {
    TInstanceMessageKind Kind = TInstanceMessageKind::Quest;
    std::string Sender;  // the sending guard's socket path; empty when it has none
    std::string Name;    // Answer: the running copy's instance name
};

// A datagram is a tag, a NUL, and for an answer the name followed by a NUL.
std::string EncodeInstanceMessage(TInstanceMessageKind kind, const std::string& name = "");
// False for anything that is not one of the three tags. The name of an answer runs to its
// first NUL, or to the end when the NUL is missing.
bool DecodeInstanceMessage(const char* data, size_t size, TInstanceMessage& msg);

// Largest datagram read or sent; longer ones are dropped.
constexpr size_t kMaxInstanceDatagram = 16384;

// This guard's end of the channel. No call waits for long: a copy that does not read its
// messages (hung) can never hold up another.
class TInstanceChannel {
public:
    // Binds a socket under a fresh random name in directory (already prepared); on Windows,
    // makes the hidden window on the calling (main) thread.
    explicit TInstanceChannel(const std::string& directory);
    // Closes the socket and removes its file.
    ~TInstanceChannel();
    TInstanceChannel(const TInstanceChannel&) = delete;
    TInstanceChannel& operator=(const TInstanceChannel&) = delete;

    bool Ok() const { return FOk; }
    const std::string& Error() const { return FError; }
    // The descriptor to watch for reading; -1 when not Ok, or where messages come through
    // the main thread's message loop instead (Windows), which calls the pending handler.
    int Fd() const { return FFd; }
    // Called on the main thread, from its message loop, when messages may be waiting.
    void SetOnPending(std::function<void()> handler) { FOnPending = std::move(handler); }
    const std::string& Address() const { return FAddress; }

    // "Who runs": sent to every guard socket in the directory, this one's own included.
    // Socket files of crashed copies are removed on the way. Returns how many took it.
    int AskWhoRuns();
    // The answer to an asker: this guard's instance name.
    bool Answer(const std::string& asker, const std::string& name);
    // "Come forward", to the copy that answered.
    bool AskToComeForward(const std::string& answerer);
    // Takes one valid message from the socket; false when nothing valid is pending.
    // Garbled or oversized datagrams are dropped on the way.
    bool Receive(TInstanceMessage& msg);

private:
    // 0, or the errno of the failed send.
    int SendTo(const std::string& path, const std::string& datagram);

    struct TSystemPart;  // what only one system's channel needs

    bool FOk = false;
    int FFd = -1;
    std::string FDirectory, FAddress, FError;
    std::vector<char> FBuffer;  // room for one datagram, for Receive
    std::function<void()> FOnPending;
    std::unique_ptr<TSystemPart> FSystem;
};

enum class TLockResult { Taken, HeldElsewhere, Failed };

// The named lock of one instance name, held until Release or destruction (or the end of
// the process, when the system drops it even after a crash).
class TNamedLock {
public:
    TNamedLock() = default;
    ~TNamedLock() { Release(); }
    TNamedLock(const TNamedLock&) = delete;
    TNamedLock& operator=(const TNamedLock&) = delete;

    // Releases any lock held, then tries <directory>/<LockFileName(name)> without waiting.
    // Failed leaves a reason in error (a lock file that is not a plain file, say).
    TLockResult Acquire(const std::string& directory, const std::string& name, std::string& error);
    void Release();
    bool Held() const { return FHandle != -1; }

private:
    intptr_t FHandle = -1;  // the lock file's descriptor, or the mutex's handle
};

// The lock file's name for an instance name: the name plus ".lock" when it is a safe file
// name; otherwise bytes outside [A-Za-z0-9{}()_,+=@-] (and a leading dot) become %XX, and
// a name still too long is cut and given a hash of the whole, so that it stays unique.
std::string LockFileName(const std::string& name);

// Fills buf from the system's random source; false when it cannot.
bool RandomBytes(void* buf, size_t size);
