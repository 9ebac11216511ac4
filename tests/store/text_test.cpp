#include "store/text.h"

#include <gtest/gtest.h>

namespace velmora::store {

// Every byte survives a trip through either digit case, and nothing but a
// hex digit reads as one.
TEST(TextHex, EveryByteRoundTripsInBothCases) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    for (const HexDigits digits : {HexDigits::Lower, HexDigits::Upper}) {
        const std::string hex = toHex(all, digits);
        ASSERT_EQ(hex.size(), 512U);
        std::string back;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            back.push_back(
                static_cast<char>(hexDigitValue(hex[i]) * 16 + hexDigitValue(hex[i + 1])));
        }
        EXPECT_EQ(back, all);
    }
    EXPECT_EQ(toHex("\x0f\xa0"), "0fa0");
    EXPECT_EQ(toHex("\x0f\xa0", HexDigits::Upper), "0FA0");
    for (const char c : std::string_view("gG/:@`\x80 ")) {
        EXPECT_EQ(hexDigitValue(c), -1) << c;
    }
}

// Only ASCII letters change case: UTF-8 bytes of other letters stay whole.
TEST(TextAsciiCase, OnlyAsciiLettersFold) {
    EXPECT_EQ(toLowerAscii("ÄBC-Über@X.DE"), "Äbc-Über@x.de");
    EXPECT_TRUE(equalIgnoringAsciiCase("Content-TYPE", "content-type"));
    EXPECT_FALSE(equalIgnoringAsciiCase("Ä", "ä"));
    EXPECT_FALSE(equalIgnoringAsciiCase("ab", "abc"));
    EXPECT_FALSE(equalIgnoringAsciiCase("a[", "A{"));
}

} // namespace velmora::store
