// The clock setter and the time-service probe as seams: the system's own unless a test
// installed its stand-in.
#include "platform/clock.h"
#include "toolkit/seam.h"

namespace {

TSeam<TClockSetter> CurrentSetter;
TSeam<TClockServiceProbe> CurrentProbe;

}  // namespace

TClockSetter SetClockSetter(TClockSetter setter) { return CurrentSetter.Swap(std::move(setter)); }

bool StepPCClock(double offsetSeconds) {
    const TClockSetter setter = CurrentSetter.Get();
    return setter ? setter(offsetSeconds) : SystemStepClock(offsetSeconds);
}

TClockServiceProbe SetClockServiceProbe(TClockServiceProbe probe) {
    return CurrentProbe.Swap(std::move(probe));
}

bool ClockKeptByTimeService() {
    const TClockServiceProbe probe = CurrentProbe.Get();
    return probe ? probe() : SystemClockSynchronised();
}
