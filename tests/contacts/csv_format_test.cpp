#include "contacts/csv_format.h"

#include <gtest/gtest.h>

namespace velmora::contacts {

namespace {

std::vector<CsvRecord> parseAll(std::string_view text, char delimiter, std::size_t piece) {
    std::vector<CsvRecord> records;
    CsvParser parser(delimiter, [&](CsvRecord& r) { records.push_back(r); });
    for (std::size_t i = 0; i < text.size(); i += piece) {
        parser.feed(text.substr(i, piece));
    }
    parser.finish();
    return records;
}

std::string decodeAll(TextEncoding encoding, std::string_view bytes, std::size_t piece) {
    TextDecoder decoder(encoding);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += piece) {
        decoder.decode(bytes.substr(i, piece), out);
    }
    decoder.finish(out);
    return out;
}

} // namespace

TEST(CsvParser, QuotesLineEndsAndLineNumbersWhateverThePieceSize) {
    const std::string text = "a,\"b,1\",\"say \"\"hi\"\"\"\r\n"
                             "\r\n"
                             "\"two\r\nlines\",x\"y,\r"
                             "last,\"\"\n"
                             "\n"
                             "tail";
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, text.size()}) {
        SCOPED_TRACE(piece);
        const std::vector<CsvRecord> r = parseAll(text, ',', piece);
        ASSERT_EQ(r.size(), 4u);
        EXPECT_EQ(r[0].line, 1);
        EXPECT_EQ(r[0].fields, (std::vector<std::string>{"a", "b,1", "say \"hi\""}));
        EXPECT_EQ(r[1].line, 3);
        EXPECT_EQ(r[1].fields, (std::vector<std::string>{"two\r\nlines", "x\"y", ""}));
        EXPECT_EQ(r[2].line, 5);
        EXPECT_EQ(r[2].fields, (std::vector<std::string>{"last", ""}));
        EXPECT_EQ(r[3].line, 7);
        EXPECT_EQ(r[3].fields, (std::vector<std::string>{"tail"}));
        EXPECT_FALSE(r[3].unclosedQuote);
    }
}

TEST(CsvParser, AStrayQuoteCostsOnlyTheLinesItSpans) {
    struct Case {
        const char* what;
        std::string text;
        // line-lastLine of each record, "!" for a flagged one, then its first field.
        std::vector<std::string> records;
    };
    const std::vector<Case> cases = {
        {"never closed: the text after its line is read again",
         "a,b\n\"ok\r\nstill\",2\nc,\"open\nrest,1\n",
         {"1-1 a", "2-3 ok\r\nstill", "4-4! c", "5-5 rest"}},
        {"never closed, CR LF line ends",
         "a,b\r\nc,\"two\r\nlines\",x\r\nd,\"open\r\ne,f\r\n",
         {"1-1 a", "2-3 c", "4-4! d", "5-5 e"}},
        {"never closed, blank CR LF lines inside the quotes",
         "\"\n\r\n\r\n\n,,b\nbba\n",
         {"1-1! \n\r\n\r\n\n,,b\nbba\n", "5-5 ", "6-6 bba"}},
        {"closed by a stray quote on a later line: the lines between are lost",
         "a,b\nc,\"open\nd,e\nf,5\" tall\ng,h\n",
         {"1-1 a", "2-4! c", "5-5 g"}},
        {"text after a quote closed on its own line is kept",
         "a,\"b\"c\nd,e\n",
         {"1-1 a", "2-2 d"}},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, c.text.size()}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            std::vector<std::string> seen;
            for (const CsvRecord& r : parseAll(c.text, ',', piece)) {
                seen.push_back(std::to_string(r.line) + "-" + std::to_string(r.lastLine) +
                               (r.unclosedQuote ? "! " : " ") + r.fields.at(0));
            }
            EXPECT_EQ(seen, c.records);
        }
    }
}

TEST(EncodingFromZeroBytes, TellsUtf16ByItsZeros) {
    EXPECT_EQ(encodingFromZeroBytes(std::string("E\0m\0a\0i\0l\0\n\0\x4E\x67", 14)),
              TextEncoding::Utf16Le);
    EXPECT_EQ(encodingFromZeroBytes(std::string("\0E\0m\0a\0i\0l\0\n\x67\x4E", 14)),
              TextEncoding::Utf16Be);
    // Cyrillic after an ASCII start still shows enough zeros; UTF-8 and a
    // stray zero in single-byte text do not count.
    EXPECT_EQ(encodingFromZeroBytes(std::string("a\0,\0\x10\x04\x11\x04", 8)),
              TextEncoding::Utf16Le);
    EXPECT_EQ(encodingFromZeroBytes("Email,Name\na@x.org,Ren\xC3\xA9\n"), std::nullopt);
    EXPECT_EQ(encodingFromZeroBytes(std::string("Email,Name\0\na@x.org,Ann\n", 22)), std::nullopt);
}

TEST(FormulaGuard, GuardsWhatASpreadsheetWouldRunAndReadsBackExactly) {
    const std::pair<const char*, const char*> cases[] = {
        {"=1+1", "'=1+1"}, {"+49 30", "'+49 30"}, {"-5", "'-5"},   {"@x", "'@x"},
        {"\tx", "'\tx"},   {"\rx", "\"'\rx\""},   {"'=x", "''=x"}, {"''+x", "'''+x"},
        {"'Tis", "'Tis"},  {"a=b", "a=b"},        {"'", "'"},      {"x\t", "\"x\t\""},
    };
    for (const auto& [cell, written] : cases) {
        SCOPED_TRACE(cell);
        std::string out;
        appendCsvField(out, cell, ',', true);
        EXPECT_EQ(out, written);
        const std::vector<CsvRecord> records = parseAll(out + "\n", ',', out.size() + 1);
        ASSERT_EQ(records.size(), 1U);
        EXPECT_EQ(withoutFormulaGuard(records[0].fields.at(0)), cell);
    }
}

TEST(SniffDelimiter, PicksTheConsistentSplitter) {
    struct Case {
        const char* text;
        char expected;
    };
    const Case cases[] = {
        {"email,name\na@x,Ann\n", ','},
        {"email;name;notes\na@x;Ann;one, two\nb@x;Bob;x\n", ';'},
        {"email\tname\na@x\tAnn, Lee\n", '\t'},
        {"\"e;mail\",name\n\"a;x\",b\n", ','},
        {"email\na@x\n", ','},
        {"", ','},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sniffDelimiter(c.text), c.expected) << c.text;
    }
}

TEST(TextDecoder, DecodesEveryEncodingInAnyPieceSize) {
    struct Case {
        TextEncoding encoding;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {TextEncoding::Utf8, "\xEF\xBB\xBFZo\xC3\xAB \xF0\x9F\x98\x80",
         "Zo\xC3\xAB \xF0\x9F\x98\x80"},
        {TextEncoding::Utf8,
         "a\xFF"
         "b\xC3",
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD"},
        {TextEncoding::Utf16Le, std::string("\xFF\xFEZ\0\xEB\0=\xD8\0\xDE", 10),
         "Z\xC3\xAB\xF0\x9F\x98\x80"},
        {TextEncoding::Utf16Be, std::string("\xFE\xFF\0A\xDC\0\0B", 8),
         "A\xEF\xBF\xBD"
         "B"},
        {TextEncoding::Utf16Le, std::string("A\0B", 3), "A\xEF\xBF\xBD"},
        {TextEncoding::Windows1252, "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, c.bytes.size() + 1}) {
            EXPECT_EQ(decodeAll(c.encoding, c.bytes, piece), c.expected)
                << encodingName(c.encoding) << " piece " << piece;
        }
    }
}

TEST(Utf8Validator, JoinsSequencesCutBetweenPieces) {
    Utf8Validator ok;
    ok.feed("Zo\xC3");
    ok.feed("\xAB \xF0\x9F");
    ok.feed("\x98\x80");
    EXPECT_TRUE(ok.finish());
    Utf8Validator cut;
    cut.feed("Zo\xC3");
    EXPECT_FALSE(cut.finish());
    Utf8Validator bad;
    bad.feed("caf\xE9 ok");
    EXPECT_FALSE(bad.finish());
}

TEST(AppendCsvField, QuotesOnlyWhatNeedsIt) {
    struct Case {
        const char* field;
        const char* expected;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"a,b", "\"a,b\""},
        {"say \"x\"", "\"say \"\"x\"\"\""},
        {"l1\r\nl2", "\"l1\r\nl2\""},
        {" lead", "\" lead\""},
        {"", ""},
        {"a;b", "a;b"},
    };
    for (const Case& c : cases) {
        std::string out;
        appendCsvField(out, c.field);
        EXPECT_EQ(out, c.expected);
    }
}

} // namespace velmora::contacts
