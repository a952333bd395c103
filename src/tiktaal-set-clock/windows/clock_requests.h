// One request to the clock service, from its text to its answer: the offset checks the Linux
// helper makes, then one step at a time: a request that comes while another is being applied
// is turned away busy instead of queued, so that no caller's step lands on top of another's.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "clock_offset.h"

struct TClockAnswer {
    int Status = 0;  // TClockServiceStatus
    std::string Reason;
    // "STATUS REASON", as it goes over the pipe.
    std::string Text() const { return std::to_string(Status) + " " + Reason; }
};

// Applies one checked offset: steps the clock, or records it. text is the request as it came.
using TClockApplier =
    std::function<TClockAnswer(const TClockOffset& offset, const std::string& text)>;

class TClockRequests {
public:
    explicit TClockRequests(TClockApplier apply) : FApply(std::move(apply)) {}
    TClockAnswer Handle(const std::string& request);

private:
    TClockApplier FApply;
    std::mutex FApplying;
};
