// The record decoder over any PDU text. A leading '!' selects the outgoing
// direction, so that both readings of TP-MTI are reached.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gsm/codecs/recordpdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string pdu(reinterpret_cast<const char*>(data), size);
    const bool outgoing = !pdu.empty() && pdu[0] == '!';
    if (outgoing) pdu.erase(0, 1);
    TSmsPdu record;
    const bool complete = DecodeRecordPdu(!outgoing, pdu, record);
    if (complete && record.Kind > skSubmitReport) std::abort();
    if (record.Text.size() > 2 * 255) std::abort();  // TP-UDL characters, two UTF-8 bytes at most
    return 0;
}
