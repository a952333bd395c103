// Median duration of one SendRequest("GET") of a time script, a fresh client each time
// as the sync worker does it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_stats.h"
#include "timesync/httpclient.h"

int main(int argc, char** argv) {
    const std::string url = argc > 1 ? argv[1] : "http://127.0.0.1:8123/time.php";
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    std::vector<double> durations;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        THttpClient client;
        client.SetTimeout(5000);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = client.SendRequest("GET", url);
        durations.push_back(MsSince(t0));
        if (!ok || client.Document().str().find("sync_time:") == std::string::npos) ++failures;
    }
    std::printf("THttpClient GET %s x%d: median %.3f ms, p99 %.3f ms, failures %d\n", url.c_str(),
                count, Percentile(durations, 0.5), Percentile(durations, 0.99), failures);
    return failures == count;
}
