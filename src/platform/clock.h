// Stepping the PC clock, and UTC to local time. The setter is a seam: tests replace it, so
// nothing but the real program touches the clock, and the real program only through the
// clock helper, the one program that holds the right to set it.
#pragma once

#include <functional>
#include <string>

#include "toolkit/datetime.h"

// Steps the clock by an offset in seconds. A relative step, so the time spent between
// measuring the offset and making the step does not count. Returns false when the system
// refuses without a reason; throws std::runtime_error with the helper's reason when it
// refuses the step (an offset out of bounds, the system saying no), std::system_error
// when the right to set the clock is missing or the helper cannot be run.
using TClockSetter = std::function<bool(double offsetSeconds)>;

// Installs a setter and returns the previous one; an empty setter restores the system's.
TClockSetter SetClockSetter(TClockSetter setter);
bool StepPCClock(double offsetSeconds);
// The system's setter: asks the clock helper to step the clock by the offset (Linux: runs
// it with an empty environment; Windows: sends the offset to the clock service's pipe with
// bounded waits), and tells the reason of a failure once on standard error.
bool SystemStepClock(double offsetSeconds);
// Linux: the helper, $TIKTAAL_SET_CLOCK_HELPER when set, else the installed one, else the
// one built beside this program. Windows: the service's pipe, $TIKTAAL_SET_CLOCK_PIPE when
// set, else \\.\pipe\Tiktaal.Clock.
std::string ClockHelperPath();

// Whether a time service of the system (chrony, systemd-timesyncd, ntpd; the Windows Time
// service) keeps the clock synchronised; a seam like the setter, so tests decide. Empty
// restores the system's.
using TClockServiceProbe = std::function<bool()>;
TClockServiceProbe SetClockServiceProbe(TClockServiceProbe probe);
bool ClockKeptByTimeService();
// What the system shows without privilege. Linux: the kernel's clock is not marked
// unsynchronised (adjtimex). Windows: the Windows Time service runs and steers the clock.
bool SystemClockSynchronised();

// UTC to local time with the zone rules for that instant's date, milliseconds kept.
// When the zone cannot be applied, t comes back unchanged.
TDateTime UtcToLocal(TDateTime t);
// Local to UTC with the zone rules (mktime); unchanged when that fails.
TDateTime LocalToUtc(TDateTime t);
