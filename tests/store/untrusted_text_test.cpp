#include "store/untrusted_text.h"

#include <gtest/gtest.h>

namespace velmora::store {

TEST(PrintableText, ControlsAreEscapedAndBrokenUtf8Replaced) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string in, out;
    } cases[] = {
        {"250 OK", "250 OK"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC \xF0\x9F\x98\x80",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"a\x1B[2Jb", "a\\x1B[2Jb"},
        {"\x1B]0;title\x07", "\\x1B]0;title\\x07"},
        {"tab\there\x7F", "tab\\x09here\\x7F"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"c1 \xC2\x9B"
         "31m",
         "c1 \\x9B31m"}, // C1 after decoding
        {"raw \x9B"
         "31m",
         "raw " + fffd + "31m"},                          // a lone continuation byte
        {"overlong \xC0\xAF", "overlong " + fffd + fffd}, // not shortest form
        {"surrogate \xED\xA0\x80", "surrogate " + fffd + fffd + fffd},
        {"cut \xE2\x82", "cut " + fffd + fffd},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printableText(c.in), c.out) << c.in;
    }
}

TEST(PrintableText, LinesKeepTheirBreaksAndControlsAreFound) {
    EXPECT_EQ(printableLines("a\x1B[2J\nb\tc\n\n"), "a\\x1B[2J\nb\\x09c\n\n");
    const struct {
        const char* text;
        bool control;
    } cases[] = {
        {"ann@example.org", false}, {"j\xC3\xB6rg@example.org", false},
        {"a\x07@x", true},          {"a\x7F@x", true},
        {"a\xC2\x9B@x", true},      {"a\t@x", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hasControlCharacter(c.text), c.control) << c.text;
    }
}

} // namespace velmora::store
