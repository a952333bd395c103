// The single-instance guard's channel between copies of a program: a per-user directory in
// which every guard listens on its own Unix datagram socket, and a named lock (flock on
// <dir>/<name>.lock) that a process holds for its life. A lock that cannot be taken means
// another copy runs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The per-user directory: $XDG_RUNTIME_DIR/LU_OneInstance, or /tmp/LU_OneInstance-<uid>
// when XDG_RUNTIME_DIR is unset, blank or not absolute.
std::string InstanceDirectoryPath();
// Creates path (mode 0700) when missing and checks that it is a real directory of this
// user that nobody else may enter. Returns false with a readable reason otherwise: a
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

// This guard's socket in the directory. Every call is non-blocking: a copy that does not
// read its socket (hung) can never hold up another.
class TInstanceChannel {
public:
    // Binds a socket under a fresh random name in directory (already prepared).
    explicit TInstanceChannel(const std::string& directory);
    // Closes the socket and removes its file.
    ~TInstanceChannel();
    TInstanceChannel(const TInstanceChannel&) = delete;
    TInstanceChannel& operator=(const TInstanceChannel&) = delete;

    bool Ok() const { return FFd >= 0; }
    const std::string& Error() const { return FError; }
    // The descriptor to watch for reading; -1 when not Ok.
    int Fd() const { return FFd; }
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

    int FFd = -1;
    std::string FDirectory, FAddress, FError;
    std::vector<char> FBuffer;  // room for one datagram, for Receive
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
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

// The lock file's name for an instance name: the name plus ".lock" when it is a safe file
// name; otherwise bytes outside [A-Za-z0-9{}()_,+=@-] (and a leading dot) become %XX, and
// a name still too long is cut and given a hash of the whole, so that it stays unique.
std::string LockFileName(const std::string& name);

// Fills buf from the system's random source; false when it cannot.
bool RandomBytes(void* buf, size_t size);
