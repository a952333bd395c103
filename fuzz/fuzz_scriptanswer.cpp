// Time-script answers of any content, read in several users' formats: a time in range or
// nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "timesync/script_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    static const TDateTimeFormats formats[] = {
        {"yyyy-MM-dd", "HH:mm:ss"}, {"dd.MM.yyyy", "H:mm:ss"}, {"M/d/yy", "h:mm:ss AP"}};
    for (const TDateTimeFormats& f : formats) {
        for (bool complete : {false, true}) {
            TScriptReading r;
            if (!ExtractSyncTime(body, complete, f, EncodeDate(2026, 12, 8), r)) continue;
            const TDateTime t = r.Time.WholeSecond;
            if (t < EncodeDate(1, 1, 1) || t >= EncodeDate(9999, 12, 31) + 1 || r.LastByte >= size ||
                r.Time.FractionNs < 0 || r.Time.FractionNs > 999999999 ||
                r.Time.FractionDigits < 0 || r.Time.FractionDigits > 9)
                std::abort();
        }
    }
    return 0;
}
