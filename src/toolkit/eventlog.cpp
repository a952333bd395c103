#include "toolkit/eventlog.h"

#include <cstdio>

#include "toolkit/datetime.h"
#include "toolkit/seam.h"

namespace {
TSeam<TEventLogSink> Sink;
}  // namespace

TEventLogSink SetEventLogSink(TEventLogSink sink) { return Sink.Swap(std::move(sink)); }

void LogEvent(const std::string& text) {
    if (const TEventLogSink sink = Sink.Get()) {
        sink(text);
        return;
    }
    const std::string stamp = FormatDateTime("yyyy-MM-dd HH:mm:ss", NowLocal());
    // One call per line, so that lines from several threads do not mix.
    std::fprintf(stderr, "%s tiktaal: %s\n", stamp.c_str(), text.c_str());
}

bool TFailuresTold::Tell(const std::string& line) {
    {
        std::lock_guard<std::mutex> g(FLock);
        if (!FTold.insert(line).second) return false;
    }
    LogEvent(line);
    return true;
}

void TFailuresTold::Clear() {
    std::lock_guard<std::mutex> g(FLock);
    FTold.clear();
}
