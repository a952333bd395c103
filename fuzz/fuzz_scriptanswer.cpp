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
            TDateTime t = -1;
            size_t end = 0;
            if (ExtractSyncTime(body, complete, f, EncodeDate(2026, 12, 8), t, end) &&
                (t < EncodeDate(1, 1, 1) || t >= EncodeDate(9999, 12, 31) + 1 || end >= size))
                std::abort();
        }
    }
    return 0;
}
