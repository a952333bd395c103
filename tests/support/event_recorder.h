// Records the event log's lines for one test, and puts the previous sink back afterwards.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "toolkit/eventlog.h"

class TEventRecorder {
public:
    TEventRecorder()
        : FPrevious(SetEventLogSink([this](const std::string& line) {
              std::lock_guard<std::mutex> g(FLock);
              FLines.push_back(line);
          })) {}
    ~TEventRecorder() { SetEventLogSink(FPrevious); }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> g(FLock);
        return FLines;
    }

private:
    std::mutex FLock;
    std::vector<std::string> FLines;
    TEventLogSink FPrevious;
};
