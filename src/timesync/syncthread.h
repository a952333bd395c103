// A short-lived worker that asks one time source once and hands the time to the
// time-sync component on the main thread; it frees itself when done and reports nothing
// when it fails.
#pragma once

#include <cstdint>
#include <string>

#include "timesync/server_source.h"
#include "timesync/time_sample.h"
#include "toolkit/datetime.h"
#include "toolkit/thread.h"

class TLuTimeSync;

constexpr int SntpWorkerTimeoutMs = 5000;
constexpr int64_t ScriptBodyLimit = 1 << 20;
constexpr int ScriptTotalTimeoutMs = 20000;
constexpr int TerminateCheckMs = 100;

class TNetSocket;

class TLuSyncThread : public TThread {
public:
    TLuSyncThread(TLuTimeSync* timeSync, std::string source);
    ~TLuSyncThread() override;

    const std::string& Source() const { return FSource; }
    TDateTime SyncedTime() const { return FSyncedTime; }
    // A source naming a time script (".php" anywhere, any case) is fetched over HTTP.
    static bool IsScriptSource(const std::string& source);

protected:
    void Execute() override;

private:
    void GiveUpWhenTerminated(TNetSocket& sock);
    bool QueryScript();
    bool QueryServer();
    bool QueryNtsServer();
    void PassResult();

    TLuTimeSync* FTimeSync;
    TDateTime FSyncedTime;
    TTimeSample FSample;
    std::string FSource;
    std::string FCaFile;
};
