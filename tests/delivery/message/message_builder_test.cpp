#include "../python_helpers.h"
#include "delivery/message/message_builder.h"
#include "delivery/message/mime_text.h"
#include "delivery/message/mime_types_file.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::delivery {

using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

class StringSink final : public LineSink {
public:
    bool writeLine(std::string_view line) override {
        bytes.append(line);
        bytes.append("\r\n");
        return true;
    }
    std::string bytes;
};

// 07:05:09 on Monday, 7 December 2026, one hour east of UTC.
store::LocalDateTime fixedTime() {
    return {2026, 12, 7, 7, 5, 9, 1, 60, 0};
}

struct Builder {
    store::FixedClock clock{fixedTime()};
    MimeTypesFile types{dataPath("delivery/test_mime.types")};
    std::vector<std::string> opened;
    std::vector<std::string> failures;
    MessageEnvironment environment{clock, types,
                                   [this](const std::string& path) { opened.push_back(path); },
                                   testing_support::countingRandomBytes(),
                                   [this](const std::string& why) { failures.push_back(why); }};

    std::string write(const OutgoingMessage& message) {
        StringSink sink;
        EXPECT_TRUE(writeMessage(message, environment, sink));
        return sink.bytes;
    }
};

OutgoingMessage sampleMessage(std::int32_t format) {
    OutgoingMessage m;
    m.senderName = "Ann Lee";
    m.senderAddress = "ann@example.org";
    m.recipient = "bob@example.net";
    m.subject = "Spring offer";
    m.format = format;
    m.body =
        format == code(store::EditorFormat::Html)
            ? "<html><body><p>Dear customer,</p>\r\n<p>our <b>spring</b> offer.</p></body></html>"
            : "Dear customer,\r\nour spring offer.\r\n\r\nKind regards";
    return m;
}

std::string fileOf(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) {
        bytes.push_back(static_cast<char>('a' + i % 26));
    }
    return bytes;
}

void expectGolden(const std::string& actual, const std::string& name) {
    const std::string golden = readFileBytes(dataPath("delivery/" + name));
    if (actual != golden) {
        writeFileBytes(name + ".actual", actual);
        ADD_FAILURE() << name << " differs; the output is in " << name << ".actual";
    }
}

// What Python's email package makes of the bytes sent after 354.
nlohmann::json parsed(const std::string& wire) {
    TempDir dir;
    writeFileBytes(dir.file("message.txt"), wire);
    const std::string out =
        delivery_testing::runPythonScript("parse_message.py", {dir.file("message.txt")});
    return nlohmann::json::parse(out);
}

std::string fromBase64(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        const std::size_t v = alphabet.find(c);
        if (v == std::string::npos) {
            continue;
        }
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

std::string payloadOf(const nlohmann::json& part) {
    return fromBase64(part["payload"].get<std::string>());
}

// The outer boundary's closing line as the message writes it.
std::string closingBoundary(const std::string& wire) {
    const std::size_t at = wire.find("boundary=\"") + 10;
    return "--" + wire.substr(at, wire.find('"', at) - at) + "--";
}

} // namespace

TEST(MessageBuilder, ParseSenderSplitsNameAndAddress) {
    EXPECT_EQ(parseSender("  Ann Lee <ann@example.org>  "),
              (SenderParts{"Ann Lee", "ann@example.org"}));
    EXPECT_EQ(parseSender("ann@example.org"), (SenderParts{"", "ann@example.org"}));
    EXPECT_EQ(parseSender(""), (SenderParts{"", ""}));
    EXPECT_EQ(parseSender("Ann < ann@x > trailing"), (SenderParts{"Ann", "ann@x  trailing"}));
    EXPECT_EQ(parseSender("Ann <a@x<b@y>"), (SenderParts{"Ann", "a@x"}));
}

TEST(MessageBuilder, PlainMessageMatchesTheGoldenFile) {
    Builder b;
    expectGolden(b.write(sampleMessage(code(store::EditorFormat::PlainText))), "message_plain.txt");
}

TEST(MessageBuilder, HtmlMessageWithAttachmentsMatchesTheGoldenFile) {
    TempDir dir;
    writeFileBytes(dir.file("one.txt"), "A");
    writeFileBytes(dir.file("f45.bin"), fileOf(45));
    writeFileBytes(dir.file("Price List.PDF"), fileOf(46));
    writeFileBytes(dir.file("empty.txt"), "");
    writeFileBytes(dir.file("README"), fileOf(130));
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::Html));
    m.attachments = {dir.file("one.txt"), dir.file("f45.bin"), dir.file("Price List.PDF"),
                     dir.file("empty.txt"), dir.file("README")};
    Builder b;
    const std::string wire = b.write(m);
    expectGolden(wire, "message_html_attachments.txt");
    EXPECT_EQ(b.opened, m.attachments);

    const nlohmann::json p = parsed(wire);
    EXPECT_EQ(p["defects"].size(), 0u) << p.dump();
    ASSERT_EQ(p["parts"].size(), 7u);
    EXPECT_EQ(p["parts"][0]["contentType"], "text/plain");
    EXPECT_EQ(payloadOf(p["parts"][0]), "Dear customer,\r\n\r\nour spring offer.");
    EXPECT_EQ(p["parts"][1]["contentType"], "text/html");
    EXPECT_EQ(p["parts"][2]["filename"], "one.txt");
    EXPECT_EQ(payloadOf(p["parts"][2]), "A");
    EXPECT_EQ(payloadOf(p["parts"][3]), fileOf(45));
    EXPECT_EQ(p["parts"][4]["filename"], "Price List.PDF");
    EXPECT_EQ(p["parts"][4]["contentType"], "application/pdf");
    EXPECT_EQ(payloadOf(p["parts"][4]), fileOf(46));
    // An empty file is attached as it is: the recipient gets what was chosen.
    EXPECT_EQ(p["parts"][5]["filename"], "empty.txt");
    EXPECT_EQ(payloadOf(p["parts"][5]), "");
    EXPECT_EQ(p["parts"][6]["contentType"], "application/octet-stream");
    EXPECT_EQ(payloadOf(p["parts"][6]), fileOf(130));
    EXPECT_EQ(p["dateUtc"], "2026-12-07T06:05:09+00:00");
}

TEST(MessageBuilder, LargeAttachmentsStreamInSixtyCharacterLines) {
    TempDir dir;
    std::string big;
    for (int i = 0; i < 200000; ++i) {
        big.push_back(static_cast<char>(i * 7 % 256));
    }
    writeFileBytes(dir.file("big.bin"), big);
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.attachments = {dir.file("big.bin")};
    Builder b;
    const std::string wire = b.write(m);
    const std::size_t start = wire.find("\r\n\r\n", wire.find("big.bin")) + 4;
    const std::size_t end = wire.find("\r\n" + closingBoundary(wire));
    std::string joined;
    for (std::size_t at = start; at < end;) {
        const std::size_t eol = wire.find("\r\n", at);
        const std::size_t length = eol - at;
        EXPECT_TRUE(length == 60 || eol == end) << length;
        joined += wire.substr(at, length);
        at = eol + 2;
    }
    EXPECT_EQ(joined, base64String(big));
}

TEST(MessageBuilder, StuffsDotsAndSendsOnlyCrLfLineBreaks) {
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.body = ".\nline one\r..two\r\n.three\n\nend\r";
    Builder b;
    const std::string wire = b.write(m);
    EXPECT_NE(wire.find("\r\n..\r\nline one\r\n...two\r\n..three\r\n\r\nend\r\n\r\n"),
              std::string::npos)
        << wire;
    // No bare CR or LF anywhere, and the only lone "." line is the last.
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\r') {
            ASSERT_EQ(wire[i + 1], '\n') << i;
        } else if (wire[i] == '\n') {
            ASSERT_EQ(wire[i - 1], '\r') << i;
        }
    }
    EXPECT_EQ(wire.find("\r\n.\r\n"), wire.size() - 5);
    const nlohmann::json p = parsed(wire);
    EXPECT_EQ(payloadOf(p["parts"][0]), ".\r\nline one\r\n..two\r\n.three\r\n\r\nend\r\n");
}

TEST(MessageBuilder, DateHeaderIsRfc5322WithTheLocalOffset) {
    EXPECT_EQ(rfc5322Date(fixedTime()), "Mon, 07 Dec 2026 07:05:09 +0100");
    store::LocalDateTime west = fixedTime();
    west.weekday = 0;
    west.month = 1;
    west.day = 4;
    west.utcOffsetMinutes = -(3 * 60 + 30);
    EXPECT_EQ(rfc5322Date(west), "Sun, 04 Jan 2026 07:05:09 -0330");
}

TEST(MessageBuilder, NonAsciiOrLongTextGoesOutQuotedPrintableAndEncodedWords) {
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.senderName = "Zoë Müller";
    m.subject = "Grüße aus Zürich – " + std::string(60, 'x') + " ünd mehr";
    const std::string longLine(1200, 'y');
    m.body = "Straße\n" + longLine + "\n--=_M\n-- \nTab at end\t";
    Builder b;
    const std::string wire = b.write(m);
    EXPECT_NE(wire.find("Content-Type: text/plain; charset=utf-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n"),
              std::string::npos);
    std::size_t at = 0;
    while (at < wire.size()) {
        const std::size_t eol = wire.find("\r\n", at);
        EXPECT_LE(eol - at, 998u);
        at = eol + 2;
    }
    for (char c : wire.substr(0, wire.find("\r\n\r\n"))) {
        EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "raw 8-bit byte in the headers";
    }
    // The body cannot produce a boundary of its own.
    const std::string body = wire.substr(wire.find("\r\n\r\n", wire.find("quoted-printable")));
    EXPECT_EQ(body.find(kBoundaryMark), body.rfind("\r\n" + closingBoundary(wire)) + 4);

    const nlohmann::json p = parsed(wire);
    EXPECT_EQ(p["defects"].size(), 0u) << p.dump();
    EXPECT_EQ(p["headers"]["Subject"], m.subject);
    EXPECT_EQ(p["from"][0]["name"], "Zoë Müller");
    EXPECT_EQ(p["from"][0]["address"], "ann@example.org");
    ASSERT_EQ(p["parts"].size(), 1u);
    EXPECT_EQ(p["parts"][0]["charset"], "utf-8");
    EXPECT_EQ(payloadOf(p["parts"][0]),
              "Straße\r\n" + longLine + "\r\n--=_M\r\n-- \r\nTab at end\t");
}

TEST(MessageBuilder, PureAsciiBodyKeepsUsAsciiAndSevenBit) {
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.body = std::string(998, 'z');
    Builder b;
    const std::string wire = b.write(m);
    EXPECT_NE(wire.find("charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + m.body +
                        "\r\n" + closingBoundary(wire) + "\r\n.\r\n"),
              std::string::npos);
}

TEST(MessageBuilder, HeaderValuesCannotInjectHeaders) {
    TempDir dir;
    const std::string name = "evil\r\nBcc: x.txt";
    writeFileBytes(dir.file(name), "data");
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.recipient = "bob@example.net\r\nBcc: eve@evil.example";
    m.senderName = std::string("Ann\nX-Injected: 1\0", 18);
    m.senderAddress = "ann@example.org\rCc: eve@evil.example";
    m.subject = "Hi\r\n\r\nfake body \x1B[2J\x07\x7F\xC2\x9B!";
    m.attachments = {dir.file(name)};
    Builder b;
    const std::string wire = b.write(m);
    EXPECT_EQ(wire.find("\r\nBcc:"), std::string::npos);
    EXPECT_EQ(wire.find("\r\nCc:"), std::string::npos);
    EXPECT_EQ(wire.find("\r\nX-Injected"), std::string::npos);
    EXPECT_EQ(wire.find('\0'), std::string::npos);
    EXPECT_NE(wire.find("To: bob@example.net  Bcc: eve@evil.example\r\n"), std::string::npos);
    EXPECT_NE(wire.find("Subject: Hi    fake body  [2J   !\r\n"), std::string::npos);
    for (const char control : {'\x1B', '\x07', '\x7F'}) {
        EXPECT_EQ(wire.find(control), std::string::npos) << int(control);
    }
    EXPECT_NE(wire.find("filename=\"evil  Bcc: x.txt\""), std::string::npos);
    const nlohmann::json p = parsed(wire);
    EXPECT_EQ(p["headers"].size(), 9u) << p.dump();
}

TEST(MessageBuilder, SenderNamesAreQuotedWhereNeededAndEmptyNamesKeepTheirForm) {
    Builder b;
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.senderName = "Lee, Ann \"Sales\"";
    std::string wire = b.write(m);
    EXPECT_NE(wire.find("From: \"Lee, Ann \\\"Sales\\\"\" <ann@example.org>\r\n"),
              std::string::npos)
        << wire;
    EXPECT_EQ(parsed(wire)["from"][0]["name"], "Lee, Ann \"Sales\"");

    m.senderName = "";
    EXPECT_NE(b.write(m).find("From: <ann@example.org>\r\nReply-To: ann@example.org\r\n"),
              std::string::npos);
    m.senderAddress = "";
    EXPECT_NE(b.write(m).find("From: <>\r\nReply-To: \r\n"), std::string::npos);
}

TEST(MessageBuilder, NonAsciiAttachmentNamesUseRfc2231) {
    TempDir dir;
    writeFileBytes(dir.file("Preisübersicht.pdf"), "%PDF");
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.attachments = {dir.file("Preisübersicht.pdf")};
    Builder b;
    const nlohmann::json p = parsed(b.write(m));
    ASSERT_EQ(p["parts"].size(), 2u);
    EXPECT_EQ(p["parts"][1]["filename"], "Preisübersicht.pdf");
    EXPECT_EQ(p["parts"][1]["contentType"], "application/pdf");
}

TEST(MessageBuilder, TextAttachmentsInUtf8DeclareTheirCharset) {
    // A character across the 64 KiB blocks the file is checked in.
    const std::string across = std::string(65535, 'a') + "\xC3\xBC tail";
    const struct {
        const char* name;
        std::string bytes;
        const char* charset; // nullptr: none
    } cases[] = {
        {"utf8.txt",
         "Gr\xC3\xBC\xC3\x9F"
         "e\n",
         "utf-8"},
        {"latin1.txt",
         "Gr\xFC\xDF"
         "e\n",
         nullptr},
        {"across.txt", across, "utf-8"},
        {"cut.txt", "abc\xC3", nullptr},
        {"utf8.pdf",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         nullptr},
    };
    TempDir dir;
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    for (const auto& c : cases) {
        writeFileBytes(dir.file(c.name), c.bytes);
        m.attachments.push_back(dir.file(c.name));
    }
    Builder b;
    const nlohmann::json p = parsed(b.write(m));
    EXPECT_EQ(p["defects"].size(), 0u) << p.dump();
    ASSERT_EQ(p["parts"].size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const nlohmann::json& part = p["parts"][i + 1];
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(part["charset"],
                  cases[i].charset ? nlohmann::json(cases[i].charset) : nlohmann::json());
        EXPECT_EQ(payloadOf(part), cases[i].bytes);
    }
}

TEST(MessageBuilder, AttachmentExtensions) {
    EXPECT_EQ(attachmentExtension("/home/ann/offer.tar.GZ"), "GZ");
    EXPECT_EQ(attachmentExtension("/home/ann.d/README"), "");
    EXPECT_EQ(attachmentExtension("noext"), "");
}

TEST(ContentTypes, LooksUpExtensionsFromAMimeTypesFile) {
    const MimeTypesFile types(dataPath("delivery/test_mime.types"));
    EXPECT_TRUE(types.loaded());
    EXPECT_EQ(types.contentTypeForExtension("pdf"), "application/pdf");
    EXPECT_EQ(types.contentTypeForExtension("PDF"), "application/pdf");
    EXPECT_EQ(types.contentTypeForExtension("text"), "text/plain");
    EXPECT_EQ(types.contentTypeForExtension(""), "application/octet-stream");
    EXPECT_EQ(types.contentTypeForExtension("types"), "application/octet-stream");
    const MimeTypesFile missing("/nonexistent/mime.types");
    EXPECT_FALSE(missing.loaded());
    EXPECT_EQ(missing.contentTypeForExtension("pdf"), "application/octet-stream");
    const MimeTypesFile system;
    if (system.loaded()) {
        EXPECT_EQ(system.contentTypeForExtension("pdf"), "application/pdf");
    }
}

namespace {

std::vector<std::string> headerLines(const std::string& wire) {
    std::vector<std::string> lines;
    const std::string head = wire.substr(0, wire.find("\r\n\r\n") + 2);
    for (std::size_t at = 0; at < head.size();) {
        const std::size_t eol = head.find("\r\n", at);
        lines.push_back(head.substr(at, eol - at));
        at = eol + 2;
    }
    return lines;
}

// The longest blank-free run of a header line: a line may pass 78 only for it.
std::size_t longestToken(const std::string& line) {
    std::size_t longest = 0;
    std::size_t run = 0;
    for (char c : line) {
        run = c == ' ' ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

} // namespace

TEST(MessageBuilder, HeadersFoldAt78AndEncodedWordsStayWithin75) {
    const std::string longWord(1500, 'w');
    struct Case {
        std::string subject;
        std::string senderName;
    };
    const Case cases[] = {
        {"Spring offer", "Ann Lee"},
        {"A subject of many short words that goes on and on well past the width of one line, "
         "and then some more words so that it folds twice or even three times over",
         "Ann Lee of the Very Long Company Name Limited and Partners International Holdings"},
        {"Grüße aus Zürich: unser Frühlingsangebot für Sie und Ihre Familie, gültig bis Ende Mai "
         "2026, solange der Vorrat reicht",
         "Zoë Müller-Lüdenscheidt von der Großhandelsgesellschaft für Bürobedarf"},
        {"two  blanks   here and a " + longWord + " word", "Ann"},
        {"Ends with a long URL https://example.org/" + std::string(100, 'u'), ""},
    };
    for (const Case& c : cases) {
        OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
        m.subject = c.subject;
        m.senderName = c.senderName;
        Builder b;
        const std::string wire = b.write(m);
        for (const std::string& line : headerLines(wire)) {
            EXPECT_LE(line.size(), 998u) << line;
            if (line.size() > 78) {
                EXPECT_GT(longestToken(line) + 10, 78u) << "foldable: " << line;
            }
            for (std::size_t at = line.find("=?UTF-8?B?"); at != std::string::npos;
                 at = line.find("=?UTF-8?B?", at + 2)) {
                EXPECT_LE(line.find("?=", at + 10) + 2 - at, 75u) << line;
            }
            EXPECT_FALSE(line.empty() || line.find_first_not_of(' ') == std::string::npos);
        }
        const nlohmann::json p = parsed(wire);
        EXPECT_EQ(p["headers"]["Subject"], c.subject);
        // The parser keeps the fold between two encoded words of a name as a
        // blank; the words themselves must come back whole.
        std::string name = p["from"][0]["name"];
        for (std::size_t at = name.find("  "); at != std::string::npos; at = name.find("  ")) {
            name.erase(at, 1);
        }
        EXPECT_EQ(name, c.senderName);
        EXPECT_EQ(p["defects"].size(), 0u) << p.dump();
        EXPECT_EQ(p["headerDefects"].size(), 0u) << p.dump();
    }
}

TEST(MessageBuilder, MessageIdIsRandomAtTheSendersDomain) {
    const struct {
        const char* sender;
        const char* domain;
    } cases[] = {
        {"ann@example.org", "example.org"},
        {"ann@Mail.Example.ORG", "Mail.Example.ORG"},
        {"ann@exämple.org", "xn--exmple-cua.org"},
        {"ann", "localhost.localdomain"},
        {"", "localhost.localdomain"},
        {"ann@[192.0.2.1]", "localhost.localdomain"},
    };
    for (const auto& c : cases) {
        const std::string id = messageId(c.sender, testing_support::countingRandomBytes());
        EXPECT_EQ(id, "<000102030405060708090a0b0c0d0e0f@" + std::string(c.domain) + ">");
    }
    // The system's source: 128 random bits, a new value every message.
    const std::string first = messageId("a@example.org", {});
    const std::string second = messageId("a@example.org", {});
    EXPECT_EQ(first.size(), 1 + 32 + 1 + 11 + 1);
    EXPECT_NE(first, second);
    Builder b;
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    EXPECT_NE(b.write(m).substr(0, 120), b.write(m).substr(0, 120));
}

TEST(MessageBuilder, NonAsciiAttachmentNamesGoOutInBothForms) {
    TempDir dir;
    const std::string longName =
        "Prüfbericht für Jürgen Müller über das Frühjahr 2026 (endgültig).pdf";
    writeFileBytes(dir.file("Preisübersicht.pdf"), "%PDF");
    writeFileBytes(dir.file(longName), "xyz");
    writeFileBytes(dir.file("a=_b.txt"), "q");
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.attachments = {dir.file("Preisübersicht.pdf"), dir.file(longName), dir.file("a=_b.txt")};
    Builder b;
    const std::string wire = b.write(m);
    expectGolden(wire, "message_nonascii_names.txt");
    EXPECT_NE(wire.find("name=\"=?UTF-8?B?UHJlaXPDvGJlcnNpY2h0LnBkZg==?=\""), std::string::npos);
    EXPECT_NE(wire.find("filename*=UTF-8''Preis%C3%BCbersicht.pdf"), std::string::npos);
    for (std::size_t at = 0; at < wire.size();) {
        const std::size_t eol = wire.find("\r\n", at);
        EXPECT_LE(eol - at, 78u) << wire.substr(at, eol - at);
        at = eol + 2;
    }
    const nlohmann::json p = parsed(wire);
    EXPECT_EQ(p["defects"].size(), 0u) << p.dump();
    ASSERT_EQ(p["parts"].size(), 4u);
    EXPECT_EQ(p["parts"][1]["filename"], "Preisübersicht.pdf");
    EXPECT_EQ(p["parts"][1]["name"], "Preisübersicht.pdf");
    EXPECT_EQ(p["parts"][2]["filename"], longName);
    EXPECT_EQ(p["parts"][2]["name"], longName);
    EXPECT_EQ(p["parts"][3]["filename"], "a=_b.txt");
    // The RFC 2047 name is, as every reader that knows it expects it, an
    // encoded word in quotes: the only thing the parser remarks on.
    for (const auto& defect : p["headerDefects"]) {
        EXPECT_EQ(defect["header"], "Content-Type") << p.dump();
    }
}

TEST(MessageBuilder, HtmlWithoutTheAlternativeWhenSwitchedOff) {
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::Html));
    m.textAlternative = false;
    Builder b;
    const nlohmann::json p = parsed(b.write(m));
    ASSERT_EQ(p["parts"].size(), 1u);
    EXPECT_EQ(p["parts"][0]["contentType"], "text/html");
}

TEST(MessageBuilder, UnsubscribeHeadersFoldAndParse) {
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::Html));
    m.listUnsubscribe =
        "<https://example.org/unsubscribe?email=bob%40example.net&list=" + std::string(40, 'x') +
        ">, <mailto:ann@example.org?subject=unsubscribe>";
    m.oneClickUnsubscribe = true;
    Builder b;
    const std::string wire = b.write(m);
    EXPECT_NE(wire.find("\r\nList-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n"),
              std::string::npos);
    const nlohmann::json p = parsed(wire);
    EXPECT_EQ(p["headers"]["List-Unsubscribe"], m.listUnsubscribe);
    m.oneClickUnsubscribe = false;
    m.listUnsubscribe = "<mailto:ann@example.org?subject=unsubscribe>";
    const std::string plain = b.write(m);
    EXPECT_NE(plain.find("\r\nList-Unsubscribe: <mailto:ann@example.org?subject=unsubscribe>\r\n"),
              std::string::npos);
    EXPECT_EQ(plain.find("List-Unsubscribe-Post"), std::string::npos);
}

TEST(MessageBuilder, AnAttachmentGoneWhileWritingLeavesTheMessageUnfinished) {
    TempDir dir;
    writeFileBytes(dir.file("one.txt"), "A");
    OutgoingMessage m = sampleMessage(code(store::EditorFormat::PlainText));
    m.attachments = {dir.file("one.txt"), dir.file("gone.txt")};
    Builder b;
    StringSink sink;
    EXPECT_FALSE(writeMessage(m, b.environment, sink));
    EXPECT_EQ(b.failures, (std::vector<std::string>{"Attachment \"" + dir.file("gone.txt") +
                                                    "\" cannot be read - No such file or "
                                                    "directory."}));
    // No closing boundary and no end-of-data line: the server never takes it.
    EXPECT_EQ(sink.bytes.find(closingBoundary(sink.bytes)), std::string::npos);
    EXPECT_NE(sink.bytes.substr(sink.bytes.size() - 5), "\r\n.\r\n");
}

// A connection reuses the encoded text of the message before; a message
// whose text differs must never go out with the text of another.
TEST(MessageBuilder, ReusedTextPartsNeverCarryAnotherMessagesText) {
    const std::int32_t html = code(store::EditorFormat::Html);
    const std::int32_t plain = code(store::EditorFormat::PlainText);
    std::vector<OutgoingMessage> messages;
    for (const auto& [format, body] : std::vector<std::pair<std::int32_t, std::string>>{
             {html, "<p>Dear Ann, our <b>offer</b>.</p>"},
             {html, "<p>Dear Ann, our <b>offer</b>.</p>"},
             {html, "<p>Dear Bob, our <b>offer</b>.</p>"},
             {plain, "Dear Bob, our offer."},
             {plain, "Dear Bob, our offer. Grüße"},
             {html, "<p>Dear Ann, our <b>offer</b>.</p>"}}) {
        OutgoingMessage m = sampleMessage(format);
        m.body = body;
        messages.push_back(m);
    }
    Builder fresh;
    Builder reusing;
    TextPartMemo memo;
    reusing.environment.memo = &memo;
    for (const OutgoingMessage& m : messages) {
        EXPECT_EQ(reusing.write(m), fresh.write(m)) << m.body;
    }
}

TEST(MessageBuilder, AttachmentsAreCheckedBeforeSending) {
    TempDir dir;
    writeFileBytes(dir.file("ok.txt"), "fine");
    writeFileBytes(dir.file("empty.txt"), "");
    const auto text = [](const std::string& path, const char* reason) {
        return "Attachment \"" + path + "\" cannot be read - " + reason + ". Nothing was sent.";
    };
    EXPECT_EQ(checkAttachments({}), std::nullopt);
    EXPECT_EQ(checkAttachments({dir.file("ok.txt"), dir.file("empty.txt")}), std::nullopt);
    EXPECT_EQ(checkAttachments({dir.file("ok.txt"), dir.file("gone.pdf")}),
              text(dir.file("gone.pdf"), "No such file or directory"));
    EXPECT_EQ(checkAttachments({dir.path()}), text(dir.path(), "Is a directory"));
    if (::geteuid() != 0) { // root reads every file
        writeFileBytes(dir.file("locked.txt"), "secret");
        ::chmod(dir.file("locked.txt").c_str(), 0);
        EXPECT_EQ(checkAttachments({dir.file("locked.txt")}),
                  text(dir.file("locked.txt"), "Permission denied"));
    }
}

TEST(MessageBuilder, GoldenMessagesParseWithoutDefects) {
    for (const char* name : {"message_plain.txt", "message_html_attachments.txt",
                             "message_nonascii_names.txt", "message_merge_fields.txt"}) {
        const nlohmann::json p = parsed(readFileBytes(dataPath("delivery/" + std::string(name))));
        EXPECT_EQ(p["defects"].size(), 0u) << name << p.dump();
        EXPECT_EQ(p["headers"]["Message-ID"].get<std::string>().size(), 46u) << name;
        for (const auto& defect : p["headerDefects"]) {
            // Only the RFC 2047 form of a non-ASCII attachment name.
            EXPECT_EQ(defect["header"], "Content-Type") << name << p.dump();
        }
    }
}

} // namespace velmora::delivery
