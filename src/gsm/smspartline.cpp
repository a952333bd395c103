#include "gsm/smspartline.h"

#include "gsm/modemreplies.h"

std::string TPartLine::PlainText() const {
    std::string out;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '%' && i + 1 < Text.size() && (Text[i + 1] == 'n' || Text[i + 1] == '~')) {
            out += Text[i + 1] == 'n' ? "\r\n" : "\"";
            ++i;
        } else {
            out += Text[i];
        }
    }
    return out;
}

// The chunk text carries no quote (the planner writes it as %~), so its closing quote is
// the first one after the opening; the marker is not escaped, so the three numbers are
// taken from the end.
bool ParsePartLine(const std::string& line, TPartLine& part) {
    TPartLine p;
    const size_t c1 = line.find(',');
    if (c1 == std::string::npos || !ReadBoundedInt(line.substr(0, c1), 1, 255, p.TpduLength))
        return false;
    const size_t c2 = line.find(',', c1 + 1);
    if (c2 == std::string::npos || line.compare(c2 + 1, 1, "\"") != 0) return false;
    p.Pdu = line.substr(c1 + 1, c2 - c1 - 1);
    const size_t textEnd = line.find("\",\"", c2 + 2);
    if (p.Pdu.empty() || textEnd == std::string::npos) return false;
    p.Text = line.substr(c2 + 2, textEnd - c2 - 2);
    const size_t n3 = line.rfind(',');
    const size_t n2 =
        n3 == std::string::npos || n3 == 0 ? std::string::npos : line.rfind(',', n3 - 1);
    const size_t n1 =
        n2 == std::string::npos || n2 == 0 ? std::string::npos : line.rfind(',', n2 - 1);
    if (n1 == std::string::npos || n1 < textEnd + 3) return false;
    const std::string marker = line.substr(textEnd + 3, n1 - textEnd - 3);
    if (marker.empty() || marker.back() != '"') return false;
    p.Marker = marker.substr(0, marker.size() - 1);
    if (!ReadBoundedInt(line.substr(n1 + 1, n2 - n1 - 1), 0, 255, p.PartNumber) ||
        !ReadBoundedInt(line.substr(n2 + 1, n3 - n2 - 1), 0, 255, p.PartCount))
        return false;
    p.Number = line.substr(n3 + 1);
    part = p;
    return true;
}
