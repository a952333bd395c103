// Service-centre time stamps of any text: a date-time in range or 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gsm/codecs/recordpdu.h"
#include "toolkit/datetime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string digits(reinterpret_cast<const char*>(data), size);
    const TDateTime t = DecodeScts(digits);
    // 1996-01-01 less 20 hours of zone up to 2095-12-31 plus 21 hours.
    if (t != 0 && (t < EncodeDate(1995, 12, 31) || t > EncodeDate(2096, 1, 1) + 1)) std::abort();
    FormatDateTime("yyyy-MM-dd HH:mm:ss", t);
    return 0;
}
