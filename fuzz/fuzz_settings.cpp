// The settings file of any content: what is read, written back and read again is the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string once = TRegFile::Parse(text).Format();
    if (TRegFile::Parse(once).Format() != once) std::abort();
    return 0;
}
