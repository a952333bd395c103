// Concatenation data of any PDU text: a reference of 8 or 16 bits and two octet values,
// or three -1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gsm/codecs/smsdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string pdu(reinterpret_cast<const char*>(data), size);
    const TConcatInfo info = DecodeConcatInfo(pdu);
    const bool absent = info.Reference == -1 && info.Total == -1 && info.Part == -1;
    const bool present = info.Reference >= 0 && info.Reference <= 0xFFFF && info.Total >= 0 &&
                         info.Total <= 255 && info.Part >= 0 && info.Part <= 255;
    if (!absent && !present) std::abort();
    return 0;
}
