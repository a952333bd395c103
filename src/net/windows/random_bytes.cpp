#include "net/random_bytes.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

bool SystemRandomBytes(void* buffer, size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ULONG piece = length > 0x10000000 ? 0x10000000 : static_cast<ULONG>(length);
        if (BCryptGenRandom(nullptr, out, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
            return false;
        out += piece;
        length -= piece;
    }
    return true;
}
