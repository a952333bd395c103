#include "gsm/codecs/partplanner.h"

#include <algorithm>
#include <cstdio>

#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/hex.h"
#include "gsm/codecs/submitpdu.h"
#include "gsm/codecs/utf.h"

namespace {

constexpr char16_t CR = u'\r';
constexpr char16_t LF = u'\n';

// Same length as every real "<gg>z<GG>" prefix below 100 groups.
constexpr std::u16string_view NumberingPlaceholder = u"(01z01)";

bool IsBlank(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= u' '; });
}

bool Fits(const TEncodedPart& part) {
    return part.TpduLength <= MaxTpduOctets && part.UserDataOctets <= MaxUserDataOctets;
}

bool SplitsAPair(char16_t last, char16_t next) {
    const bool lineBreak = last == CR && next == LF;
    const bool surrogates = last >= 0xD800 && last <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF;
    return lineBreak || surrogates;
}

struct TChunk {
    size_t Length = 0;  // characters taken from the text, prefix not counted
    TEncodedPart Part;
};

// The longest start of `rest` (at most 160 characters) whose PDU fits, found
// by dropping one character at a time. A chunk never ends between CR and LF:
// each part's text is decoded with its line breaks made whole, so a split pair
// would come back as two line breaks. Nor does it end between the halves of a
// surrogate pair, which would leave half a character in each part.
TChunk FitChunk(const TPartOptions& o, std::u16string_view rest, std::string_view header,
                std::u16string_view prefix) {
    TChunk chunk;
    for (size_t len = std::min(rest.size(), MaxChunkChars); len > 0; --len) {
        if (len > 1 && len < rest.size() && SplitsAPair(rest[len - 1], rest[len])) continue;
        std::u16string body(prefix);
        body += rest.substr(0, len);
        TEncodedPart part =
            EncodePart(body, header, o.Number, o.Flash, o.ForceUcs2, o.StatusReport);
        if (Fits(part)) {
            chunk.Length = len;
            chunk.Part = std::move(part);
            break;
        }
    }
    return chunk;
}

int Clamped(int mergeMax) { return mergeMax < 1 ? 1 : mergeMax; }

bool StartsGroup(int p, int m) { return m == 1 || p % m == 1; }

std::u16string NumberingPrefix(int group, int groups) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "<%.2dz%.2d>", group, groups);
    return Utf8ToUtf16(buf);
}

// The concatenation header 05 00 03, reference, parts in this group, position.
// The reference is one octet: counter plus group index wraps modulo 256.
std::string ConcatHeader(unsigned reference, int groupSize, int position) {
    return "050003" + HexOctet(reference) + HexOctet(static_cast<unsigned>(groupSize)) +
           HexOctet(static_cast<unsigned>(position));
}

std::string EscapeChunk(std::u16string_view chunk) {
    const std::string text = Utf16ToUtf8(chunk);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "%n";
            ++i;
        } else if (text[i] == '"') {
            out += "%~";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string PartLine(const TEncodedPart& part, std::u16string_view chunk, const std::string& marker,
                     int p, int n, const std::string& number) {
    return std::to_string(part.TpduLength) + "," + part.Pdu + ",\"" + EscapeChunk(chunk) + "\",\"" +
           marker + "\"," + std::to_string(p) + "," + std::to_string(n) + "," + number;
}

}  // namespace

int CountMessageParts(const TPartOptions& options, std::u16string_view text, bool numbering) {
    const int m = Clamped(options.MergeMax);
    std::string header;
    int count = 0;
    for (size_t offset = 0, p = 1; offset < text.size(); ++p) {
        const std::u16string_view rest = text.substr(offset);
        const std::u16string_view prefix =
            numbering && StartsGroup(static_cast<int>(p), m) ? NumberingPlaceholder : u"";
        TChunk chunk = FitChunk(options, rest, header, prefix);
        if (chunk.Length == 0) return 0;
        if (p == 1) {
            if (chunk.Length == rest.size()) return 1;
            // From here on every part is sized with a concatenation header.
            if (m >= 2) {
                header = "050003" + HexOctet(options.Reference) + "0101";
                chunk = FitChunk(options, rest, header, prefix);
                if (chunk.Length == 0) return 0;
            }
        }
        offset += chunk.Length;
        ++count;
    }
    return count;
}

int PlanMessageParts(const std::string& number, std::u16string_view text, const std::string& marker,
                     int mergeMax, bool flash, bool forceUcs2, bool statusReport,
                     uint8_t& reference, TStringList& parts, std::string* error) {
    parts.Clear();
    if (IsBlank(text)) return 0;
    try {
        EncodePart(u"", "", number, false, false, false);
    } catch (const EGsmCodecError& e) {
        if (error) *error = e.what();
        return 0;
    }
    const int m = Clamped(mergeMax);
    const TPartOptions options{number, m, flash, forceUcs2, statusReport, reference};

    const int single = CountMessageParts(options, text, false);
    const bool numbering = single > 1 && (m == 1 || (single - 1) / m >= 1);
    const int n = CountMessageParts(options, text, numbering);
    if (n == 0) return 0;
    const int groups = m == 1 ? n : (n - 1) / m + 1;

    int p = 1, q = 1, r = 0;
    for (size_t offset = 0;;) {
        const std::u16string_view rest = text.substr(offset);
        const bool loneLast = p == n && n - (groups - 1) * m == 1;
        const std::string header =
            m > 1 && !loneLast ? ConcatHeader(reference + r, std::min(m, n - (p - 1) / m * m), q)
                               : "";
        const std::u16string prefix = numbering && StartsGroup(p, m)
                                          ? NumberingPrefix(m == 1 ? p : (p - 1) / m + 1, groups)
                                          : u"";
        const TChunk chunk = FitChunk(options, rest, header, prefix);
        if (chunk.Length == 0) {
            parts.Clear();
            return 0;
        }
        const std::u16string body = prefix + std::u16string(rest.substr(0, chunk.Length));
        parts.Add(PartLine(chunk.Part, body, marker, p, n, number));
        offset += chunk.Length;
        if (offset >= text.size()) break;
        ++p;
        if (++q > m) {
            q = 1;
            ++r;
        }
    }
    // A lone last part (q = 1) carries no header, so its group used no reference.
    if (m >= 2 && n >= 2) reference = static_cast<uint8_t>(reference + r + (q > 1 ? 1 : 0));
    return n;
}

int PlanMessageParts(const std::string& number, const std::string& text, const std::string& marker,
                     int mergeMax, bool flash, bool forceUcs2, bool statusReport,
                     uint8_t& reference, TStringList& parts, std::string* error) {
    return PlanMessageParts(number, Utf8ToUtf16(text), marker, mergeMax, flash, forceUcs2,
                            statusReport, reference, parts, error);
}
