#include "part_joiner.h"

namespace {

// No real message has more parts than one octet can count; a bigger total is noise.
constexpr int MaxParts = 255;

}  // namespace

std::vector<TJoinedMessage> TPartJoiner::Add(const std::string& from, const std::string& timestamp,
                                             const std::string& text, int reference, int part,
                                             int parts, int64_t nowMs) {
    if (parts <= 1 || parts > MaxParts || part < 1 || part > parts)
        return {{from, timestamp, text, reference, parts < 1 ? 1 : parts, parts > 1,
                 parts > 1 ? part : 0}};
    const std::string key = from + "\n" + std::to_string(reference) + "\n" + std::to_string(parts);
    TPending& p = FPending[key];
    if (p.Texts.empty()) p = {from, timestamp, reference, parts, nowMs, {}};
    p.Texts.emplace(part, text);  // a repeated part keeps the first copy
    if (static_cast<int>(p.Texts.size()) < parts) return {};
    TJoinedMessage whole = Joined(p, false);
    FPending.erase(key);
    return {whole};
}

std::vector<TJoinedMessage> TPartJoiner::Expired(int64_t nowMs) {
    std::vector<TJoinedMessage> out;
    for (auto it = FPending.begin(); it != FPending.end();) {
        if (nowMs - it->second.FirstMs > WaitMs) {
            out.push_back(Joined(it->second, true));
            it = FPending.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

std::vector<TJoinedMessage> TPartJoiner::Flush() {
    std::vector<TJoinedMessage> out;
    for (const auto& [key, p] : FPending) out.push_back(Joined(p, true));
    FPending.clear();
    return out;
}

TJoinedMessage TPartJoiner::Joined(const TPending& p, bool partial) {
    TJoinedMessage m{p.From, p.Timestamp, "", p.Reference, p.Parts, partial};
    for (const auto& [part, text] : p.Texts) m.Text += text;
    if (partial && p.Texts.size() == 1) m.Part = p.Texts.begin()->first;
    return m;
}
