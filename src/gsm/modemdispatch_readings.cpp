// Battery (+CBC) and signal (+CSQ) readings, and the signal-strength scale.
#include <cmath>
#include <string>

#include "gsm/modemdispatch.h"
#include "gsm/modemdispatch_text.h"

using namespace dispatchtext;

namespace {

constexpr int NoSignal = 99;  // rssi "not known or not detectable"

double ScaledRssi(int rssi) {
    if (rssi < 9) return rssi * 3.0;
    if (rssi <= 10) return rssi * 4.0;
    if (rssi <= 12) return rssi * 5.5;
    if (rssi <= 14) return rssi * 6.0;
    return rssi * 5.0;
}

std::vector<std::string> FieldsAfterColon(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    return SplitFields(line.substr(colon + 1));
}

}  // namespace

int SignalPercent(std::string_view csqLine) {
    const std::vector<std::string> f = FieldsAfterColon(csqLine);
    const auto rssi = f.empty() ? std::nullopt : ParseInt(f[0]);
    if (!rssi || *rssi == NoSignal) return 0;
    const double percent = ScaledRssi(*rssi > 90 ? 1 : *rssi);
    if (percent > 100) return 100;
    if (percent < 1) return 0;
    return static_cast<int>(std::nearbyint(percent));
}

void TModemDispatch::Readings(const TLines& lines, const TDispatchSettings& s) {
    bool battery = false, signal = false;
    for (const std::string_view line : lines) {
        if (!battery && StartsWith(line, "+CBC")) {
            battery = true;
            const std::vector<std::string> f = FieldsAfterColon(line);
            const auto bcs = f.size() >= 2 ? ParseInt(f[0]) : std::nullopt;
            const auto bcl = f.size() >= 2 ? ParseInt(f[1]) : std::nullopt;
            if (!bcs || !bcl || !s.CanCheckPower) continue;  // no reading in a cut line
            FTarget.RaiseCheckSignalPower({-1, *bcs == 1, *bcl, "BAT"});
        } else if (!signal && StartsWith(line, "+CSQ")) {
            signal = true;
            const std::string_view value = Trim(line.substr(line.find(':') + 1));
            if (StartsWith(value, "(")) continue;  // the ranges of "AT+CSQ=?", not a reading
            if (s.CanCheckSignal)
                FTarget.RaiseCheckSignalPower({SignalPercent(line), false, -1, "ANT"});
        }
    }
}
