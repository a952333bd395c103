#include <gtest/gtest.h>

#include "gsm/codecs/utf.h"

TEST(Utf, ValidTextRoundTrips) {
    const std::string text = "a\xC4\x85\xE2\x82\xAC\xF0\x9F\x98\x80";  // a ą € 😀
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'a', 0x0105, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Utf, InvalidUtf8BecomesReplacementCharacters) {
    const struct {
        std::string in;
        std::u16string out;
    } cases[] = {
        {"\x80", u"\uFFFD"},                      // lone continuation
        {"a\xC4", u"a\uFFFD"},                    // truncated at the end
        {"\xC0\x80", u"\uFFFD\uFFFD"},            // overlong NUL
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
        {"\xF5\x80", u"\uFFFD\uFFFD"},            // above U+10FFFF
        {"\xE2\x82x", u"\uFFFDx"},                // cut short, next byte kept
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in;
}

TEST(Utf, LoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a'}),
              "\xEF\xBF\xBD"
              "a");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDBFF}), "\xEF\xBF\xBD");
}
