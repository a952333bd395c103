// The recipient address at the start of a received text: "=!lamp." (virtual#lamp),
// "=@ann." (email#ann), or a system name or list of names known to the component.
#include <string>

#include "gsm/modemdispatch.h"
#include "gsm/modemdispatch_text.h"

using namespace dispatchtext;

namespace {

bool Holds(const std::vector<std::string>& list, std::string_view name) {
    for (const std::string& line : list)
        if (EqualNoCase(line, name)) return true;
    return false;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ";") + n;
    return out;
}

// "kitchen" or "kitchen,hall,upstairs": the names the component knows, lower case;
// empty when it knows none of them. A final '?' is kept as "#?".
std::string LookUpSystemNames(std::string name, const TDispatchSettings& s) {
    const bool question = !name.empty() && name.back() == '?';
    if (question) name.pop_back();
    std::string found;
    if (name.find(',') == std::string::npos) {
        if (Holds(s.RecipientsTable, name)) found = name;
    } else {
        std::vector<std::string> names, groups;
        for (const std::string& n : SplitFields(name)) {
            if (Holds(s.RecipientsTable, n)) names.push_back(n);
            if (Holds(s.RecipientsGroups, n)) groups.push_back(n);
        }
        found = Joined(names);
        if (!groups.empty()) found += "#" + Joined(groups);
    }
    if (found.empty()) return "";
    return LowerText(found) + (question ? "#?" : "");
}

// "lamp?" as "lamp##?": the question mark of a virtual or e-mail recipient.
std::string WithQuestionMark(std::string name) {
    if (!name.empty() && name.back() == '?') {
        name.pop_back();
        name += "##?";
    }
    return name;
}

std::string RecipientOf(std::string_view address, char start, const TDispatchSettings& s) {
    const bool hasStart = start != 0 && !address.empty() && address.front() == start;
    if (hasStart && address.size() > 1 && (address[1] == '!' || address[1] == '@')) {
        const std::string rest = WithQuestionMark(LowerText(address.substr(2)));
        return (address[1] == '!' ? "virtual#" : "email#") + rest;
    }
    if (!hasStart && address.find(' ') != std::string_view::npos) return "";
    const std::string found = LookUpSystemNames(std::string(address.substr(hasStart ? 1 : 0)), s);
    return found.empty() ? "" : "system#" + found;
}

}  // namespace

TRecipientResult ExtractRecipient(const std::string& text, const TDispatchSettings& s) {
    TRecipientResult r{"", text};
    const char start = s.RecipientSepStart, stop = s.RecipientSepStop;
    if (start == 0 && stop == 0) return r;
    const size_t a = stop == 0 ? std::string::npos : text.find(stop);
    if (a == std::string::npos) return r;
    const size_t b = start == 0 ? std::string::npos : text.find(start);
    const bool usableStart = b != std::string::npos && b < a;
    const std::string leadIn = usableStart && b > 0 ? text.substr(0, b) : "";
    const size_t from = usableStart ? b : 0;
    r.Recipient = RecipientOf(std::string_view(text).substr(from, a - from), start, s);
    if (!r.Recipient.empty()) r.Text = text.substr(a + 1) + leadIn;
    return r;
}
