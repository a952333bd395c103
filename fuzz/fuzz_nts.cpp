// The untrusted input of authenticated time: the key exchange's answer records and the
// extension fields of NTP replies. The first byte picks which one the rest is. Neither
// may fault; a complete answer always brings one to eight cookies, and no reply sealed
// without our key is ever taken as authentic.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "timesync/nts_fields.h"
#include "timesync/nts_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        TNtsKeAnswer answer;
        std::string why;
        const TNtsKeParse result = ParseNtsKeAnswer(bytes, answer, why);
        if (result == TNtsKeParse::Complete &&
            (answer.Cookies.empty() || answer.Cookies.size() > nts::kMaxCookies))
            std::abort();
        if (result == TNtsKeParse::Refused && why.empty()) std::abort();
        return 0;
    }
    // The identifier is wherever the input says it is, so that echoes are found.
    const std::string uid = bytes.size() >= 84 ? bytes.substr(52, 32) : std::string(32, 'u');
    std::vector<std::string> cookies;
    const TNtsReplyVerdict verdict = CheckNtsReply(bytes, uid, std::string(32, 'k'), cookies);
    if (verdict == TNtsReplyVerdict::Authentic) std::abort();
    if (!cookies.empty()) std::abort();
    return 0;
}
