#include "timesync/syncthread.h"

#include <algorithm>
#include <cctype>

#include "net/netutil.h"
#include "toolkit/eventlog.h"
#include "platform/clock.h"
#include "platform/locale_formats.h"
#include "timesync/httpclient.h"
#include "timesync/nts_client.h"
#include "timesync/lutimesync.h"
#include "timesync/script_answer.h"
#include "timesync/sntpclient.h"

TLuSyncThread::TLuSyncThread(TLuTimeSync* timeSync, std::string source)
    : FTimeSync(timeSync),
      FSyncedTime(NowLocal()),
      FSource(std::move(source)),
      FCaFile(timeSync ? timeSync->TimeCaFile() : std::string()) {}

TLuSyncThread::~TLuSyncThread() { TerminateAndWait(); }

bool TLuSyncThread::IsScriptSource(const std::string& source) {
    std::string lower = source;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(".php") != std::string::npos;
}

void TLuSyncThread::Execute() {
    SetFreeOnTerminate(true);
    try {
        const bool got = IsScriptSource(FSource) ? QueryScript() : QueryServer();
        if (got && FTimeSync && !Terminated()) Synchronize([this] { PassResult(); });
    } catch (...) {
        // A failure, or a clock that could not be set, ends the worker without a result.
    }
}

// A quitting program terminates its workers: every wait on the socket looks at that
// this often, so no worker holds the quit up for a whole time-out.
void TLuSyncThread::GiveUpWhenTerminated(TNetSocket& sock) {
    sock.SetHeartbeatRate(TerminateCheckMs);
    sock.SetOnHeartbeat([this](TNetSocket* s) {
        if (Terminated()) s->SetStopFlag(true);
    });
}

bool TLuSyncThread::QueryScript() {
    THttpClient http;
    GiveUpWhenTerminated(http.Sock());
    http.SetCaFile(FCaFile);
    // A time script answers in a few bytes; a bigger body is not one.
    http.SetMaxDocumentSize(ScriptBodyLimit);
    // A script that has not answered within a cycle's time is not worth keeping a thread
    // (and a quitting program) waiting for.
    http.SetTotalTimeout(ScriptTotalTimeoutMs);
    // Only the body counts, even what arrived before a failure, as long as the time's
    // line in it is complete.
    const bool complete = http.SendRequest("GET", FSource);
    // An https script whose certificate is not trusted (or a build without TLS) is a
    // reason the user must hear of; other failures end the worker quietly.
    static TFailuresTold tlsFailures;
    if (http.Sock().ErrorCode() == kSockSysNotReady && !Terminated())
        tlsFailures.Tell("time script " + FSource + ": " + http.Sock().GetErrorDescEx());
    const TDateTimeFormats formats{ShortDateFormat(), LongTimeFormat()};
    size_t timeEnd = 0;
    if (!ExtractSyncTime(http.Document().str(), complete, formats, NowLocal(), FSyncedTime,
                         timeEnd))
        return false;
    // The script's clock when those bytes arrived, against the PC clock at that moment.
    FSample.Arrival = http.ArrivalOf(timeEnd);
    FSample.OffsetNs = DateTimeToUnixMs(LocalToUtc(FSyncedTime)) * 1000000 - FSample.Arrival.RealNs;
    return true;
}

bool TLuSyncThread::QueryServer() {
    if (IsNtsSource(FSource)) return QueryNtsServer();
    TSntpClient sntp;
    GiveUpWhenTerminated(sntp.Sock());
    sntp.SetTimeout(SntpWorkerTimeoutMs);
    std::string host, port;
    SplitServerSource(FSource, host, port);
    sntp.SetTargetHost(host);
    sntp.SetTargetPort(port);
    sntp.SetSyncTime(false);  // only the component sets the clock
    if (!sntp.QuerySntp()) return false;
    // The server's time corrected for the round trip, not its transmit time alone.
    FSample = sntp.Sample();
    FSyncedTime = UtcToLocal(UnixNsToDateTime(SampleTimeAt(FSample, FSample.Arrival)));
    return true;
}

bool TLuSyncThread::QueryNtsServer() {
    // Why an NTS server gives no time (an untrusted certificate, a refused exchange) is
    // for the user to know, and told once while it lasts.
    static TFailuresTold told;
    TNtsClient nts;
    GiveUpWhenTerminated(nts.Sntp().Sock());
    GiveUpWhenTerminated(nts.KeyExchange().Sock());
    nts.SetTimeout(SntpWorkerTimeoutMs);
    std::string host, port;
    SplitNtsSource(FSource, host, port);
    nts.SetServer(host, port);
    nts.SetCaFile(FCaFile);
    if (!nts.Query()) {
        if (!Terminated()) told.Tell(nts.Failure());
        return false;
    }
    told.Clear();
    FSample = nts.Sntp().Sample();
    FSample.Authenticated = true;
    FSyncedTime = UtcToLocal(UnixNsToDateTime(SampleTimeAt(FSample, FSample.Arrival)));
    return true;
}

void TLuSyncThread::PassResult() {
    if (FTimeSync) FTimeSync->AcceptTime(FSample, FSource);
}
