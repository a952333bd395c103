// Setting the PC clock, and UTC to local time. The setter is a seam: tests and the
// --no-set-clock option replace it, so nothing but the real program touches the clock.
#pragma once

#include <functional>

#include "toolkit/datetime.h"

// Sets the clock to a local date-time; returns false when the system refuses, throws
// std::system_error (with the system's text) when the right to set the clock is missing.
using TClockSetter = std::function<bool(TDateTime local)>;

// Installs a setter and returns the previous one; an empty setter restores the system's.
TClockSetter SetClockSetter(TClockSetter setter);
bool SetPCDateTime(TDateTime local);
// The system's setter: local time to UTC with the zone rules, then clock_settime.
bool SystemSetLocalTime(TDateTime local);

// Whether a time service of the system (chrony, systemd-timesyncd, ntpd) keeps the clock
// synchronised; a seam like the setter, so tests decide. Empty restores the system's.
using TClockServiceProbe = std::function<bool()>;
TClockServiceProbe SetClockServiceProbe(TClockServiceProbe probe);
bool ClockKeptByTimeService();
// The kernel's view: its clock is not marked unsynchronised (adjtimex, no privilege needed).
bool SystemClockSynchronised();

// UTC to local time with the zone rules for that instant's date, milliseconds kept.
// When the zone cannot be applied, t comes back unchanged.
TDateTime UtcToLocal(TDateTime t);
// Local to UTC with the zone rules (mktime); unchanged when that fails.
TDateTime LocalToUtc(TDateTime t);
