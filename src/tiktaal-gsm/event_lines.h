// The lines tiktaal-gsm prints for what the modem reports: plain text for people, or one
// JSON object per line with an "event" field and the event's fields in plain English.
#pragma once

#include <string>
#include <vector>

struct TEventField {
    enum TType { Text, Number, Flag };
    std::string Name;
    std::string Value;  // a number or flag as its JSON text ("12", "true")
    TType Type = Text;
};

struct TToolEvent {
    std::string Kind;  // sms, report, ring, call, signal, battery, secret
    std::vector<TEventField> Fields;
    std::string Line;  // the plain-text form
};

// part: the one part a partial message holds, 0 otherwise.
TToolEvent SmsEvent(const std::string& from, const std::string& timestamp, const std::string& text,
                    int reference, int parts, bool partial, int part = 0);
TToolEvent ReportEvent(const std::string& number, int reference, int status,
                       const std::string& timestamp);
TToolEvent RingEvent(const std::string& number);
TToolEvent CallEvent(bool busy, int callStatus);
TToolEvent SignalEvent(int percent);
TToolEvent BatteryEvent(int level, bool ac);
TToolEvent SecretEvent(const std::string& from, const std::string& text);
// Something that went wrong while listening: a report that cannot be read, a modem gone.
TToolEvent ErrorEvent(const std::string& message);

std::string EventLine(const TToolEvent& event, bool json);
// A JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text);
// Text safe for a terminal: valid UTF-8 (each invalid byte as U+FFFD), control characters
// shown as \xNN (a line break as " / "), so that noise from a modem never reaches it raw.
std::string TerminalText(const std::string& text);
