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

TLuSyncThread::TLuSyncThread(TLuTimeSync* timeSync, TSyncRequest request)
    : FTimeSync(timeSync),
      FSyncedTime(NowLocal()),
      FRequest(std::move(request)),
      FCaFile(timeSync ? timeSync->TimeCaFile() : std::string()) {
    FAnswer.Source = FRequest.Source.Text;
    FAnswer.Kind = FRequest.Source.Kind;
    FAnswer.Cycle = FRequest.Cycle;
}

TLuSyncThread::~TLuSyncThread() { TerminateAndWait(); }

void TLuSyncThread::Execute() {
    SetFreeOnTerminate(true);
    try {
        if (Query() && FTimeSync && !Terminated()) Synchronize([this] { PassResult(); });
    } catch (...) {
        // A failure ends the worker without a result.
    }
}

bool TLuSyncThread::Query() {
    switch (FRequest.Source.Kind) {
        case TSourceKind::Script:
            return QueryScript();
        case TSourceKind::Server:
            return QueryServer();
        case TSourceKind::Nts:
            return QueryNtsServer();
    }
    return false;
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
    // line in it is complete; once it is, the rest is not waited for.
    TAnswerLineWatch watch;
    http.SetBodyEnough([&watch](const std::string& body) { return watch.LineComplete(body); });
    const std::string url = TrimText(FRequest.Source.Text);
    const bool complete = http.SendRequest("GET", url);
    // An https script whose certificate is not trusted (or a build without TLS) is a
    // reason the user must hear of; other failures end the worker quietly.
    static TFailuresTold tlsFailures;
    if (http.Sock().ErrorCode() == kSockSysNotReady && !Terminated())
        tlsFailures.Tell("time script " + url + ": " + http.Sock().GetErrorDescEx());
    const TDateTimeFormats formats{ShortDateFormat(), LongTimeFormat()};
    TScriptReading reading;
    if (!ExtractSyncTime(http.Document().str(), complete, formats, NowLocal(), reading))
        return false;
    // The script's clock when the bytes of its time arrived, against the PC clock at that
    // moment. A time written to the second stands for the middle of its second.
    const TParsedDateTime& written = reading.Time;
    const int64_t halfDigit = HalfOfLastDigitNs(written.FractionDigits);
    const int64_t scriptNs =
        DateTimeToUnixMs(LocalToUtc(written.WholeSecond)) * 1000000 + written.FractionNs + halfDigit;
    TTimeSample& sample = FAnswer.Sample;
    sample.Arrival = http.ArrivalOf(reading.LastByte);
    sample.OffsetNs = scriptNs - sample.Arrival.RealNs;
    sample.UncertaintyNs = halfDigit;
    FAnswer.Peer = url;
    FSyncedTime = UtcToLocal(UnixNsToDateTime(scriptNs));
    return true;
}

bool TLuSyncThread::QueryServer() {
    TSntpClient sntp;
    GiveUpWhenTerminated(sntp.Sock());
    sntp.SetTimeout(SntpWorkerTimeoutMs);
    std::string host, port;
    SplitServerSource(FRequest.Source.Text, host, port);
    sntp.SetTargetHost(host);
    sntp.SetTargetPort(port);
    sntp.SetSyncTime(false);  // only the component sets the clock
    if (!sntp.QuerySntp()) return false;
    // The server's time corrected for the round trip, not its transmit time alone.
    FAnswer.Sample = sntp.Sample();
    FAnswer.Peer = PeerText(sntp.Sock().PeerAddr());
    FSyncedTime = UtcToLocal(UnixNsToDateTime(SampleTimeAt(FAnswer.Sample, FAnswer.Sample.Arrival)));
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
    SplitNtsSource(TrimText(FRequest.Source.Text), host, port);
    nts.SetServer(host, port);
    nts.SetCaFile(FCaFile);
    if (!nts.Query()) {
        if (!Terminated()) told.Tell(nts.Failure());
        return false;
    }
    told.Clear();
    FAnswer.Sample = nts.Sntp().Sample();
    FAnswer.Sample.Authenticated = true;
    // The NTP server the key exchange named is the peer that vouches for the time.
    FAnswer.Peer = PeerText(nts.Sntp().Sock().PeerAddr());
    FSyncedTime = UtcToLocal(UnixNsToDateTime(SampleTimeAt(FAnswer.Sample, FAnswer.Sample.Arrival)));
    return true;
}

std::string PeerText(const TSockAddr& address) {
    const std::string host = SockAddrToText(address);
    const std::string port = std::to_string(SockAddrToPort(address));
    return address.Any.sa_family == AF_INET6 ? "[" + host + "]:" + port : host + ":" + port;
}

void TLuSyncThread::PassResult() {
    if (FTimeSync) FTimeSync->AcceptTime(FAnswer);
}
