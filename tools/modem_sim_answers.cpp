// What the simulated modem answers to each command: the modem's side of 27.007 and 27.005.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "modem_sim.h"

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The parameter after '=' with its quotes removed ("SM" from AT+CPMS="SM").
std::string QuotedParameter(const std::string& command) {
    const size_t eq = command.find('=');
    if (eq == std::string::npos) return "";
    std::string p = command.substr(eq + 1);
    const size_t comma = p.find(',');
    if (comma != std::string::npos) p.erase(comma);
    p.erase(std::remove(p.begin(), p.end(), '"'), p.end());
    for (char& c : p) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return p;
}

// The numbers of "A=1,2": -1 where a field is not a number.
std::vector<int> NumberParameters(const std::string& command) {
    std::vector<int> numbers;
    const size_t eq = command.find('=');
    if (eq == std::string::npos) return numbers;
    std::string rest = command.substr(eq + 1);
    size_t start = 0;
    for (;;) {
        const size_t comma = rest.find(',', start);
        const std::string field = rest.substr(start, comma - start);
        int v = -1;
        if (!field.empty() && field.size() < 9 &&
            std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; }))
            v = std::stoi(field);
        numbers.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return numbers;
}

// UTF-8 to UTF-16 code units, enough for phone-book names.
std::u16string ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        unsigned cp = c;
        size_t n = 1;
        if (c >= 0xF0 && i + 3 < s.size() + 0) {
            cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
                 (s[i + 3] & 0x3Fu);
            n = 4;
        } else if (c >= 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
            n = 3;
        } else if (c >= 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
            n = 2;
        }
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += n;
    }
    return out;
}

}  // namespace

std::string TModemSim::EncodeName(const std::string& utf8) const {
    if (FCharset == "UCS2") {
        std::string hex;
        char buf[8];
        for (char16_t u : ToUtf16(utf8)) {
            std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(u));
            hex += buf;
        }
        return hex;
    }
    // IRA and GSM carry ASCII; anything else shows as '?', as such modems show it.
    std::string out;
    for (char16_t u : ToUtf16(utf8)) out += u < 0x80 ? static_cast<char>(u) : '?';
    return out;
}

std::string TModemSim::IndicatorRanges() const {
    std::string s = "+CIND: ";
    for (size_t i = 0; i < FOptions.Indicators.size(); ++i) {
        const std::string& n = FOptions.Indicators[i];
        const char* range = n == "callsetup"                    ? "(0-3)"
                            : (n == "battchg" || n == "signal") ? "(0-5)"
                                                                : "(0,1)";
        s += (i ? "," : "") + std::string("(\"") + n + "\"," + range + ")";
    }
    return s;
}

std::string TModemSim::IndicatorValues() const {
    std::string s = "+CIND: ";
    for (size_t i = 0; i < FOptions.Indicators.size(); ++i) {
        const std::string& n = FOptions.Indicators[i];
        const int v = n == "service" ? 1 : n == "battchg" ? 5 : n == "signal" ? 4 : 0;
        s += (i ? "," : "") + std::to_string(v);
    }
    return s;
}

std::vector<TModemSim::TStoredMessage>& TModemSim::Storage(const std::string& name) {
    return FMessages[name == "ME" ? "ME" : "SM"];
}

TModemSim::TAnswer TModemSim::Refusal(int cmeCode) const {
    TAnswer a;
    a.Result = FOptions.ErrorCodes ? "+CME ERROR: " + std::to_string(cmeCode) : "ERROR";
    return a;
}

std::string TModemSim::Framed(const TAnswer& answer) const {
    std::string out;
    for (const std::string& line : answer.Lines) out += "\r\n" + line + "\r\n";
    if (answer.Prompt) return out + "\r\n> ";
    if (!answer.Result.empty()) out += "\r\n" + answer.Result + "\r\n";
    return out;
}

std::string TModemSim::AnswerFor(const std::string& command) {
    std::string upper;
    bool quoted = false;
    for (char c : command) {
        if (c == '"') quoted = !quoted;
        upper += quoted ? c : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return Framed(Answer(upper, command));
}

TModemSim::TAnswer TModemSim::Answer(const std::string& upper, const std::string& command) {
    for (const std::string& e : FOptions.ErrorCommands)
        if (StartsWith(upper, e)) return Refusal(100);
    for (const auto& [prefix, lines] : FOptions.Replies)
        if (StartsWith(upper, prefix)) {
            TAnswer a;
            a.Lines = lines;
            return a;
        }
    TAnswer a;
    if (upper == "AT") return a;
    if (upper == "ATZ" || upper == "AT&F") {
        FEcho = true;
        FCharset = FOptions.Charset;
        return a;
    }
    if (upper == "ATE0" || upper == "ATE1" || upper == "ATE") {
        FEcho = upper == "ATE1";
        return a;
    }
    if (upper == "ATH" || upper == "AT+CHUP" || StartsWith(upper, "ATD")) return a;
    if (StartsWith(upper, "AT+CMGS=")) {
        const std::vector<int> n = NumberParameters(upper);
        if (n.empty() || n[0] < 1 || n[0] > 180) {
            TAnswer r;
            r.Result = FOptions.ErrorCodes ? "+CMS ERROR: 304" : "ERROR";
            return r;
        }
        FInMessageBody = true;
        a.Prompt = !FOptions.NoPrompt;
        a.Result.clear();
        return a;
    }
    if (StartsWith(upper, "AT+CPMS") ||
        (StartsWith(upper, "AT+CMG") && !StartsWith(upper, "AT+CMGF")))
        return AnswerStorage(upper, command);
    if (StartsWith(upper, "AT+CPB")) return AnswerPhoneBook(upper, command);
    if (StartsWith(upper, "AT+CSCS")) return AnswerCharset(upper, command);
    return AnswerQuery(upper, command);
}

// Identification, the ability probes and the readings.
TModemSim::TAnswer TModemSim::AnswerQuery(const std::string& upper, const std::string&) {
    static const std::map<std::string, std::string> Fixed = {
        {"ATI", "Tiktaal modem simulator"},
        {"ATI0", "Tiktaal modem simulator"},
        {"ATI1", "TMS-900 1.0"},
        {"ATI2", "Tiktaal"},
        {"ATI3", "TMS-900"},
        {"ATI4", "TMS-900 PDU"},
        {"AT+CGMI", "TIKTAAL"},
        {"AT+CGMM", "TMS-900"},
        {"AT+CGMR", "Revision:TMS900R01"},
        {"AT+CGSN", "356938035643809"},
        {"AT+CIMI", "260011234567890"},
        {"AT+CNMI=?", "+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)"},
        {"AT+CMMS=?", "+CMMS: (0-2)"},
        {"AT+CLIP=?", "+CLIP: (0,1)"},
        {"AT+CMER=?", "+CMER: (0-3),(0),(0),(0-2),(0,1)"},
        {"AT+CBC=?", "+CBC: (0-2),(0-100)"},
        {"AT+CSQ=?", "+CSQ: (0-31,99),(0-7,99)"},
        {"AT+CMGF=?", "+CMGF: (0,1)"},
        {"AT+CMGF?", "+CMGF: 0"},
        {"AT+CBC", "+CBC: 0,80"},
        {"AT+CSQ", "+CSQ: 20,99"},
        {"AT+COPS?", "+COPS: 0,0,\"Tiktaal Net\""},
    };
    TAnswer a;
    if (const auto it = Fixed.find(upper); it != Fixed.end()) {
        a.Lines.push_back(it->second);
        return a;
    }
    if (upper == "AT+CIND=?") {
        a.Lines.push_back(IndicatorRanges());
        return a;
    }
    if (upper == "AT+CIND?") {
        a.Lines.push_back(IndicatorValues());
        return a;
    }
    for (const char* setter : {"AT+CNMI=", "AT+CMMS=", "AT+CLIP=", "AT+CMER=", "AT+CMGF="})
        if (StartsWith(upper, setter)) return a;
    return Refusal(4);
}

// Message storage: selection, listing, reading, deleting.
TModemSim::TAnswer TModemSim::AnswerStorage(const std::string& upper, const std::string& command) {
    std::lock_guard<std::mutex> g(FLock);
    TAnswer a;
    const std::string simTotal = std::to_string(FOptions.SimCapacity);
    const std::string phoneTotal = std::to_string(FOptions.PhoneCapacity);
    if (StartsWith(upper, "AT+CPMS=")) {
        const std::string mem = QuotedParameter(command);
        if (mem != "SM" && mem != "ME") return Refusal(3);
        if (mem == "ME" && FOptions.NoPhoneStorage) {
            a.Result = FOptions.ErrorCodes ? "+CMS ERROR: 302" : "ERROR";
            return a;
        }
        FMessageStorage = mem;
        const std::string sm = std::to_string(Storage("SM").size()) + "," + simTotal;
        const std::string me = std::to_string(Storage("ME").size()) + "," + phoneTotal;
        const std::string sel = mem == "SM" ? sm : me;
        a.Lines.push_back("+CPMS: " + sel + "," + sel + "," + sel);
        return a;
    }
    if (upper == "AT+CPMS?") {
        const auto used = std::to_string(Storage(FMessageStorage).size());
        const std::string total = FMessageStorage == "SM" ? simTotal : phoneTotal;
        const std::string one = "\"" + FMessageStorage + "\"," + used + "," + total;
        a.Lines.push_back("+CPMS: " + one + "," + one + "," + one);
        return a;
    }
    const std::vector<int> n = NumberParameters(upper);
    auto& store = Storage(FMessageStorage);
    if (StartsWith(upper, "AT+CMGL=")) {
        const int stat = n.empty() ? 4 : n[0];
        for (auto& m : store) {
            if (stat != 4 && m.Status != stat) continue;
            a.Lines.push_back("+CMGL: " + std::to_string(m.Index) + "," + std::to_string(m.Status) +
                              ",," + std::to_string((m.Pdu.size() - 2) / 2));
            a.Lines.push_back(m.Pdu);
            m.Status = 1;
        }
        return a;
    }
    if (StartsWith(upper, "AT+CMGR=") || StartsWith(upper, "AT+CMGD=")) {
        const int index = n.empty() ? -1 : n[0];
        const auto it = std::find_if(store.begin(), store.end(),
                                     [&](const TStoredMessage& m) { return m.Index == index; });
        if (it == store.end()) {
            a.Result = FOptions.ErrorCodes ? "+CMS ERROR: 321" : "ERROR";
            return a;
        }
        if (upper[6] == 'D') {
            store.erase(it);
            return a;
        }
        a.Lines.push_back("+CMGR: " + std::to_string(it->Status) + ",," +
                          std::to_string((it->Pdu.size() - 2) / 2));
        a.Lines.push_back(it->Pdu);
        it->Status = 1;
        return a;
    }
    return Refusal(4);
}

TModemSim::TAnswer TModemSim::AnswerPhoneBook(const std::string& upper,
                                              const std::string& command) {
    TAnswer a;
    const auto& book = FPhoneBooks[FPhoneBook];
    const int total = std::max(FPhoneBook == "SM" ? 250 : 500, static_cast<int>(book.size()));
    if (StartsWith(upper, "AT+CPBS=")) {
        const std::string mem = QuotedParameter(command);
        if (mem != "SM" && mem != "ME") return Refusal(3);
        FPhoneBook = mem;
        return a;
    }
    if (upper == "AT+CPBS?") {
        a.Lines.push_back("+CPBS: \"" + FPhoneBook + "\"," + std::to_string(book.size()) + "," +
                          std::to_string(total));
        return a;
    }
    if (upper == "AT+CPBR=?") {
        a.Lines.push_back("+CPBR: (1-" + std::to_string(total) + "),40,18");
        return a;
    }
    if (StartsWith(upper, "AT+CPBR=")) {
        const std::vector<int> n = NumberParameters(upper);
        const int first = n.empty() ? -1 : n[0];
        const int last = n.size() > 1 ? n[1] : first;
        if (first < 1 || last < first || last > total) return Refusal(21);
        for (size_t i = 0; i < book.size(); ++i) {
            const int index = static_cast<int>(i) + 1;
            if (index < first || index > last) continue;
            const std::string type = book[i].Number.rfind('+', 0) == 0 ? "145" : "129";
            a.Lines.push_back("+CPBR: " + std::to_string(index) + ",\"" + book[i].Number + "\"," +
                              type + ",\"" + EncodeName(book[i].Name) + "\"");
        }
        return a;
    }
    return Refusal(4);
}

TModemSim::TAnswer TModemSim::AnswerCharset(const std::string& upper, const std::string& command) {
    TAnswer a;
    if (upper == "AT+CSCS?") {
        a.Lines.push_back("+CSCS: \"" + FCharset + "\"");
        return a;
    }
    if (upper == "AT+CSCS=?") {
        a.Lines.push_back(FOptions.NoUcs2 ? "+CSCS: (\"IRA\",\"GSM\")"
                                          : "+CSCS: (\"IRA\",\"GSM\",\"UCS2\")");
        return a;
    }
    const std::string set = QuotedParameter(command);
    if (set == "IRA" || set == "GSM" || (set == "UCS2" && !FOptions.NoUcs2)) {
        FCharset = set;
        return a;
    }
    return Refusal(4);
}
