// The two ways the clock service applies an offset: stepping the system clock, or, for
// tests and diagnosis, recording the offset in a file and leaving the clock alone.
#pragma once

#include <string>

#include "clock_requests.h"

// Steps the system clock by the offset, with the system-time privilege enabled for the
// step; refuses a result outside 2000 .. 2200.
TClockAnswer StepSystemClock(const TClockOffset& offset);

// Appends each offset it is given, as it came, to a file: one line each. While holdFile
// exists, each request is held after it was recorded (up to a minute), so that a test can
// send a second one while the first is being applied.
class TClockRecorder {
public:
    TClockRecorder(std::wstring file, std::wstring holdFile)
        : FFile(std::move(file)), FHoldFile(std::move(holdFile)) {}
    TClockAnswer operator()(const TClockOffset& offset, const std::string& text) const;

private:
    std::wstring FFile;
    std::wstring FHoldFile;
};
