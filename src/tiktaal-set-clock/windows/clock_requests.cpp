#include "clock_requests.h"

#include "platform/windows/clock_service_protocol.h"

TClockAnswer TClockRequests::Handle(const std::string& request) {
    TClockOffset offset;
    // Text with a NUL inside is not one offset, whatever precedes the NUL.
    if (request.find('\0') != std::string::npos || !ParseClockOffset(request.c_str(), offset))
        return {ClockBadOffset, BadOffsetReason};
    std::unique_lock<std::mutex> applying(FApplying, std::try_to_lock);
    if (!applying.owns_lock()) return {ClockBusy, "another step of the clock is being applied"};
    return FApply(offset, request);
}
