// What the board says, made fit for one event line each, and the board's clock read back
// from a reply. Plain C++: the window feeds it the reply lines and the PC clock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

// Control bytes, bytes above 0x7E and the backslash escaped (\r, \n, \t, \\, \xNN), the
// result cut to `limit` characters; a cut text ends in "...".
std::string EscapeReply(const std::string& line, size_t limit = 200);

// Lets at most `perSecond` lines through in any second; says how many it held back.
class TReplyRateLimit {
public:
    explicit TReplyRateLimit(int perSecond = 10) : FPerSecond(perSecond) {}
    // The text to log for a line at nowMs, or nothing when the line is held back. The first
    // line after held-back ones says how many there were.
    std::optional<std::string> Admit(const std::string& text, int64_t nowMs);

private:
    int FPerSecond;
    std::deque<int64_t> FRecent;
    int FHeldBack = 0;
};

struct TBoardTime {
    int64_t UnixMs = 0;  // the local date and time the reply names, as an instant
    bool HasMillis = false;
};

// The first date, ",", time in the given formats (the toolkit's letters, as the line to
// the board uses them) in the reply, with optional milliseconds (".mmm" or ",mmm") after.
std::optional<TBoardTime> FindBoardTime(const std::string& reply, const std::string& dateFormat,
                                        const std::string& timeFormat);

// "board clock off by +0.004 s": the named time against the PC clock when the reply left
// the board (its arrival less its time on the wire). Whole-second replies are compared with
// the PC clock's whole second and give whole seconds.
std::string BoardOffsetText(const TBoardTime& board, int64_t arrivalUnixMs, int64_t wireMs);
