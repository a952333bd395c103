// The parts of the single-instance conversation that every system shares: the messages'
// names and datagram form, and the lock's name.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/instance_channel.h"
#include "platform/instance_names.h"

namespace {

constexpr std::string_view kAnswerTag = "LU_OneInstanceCopyData";
constexpr size_t kMaxLockStem = 200;

bool SafeLockByte(unsigned char c, bool first) {
    if (std::isalnum(c) && c < 0x80) return true;
    if (c == '.') return !first;  // no hidden files, no "." or ".."
    return std::strchr("{}()_,+=@-", c) != nullptr && c != '\0';
}

uint64_t Fnv1a(std::string_view s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

std::string HexBytes(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string EncodeInstanceMessage(TInstanceMessageKind kind, const std::string& name) {
    std::string out;
    switch (kind) {
        case TInstanceMessageKind::Quest:
            out = kInstanceQuestMessage;
            break;
        case TInstanceMessageKind::Stop:
            out = kInstanceStopMessage;
            break;
        case TInstanceMessageKind::Answer:
            out = kAnswerTag;
            break;
    }
    out += '\0';
    if (kind == TInstanceMessageKind::Answer) {
        out += name;
        out += '\0';
    }
    return out;
}

bool DecodeInstanceMessage(const char* data, size_t size, TInstanceMessage& msg) {
    const std::string_view all(data, size);
    const size_t nul = all.find('\0');
    if (nul == std::string_view::npos) return false;
    const std::string_view tag = all.substr(0, nul);
    const std::string_view rest = all.substr(nul + 1);
    if (tag == kInstanceQuestMessage) {
        msg.Kind = TInstanceMessageKind::Quest;
    } else if (tag == kInstanceStopMessage) {
        msg.Kind = TInstanceMessageKind::Stop;
    } else if (tag == kAnswerTag) {
        msg.Kind = TInstanceMessageKind::Answer;
        msg.Name = std::string(rest.substr(0, rest.find('\0')));
        return true;
    } else {
        return false;
    }
    msg.Name.clear();
    return true;
}

std::string LockFileName(const std::string& name) {
    static const char digits[] = "0123456789ABCDEF";
    std::string stem;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (SafeLockByte(c, i == 0)) {
            stem += static_cast<char>(c);
        } else {
            stem += '%';
            stem += digits[c >> 4];
            stem += digits[c & 15];
        }
    }
    if (stem.size() > kMaxLockStem) {
        const uint64_t h = Fnv1a(name);
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(h >> (56 - 8 * i));
        stem = stem.substr(0, kMaxLockStem - 17) + "~" + HexBytes(bytes, sizeof bytes);
    }
    return stem + ".lock";
}

