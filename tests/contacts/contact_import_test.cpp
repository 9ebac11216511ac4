#include "contacts/contact_export.h"
#include "contacts/contact_import.h"
#include "contacts/mailtray.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora::contacts {

using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

constexpr const char* kToday = "12/07/2026";

store::Session freshSession() {
    store::Session s;
    s.resetToNew();
    s.markSaved();
    return s;
}

ImportResult importBytes(store::Session& session, std::string_view bytes,
                         ImportOptions options = {}, std::string_view name = "in.csv") {
    TempDir dir;
    const std::string path = dir.file(name);
    writeFileBytes(path, bytes);
    return importContactsFile(session, path, options, kToday);
}

// "email|name" of each contact, in slot order.
std::vector<std::string> contactsOf(const store::Session& s) {
    std::vector<std::string> out;
    for (const store::Contact& c : s.contacts()) {
        out.push_back(c.email.str() + "|" + c.name.str());
    }
    return out;
}

std::string utf16le(std::string_view ascii, bool bom) {
    std::string out = bom ? std::string("\xFF\xFE") : std::string();
    for (const char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

std::string utf16be(std::string_view ascii) {
    std::string out("\xFE\xFF");
    for (const char c : ascii) {
        out.push_back('\0');
        out.push_back(c);
    }
    return out;
}

} // namespace

// Files as spreadsheets, CRMs and hostile hands write them.
TEST(ImportContactsFile, ReadsHostileAndRealWorldFiles) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string encoding;
        char delimiter;
        std::vector<std::string> contacts;
        std::int64_t refused = 0;
        std::vector<std::string> ignored = {};
        std::vector<std::string> notes = {}; // the report's lines after the counts
    };
    const std::vector<Case> cases = {
        {"UTF-8 byte order mark glued to the first heading",
         "\xEF\xBB\xBF"
         "Email,Name\r\na@x.org,Ann\r\n",
         "UTF-8 with byte order mark",
         ',',
         {"a@x.org|Ann"}},
        {"semicolons, quoted field with a line break and doubled quotes",
         "E-Mail;Full Name;Notes\na@x.org;\"Lee; Ann\";\"one\ntwo \"\"q\"\"\"\n",
         "UTF-8",
         ';',
         {"a@x.org|Lee; Ann"}},
        {"tabs and CR line ends",
         "email\tname\ra@x.org\tAnn\rb@x.org\tBob\r",
         "UTF-8",
         '\t',
         {"a@x.org|Ann", "b@x.org|Bob"}},
        {"UTF-16LE with a byte order mark",
         utf16le("Email,Name\r\na@x.org,Ann\r\n", true),
         "UTF-16LE with byte order mark",
         ',',
         {"a@x.org|Ann"}},
        {"UTF-16BE with a byte order mark",
         utf16be("Email;Name\nb@x.org;Bob\n"),
         "UTF-16BE with byte order mark",
         ';',
         {"b@x.org|Bob"}},
        {"Windows-1252 without a mark",
         "Email,Name\na@x.org,Ren\xE9 \x80\n",
         "Windows-1252",
         ',',
         {"a@x.org|Ren\xC3\xA9 \xE2\x82\xAC"}},
        {"ragged rows: short ones padded, long ones cut and said so",
         "Email,Name,Company\na@x.org\nb@x.org,Bob,B Ltd,extra,more\nc@x.org,Cy,C,,\n",
         "UTF-8",
         ',',
         {"a@x.org|", "b@x.org|Bob", "c@x.org|Cy"},
         0,
         {},
         {"Line 3: b@x.org: the row has 5 cells, the header 3; the extra cells were dropped"}},
        {"UTF-16LE without a byte order mark",
         utf16le("Email;Name\r\na@x.org;Ann\r\n", false),
         "UTF-16LE",
         ';',
         {"a@x.org|Ann"}},
        {"UTF-16BE without a byte order mark",
         utf16be("Email\tName\nb@x.org\tBob\n").substr(2),
         "UTF-16BE",
         '\t',
         {"b@x.org|Bob"}},
        {"a sep= first line names the delimiter; line numbers count it",
         "sep=|\r\nEmail|Name\r\na@x.org|Lee, Ann\r\nbad|x\r\n",
         "UTF-8",
         '|',
         {"a@x.org|Lee, Ann"},
         1,
         {},
         {"Line 4: refused bad: \"bad\" is not an address of the form local@domain"}},
        {"a header only", "Email,Name\r\n", "UTF-8", ',', {}},
        {"a repeated heading: the first column counts, the report says so",
         "Email,Email,Name\na@x.org,b@x.org,Ann\n",
         "UTF-8",
         ',',
         {"a@x.org|Ann"},
         0,
         {"Email"},
         {"Column 2 \"Email\" repeats an earlier heading; it was ignored."}},
        {"several address columns: a contact per valid address, a bad first one replaced",
         "E-mail,Mail,Name\n/o=Org/cn=Ann,ann@x.org ::: a2@x.org,Ann\nb@x.org,B@X.ORG,Bob\n",
         "UTF-8",
         ',',
         {"ann@x.org|Ann", "a2@x.org|Ann", "b@x.org|Bob"},
         0,
         {},
         {"Line 2: ann@x.org: \"/o=Org/cn=Ann\" is not an address of the form local@domain; "
          "the row's address ann@x.org was used instead"}},
        {"spreadsheet export with trailing empty columns and rows",
         "Email,First Name,Last Name,,\r\na@x.org,Ann,Lee,,\r\n,,,,\r\n,,,,\r\n",
         "UTF-8",
         ',',
         {"a@x.org|Ann Lee"},
         0,
         {"column 4", "column 5"}},
        {"blank lines and an unterminated last line",
         "\n\nEmail\n\na@x.org\n\n\nb@x.org",
         "UTF-8",
         ',',
         {"a@x.org|", "b@x.org|"}},
        {"a quote left open to the end of the file",
         "Email,Notes\na@x.org,ok\nb@x.org,\"open\n",
         "UTF-8",
         ',',
         {"a@x.org|"},
         1,
         {},
         {"Line 3: a quoted field is not closed; this line was not imported"}},
        {"a quote never closed costs its own line only",
         "Email,Name\r\nc@x.org,\"multi\r\nline\"\r\na@x.org,\"Ann\r\nb@x.org,Bob\r\n",
         "UTF-8",
         ',',
         {"c@x.org|multi\r\nline", "b@x.org|Bob"},
         1,
         {},
         {"Line 4: a quoted field is not closed; this line was not imported"}},
        {"a stray quote closed by a later one: the lines between are reported, later rows read",
         "Email,Name,Notes\na@x.org,Ann,ok\nb@x.org,Bob,\"open note\nc@x.org,Cy,fine\n"
         "e@x.org,Ed,5\" tall\nd@x.org,Di,\"two\nlines\"\nf@x.org,Flo,after\n",
         "UTF-8",
         ',',
         {"a@x.org|Ann", "d@x.org|Di", "f@x.org|Flo"},
         3,
         {},
         {"Lines 3 to 5: a quoted field is not closed; these lines were not imported"}},
        {"invalid addresses are refused; a row of one empty quoted cell is blank",
         "Email\nplain\n@x.org\na@\na b@x.org\na@x..org\n\"\"\n",
         "UTF-8",
         ',',
         {},
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store::Session s = freshSession();
        const ImportResult result = importBytes(s, c.bytes);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.report.encoding, c.encoding);
        EXPECT_EQ(result.report.delimiter, c.delimiter);
        EXPECT_EQ(contactsOf(s), c.contacts);
        EXPECT_EQ(result.report.added, static_cast<std::int64_t>(c.contacts.size()));
        EXPECT_EQ(result.report.refused, c.refused);
        EXPECT_EQ(result.report.ignoredColumns, c.ignored);
        const std::string text = importReportText(result.report);
        for (const std::string& note : c.notes) {
            EXPECT_NE(text.find("\n" + note + "\n"), std::string::npos) << text;
        }
    }
}

TEST(ImportContactsFile, RefusesUnusableFilesWithAClearMessage) {
    TempDir dir;
    store::Session s = freshSession();
    ImportResult r = importContactsFile(s, dir.file("missing.csv"), {}, kToday);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("Cannot read \"" + dir.file("missing.csv") + "\""), std::string::npos);
    r = importContactsFile(s, dir.path(), {}, kToday);
    EXPECT_EQ(r.error, "\"" + dir.path() + "\" is not a regular file.");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    r = importContactsFile(s, dir.file("fifo"), {}, kToday);
    EXPECT_EQ(r.error, "\"" + dir.file("fifo") + "\" is not a regular file.");
    r = importBytes(s, "");
    EXPECT_EQ(r.error, "The file holds no header row.");
    r = importBytes(s, "Name,Company\nAnn,ACME\n");
    EXPECT_EQ(r.error, "No column holds the e-mail addresses; map one to the field \"email\".");
    EXPECT_EQ(s.contactCount(), 0);
    EXPECT_FALSE(s.hasUnsavedChanges());
}

TEST(ColumnMapping, MatchesHeadingsIgnoringCaseBlanksAndPunctuation) {
    const std::vector<std::string> header{"\xEF\xBB\xBF"
                                          "E-MAIL",
                                          " full name ",
                                          "Organisation",
                                          "Phone",
                                          "Notes",
                                          "GROUP",
                                          "status",
                                          "Tag",
                                          "Birthday",
                                          "First Name",
                                          "Postal Address",
                                          "Note",
                                          "Mail",
                                          "Zip Code"};
    const std::vector<ContactField> expected{
        ContactField::Email,     ContactField::Name,      ContactField::Company,
        ContactField::Telephone, ContactField::Notes,     ContactField::Group,
        ContactField::Status,    ContactField::Tag,       ContactField::Ignore,
        ContactField::FirstName, ContactField::Address,   ContactField::Notes,
        ContactField::Email,     ContactField::PostalCode};
    const std::vector<ContactField> mapping = automaticMapping(header);
    EXPECT_EQ(mapping, expected);
    // A second notes column gives way; every address column counts, and a
    // first name stays for rows whose whole-name cell is empty.
    const std::vector<ContactField> used = effectiveMapping(mapping);
    EXPECT_EQ(ignoredColumnLabels(header, used), (std::vector<std::string>{"Birthday", "Note"}));
    EXPECT_EQ(knownLayoutOf(header), KnownLayout::None);
}

TEST(ColumnMapping, OverridesNameAColumnByHeadingOrNumber) {
    const std::vector<std::string> header{"Correo", "Nombre", "Empresa"};
    std::vector<ContactField> mapping = automaticMapping(header);
    std::string error;
    ASSERT_TRUE(
        applyMapOverrides(header, {"correo=email", "2=name", "EMPRESA=Company"}, mapping, error))
        << error;
    EXPECT_EQ(mapping, (std::vector<ContactField>{ContactField::Email, ContactField::Name,
                                                  ContactField::Company}));
    ASSERT_TRUE(applyMapOverrides(header, {"Correo=ignore"}, mapping, error));
    EXPECT_EQ(mapping[0], ContactField::Ignore);

    const std::pair<const char*, const char*> failures[] = {
        {"Telefono=telephone", "The file has no column \"Telefono\"."},
        {"4=email", "The file has no column \"4\"."},
        {"Correo", "\"Correo\" is not of the form COLUMN=FIELD."},
    };
    for (const auto& [text, message] : failures) {
        EXPECT_FALSE(applyMapOverrides(header, {text}, mapping, error));
        EXPECT_EQ(error, message);
    }
    EXPECT_FALSE(applyMapOverrides(header, {"Correo=birthday"}, mapping, error));
    EXPECT_TRUE(error.starts_with("\"birthday\" is no contact field"));
}

TEST(AddressForm, NeedsLocalAtDomainWithoutBlanks) {
    for (const char* good : {"a@x.org", "a.b+c@sub.x.org", "root@localhost", "\xC3\xA9@x.org"}) {
        EXPECT_TRUE(hasAddressForm(good)) << good;
    }
    for (const char* bad : {"", "a", "@x.org", "a@", "a@@x.org", "a@b@x.org", "a b@x.org",
                            "a@x.org\t", "a@.x.org", "a@x.org.", "a@x..org", "a\n@x.org"}) {
        EXPECT_FALSE(hasAddressForm(bad)) << bad;
    }
}

TEST(ContactImporter, AddsByTheRulesOfAddContact) {
    store::Session s = freshSession();
    store::NewContact known;
    known.email = "known@x.org";
    s.createContact(known, "01/01/2020");
    store::NewContact gone;
    gone.email = "gone@x.org";
    s.deleteContact(s.createContact(gone, "01/01/2020"));
    s.addCampaignGroup(-1, "Partners", "");

    const std::string csv = "Email,Name,Group,Status,Tag,Notes\n"
                            "  new@x.org  , Ann ,,,,  first\n"
                            "KNOWN@x.org ,Bob,,,,\n"
                            "new@X.ORG,Ann again,,,,\n"
                            "gone@x.org,Back,partners,do not contact,STAR,\n"
                            "vip@x.org,,VIP,prospects,,\n"
                            "odd@x.org,,,gold,,\n"
                            "odd2@x.org,,,,shiny,\n";
    ImportOptions options;
    options.settings.groupIndex = 1;
    options.settings.status = code(store::ContactStatus::Customers);
    const ImportResult r = importBytes(s, csv, options);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.report.added, 3);
    EXPECT_EQ(r.report.skipped, 2);
    EXPECT_EQ(r.report.refused, 2);
    EXPECT_EQ(r.report.newGroups, (std::vector<std::string>{"VIP"}));
    EXPECT_EQ(importReportText(r.report),
              "Added 3, updated 0, skipped 2 as duplicates, refused 2 as invalid.\n"
              "New campaign groups: VIP\n"
              "Line 3: skipped KNOWN@x.org: already known\n"
              "Line 4: skipped new@X.ORG: repeats an address of an earlier row\n"
              "Line 7: refused odd@x.org: unknown status \"gold\"\n"
              "Line 8: refused odd2@x.org: unknown tag \"shiny\"\n");

    const store::Contact& added = s.contact(3);
    EXPECT_EQ(added.email, "new@x.org");
    EXPECT_EQ(added.name, "Ann");
    EXPECT_EQ(added.notes, "first");
    EXPECT_EQ(added.dateAdded, kToday);
    EXPECT_EQ(added.lastContacted, "never");
    EXPECT_EQ(added.groupIndex, 1);
    EXPECT_EQ(added.status, code(store::ContactStatus::Customers));
    EXPECT_EQ(added.previousStatus, added.status);
    const store::Contact& back = s.contact(4);
    EXPECT_EQ(back.email, "gone@x.org");
    EXPECT_EQ(back.groupIndex, 2);
    EXPECT_EQ(back.status, code(store::ContactStatus::DoNotContact));
    EXPECT_EQ(back.tag, code(store::ContactTag::Star));
    EXPECT_EQ(s.contact(5).groupIndex, 3);
    EXPECT_EQ(s.group(3).name, "VIP");
    EXPECT_EQ(s.contact(5).status, code(store::ContactStatus::Prospects));
}

TEST(ContactImporter, ControlCharactersAreRefusedInAddressesAndEscapedInTheReport) {
    store::Session s = freshSession();
    const std::string csv = "Email,Name,Status,Ex\x1B]0;t\x07\n"
                            "bell\x07@x.org,Ann,,\n"
                            "ok@x.org,B\x1B[2Job,gold\x1B[31m,\n";
    const ImportResult r = importBytes(s, csv);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.report.added, 0);
    EXPECT_EQ(importReportText(r.report),
              "Added 0, updated 0, skipped 0 as duplicates, refused 2 as invalid.\n"
              "Ignored columns: Ex\\x1B]0;t\\x07\n"
              "Line 2: refused bell\\x07@x.org: the address holds a control character\n"
              "Line 3: refused ok@x.org: unknown status \"gold\\x1B[31m\"\n");
}

TEST(ContactImporter, UpdateChangesOnlyNonEmptyCells) {
    store::Session s = freshSession();
    store::NewContact known;
    known.email = "a@x.org";
    known.name = "Ann";
    known.company = "Old Ltd";
    known.notes = "keep";
    s.createContact(known, "01/01/2020");
    ImportOptions options;
    options.settings.update = true;
    const ImportResult r = importBytes(s,
                                       "Email,Name,Company,Notes,Status\n"
                                       "A@x.org,,New Ltd,,customers\n"
                                       "a@x.org,,New Ltd,,\n"
                                       "b@x.org,Bob,,,\n"
                                       "b@x.org,,B Ltd,,\n",
                                       options);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.report.added, 1);
    EXPECT_EQ(r.report.updated, 2);
    EXPECT_EQ(r.report.skipped, 1);
    EXPECT_EQ(r.report.rows.at(0).reason, "already known; nothing to change");
    const store::Contact& a = s.contact(1);
    EXPECT_EQ(a.name, "Ann");
    EXPECT_EQ(a.company, "New Ltd");
    EXPECT_EQ(a.notes, "keep");
    EXPECT_EQ(a.status, code(store::ContactStatus::Customers));
    EXPECT_EQ(a.previousStatus, code(store::ContactStatus::Subscribers));
    EXPECT_EQ(a.dateAdded, "01/01/2020");
    EXPECT_EQ(s.contact(2).name, "Bob");
    EXPECT_EQ(s.contact(2).company, "B Ltd");
}

TEST(ContactImporter, DryRunReportsTheSameAndChangesNothing) {
    const std::string csv = "Email,Group,Status\na@x.org,New,\nA@x.org,,\nb@x.org,new,\nbad,,\n";
    for (const bool update : {false, true}) {
        SCOPED_TRACE(update);
        store::Session real = freshSession();
        store::Session dry = freshSession();
        ImportOptions options;
        options.settings.update = update;
        const ImportResult done = importBytes(real, csv, options);
        options.settings.dryRun = true;
        const std::string before = encodeSession(dry);
        const ImportResult shown = importBytes(dry, csv, options);
        EXPECT_EQ(encodeSession(dry), before);
        EXPECT_FALSE(dry.hasUnsavedChanges());
        EXPECT_EQ(shown.report.added, done.report.added);
        EXPECT_EQ(shown.report.skipped + shown.report.updated,
                  done.report.skipped + done.report.updated);
        EXPECT_EQ(shown.report.refused, done.report.refused);
        EXPECT_EQ(shown.report.newGroups, done.report.newGroups);
        EXPECT_TRUE(shown.report.dryRun);
    }
}

TEST(ContactImporter, NoNewGroupsRefusesRowsNamingAnUnknownGroup) {
    store::Session s = freshSession();
    ImportOptions options;
    options.settings.noNewGroups = true;
    const ImportResult r =
        importBytes(s, "Email,Group\na@x.org,main (default)\nb@x.org,Elsewhere\n", options);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.report.added, 1);
    EXPECT_EQ(r.report.rows.at(0).reason, "no campaign group \"Elsewhere\"");
    EXPECT_EQ(s.groupCount(), 1);
}

TEST(ImportContactsFile, ACancelledImportChangesNothing) {
    store::Session s = freshSession();
    store::NewContact known;
    known.email = "a@x.org";
    s.createContact(known, "01/01/2020");
    s.markSaved();
    const std::string before = encodeSession(s);
    std::string csv = "Email,Name,Group\na@x.org,Changed,\n";
    for (int i = 0; i < 30000; ++i) {
        csv += "p" + std::to_string(i) + "@x.org,Person " + std::to_string(i) + ",Fresh\n";
    }
    TempDir dir;
    writeFileBytes(dir.file("big.csv"), csv);
    ImportOptions options;
    options.settings.update = true;
    int calls = 0;
    const ImportResult r = importContactsFile(s, dir.file("big.csv"), options, kToday,
                                              [&calls](std::uint64_t done, std::uint64_t total) {
                                                  ++calls;
                                                  EXPECT_LE(done, total);
                                                  return false;
                                              });
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.report.cancelled);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(encodeSession(s), before);
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_FALSE(s.emailExists("p1@x.org"));
    EXPECT_TRUE(s.emailExists("a@x.org"));
    EXPECT_EQ(importReportText(r.report), "Import cancelled; nothing was changed.\n");
}

TEST(ImportContactsFile, ExportThenImportGivesTheSameContactsHistoryIncluded) {
    store::Session source = freshSession();
    source.addCampaignGroup(-1, "Partners, \"Gold\"", "");
    const std::vector<std::string> emails{"ann@x.org", "-bob@y.example", "zo\xC3\xAB@z.org"};
    const std::int32_t statuses[] = {0, 1, -1};
    const std::int32_t tags[] = {0, 4, 2};
    // Cells a spreadsheet would run, and ones that only look guarded.
    const std::vector<std::string> names{"=HYPERLINK(\"http://x.test\")", "'=already quoted",
                                         "'Tis \"quoted\", named"};
    for (std::size_t i = 0; i < emails.size(); ++i) {
        store::NewContact c;
        c.email = emails[i];
        c.name = names[i];
        c.address = "1 Street\r\nTown; Region\nCountry";
        c.telephone = "+1 (555) 0100-" + std::to_string(i);
        c.company = "@SUM(A1) \xE2\x82\xAC";
        c.notes = "\tline one\r\nline two \"q\",;";
        c.groupIndex = static_cast<std::int32_t>(i % 2) + 1;
        c.status = statuses[i];
        const std::int32_t slot = source.createContact(c, "03/07/2011");
        const std::int32_t tag = tags[i];
        source.modifyContact(slot, [tag](store::Contact& r) { r.tag = tag; });
        for (std::size_t times = 0; times < i; ++times) {
            source.markContacted(slot, "02/29/2024");
        }
    }
    TempDir dir;
    for (const bool bom : {false, true}) {
        SCOPED_TRACE(bom);
        const ExportResult written = exportContactsCsv(source, {}, dir.file("out.csv"), bom);
        ASSERT_TRUE(written.ok) << written.error;
        const std::string bytes = readFileBytes(dir.file("out.csv"));
        EXPECT_EQ(bytes.starts_with("\xEF\xBB\xBF"), bom);
        EXPECT_NE(bytes.find(",\"'=HYPERLINK("), std::string::npos);
        EXPECT_NE(bytes.find(",''=already quoted,"), std::string::npos);
        EXPECT_NE(bytes.find("\n'-bob@y.example,"), std::string::npos);

        store::Session copy = freshSession();
        const ImportResult read = importContactsFile(copy, dir.file("out.csv"), {}, kToday);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.report.added, 3);
        EXPECT_EQ(read.report.rows.size(), 0U) << importReportText(read.report);
        EXPECT_TRUE(read.report.ignoredColumns.empty());
        ASSERT_EQ(copy.contactCount(), source.contactCount());
        for (std::int32_t slot = 1; slot <= source.contactCount(); ++slot) {
            store::Contact a = source.contact(slot);
            store::Contact b = copy.contact(slot);
            EXPECT_EQ(copy.group(b.groupIndex).name, source.group(a.groupIndex).name);
            // Group slots and ids may differ; the earlier status is no column.
            a.groupIndex = b.groupIndex;
            a.id = b.id;
            a.previousStatus = b.previousStatus;
            EXPECT_EQ(b, a) << a.email.str();
        }
    }

    // Without the guard the cells go out, and come in, as they are.
    ASSERT_TRUE(exportContactsCsv(source, {}, dir.file("raw.csv"), false, false).ok);
    const std::string raw = readFileBytes(dir.file("raw.csv"));
    EXPECT_NE(raw.find(",\"=HYPERLINK("), std::string::npos);
    EXPECT_NE(raw.find(",'=already quoted,"), std::string::npos);
    store::Session kept = freshSession();
    ImportOptions asIs;
    asIs.formulaGuard = false;
    ASSERT_TRUE(importContactsFile(kept, dir.file("out.csv"), asIs, kToday).ok);
    EXPECT_EQ(kept.contact(1).name, "'=HYPERLINK(\"http://x.test\")");
    EXPECT_EQ(kept.contact(2).email, "'-bob@y.example");
}

TEST(ImportContactsFile, InvalidHistoryIsReportedAndTheContactStampedAsNew) {
    struct Case {
        const char* dateAdded;
        const char* lastContacted;
        const char* times;
        const char* note; // empty: kept as given
    };
    const Case cases[] = {
        {"02/29/2024", "never", "0", ""},
        {"12/31/1999", "01/02/2003", "7", ""},
        {"", "", "", ""},
        {"02/29/2023", "never", "0", "invalid date added \"02/29/2023\""},
        {"13/01/2020", "never", "0", "invalid date added \"13/01/2020\""},
        {"1/2/2020", "never", "0", "invalid date added \"1/2/2020\""},
        {"01/02/2020", "yesterday", "0", "invalid last contacted \"yesterday\""},
        {"01/02/2020", "never", "-1", "invalid times contacted \"-1\""},
        {"01/02/2020", "never", "3x", "invalid times contacted \"3x\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dateAdded) + " " + c.lastContacted + " " + c.times);
        store::Session s = freshSession();
        const ImportResult r =
            importBytes(s, std::string("Email,Date Added,Last Contacted,Times "
                                       "Contacted\na@x.org,") +
                               c.dateAdded + "," + c.lastContacted + "," + c.times + "\n");
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(s.contactCount(), 1);
        const store::Contact& added = s.contact(1);
        const bool stamped = *c.note != '\0' || *c.dateAdded == '\0';
        EXPECT_EQ(added.dateAdded, stamped ? kToday : c.dateAdded);
        EXPECT_EQ(added.lastContacted, stamped ? "never" : c.lastContacted);
        EXPECT_EQ(added.timesContacted, stamped ? 0 : std::stoi(c.times));
        if (*c.note != '\0') {
            EXPECT_EQ(importReportText(r.report),
                      "Added 1, updated 0, skipped 0 as duplicates, refused 0 as invalid.\n"
                      "Line 2: a@x.org: " +
                          std::string(c.note) + "; the contact was stamped as new\n");
        } else {
            EXPECT_TRUE(r.report.rows.empty());
        }
    }
}

// Golden files: each address book's export as its documented header row
// describes it, in the encoding it writes. The expected file holds the
// report and the contacts as an export writes them.
TEST(ImportContactsFile, ReadsTheKnownAddressBookLayouts) {
    for (const std::string name :
         {"google_contacts.csv", "google_contacts_labels.csv", "outlook.csv", "thunderbird.csv",
          "linkedin_connections.csv", "sep_semicolon_cp1252.csv", "utf16le_no_mark.txt"}) {
        SCOPED_TRACE(name);
        store::Session s = freshSession();
        const ImportResult r = importContactsFile(s, dataPath("contacts/" + name), {}, kToday);
        ASSERT_TRUE(r.ok) << r.error;
        std::string actual = "Encoding: " + r.report.encoding +
                             ", delimiter: " + delimiterName(r.report.delimiter) + "\n" +
                             importReportText(r.report) + "\n";
        appendExportHeader(actual);
        for (const store::Contact& c : s.contacts()) {
            appendExportRow(actual, s, c, false);
        }
        const std::string goldenName = "contacts/" + name + ".expected.txt";
        if (actual != readFileBytes(dataPath(goldenName))) {
            writeFileBytes(name + ".expected.txt.actual", actual);
            ADD_FAILURE() << goldenName << " differs; the output is in " << name
                          << ".expected.txt.actual";
        }
    }
}

TEST(ExportRecords, WritesTheChosenList) {
    store::Session s = freshSession();
    s.addCampaignGroup(-1, "Two", "");
    for (const auto& [email, group, status] : std::vector<std::tuple<const char*, int, int>>{
             {"a@x.org", 1, 0}, {"b@x.org", 2, 2}, {"c@y.org", 2, 0}}) {
        store::NewContact c;
        c.email = email;
        c.groupIndex = group;
        c.status = status;
        s.createContact(c, kToday);
    }
    s.deleteContact(3);
    appendToMailtray(s, 2);
    auto emailsOf = [&s](const ExportChoice& choice) {
        std::vector<std::string> out;
        for (const store::Contact* c : exportRecords(s, choice)) {
            out.push_back(c->email.str());
        }
        return out;
    };
    ExportChoice choice;
    EXPECT_EQ(emailsOf(choice), (std::vector<std::string>{"a@x.org", "b@x.org"}));
    choice.tab = views::ViewTab::Customers;
    EXPECT_EQ(emailsOf(choice), (std::vector<std::string>{"b@x.org"}));
    choice = {};
    choice.source = ExportSource::Group;
    choice.group = 2;
    EXPECT_EQ(emailsOf(choice), (std::vector<std::string>{"b@x.org"}));
    choice = {};
    choice.source = ExportSource::Mailtray;
    EXPECT_EQ(emailsOf(choice), (std::vector<std::string>{"b@x.org"}));
    choice = {};
    choice.source = ExportSource::Filtered;
    choice.search = "a@";
    EXPECT_EQ(emailsOf(choice), (std::vector<std::string>{"a@x.org"}));

    std::string row;
    appendExportRow(row, s, s.contact(2));
    EXPECT_EQ(row, "b@x.org,,,,,,Two,Customers,,12/07/2026,never,0\r\n");
}

} // namespace velmora::contacts
