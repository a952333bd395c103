// Small routines on byte strings, streams and time shared by the serial device, the
// socket layer, the time clients and the modem thread. Positions are 1-based.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "toolkit/datetime.h"

class TStringList;

// Milliseconds of a monotonic clock, wrapping at 2^32.
uint32_t TickNow();
// Distance between two ticks, forward across a wrap from the upper to the lower half.
uint32_t TickElapsed(uint32_t oldTick, uint32_t newTick);
void Pause(uint32_t ms);

TDateTime UtcNow();
// Sets the machine's clock. Only the SNTP client's clock option calls it, through the
// clock seam, so that tests never set the real clock.
bool SetUtcClock(TDateTime dt);

std::string Int16ToBigEndian(uint16_t v);
uint16_t BigEndianToInt16(const std::string& text, size_t pos);
std::string Int32ToBigEndian(uint32_t v);
uint32_t BigEndianToInt32(const std::string& text, size_t pos);
uint32_t ReverseBytes32(uint32_t v);

// "Blank" is the space character only; tabs stay.
std::string StripLeadingBlanks(const std::string& s);
std::string StripTrailingBlanks(const std::string& s);
std::string StripBlanks(const std::string& s);
// The toolkit's trimming: removes every character up to and including the space.
std::string TrimText(const std::string& s);
std::string TrimRightText(const std::string& s);

std::string TextBefore(const std::string& text, const std::string& delimiter);
std::string TextAfter(const std::string& text, const std::string& delimiter);
std::string CutFieldRaw(std::string& text, const std::string& delimiter);
std::string CutField(std::string& text, const std::string& delimiter);

// Position (1-based) of the first CR or LF, or -1; lineEnd gets CR, LF, CR LF or LF CR.
long FindLineBreak(const std::string& text, std::string& lineEnd);

struct TUrlParts {
    std::string Protocol, User, Password, Host, Port, Path, Parameters;
};
// Splits a URL into its parts; returns the request URI ("/" and the path part).
std::string SplitUrl(const std::string& url, TUrlParts& parts);

// Reads up to count bytes at the stream's position.
std::string StreamToText(std::istream& stream, size_t count);
void TextToStream(std::ostream& stream, const std::string& text);

// Joins a header line with its continuation lines; index moves past what was used.
std::string UnfoldHeaderLine(const TStringList& lines, size_t& index);

std::string Base64Text(const std::string& text);
