// SNTP replies of any content: decoded, judged and turned into a time without a fault;
// a reply judged usable always carries a time after 1900 and before 2105.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "timesync/sntpclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TNtpPacket packet;
    TSntpClient::BytesToPacket(bytes, packet);
    if (bytes.size() >= kNtpPacketSize && TSntpClient::PacketToBytes(packet) != bytes.substr(0, 48))
        std::abort();
    const TDateTime t = TSntpClient::StampToDateTime(packet.XmitSeconds, packet.XmitFraction);
    if (TSntpClient::ReplyIsUsable(packet) && (t < 2.0 || t > EncodeDate(2105, 1, 1))) std::abort();
    FormatDateTime("yyyy-MM-dd HH:mm:ss.zzz", t);
    return 0;
}
