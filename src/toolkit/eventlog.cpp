#include "toolkit/eventlog.h"

#include <cstdio>
#include <mutex>

#include "toolkit/datetime.h"

namespace {
std::mutex SinkLock;
TEventLogSink Sink;
}  // namespace

TEventLogSink SetEventLogSink(TEventLogSink sink) {
    std::lock_guard<std::mutex> g(SinkLock);
    TEventLogSink previous = std::move(Sink);
    Sink = std::move(sink);
    return previous;
}

void LogEvent(const std::string& text) {
    std::lock_guard<std::mutex> g(SinkLock);
    if (Sink) {
        Sink(text);
        return;
    }
    const std::string stamp = FormatDateTime("yyyy-MM-dd HH:mm:ss", NowLocal());
    std::fprintf(stderr, "%s tiktaal: %s\n", stamp.c_str(), text.c_str());
    std::fflush(stderr);
}
