// The system's side of one serial port, under the serial device: opening and releasing
// it, line settings, queues, modem lines, transfers and the bounded waits. One
// implementation per system (linux/, windows/), chosen by the build. Calls answer 0 or the
// system's own error number, so that codes and texts are those users of that system know.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/linesettings.h"
#include "serial/pollwait.h"

// How a wait for input ended. Error holds a hang-up (the device went away) or a failed
// wait; Woken says the wake handle turned ready.
struct TPortWait {
    bool Readable = false;
    bool Woken = false;
    int Error = 0;
};

// Write's answer when the queue stayed full until the time-out.
constexpr int kPortTimedOut = -1;

class TPortIo {
public:
    TPortIo();
    ~TPortIo();  // closes the port
    TPortIo(const TPortIo&) = delete;
    TPortIo& operator=(const TPortIo&) = delete;

    // The device a port name opens; comNumber is n of a name COMn (n >= 1), else 0.
    static std::string DevicePath(const std::string& name, int comNumber);
    // The system's text for one of its error numbers.
    static std::string ErrorText(int code);
    // The system's numbers for the failures the device reports by meaning.
    static int ErrorIo();        // a failure the system did not explain
    static int ErrorNotOpen();   // no port behind the object
    static int ErrorBadValue();  // a line setting the port cannot take
    static int ErrorBusy();      // another program holds the port

    bool IsOpen() const;
    // The system's handle, or -1.
    intptr_t Native() const;

    // Opens a terminal device for non-blocking use; anything else is refused.
    int Open(const std::string& path);
    // Keeps every other program off the port, or ErrorBusy() when one has it already.
    int TakeExclusive();
    // Gives up the exclusive hold and the handle; safe to call when closed.
    void Close();

    int ApplyLineSettings(const TLineSettings& settings);
    // Reads the settings back; a port whose device went away answers an error.
    int FetchLineSettings(TLineSettings& settings);
    int SetQueueSizes(int receive, int send);
    int Purge();

    // Takes what the driver holds, up to length, without waiting.
    int Read(void* buffer, int length, int& got);
    // Hands all of buffer to the driver, waiting for room no longer than timeout ms;
    // kPortTimedOut when room never came (what was taken still goes out).
    int Write(const void* buffer, int length, int timeout, int& done);
    int InputCount(int& count);
    int OutputCount(int& count);

    // Modem-status bits (MS_*); a port without modem lines answers 0 and no bits.
    int ModemStatus(uint32_t& status);
    void SetDTR(bool on);
    void SetRTS(bool on);
    int SetBreak(bool on);
    // Line errors (CE_*) the driver saw since the last call; the first call after Open
    // only takes the base line.
    uint32_t TakeLineErrors();

    // Waits up to timeout ms for input, a hang-up, or wake turning ready.
    TPortWait WaitInput(int timeout, TWaitHandle wake);

private:
    struct TState;
    std::unique_ptr<TState> F;
};
