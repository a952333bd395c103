// The hex-to-text codecs and the UTF conversions on any text. Only the
// documented codec errors may be raised.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gsm/codecs/address.h"
#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/octetcodecs.h"
#include "gsm/codecs/utf.h"

namespace {

template <typename F>
void Guarded(F decode) {
    try {
        decode();
    } catch (const EGsmCodecError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string hex(reinterpret_cast<const char*>(data), size);
    const std::string septets = UnpackGsm7(hex);
    for (const char s : septets)
        if (static_cast<unsigned char>(s) > 0x7F) std::abort();
    Gsm7HexToText(hex);
    Gsm7SeptetsToText(UnpackGsm7Septets(hex, size));
    if (PackGsm7(septets).size() > hex.size() + 2) std::abort();
    Guarded([&] { Hex8BitToText(hex); });
    Guarded([&] { Ucs2HexToText(hex); });
    SwapSemiOctets(hex);
    SemiOctetsToNumber(hex);
    const std::u16string wide = Utf8ToUtf16(hex);
    if (Utf8ToUtf16(Utf16ToUtf8(wide)) != wide) std::abort();
    ClassifyText(wide);
    TextToGsm7Hex(wide);
    TextToUcs2Hex(wide);
    return 0;
}
