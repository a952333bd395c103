// What the window and the clock service (src/tiktaal-set-clock/windows) say to each other over
// the service's named pipe. One message each way: the request is nothing but an offset in
// the clock helper's text form ("-0.000123"); the answer is "STATUS REASON", a number and
// one line saying why.
#pragma once

#define TIKTAAL_CLOCK_PIPE L"\\\\.\\pipe\\Tiktaal.Clock"
#define TIKTAAL_CLOCK_SERVICE L"TiktaalClock"
#define TIKTAAL_CLOCK_GROUP L"Tiktaal Clock"

// The answer's statuses; 0 to 3 are the Linux clock helper's exit statuses.
enum TClockServiceStatus {
    ClockStepped = 0,
    ClockRefused = 1,        // the system refused the step
    ClockBadOffset = 2,      // not one offset in bounds, or a result outside 2000 .. 2200
    ClockNotPermitted = 3,   // the service lacks the right to set the clock
    ClockBusy = 4,           // another step is being applied
    ClockCallerRefused = 5,  // the caller is not in the group
};

// Longest request and answer, in bytes.
constexpr unsigned long ClockRequestMax = 64;
constexpr unsigned long ClockAnswerMax = 512;

// What a member may do with the pipe: read, write, set its read mode; not create an
// instance of its own (FILE_CREATE_PIPE_INSTANCE), which would let it pose as the service.
// FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
// READ_CONTROL | SYNCHRONIZE.
constexpr unsigned long ClockPipeClientAccess = 0x00120183;
