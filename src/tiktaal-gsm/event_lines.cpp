#include "event_lines.h"

#include <cstdio>

namespace {

TEventField Str(const char* name, const std::string& value) {
    return {name, value, TEventField::Text};
}
TEventField Num(const char* name, int value) {
    return {name, std::to_string(value), TEventField::Number};
}
TEventField Flag(const char* name, bool value) {
    return {name, value ? "true" : "false", TEventField::Flag};
}

// Message texts on one line: a line break shows as \n.
std::string OneLine(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        if (text[i] == '\n')
            out += "\\n";
        else
            out += text[i];
    }
    return out;
}

const char* CallStatusName(int status) {
    static const char* const names[] = {"incoming", "outgoing", "connecting", "none", "connected"};
    return status >= 0 && status < 5 ? names[status] : "unknown";
}

}  // namespace

TToolEvent SmsEvent(const std::string& from, const std::string& timestamp, const std::string& text,
                    int reference, int parts, bool partial, int part) {
    TToolEvent e{"sms", {Str("from", from), Str("timestamp", timestamp), Str("text", text)}, ""};
    e.Line = "sms from " + from + " at " + timestamp;
    if (parts > 1) {
        e.Fields.push_back(Num("reference", reference));
        e.Fields.push_back(Num("parts", parts));
        e.Line += " (" + (part > 0 ? "part " + std::to_string(part) + " of " : std::string()) +
                  std::to_string(parts) + " parts" + (partial ? ", partial" : "") + ")";
    }
    if (part > 0) e.Fields.push_back(Num("part", part));
    if (partial) e.Fields.push_back(Flag("partial", true));
    e.Line += ": " + OneLine(text);
    return e;
}

TToolEvent ReportEvent(const std::string& number, int reference, int status,
                       const std::string& timestamp) {
    const bool delivered = status < 3;
    return {"report",
            {Str("number", number), Num("reference", reference), Num("status", status),
             Flag("delivered", delivered), Str("timestamp", timestamp)},
            "report for " + number + " reference " + std::to_string(reference) + ": " +
                (delivered ? "delivered" : "not delivered") + " (status " + std::to_string(status) +
                ") at " + timestamp};
}

TToolEvent RingEvent(const std::string& number) {
    return {"ring", {Str("number", number)}, "ring from " + number};
}

TToolEvent CallEvent(bool busy, int callStatus) {
    const std::string name = CallStatusName(callStatus);
    return {"call", {Str("status", name), Flag("busy", busy)}, "call " + name};
}

TToolEvent SignalEvent(int percent) {
    return {"signal", {Num("percent", percent)}, "signal " + std::to_string(percent) + "%"};
}

TToolEvent BatteryEvent(int level, bool ac) {
    return {"battery",
            {Num("level", level), Flag("ac", ac)},
            "battery " + std::to_string(level) + "%" + (ac ? " on mains power" : "")};
}

TToolEvent SecretEvent(const std::string& from, const std::string& text) {
    return {"secret",
            {Str("from", from), Str("text", text)},
            "secret from " + from + ": " + OneLine(text)};
}

TToolEvent ErrorEvent(const std::string& message) {
    return {"error", {Str("message", message)}, message};
}

namespace {

// The length of the valid UTF-8 sequence at text[i], 0 when the bytes there are not one.
size_t Utf8Length(const std::string& text, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = b(i);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    unsigned cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    static const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
    return n;
}

}  // namespace

std::string TerminalText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (c == '\n') {
            out += " / ";
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // part of a line break
        } else if (c < 0x20 && c != '\t') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else if (c == 0x7F || (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
            char buf[8];  // DEL and the C1 controls
            std::snprintf(buf, sizeof buf, "\\x%02X", n == 1 ? c : static_cast<unsigned char>(text[i + 1]));
            out += buf;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // JSON is UTF-8: an invalid byte becomes U+FFFD
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out + "\"";
}

std::string EventLine(const TToolEvent& event, bool json) {
    if (!json) return event.Line;
    std::string out = "{\"event\":" + JsonString(event.Kind);
    for (const TEventField& f : event.Fields)
        out += "," + JsonString(f.Name) + ":" +
               (f.Type == TEventField::Text ? JsonString(f.Value) : f.Value);
    return out + "}";
}
