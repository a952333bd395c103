// Replies a sound SNTP server would send, for tests that play the server.
#pragma once

#include <cstdint>
#include <string>

#include "net/netutil.h"

inline void PutWord(std::string& packet, size_t offset, uint32_t v) {
    packet.replace(offset, 4, Int32ToBigEndian(v));
}

// The answer to request with the given transmit time (receive time the same second).
inline std::string ValidReply(const std::string& request, uint32_t seconds, uint32_t fraction) {
    std::string reply(48, '\0');
    reply[0] = 0x24;  // leap 0, version 4, mode 4
    reply[1] = 2;
    reply.replace(24, 8, request.substr(40, 8));
    PutWord(reply, 32, seconds);
    PutWord(reply, 36, 1);
    PutWord(reply, 40, seconds);
    PutWord(reply, 44, fraction);
    return reply;
}
