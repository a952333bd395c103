// QuerySntp against one server: duration of each query and |NTPTime - the system's UTC
// clock when the reply was read|. With a local chrony serving this machine's clock, the
// second figure is the client's own error.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_stats.h"
#include "timesync/sntpclient.h"

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : "127.0.0.2";
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    std::vector<double> durations, errors;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        TSntpClient client;
        client.SetTargetHost(host);
        client.SetTimeout(2000);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = client.QuerySntp();
        const TDateTime utc = NowUtc();
        durations.push_back(MsSince(t0));
        if (ok)
            errors.push_back(std::fabs(client.NTPTime() - utc) * 86400000.0);
        else
            ++failures;
    }
    std::printf("QuerySntp %s x%d: median %.3f ms, p99 %.3f ms, failures %d\n", host.c_str(), count,
                Percentile(durations, 0.5), Percentile(durations, 0.99), failures);
    std::printf("|NTPTime - UTC|: median %.3f ms, p99 %.3f ms\n", Percentile(errors, 0.5),
                Percentile(errors, 0.99));
    return failures == count;
}
