#include "contacts/contact_export.h"
#include "contacts/contact_import.h"
#include "contacts/mailtray.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora::contacts {

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
        {"ragged rows: short ones padded, long ones cut",
         "Email,Name,Company\na@x.org\nb@x.org,Bob,B Ltd,extra,more\n",
         "UTF-8",
         ',',
         {"a@x.org|", "b@x.org|Bob"}},
        {"a header only", "Email,Name\r\n", "UTF-8", ',', {}},
        {"duplicate columns: the first one counts",
         "Email,Email,Name\na@x.org,b@x.org,Ann\n",
         "UTF-8",
         ',',
         {"a@x.org|Ann"},
         0,
         {"Email"}},
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
         1},
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
                                          "Street",
                                          "First Name",
                                          "Postal Address",
                                          "Mail"};
    const std::vector<ContactField> expected{
        ContactField::Email,     ContactField::Name,    ContactField::Company,
        ContactField::Telephone, ContactField::Notes,   ContactField::Group,
        ContactField::Status,    ContactField::Tag,     ContactField::Ignore,
        ContactField::FirstName, ContactField::Address, ContactField::Email};
    const std::vector<ContactField> mapping = automaticMapping(header);
    EXPECT_EQ(mapping, expected);
    // The second address column and first name (beside a name column) give way.
    const std::vector<ContactField> used = effectiveMapping(mapping);
    EXPECT_EQ(used[11], ContactField::Ignore);
    EXPECT_EQ(used[9], ContactField::Ignore);
    EXPECT_EQ(ignoredColumnLabels(header, used),
              (std::vector<std::string>{"Street", "First Name", "Mail"}));
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

TEST(ImportContactsFile, ExportThenImportGivesTheSameContactsAndFields) {
    store::Session source = freshSession();
    source.addCampaignGroup(-1, "Partners, \"Gold\"", "");
    const std::vector<std::string> emails{"ann@x.org", "bob@y.example", "zo\xC3\xAB@z.org"};
    const std::int32_t statuses[] = {0, 1, -1};
    const std::int32_t tags[] = {0, 4, 2};
    for (std::size_t i = 0; i < emails.size(); ++i) {
        store::NewContact c;
        c.email = emails[i];
        c.name = "Name, \"quoted\" " + std::to_string(i);
        c.address = "1 Street\r\nTown; Region\nCountry";
        c.telephone = "+1 (555) 0100-" + std::to_string(i);
        c.company = "=SUM(A1) \xE2\x82\xAC";
        c.notes = "line one\ttab\r\nline two \"q\",;";
        c.groupIndex = static_cast<std::int32_t>(i % 2) + 1;
        c.status = statuses[i];
        const std::int32_t slot = source.createContact(c, "03/07/2011");
        const std::int32_t tag = tags[i];
        source.modifyContact(slot, [tag](store::Contact& r) { r.tag = tag; });
    }
    TempDir dir;
    for (const bool bom : {false, true}) {
        SCOPED_TRACE(bom);
        ExportChoice all;
        const ExportResult written = exportContactsCsv(source, all, dir.file("out.csv"), bom);
        ASSERT_TRUE(written.ok) << written.error;
        EXPECT_EQ(written.count, 3);
        EXPECT_EQ(readFileBytes(dir.file("out.csv")).starts_with("\xEF\xBB\xBF"), bom);

        store::Session copy = freshSession();
        const ImportResult read = importContactsFile(copy, dir.file("out.csv"), {}, kToday);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.report.added, 3);
        EXPECT_EQ(read.report.refused + read.report.skipped, 0);
        EXPECT_EQ(read.report.ignoredColumns,
                  (std::vector<std::string>{"Date Added", "Last Contacted", "Times Contacted"}));
        ASSERT_EQ(copy.contactCount(), source.contactCount());
        for (std::int32_t slot = 1; slot <= source.contactCount(); ++slot) {
            const store::Contact& a = source.contact(slot);
            const store::Contact& b = copy.contact(slot);
            EXPECT_EQ(b.email, a.email);
            EXPECT_EQ(b.name, a.name);
            EXPECT_EQ(b.address, a.address);
            EXPECT_EQ(b.telephone, a.telephone);
            EXPECT_EQ(b.company, a.company);
            EXPECT_EQ(b.notes, a.notes);
            EXPECT_EQ(copy.group(b.groupIndex).name, source.group(a.groupIndex).name);
            EXPECT_EQ(b.status, a.status);
            EXPECT_EQ(b.tag, a.tag);
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
