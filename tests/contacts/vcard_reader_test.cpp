#include "contacts/contact_import.h"
#include "contacts/vcard_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::contacts {

using testing_support::TempDir;
using testing_support::writeFileBytes;

TEST(ReadVCards, ReadsFoldedQuotedPrintableAndEscapedValues) {
    const std::string text =
        "BEGIN:VCARD\r\n"
        "VERSION:3.0\r\n"
        "FN:Ann\r\n"
        "  Lee\r\n"
        "N:Lee;Ann;;;\r\n"
        "ORG:ACME\\, Inc.;Sales\r\n"
        "item1.EMAIL;TYPE=INTERNET,WORK:ann@x.org\r\n"
        "EMAIL;TYPE=\"home:private\":ann@home.org\r\n"
        "TEL;TYPE=CELL:+1 555 0100\r\n"
        "TEL:+1 555 0199\r\n"
        "ADR;TYPE=WORK:;Suite 4;1 Main St;Springfield;IL;62701;USA\r\n"
        "NOTE:line one\\nline two\\; more\r\n"
        "END:VCARD\r\n"
        "\r\n"
        "BEGIN:VCARD\n"
        "VERSION:2.1\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=\n"
        "=C3=BCrgen\n"
        "EMAIL;INTERNET:jm@x.de\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=windows-1252:caf=E9=0D=0Anext\n"
        "END:VCARD\n"
        "begin:vcard\r"
        "version:4.0\r"
        "fn:Zo\xC3\xAB\r"
        "email;pref=1:mailto:zoe@x.org\r"
        "BEGIN:VCARD\r"
        "FN:Agent inside\r"
        "EMAIL:agent@x.org\r"
        "END:VCARD\r"
        "tel;value=uri:tel:+44-20\r";
    const std::vector<VCard> cards = readVCards(text);
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_EQ(cards[0].line, 1);
    EXPECT_EQ(cards[0].name, "Ann Lee");
    EXPECT_EQ(cards[0].company, "ACME, Inc., Sales");
    EXPECT_EQ(cards[0].emails, (std::vector<std::string>{"ann@x.org", "ann@home.org"}));
    EXPECT_EQ(cards[0].telephone, "+1 555 0100");
    EXPECT_EQ(cards[0].address, "Suite 4, 1 Main St\nSpringfield IL 62701\nUSA");
    EXPECT_EQ(cards[0].notes, "line one\nline two; more");
    EXPECT_EQ(cards[1].line, 15);
    EXPECT_EQ(cards[1].name, "J\xC3\xBCrgen M\xC3\xBCller");
    EXPECT_EQ(cards[1].emails, (std::vector<std::string>{"jm@x.de"}));
    EXPECT_EQ(cards[1].notes, "caf\xC3\xA9\r\nnext");
    EXPECT_EQ(cards[2].name, "Zo\xC3\xAB");
    EXPECT_EQ(cards[2].emails, (std::vector<std::string>{"zoe@x.org"}));
    EXPECT_EQ(cards[2].telephone, "+44-20");
}

TEST(ImportContactsFile, VCardsGiveOneContactPerAddressOrPerCard) {
    const std::string text = "BEGIN:VCARD\nFN:Ann\nEMAIL:a@x.org\nEMAIL:a2@x.org\nORG:ACME\nEND:"
                             "VCARD\nBEGIN:VCARD\nFN:No Mail\nEND:VCARD\n";
    TempDir dir;
    writeFileBytes(dir.file("cards.txt"), text);
    for (const bool first : {false, true}) {
        store::Session s;
        s.resetToNew();
        ImportOptions options;
        options.settings.firstEmailOnly = first;
        const ImportResult r = importContactsFile(s, dir.file("cards.txt"), options, "12/07/2026");
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.report.format, "vCard");
        EXPECT_EQ(r.report.added, first ? 1 : 2);
        EXPECT_EQ(s.contact(1).company, "ACME");
        EXPECT_EQ(s.contact(1).name, "Ann");
        ASSERT_EQ(r.report.rows.size(), 1u);
        EXPECT_EQ(r.report.rows[0].line, 7);
        EXPECT_EQ(r.report.rows[0].reason, "no e-mail address");
    }
}

} // namespace velmora::contacts
