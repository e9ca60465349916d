// Path joining and the UTF-8/UTF-16 conversions.
#include <gtest/gtest.h>

#include "files.h"

namespace {

TEST(JoinPath, AddsOneSeparator) {
    EXPECT_EQ(app::joinPath("/a/Data", "log.txt"), "/a/Data/log.txt");
    EXPECT_EQ(app::joinPath("/a/Data/", "log.txt"), "/a/Data/log.txt");
}

TEST(Utf, ConversionsBothWays) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"Data", u"Data"},
        {"Donn\xC3\xA9" "es", u"Donn\u00E9es"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(app::utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
    }
}

TEST(Utf, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(app::utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(app::utf8ToUtf16("\xE6\x97"), u"\uFFFD\uFFFD");  // cut short
    EXPECT_EQ(app::utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(app::utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

}  // namespace
