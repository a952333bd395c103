// What arrives on the single-instance socket, of any content: a datagram that decodes
// encodes back to one that decodes the same, and an answer's name always maps to a lock
// file name that stays inside the guard's directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/instance_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInstanceDatagram) return 0;  // the channel drops longer ones unread
    TInstanceMessage msg;
    if (!DecodeInstanceMessage(reinterpret_cast<const char*>(data), size, msg)) return 0;
    if (msg.Kind != TInstanceMessageKind::Answer && !msg.Name.empty()) std::abort();
    if (msg.Name.find('\0') != std::string::npos) std::abort();
    const std::string again = EncodeInstanceMessage(msg.Kind, msg.Name);
    TInstanceMessage back;
    if (!DecodeInstanceMessage(again.data(), again.size(), back)) std::abort();
    if (back.Kind != msg.Kind || back.Name != msg.Name) std::abort();
    const std::string lock = LockFileName(msg.Name);
    if (lock.empty() || lock.find('/') != std::string::npos || lock == "." || lock == ".." ||
        lock.size() > 255)
        std::abort();
    return 0;
}
