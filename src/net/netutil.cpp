#include "net/netutil.h"

#include <time.h>

#include <cctype>
#include <cerrno>
#include <istream>
#include <ostream>

#include "toolkit/stringlist.h"

uint32_t TickNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint32_t TickElapsed(uint32_t oldTick, uint32_t newTick) {
    if (oldTick == newTick) return 0;
    if (oldTick > newTick) {
        oldTick += 0x80000000u;
        newTick += 0x80000000u;
    }
    const uint32_t d = newTick - oldTick;
    if (oldTick > newTick && d > 0) return 0u - d;
    return d;
}

void Pause(uint32_t ms) {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&req, &req) == -1 && errno == EINTR) {
    }
}

TDateTime UtcNow() { return NowUtc(); }

bool SetUtcClock(TDateTime dt) {
    const int64_t ms = DateTimeToUnixMs(dt);
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    return clock_settime(CLOCK_REALTIME, &ts) == 0;
}

std::string Int16ToBigEndian(uint16_t v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

namespace {
// A 1-based position outside the text reads as 0.
unsigned ByteAt(const std::string& text, size_t pos) {
    if (pos < 1 || pos > text.size()) return 0;
    return static_cast<unsigned char>(text[pos - 1]);
}
}  // namespace

uint16_t BigEndianToInt16(const std::string& text, size_t pos) {
    return static_cast<uint16_t>(ByteAt(text, pos) * 256u + ByteAt(text, pos + 1));
}

std::string Int32ToBigEndian(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 3; i >= 0; --i) {
        s[static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
    return s;
}

uint32_t BigEndianToInt32(const std::string& text, size_t pos) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | ByteAt(text, pos + i);
    return v;
}

uint32_t ReverseBytes32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

std::string StripLeadingBlanks(const std::string& s) {
    const size_t p = s.find_first_not_of(' ');
    return p == std::string::npos ? std::string() : s.substr(p);
}

std::string StripTrailingBlanks(const std::string& s) {
    const size_t p = s.find_last_not_of(' ');
    return p == std::string::npos ? std::string() : s.substr(0, p + 1);
}

std::string StripBlanks(const std::string& s) { return StripTrailingBlanks(StripLeadingBlanks(s)); }

namespace {
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

std::string TrimRightText(const std::string& s) {
    size_t n = s.size();
    while (n > 0 && IsTrimmed(s[n - 1])) --n;
    return s.substr(0, n);
}

std::string TrimText(const std::string& s) {
    size_t b = 0;
    while (b < s.size() && IsTrimmed(s[b])) ++b;
    return TrimRightText(s.substr(b));
}

std::string TextBefore(const std::string& text, const std::string& delimiter) {
    if (delimiter.empty()) return text;
    const size_t p = text.find(delimiter);
    return p == std::string::npos ? text : text.substr(0, p);
}

std::string TextAfter(const std::string& text, const std::string& delimiter) {
    if (delimiter.empty()) return text;
    const size_t p = text.find(delimiter);
    return p == std::string::npos ? text : text.substr(p + delimiter.size());
}

std::string CutFieldRaw(std::string& text, const std::string& delimiter) {
    const std::string field = TextBefore(text, delimiter);
    const bool found = !delimiter.empty() && text.find(delimiter) != std::string::npos;
    text = found ? TextAfter(text, delimiter) : std::string();
    return field;
}

std::string CutField(std::string& text, const std::string& delimiter) {
    const std::string field = StripBlanks(CutFieldRaw(text, delimiter));
    text = StripBlanks(text);
    return field;
}

long FindLineBreak(const std::string& text, std::string& lineEnd) {
    lineEnd.clear();
    const size_t p = text.find_first_of("\r\n");
    if (p == std::string::npos) return -1;
    lineEnd = text.substr(p, 1);
    if (p + 1 < text.size()) {
        const char next = text[p + 1];
        if ((text[p] == '\r' && next == '\n') || (text[p] == '\n' && next == '\r')) lineEnd += next;
    }
    return static_cast<long>(p) + 1;
}

namespace {
bool SameTextNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && b[i] == '\0';
}

void SplitAuthority(const std::string& authority, TUrlParts& parts) {
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        parts.Host =
            authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && close + 1 < authority.size() &&
            authority[close + 1] == ':')
            parts.Port = authority.substr(close + 2);
        return;
    }
    const size_t colon = authority.find(':');
    if (colon == std::string::npos) {
        parts.Host = authority;
    } else {
        parts.Host = authority.substr(0, colon);
        parts.Port = authority.substr(colon + 1);
    }
}
}  // namespace

std::string SplitUrl(const std::string& url, TUrlParts& parts) {
    parts = TUrlParts{"http", "", "", "", "80", "", ""};
    std::string rest = url;
    const size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        parts.Protocol = url.substr(0, scheme);
        rest = url.substr(scheme + 3);
    }
    if (SameTextNoCase(parts.Protocol, "https")) parts.Port = "443";
    if (SameTextNoCase(parts.Protocol, "ftp")) parts.Port = "21";

    const size_t at = rest.find('@');
    const size_t slash = rest.find('/');
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
        const std::string credentials = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = credentials.find(':');
        parts.User = credentials.substr(0, colon);
        if (colon != std::string::npos) parts.Password = credentials.substr(colon + 1);
    }

    const size_t pathStart = rest.find('/');
    const std::string authority = rest.substr(0, pathStart);
    const std::string pathPart = pathStart == std::string::npos ? "" : rest.substr(pathStart + 1);
    SplitAuthority(authority, parts);

    const size_t query = pathPart.find('?');
    parts.Path = '/';
    parts.Path.append(pathPart, 0, query);
    if (query != std::string::npos) parts.Parameters = pathPart.substr(query + 1);
    if (parts.Host.empty()) parts.Host = "localhost";
    std::string uri = "/";
    return uri.append(pathPart);
}

std::string StreamToText(std::istream& stream, size_t count) {
    std::string s(count, '\0');
    stream.read(s.data(), static_cast<std::streamsize>(count));
    s.resize(static_cast<size_t>(stream.gcount()));
    if (stream.eof()) stream.clear();
    return s;
}

void TextToStream(std::ostream& stream, const std::string& text) {
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string UnfoldHeaderLine(const TStringList& lines, size_t& index) {
    std::string line = index < lines.Count() ? lines[index] : std::string();
    ++index;
    if (!line.empty()) {
        while (index + 1 < lines.Count()) {
            std::string next = lines[index];
            if (next.empty()) break;
            for (char& c : next)
                if (c == '\t') c = ' ';
            const char first = next[0];
            if (first != ' ' && first != '"' && first != ':' && first != '=') break;
            line += ' ';
            line += TrimText(next);
            ++index;
        }
    }
    return TrimRightText(line);
}

std::string Base64Text(const std::string& text) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((text.size() + 2) / 3 * 4);
    for (size_t i = 0; i < text.size(); i += 3) {
        const size_t n = text.size() - i < 3 ? text.size() - i : 3;
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(text[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}
