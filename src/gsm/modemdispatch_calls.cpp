// Calls: caller identification (+CLIP) with the ring rule, and call-state indicators
// (+CIEV) numbered as the modem's own indicator list numbers them.
#include <string>

#include "gsm/modemdispatch.h"
#include "gsm/modemdispatch_text.h"

using namespace dispatchtext;

namespace {

constexpr int64_t RingGapMs = 10000;  // a ring after a longer pause is a new call
constexpr size_t NationalDigits = 9;

std::string CallerNumber(std::string_view line, const std::string& prefixForCountry) {
    const size_t open = line.find('"');
    const size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
    std::string number;
    if (close != std::string_view::npos) number = Trim(line.substr(open + 1, close - open - 1));
    if (number.empty()) return "unknown";
    return number.size() == NationalDigits ? prefixForCountry + number : number;
}

struct TIndicatorEvent {
    int Index = 0, Value = 0;
};

std::optional<TIndicatorEvent> ReadIndicatorEvent(std::string_view line) {
    const std::string_view rest = line.substr(line.find(':') + 1);
    const size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const auto index = ParseInt(rest.substr(0, comma));
    const auto value = ParseInt(rest.substr(comma + 1));
    if (!index || !value) return std::nullopt;
    return TIndicatorEvent{*index, *value};
}

}  // namespace

void TModemDispatch::CallerIdentification(const TLines& lines, const TDispatchSettings& s) {
    for (const std::string_view line : lines) {
        if (!StartsWith(line, "+CLIP:")) continue;
        const std::string number = CallerNumber(line, s.PrefixForCountry);
        const int64_t now = FTarget.NowMs();
        if (!FHasRung || now - FLastRingMs > RingGapMs || number != FLastCaller) FRingCounter = 0;
        FHasRung = true;
        FLastRingMs = now;
        if (FRingCounter == 0) {
            FLastCaller = number;
            FTarget.RaiseRing(number);
        }
        if (s.HangUpVoiceConnection && FRingCounter == s.HangUpSignalCount) {
            FTarget.InsertCommandsAtFront({"ATH", "AT+CHUP", "AT"});
            FRingCounter = 0;
        } else {
            ++FRingCounter;
        }
        FTarget.Log("----------- BufComRx END ---");
        return;  // one ring per reply: a burst of rings is one ring
    }
}

void TModemDispatch::Indicators(const TLines& lines) {
    std::vector<TIndicatorEvent> events;
    for (const std::string_view line : lines)
        if (StartsWith(line, "+CIEV:"))
            if (const auto e = ReadIndicatorEvent(line)) events.push_back(*e);
    if (events.empty()) return;
    auto seen = [&](int index, int value) {
        if (index <= 0) return false;
        for (const auto& e : events)
            if (e.Index == index && e.Value == value) return true;
        return false;
    };
    const int call = FIndicators.Call, setup = FIndicators.CallSetup;
    if (seen(call, 1))
        FTarget.RaiseCallBusy(true, TDispatchCallStatus::inCall);
    else if (seen(call, 0) || seen(setup, 0))
        FTarget.RaiseCallBusy(false, TDispatchCallStatus::noCall);
    else if (seen(setup, 1))
        FTarget.RaiseCallBusy(true, TDispatchCallStatus::inCall);
    else if (seen(setup, 2))
        FTarget.RaiseCallBusy(true, TDispatchCallStatus::outCall);
    // The called phone rings: hang up at once when only the ring was wanted.
    if (seen(setup, 3) && FTarget.TakeSendOneSignal())
        FTarget.InsertCommandsAtFront({"AT", "AT", "AT", "AT", "ATH", "AT+CHUP", "AT"});
}

// +CIND: ("battchg",(0-5)),("signal",(0-5)),("service",(0,1)),("call",(0,1)),...
TIndicatorNumbers ParseIndicatorList(std::string_view reply) {
    const size_t start = reply.find("+CIND:");
    if (start == std::string_view::npos) return {};
    TIndicatorNumbers found{0, 0};
    int depth = 0, number = 0;
    bool named = false;
    for (size_t i = start + 6; i < reply.size() && reply[i] != '\r' && reply[i] != '\n'; ++i) {
        const char c = reply[i];
        if (c == '(') {
            if (++depth == 1) ++number;
        } else if (c == ')') {
            if (--depth < 0) return {};
        } else if (c == '"' && depth == 1) {
            const size_t close = reply.find('"', i + 1);
            if (close == std::string_view::npos) return {};
            const std::string name = LowerText(reply.substr(i + 1, close - i - 1));
            if (name == "call") found.Call = number;
            if (name == "callsetup" || name == "call_setup") found.CallSetup = number;
            named = true;
            i = close;
        }
    }
    return named && depth == 0 ? found : TIndicatorNumbers{};
}
