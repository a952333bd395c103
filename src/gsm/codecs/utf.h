// UTF-8 (the program's 8-bit text) to UTF-16 (the codecs' 16-bit text) and back.
#pragma once

#include <string>
#include <string_view>

// Invalid or truncated sequences, overlong forms and encoded surrogates each
// become U+FFFD, so any byte string converts.
std::u16string Utf8ToUtf16(std::string_view text);
// A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
