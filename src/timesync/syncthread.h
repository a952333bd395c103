// A short-lived worker that asks one time source once and hands the time to the
// time-sync component on the main thread; it frees itself when done and reports nothing
// when it fails.
#pragma once

#include <cstdint>
#include <string>

#include "net/ipaddr.h"
#include "timesync/source_answer.h"
#include "toolkit/datetime.h"
#include "toolkit/thread.h"

class TLuTimeSync;

// A peer's address and port as an answer names it: "192.0.2.1:123", "[2001:db8::1]:123".
std::string PeerText(const TSockAddr& address);

constexpr int SntpWorkerTimeoutMs = 5000;
constexpr int64_t ScriptBodyLimit = 1 << 20;
constexpr int ScriptTotalTimeoutMs = 20000;
constexpr int TerminateCheckMs = 100;

class TNetSocket;

class TLuSyncThread : public TThread {
public:
    TLuSyncThread(TLuTimeSync* timeSync, TSyncRequest request);
    ~TLuSyncThread() override;

    const std::string& Source() const { return FRequest.Source.Text; }
    TDateTime SyncedTime() const { return FSyncedTime; }

protected:
    void Execute() override;

private:
    void GiveUpWhenTerminated(TNetSocket& sock);
    bool Query();
    bool QueryScript();
    bool QueryServer();
    bool QueryNtsServer();
    void PassResult();

    TLuTimeSync* FTimeSync;
    TDateTime FSyncedTime;
    TSyncRequest FRequest;
    TSourceAnswer FAnswer;
    std::string FCaFile;
};
