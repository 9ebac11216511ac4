#include "store/counted_string.h"
#include "store/text_arena.h"
#include "store/text_encoding.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::store {

using testing_support::Bytes;

TEST(Rot13, RotatesAsciiLettersOnlyAndIsItsOwnInverse) {
    EXPECT_EQ(rot13Text("Ann Lee"), "Naa Yrr");
    EXPECT_EQ(rot13Text("Zz-09 @.!"), "Mm-09 @.!");
    const std::string mixed = "zoë@example.org 03/07/2011";
    EXPECT_EQ(rot13Text(rot13Text(mixed)), mixed);
    EXPECT_EQ(rot13Text("ë"), "ë"); // bytes above 127 untouched
}

TEST(CountedReader, ReadsIntegersAndStringsAndYieldsZeroPastTheEnd) {
    const std::string bytes = Bytes().i32(-5).str("QMZ101").i32(0x01020304).bytes();
    CountedReader in(bytes);
    EXPECT_EQ(in.readInt32(), -5);
    EXPECT_EQ(in.readCountedString(), "QMZ101");
    EXPECT_EQ(in.readInt32(), 0x01020304);
    EXPECT_FALSE(in.truncated());
    EXPECT_EQ(in.readInt32(), 0);
    EXPECT_EQ(in.readCountedString(), "");
    EXPECT_TRUE(in.truncated());
}

TEST(CountedReader, NegativeCountIsEmptyAndConsumesOnlyTheCount) {
    const std::string bytes = Bytes().i32(-7).str("next").bytes();
    CountedReader in(bytes);
    EXPECT_EQ(in.readCountedString(), "");
    EXPECT_EQ(in.readCountedString(), "next");
    EXPECT_FALSE(in.truncated());
}

TEST(CountedReader, MaximumCutsTheTextAndLeavesTheRestUnread) {
    const std::string bytes = Bytes().str("EMLX101-extra").bytes();
    CountedReader in(bytes);
    EXPECT_EQ(in.readCountedString(7), "EMLX101");
    EXPECT_EQ(in.remaining(), 6u);
}

TEST(CountedReader, HugeCountReadsOnlyWhatTheInputHolds) {
    const std::string bytes = Bytes().i32(0x7FFFFFFF).raw("abc").bytes();
    CountedReader in(bytes);
    EXPECT_EQ(in.readCountedString(), "abc");
    EXPECT_TRUE(in.truncated());
    EXPECT_EQ(in.recordsThatFit(0x7FFFFFFF, 56), 0u);
}

TEST(CountedReader, FileReaderCrossesBufferBoundaries) {
    testing_support::TempDir dir;
    Bytes b;
    const std::string big(3 * 1024 * 1024 + 17, 'q'); // longer than one read block
    for (int i = 0; i < 1000; ++i) {
        b.i32(i).str(std::string(static_cast<std::size_t>(i % 300), 'a'));
    }
    b.str(big).i32(42);
    testing_support::writeFileBytes(dir.file("f"), b.bytes());
    std::FILE* f = std::fopen(dir.file("f").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    CountedReader in(f, b.bytes().size());
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(in.readInt32(), i);
        ASSERT_EQ(in.readCountedString(), std::string(static_cast<std::size_t>(i % 300), 'a'));
    }
    EXPECT_EQ(in.readCountedString(), big);
    EXPECT_EQ(in.readInt32(), 42);
    EXPECT_TRUE(in.atEnd());
    EXPECT_FALSE(in.truncated());
    std::fclose(f);
}

TEST(CountedWriter, WritesTheEncodingsTheReaderReads) {
    CountedWriter out;
    out.writeCountedString("QMZ101");
    out.writeScrambled("Ann Lee");
    out.writeInt32(-999);
    EXPECT_EQ(out.bytes(), Bytes().str("QMZ101").str("Naa Yrr").i32(-999).bytes());
}

TEST(TextEncoding, KeepsUtf8AndConvertsWindows1252) {
    EXPECT_EQ(textFromFileBytes("Zoë"), "Zoë");
    EXPECT_EQ(textFromFileBytes("Jos\xe9"), "José");
    EXPECT_EQ(textFromFileBytes("\x80 \x93x\x94 \x9f"), "€ “x” Ÿ");
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));           // overlong
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));       // surrogate
    EXPECT_FALSE(isValidUtf8("\xe2\x82"));           // cut short
    EXPECT_TRUE(isValidUtf8("\xf0\x9f\x93\xa7 ok")); // envelope emoji
}

TEST(LineBreaks, MultiLineFieldsAreStoredWithCrLfAndEditedWithLf) {
    struct Row {
        const char* edited;
        const char* stored;
    };
    const Row table[] = {
        {"", ""},
        {"one line", "one line"},
        {"1 Main St\nSpringfield", "1 Main St\r\nSpringfield"},
        {"a\n\nb\n", "a\r\n\r\nb\r\n"},
    };
    for (const Row& row : table) {
        EXPECT_EQ(storedLineBreaks(row.edited), row.stored);
        EXPECT_EQ(editedLineBreaks(row.stored), row.edited);
        EXPECT_EQ(storedLineBreaks(row.stored), row.stored) << "already stored: unchanged";
    }
    // A lone CR from an older file is a line break too.
    EXPECT_EQ(storedLineBreaks("a\rb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(editedLineBreaks("a\rb"), "a\nb");
}

// The field decoder un-scrambles and checks the encoding in one pass; it
// must agree with the plain path for every byte, at every field length
// (inline and on the heap), for scrambled and plain fields alike.
TEST(CountedReader, FieldDecodingAgreesWithTheTextPathForEveryByte) {
    std::vector<std::string> fields = {"", "a", "Zoë Ångström", "Zo\xeb", "\x80\x9f\xff"};
    std::string everyByte;
    for (int c = 0; c < 256; ++c) {
        everyByte.push_back(static_cast<char>(c));
        fields.push_back(std::string(1, static_cast<char>(c)) + "ABCxyz");
        fields.push_back(std::string(20, static_cast<char>(c)));
    }
    fields.push_back(everyByte);
    for (std::size_t length = 1; length <= 24; ++length) { // every tail of a word
        fields.push_back(everyByte.substr(64 + length, length));
        fields.push_back(everyByte.substr(200, length));
    }
    for (const bool scrambled : {false, true}) {
        Bytes b;
        for (const std::string& field : fields) {
            b.str(field);
        }
        CountedReader text(b.bytes());
        CountedReader compact(b.bytes());
        CountedReader inArena(b.bytes());
        TextArena arena;
        CompactString into("a text longer than the inline limit");
        std::vector<CompactString> arenaFields(fields.size());
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const std::string expected = text.readText(scrambled);
            compact.readText(into, scrambled);
            EXPECT_EQ(into.view(), expected) << fields[k];
            EXPECT_TRUE(isValidUtf8(into.view()));
            inArena.readText(arenaFields[k], arena, scrambled);
            EXPECT_EQ(arenaFields[k].view(), expected) << fields[k];
        }
        // Later fields never wrote over earlier ones.
        CountedReader again(b.bytes());
        for (std::size_t k = 0; k < fields.size(); ++k) {
            EXPECT_EQ(arenaFields[k].view(), again.readText(scrambled)) << fields[k];
        }
        EXPECT_TRUE(compact.atEnd());
        EXPECT_FALSE(compact.truncated());
        EXPECT_TRUE(inArena.atEnd());
    }
}

} // namespace velmora::store
