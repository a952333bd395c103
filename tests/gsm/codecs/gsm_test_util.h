// Shared helpers of the SMS codec tests.
#pragma once

#include <string>

#include "gsm/codecs/utf.h"

inline std::u16string U(const std::string& utf8) { return Utf8ToUtf16(utf8); }

// An SMS-DELIVER with no service centre, originator +48123456789 and the stamp
// 2025-01-20 12:34:56 (zone +8 quarter hours).
inline std::string DeliverPdu(const std::string& firstOctet, const std::string& dcs,
                              const std::string& udl, const std::string& userData) {
    return "00" + firstOctet + "0B918421436587F9" + "00" + dcs + "52100221436580" + udl + userData;
}
