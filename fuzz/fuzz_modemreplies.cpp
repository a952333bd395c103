// The modem's replies to the connection's probes and queries, and message part lines: any
// bytes must be read or refused without a crash, and a command built from them stays short.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gsm/modemreplies.h"
#include "gsm/smspartline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (NewMessageRoutingCommand(text, true).size() > 64) __builtin_trap();
    NewMessageRoutingCommand(text, false);
    HighestFirstGroupValue(text, "+CMMS:");
    int a = 0, b = 0;
    ReadStorageUse(text, a, b);
    ReadPhoneBookUse(text, a, b);
    TPhoneBookRange range;
    if (ReadPhoneBookRange(text, range) && range.Last < range.First) __builtin_trap();
    std::string set;
    ReadCharacterSet(text, set);
    SelectedCharacterSet(text);
    ErrorResultLine(text);
    ReplyLine(text, 1);
    WithoutFinalOk(text);
    TPartLine part;
    if (ParsePartLine(text, part)) part.PlainText();
    return 0;
}
