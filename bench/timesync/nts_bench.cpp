// Authenticated time beside plain SNTP against the same server (a local chrony serving
// this machine's clock, so every |offset| is an error): |offset| median and p99 of each;
// the duration of a first NTS query, key exchange included, and of later ones, which use
// the kept cookies.
// Usage: nts_bench HOST KE_PORT CA_FILE [COUNT]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "timesync/nts_client.h"
#include "timesync/nts_session_store.h"
#include "timesync/sntpclient.h"

namespace {
struct TFigures {
    std::vector<double> Durations, Offsets;
    int Failures = 0;
};

void Print(const char* what, const TFigures& f, int count) {
    std::printf("%s x%d: duration median %.3f ms, p99 %.3f ms; |offset| median %.4f ms, p99 %.4f ms;"
                " failures %d\n",
                what, count, Percentile(f.Durations, 0.5), Percentile(f.Durations, 0.99),
                Percentile(f.Offsets, 0.5), Percentile(f.Offsets, 0.99), f.Failures);
}

template <typename TQuery>
void Measure(TFigures& figures, TQuery query) {
    const auto t0 = std::chrono::steady_clock::now();
    double offsetMs = 0;
    const bool ok = query(offsetMs);
    figures.Durations.push_back(MsSince(t0));
    if (ok)
        figures.Offsets.push_back(std::fabs(offsetMs));
    else
        ++figures.Failures;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: nts_bench HOST KE_PORT CA_FILE [COUNT]\n");
        return 2;
    }
    const std::string host = argv[1], kePort = argv[2], ca = argv[3];
    const int count = argc > 4 ? std::atoi(argv[4]) : 100;
    std::string ntpPort = "123";

    TFigures first, later, plain;
    auto nts = [&](double& offsetMs) {
        TNtsClient client;
        client.SetServer(host, kePort);
        client.SetCaFile(ca);
        client.SetTimeout(2000);
        if (!client.Query()) {
            std::fprintf(stderr, "%s\n", client.Failure().c_str());
            return false;
        }
        ntpPort = client.Sntp().TargetPort();
        offsetMs = client.Sntp().NTPOffset() * 1000.0;
        return true;
    };
    for (int i = 0; i < count; ++i) {
        TNtsSessionStore::Shared().ForgetAll();
        Measure(first, nts);
        Measure(later, nts);
    }
    for (int i = 0; i < count; ++i) Measure(later, nts);
    for (int i = 0; i < count; ++i)
        Measure(plain, [&](double& offsetMs) {
            TSntpClient client;
            client.SetTargetHost(host);
            client.SetTargetPort(ntpPort);
            client.SetTimeout(2000);
            if (!client.QuerySntp()) return false;
            offsetMs = client.NTPOffset() * 1000.0;
            return true;
        });
    Print("NTS first query (key exchange included)", first, count);
    Print("NTS later queries (kept cookies)       ", later, 2 * count);
    Print("plain SNTP, same server                ", plain, count);
    return first.Failures == count;
}
