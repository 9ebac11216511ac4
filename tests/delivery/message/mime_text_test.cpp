#include "delivery/message/mime_text.h"
#include "store/text.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::delivery {

namespace {

// Decoders written apart from the encoders, so a round trip proves them.
std::string fromBase64(std::string_view text) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') {
            break;
        }
        bits = (bits << 6) | static_cast<unsigned>(kAlphabet.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

// "%XX" (RFC 2231) or "=XX" (quoted-printable) escapes undone.
std::string unescaped(std::string_view text, char escape) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == escape && i + 2 < text.size() && store::hexDigitValue(text[i + 1]) >= 0 &&
            store::hexDigitValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(store::hexDigitValue(text[i + 1]) * 16 +
                                            store::hexDigitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool isWholeUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (i + length > text.size()) {
            return false;
        }
        i += length;
    }
    return true;
}

const std::string kGerman = "Grüße aus Zürich: unser Frühlingsangebot für Sie und Ihre Familie, "
                            "gültig bis Ende Mai, solange der Vorrat reicht";
const std::string kEmoji = "🎉🎉🎉 Sommerfest 🎉 " + std::string(30, 'x') + " 日本語のテキスト 🎉🎉🎉🎉";

} // namespace

TEST(MimeBase64, RfcVectorsAndBlockByBlockEncoding) {
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& [in, out] : vectors) {
        EXPECT_EQ(base64String(in), out);
        EXPECT_EQ(base64Decoded(out), in);
    }
    EXPECT_EQ(base64String("\xff\xfe\xfd"), "//79");
    // A token's URL alphabet reads the same; the text ends where Base64 does.
    EXPECT_EQ(base64Decoded("__79"), "\xff\xfe\xfd");
    EXPECT_EQ(base64Decoded("-_79Zg==Zm8"), "\xfb\xfe\xfd"
                                            "f");
    // Attachments are encoded a block at a time into 60-character lines.
    std::string bytes;
    for (int i = 0; i < 1000; ++i) {
        bytes.push_back(static_cast<char>(i * 37 % 256));
    }
    std::string blocks;
    for (std::size_t at = 0; at < bytes.size(); at += 45) {
        appendBase64(blocks, std::string_view(bytes).substr(at, 45));
    }
    EXPECT_EQ(blocks, base64String(bytes));
    EXPECT_EQ(fromBase64(blocks), bytes);
}

// RFC 2047: no word over 75 characters, the first within the room it was
// given, every word cut between characters, and the words read back whole.
TEST(MimeEncodedWords, StayWithinTheirWidthAndCutBetweenCharacters) {
    const struct {
        std::string text;
        std::size_t firstWordMax;
    } cases[] = {{"Zoë", 75},
                 {kGerman, 75},
                 {kGerman, 30},
                 {kEmoji, 75},
                 {kEmoji, 16},
                 {"🎉", 16},
                 {std::string(300, 'w'), 40}};
    for (const auto& c : cases) {
        const std::vector<std::string> words = encodedWords(c.text, c.firstWordMax);
        ASSERT_FALSE(words.empty()) << c.text;
        std::string back;
        for (std::size_t i = 0; i < words.size(); ++i) {
            const std::string& word = words[i];
            ASSERT_TRUE(word.starts_with("=?UTF-8?B?") && word.ends_with("?=")) << word;
            const std::string piece = fromBase64(word.substr(10, word.size() - 12));
            // Only a first word too narrow for one character may be wider.
            const bool oneCharacter = i == 0 && piece.size() <= 4 && piece.size() > 1;
            EXPECT_TRUE(word.size() <= (i == 0 ? std::max<std::size_t>(c.firstWordMax, 16) : 75) ||
                        (oneCharacter && word.size() <= 20))
                << c.text << " word " << i << ": " << word;
            EXPECT_TRUE(isWholeUtf8(piece)) << c.text << " word " << i;
            back += piece;
        }
        EXPECT_EQ(back, c.text);
    }
}

// RFC 2231: one parameter when it fits, numbered sections otherwise, each
// within a folded line and never splitting a "%XX" escape.
TEST(MimeRfc2231, SectionsFitTheLineAndReadBackWhole) {
    EXPECT_EQ(rfc2231Parameter("filename", "Preisübersicht.pdf"),
              std::vector<std::string>{"filename*=UTF-8''Preis%C3%BCbersicht.pdf"});
    for (const std::string& name : {std::string("Preisübersicht ") + kGerman + ".pdf",
                                    kEmoji + kEmoji + ".png", std::string(200, 'a') + ".txt"}) {
        const std::vector<std::string> sections = rfc2231Parameter("filename", name);
        ASSERT_GT(sections.size(), 1U) << name;
        std::string value;
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const std::string start = "filename*" + std::to_string(i) + "*=";
            ASSERT_TRUE(sections[i].starts_with(start)) << sections[i];
            EXPECT_LE(sections[i].size() + 2, kFoldWidth) << sections[i]; // " " + ";"
            const std::string part = sections[i].substr(start.size());
            const std::size_t percent = part.rfind('%');
            EXPECT_TRUE(percent == std::string::npos || percent + 2 < part.size()) << part;
            value += part;
        }
        ASSERT_TRUE(value.starts_with("UTF-8''"));
        EXPECT_EQ(unescaped(value.substr(7), '%'), name);
    }
}

// Quoted-printable: lines within 76 characters, soft breaks, no line that
// starts with "-" (a boundary) or "." (SMTP's end), trailing blanks kept.
TEST(MimeQuotedPrintable, LinesStayShortSafeAndReadBackWhole) {
    const std::string cases[] = {
        "Straße",
        std::string(200, 'y'),
        "--=_boundary",
        ".hidden end",
        "Tab at end\t",
        "blank at end ",
        "a=b " + kGerman + " " + kEmoji,
        std::string(74, 'x') + "é",
        std::string(75, '.') + "-" + std::string(75, '-'),
    };
    for (const std::string& text : cases) {
        const std::vector<std::string> lines = quotedPrintableLines(text);
        std::string joined;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            EXPECT_LE(line.size(), 76U) << line;
            EXPECT_FALSE(line.starts_with("-") || line.starts_with(".")) << line;
            for (const char c : line) {
                EXPECT_TRUE(c == ' ' || c == '\t' || (c >= 33 && c <= 126)) << line;
            }
            if (i + 1 < lines.size()) {
                ASSERT_TRUE(line.ends_with("=")) << line;
                joined += line.substr(0, line.size() - 1);
            } else {
                EXPECT_FALSE(line.ends_with(" ") || line.ends_with("\t")) << line;
                joined += line;
            }
        }
        EXPECT_EQ(unescaped(joined, '='), text);
    }
}

} // namespace velmora::delivery
