#include "net/random_bytes.h"

#include <sys/random.h>

#include <cerrno>

bool SystemRandomBytes(void* buffer, size_t length) {
    size_t got = 0;
    while (got < length) {
        const ssize_t n = getrandom(static_cast<char*>(buffer) + got, length - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}
