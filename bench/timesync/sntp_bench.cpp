// QuerySntp against one server, directly or through a relay that holds each datagram a
// fixed time each way. Per query: its duration; |transmit time - the PC's UTC clock when
// the reply was read| (taking the transmit time as the time); |accepted time - server
// clock|, the accepted time being the server's time corrected by the round trip (the
// offset). With a local chrony serving this machine's clock, the last two are errors.
// Usage: sntp_bench HOST [COUNT] [RELAY_MS]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench_stats.h"
#include "support/udp_relay.h"
#include "timesync/sntpclient.h"

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : "127.0.0.2";
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    const int relayMs = argc > 3 ? std::atoi(argv[3]) : 0;
    std::unique_ptr<TUdpRelay> relay;
    if (relayMs > 0)
        relay = std::make_unique<TUdpRelay>(host, 123, std::chrono::milliseconds(relayMs));
    std::vector<double> durations, transmitErrors, acceptedErrors;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        TSntpClient client;
        client.SetTargetHost(relay ? "127.0.0.1" : host);
        if (relay) client.SetTargetPort(std::to_string(relay->Port()));
        client.SetTimeout(2000);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = client.QuerySntp();
        const TDateTime utc = NowUtc();
        durations.push_back(MsSince(t0));
        if (!ok) {
            ++failures;
            continue;
        }
        transmitErrors.push_back(std::fabs(client.NTPTime() - utc) * 86400000.0);
        acceptedErrors.push_back(std::fabs(client.NTPOffset()) * 1000.0);
    }
    const std::string path = relay ? " through a " + std::to_string(relayMs) + " ms-each-way relay"
                                   : std::string(" direct");
    std::printf("QuerySntp %s%s x%d: median %.3f ms, p99 %.3f ms, failures %d\n", host.c_str(),
                path.c_str(), count, Percentile(durations, 0.5), Percentile(durations, 0.99),
                failures);
    std::printf("  |transmit time - UTC| (time taken as sent): median %.3f ms, p99 %.3f ms\n",
                Percentile(transmitErrors, 0.5), Percentile(transmitErrors, 0.99));
    std::printf("  |accepted time - server clock| (offset):   median %.3f ms, p99 %.3f ms\n",
                Percentile(acceptedErrors, 0.5), Percentile(acceptedErrors, 0.99));
    return failures == count;
}
