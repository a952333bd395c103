#include "serial/lineframe.h"

bool StrToIntChecked(const std::string& text, long long& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 10) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    if (v > 2147483647LL + (negative ? 1 : 0)) return false;
    value = negative ? -v : v;
    return true;
}

int StrToIntOr(const std::string& text, int fallback) {
    long long v = 0;
    return StrToIntChecked(text, v) ? static_cast<int>(v) : fallback;
}

std::string FrameLine(const std::string& line, bool general, bool useCRC, bool useRS485,
                      const std::string& rs485adr) {
    std::string framed = line;
    if (useCRC) {
        long long sum = 0;
        for (unsigned char c : line) sum += c;
        framed = "$#" + std::to_string(sum) + "@" + line;
    }
    if (useRS485) {
        long long adr = 16;
        if (general)
            adr = 255;
        else if (!StrToIntChecked(rs485adr, adr))
            adr = 16;
        framed.insert(framed.begin(),
                      static_cast<char>(static_cast<unsigned char>(((adr % 256) + 256) % 256)));
    }
    return framed;
}
