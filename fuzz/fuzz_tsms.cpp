// The modem thread's decoding sequence on one PDU line: any text at all must
// give failure values, never a crash, an out-of-bounds read or an exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gsm/codecs/smsdecoder.h"
#include "gsm/codecs/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string pdu(reinterpret_cast<const char*>(data), size);
    int messages = 0;
    TSMS sms([&](const std::string& m) {
        if (m.rfind("PDU ERROR (", 0) != 0) std::abort();
        ++messages;
    });
    sms.ParsePdu(pdu);
    const std::string sender = sms.GetSender();
    const std::u16string text = sms.GetText();
    const TDateTime stamp = sms.GetTimeStamp();
    if (messages > 4 || stamp < 0) std::abort();
    // What the thread does next with the text: narrow it for the window.
    Utf16ToUtf8(text);
    return 0;
}
