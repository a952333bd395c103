#include "gsm/modemreplies.h"

#include <algorithm>
#include <cctype>

#include "net/netutil.h"
#include "toolkit/stringlist.h"

namespace {

// A range wider than this is cut: a modem offering (0-2000000000) must not cost memory.
constexpr int MaxRangeValues = 256;

bool Has(const std::vector<int>& values, int v) {
    return std::find(values.begin(), values.end(), v) != values.end();
}

int FirstOffered(const std::vector<int>& values, std::initializer_list<int> preferred) {
    for (int v : preferred)
        if (Has(values, v)) return v;
    return 0;
}

std::vector<int> GroupValues(const std::string& inside) {
    std::vector<int> values;
    size_t start = 0;
    for (;;) {
        const size_t comma = inside.find(',', start);
        const std::string item = inside.substr(start, comma - start);
        const size_t dash = item.find('-');
        int a = 0, b = 0;
        if (dash != std::string::npos && dash > 0) {
            if (ReadBoundedInt(item.substr(0, dash), 0, 1000000, a) &&
                ReadBoundedInt(item.substr(dash + 1), 0, 1000000, b))
                for (int v = a; v <= b && v - a < MaxRangeValues; ++v) values.push_back(v);
        } else if (ReadBoundedInt(item, 0, 1000000, a)) {
            values.push_back(a);
        }
        if (comma == std::string::npos) return values;
        start = comma + 1;
    }
}

// The text after tag on the line that holds it.
bool TextAfterTag(const std::string& reply, const std::string& tag, std::string& rest) {
    const size_t p = reply.find(tag);
    if (p == std::string::npos) return false;
    rest = reply.substr(p + tag.size());
    const size_t end = rest.find_first_of("\r\n");
    if (end != std::string::npos) rest.erase(end);
    return true;
}

std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        fields.push_back(TrimText(text.substr(start, comma - start)));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

}  // namespace

bool ReadBoundedInt(const std::string& text, int low, int high, int& value) {
    const std::string t = TrimText(text);
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    if (i == t.size() || t.size() - i > 10) return false;
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
    }
    if (negative) v = -v;
    if (v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

bool ParenthesisedGroups(const std::string& reply, std::vector<std::vector<int>>& groups) {
    groups.clear();
    if (std::count(reply.begin(), reply.end(), '(') != std::count(reply.begin(), reply.end(), ')'))
        return false;
    size_t pos = 0;
    for (;;) {
        const size_t open = reply.find('(', pos);
        if (open == std::string::npos) return true;
        const size_t close = reply.find(')', open);
        if (close == std::string::npos) return false;
        groups.push_back(GroupValues(reply.substr(open + 1, close - open - 1)));
        pos = close + 1;
    }
}

std::string NewMessageRoutingCommand(const std::string& reply, bool storeNewMessages) {
    std::vector<std::vector<int>> g;
    if (!ParenthesisedGroups(reply, g) || g.size() < 5) return "";
    const int mode = FirstOffered(g[0], {2, 1});
    const int mt = storeNewMessages ? FirstOffered(g[1], {1}) : FirstOffered(g[1], {2, 1});
    const int ds = FirstOffered(g[3], {1});
    const int bfr = FirstOffered(g[4], {1});
    return "AT+CNMI=" + std::to_string(mode) + "," + std::to_string(mt) + ",0," +
           std::to_string(ds) + "," + std::to_string(bfr);
}

int HighestFirstGroupValue(const std::string& reply, const std::string& tag) {
    std::string rest;
    if (!TextAfterTag(reply, tag, rest)) return -1;
    const size_t open = rest.find('('), close = rest.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return -1;
    const std::string inside = rest.substr(open + 1, close - open - 1);
    const size_t dash = inside.rfind('-'), comma = inside.rfind(',');
    std::string last = inside;
    if (dash != std::string::npos)
        last = inside.substr(dash + 1);
    else if (comma != std::string::npos)
        last = inside.substr(comma + 1);
    int v = 0;
    if (!ReadBoundedInt(last, 0, 1000000, v)) return -1;
    return v >= 2 ? 1 : v;
}

bool ReadStorageUse(const std::string& reply, int& used, int& capacity) {
    std::string rest;
    if (!TextAfterTag(reply, "+CPMS:", rest)) return false;
    const std::vector<std::string> f = Fields(rest);
    // A query answer starts with the storage name: "SM",used,total.
    const size_t first = !f.empty() && !f[0].empty() && f[0][0] == '"' ? 1 : 0;
    if (f.size() < first + 2) return false;
    int u = 0, c = 0;
    if (!ReadBoundedInt(f[first], 0, 1000000, u) || !ReadBoundedInt(f[first + 1], 0, 1000000, c))
        return false;
    used = u;
    capacity = c;
    return true;
}

bool ReadPhoneBookRange(const std::string& reply, TPhoneBookRange& range) {
    std::string rest;
    if (!TextAfterTag(reply, "+CPBR:", rest)) return false;
    const size_t open = rest.find('('), close = rest.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    const std::string inside = rest.substr(open + 1, close - open - 1);
    const size_t dash = inside.find('-');
    TPhoneBookRange r;
    if (dash == std::string::npos || !ReadBoundedInt(inside.substr(0, dash), 0, 1000000, r.First) ||
        !ReadBoundedInt(inside.substr(dash + 1), 0, 1000000, r.Last) || r.Last < r.First)
        return false;
    const std::vector<std::string> f = Fields(rest.substr(close + 1));
    if (f.size() >= 3) {
        ReadBoundedInt(f[1], 0, 1000, r.NumberLength);
        ReadBoundedInt(f[2], 0, 1000, r.NameLength);
    }
    range = r;
    return true;
}

bool ReadPhoneBookUse(const std::string& reply, int& used, int& total) {
    std::string rest;
    if (!TextAfterTag(reply, "+CPBS:", rest)) return false;
    const std::vector<std::string> f = Fields(rest);
    int u = 0, t = 0;
    if (f.size() < 3 || !ReadBoundedInt(f[1], 0, 1000000, u) ||
        !ReadBoundedInt(f[2], 0, 1000000, t))
        return false;
    used = u;
    total = t;
    return true;
}

std::string ReplyLine(const std::string& reply, size_t n) {
    TStringList lines;
    lines.SetText(reply);
    return n < lines.Count() ? lines[n] : std::string();
}

std::string WithoutFinalOk(const std::string& reply) {
    TStringList lines;
    lines.SetText(reply);
    while (!lines.Empty() && TrimText(lines[lines.Count() - 1]).empty())
        lines.Delete(lines.Count() - 1);
    if (!lines.Empty() && TrimText(lines[lines.Count() - 1]) == "OK")
        lines.Delete(lines.Count() - 1);
    while (!lines.Empty() && TrimText(lines[lines.Count() - 1]).empty())
        lines.Delete(lines.Count() - 1);
    return lines.Text();
}

std::string ErrorResultLine(const std::string& text) {
    size_t best = std::string::npos;
    for (const char* tag : {"+CME ERROR", "+CMS ERROR"}) best = std::min(best, text.find(tag));
    if (best == std::string::npos) return "";
    const size_t end = text.find_first_of("\r\n", best);
    return end == std::string::npos ? "" : text.substr(best, end - best);
}

namespace {

std::string QuotedUpper(const std::string& text) {
    const size_t open = text.find('"');
    const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos || close == open + 1 || close - open > 16) return "";
    std::string set = text.substr(open + 1, close - open - 1);
    for (char& c : set) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return set;
}

}  // namespace

bool ReadCharacterSet(const std::string& reply, std::string& set) {
    std::string rest;
    if (!TextAfterTag(reply, "+CSCS:", rest)) return false;
    set = QuotedUpper(rest);
    return !set.empty();
}

std::string SelectedCharacterSet(const std::string& command) {
    std::string upper = command.substr(0, 8);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == "AT+CSCS=" ? QuotedUpper(command.substr(8)) : "";
}
