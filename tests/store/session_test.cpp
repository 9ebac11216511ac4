#include "store/clock.h"
#include "store/session.h"
#include "store/text.h"

#include <gtest/gtest.h>

namespace velmora::store {

namespace {

NewContact person(std::string email, std::int32_t group = 1, std::int32_t status = 0) {
    NewContact c;
    c.email = std::move(email);
    c.groupIndex = group;
    c.status = status;
    return c;
}

} // namespace

TEST(Session, NewSessionHasTheDefaultGroupAndSettings) {
    Session s;
    s.resetToNew();
    ASSERT_EQ(s.groupCount(), 1);
    EXPECT_EQ(s.group(1), (CampaignGroup{1, "Main (Default)", ""}));
    EXPECT_EQ(s.settings(), SessionSettings{});
    EXPECT_EQ(s.settings().clientParameters, "-compose \"to='%from%',bcc='%mailtray%'\"");
    EXPECT_EQ(s.sessionFileName, "<untitled>");
    EXPECT_FALSE(s.hasUnsavedChanges());
}

TEST(Session, CreateContactFillsTheRecord) {
    Session s;
    s.resetToNew();
    NewContact fields = person("  ann@example.org  ", 1, 2);
    fields.name = "Ann";
    const auto slot = s.createContact(fields, "12/07/2026");
    const Contact& c = s.contact(slot);
    EXPECT_EQ(c.id, 1);
    EXPECT_EQ(c.email, "ann@example.org");
    EXPECT_EQ(c.name, "Ann");
    EXPECT_EQ(c.dateAdded, "12/07/2026");
    EXPECT_EQ(c.lastContacted, "never");
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.previousStatus, 2);
    EXPECT_EQ(c.tag, 0);
    EXPECT_EQ(c.timesContacted, 0);
}

TEST(Session, EmailExistsIgnoresCaseAndSpacesButNotDeletedContacts) {
    Session s;
    s.resetToNew();
    s.createContact(person("Ann@Example.org"), "x");
    const auto bob = s.createContact(person("bob@example.org"), "x");
    EXPECT_TRUE(s.emailExists(" ann@EXAMPLE.org "));
    EXPECT_TRUE(s.emailExists("BOB@example.org"));
    EXPECT_FALSE(s.emailExists("ann@example.org.uk"));
    EXPECT_FALSE(s.emailExists("ann@example.org\t")); // only blanks are trimmed
    s.deleteContact(bob);
    EXPECT_FALSE(s.emailExists("bob@example.org"));
    EXPECT_EQ(s.contactCount(), 2);
    EXPECT_EQ(s.liveContactCount(), 1);
    // Changing an address through the session moves it in the index.
    s.modifyContact(1, [](Contact& c) { c.email = "new@example.org"; });
    EXPECT_FALSE(s.emailExists("ann@example.org"));
    EXPECT_TRUE(s.emailExists("NEW@example.org"));
}

// The address hash folds capitals a word at a time: every length around the
// word size, a capital in every position, and bytes beyond ASCII (which are
// never folded) must agree with the comparison.
TEST(Session, AddressHashFoldsCaseAtEveryPositionAndLength) {
    for (std::size_t length = 1; length <= 25; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            std::string lower(length, 'q');
            lower[at] = 'm';
            std::string upper = lower;
            upper[at] = 'M';
            EXPECT_EQ(hashIgnoringCase(lower), hashIgnoringCase(upper)) << length << ' ' << at;
            Session s;
            s.createContact(person(upper), "12/07/2026");
            EXPECT_TRUE(s.emailExists(lower)) << length << ' ' << at;
            lower[at] = '\xed'; // 'M' with the high bit: not the same letter
            EXPECT_FALSE(s.emailExists(lower)) << length << ' ' << at;
            lower[at] = '@'; // the byte just below 'A'
            EXPECT_FALSE(s.emailExists(lower));
        }
    }
    for (const char* word : {"[", "`", "{", "@", "Z", "A"}) {
        Session s;
        s.createContact(person(word), "12/07/2026");
        EXPECT_TRUE(s.emailExists(toLowerAscii(word))) << word;
    }
}

TEST(Session, EmailIndexKeepsDuplicatesFromAFileApart) {
    Session s;
    Contact a;
    a.email = "dup@example.org";
    Contact b = a;
    b.email = " DUP@example.org";
    s.appendContact(a);
    s.appendContact(b);
    s.deleteContact(1);
    EXPECT_TRUE(s.emailExists("dup@example.org")); // slot 2 is still live
    s.deleteContact(2);
    EXPECT_FALSE(s.emailExists("dup@example.org"));
}

TEST(Session, RemovingAGroupRenumbersLiveContactsOnly) {
    Session s;
    s.resetToNew();
    s.addCampaignGroup(-1, "Two", "2");
    s.addCampaignGroup(-1, "Three", "3");
    const auto live = s.createContact(person("a@x", 3), "x");
    const auto gone = s.createContact(person("b@x", 3), "x");
    s.deleteContact(gone);
    EXPECT_FALSE(s.groupInUse(2));
    EXPECT_TRUE(s.groupInUse(3));
    s.removeCampaignGroup(2);
    ASSERT_EQ(s.groupCount(), 2);
    EXPECT_EQ(s.group(2), (CampaignGroup{3, "Three", "3"})); // the id moves with its group
    EXPECT_EQ(s.contact(live).groupIndex, 2);
    EXPECT_EQ(s.contact(gone).groupIndex, 3);
}

TEST(Session, MailtrayMembershipLowerCasesWithoutTrimming) {
    Session s;
    Contact entry;
    entry.id = 1;
    entry.email = "Ann@Example.org";
    s.addMailtrayEntry(entry);
    EXPECT_TRUE(s.mailtrayHasEmail("ann@example.ORG"));
    EXPECT_FALSE(s.mailtrayHasEmail("ann@example.org "));
    Contact deleted;
    deleted.email = "gone@example.org";
    deleted.status = code(ContactStatus::Deleted);
    s.addMailtrayEntry(deleted);
    EXPECT_FALSE(s.mailtrayHasEmail("gone@example.org"));
    s.clearMailtray();
    EXPECT_FALSE(s.mailtrayHasEmail("ann@example.org"));
    EXPECT_EQ(s.mailtrayCount(), 0);
}

TEST(Session, ChangesAreNoticedUntilSaved) {
    Session s;
    s.resetToNew();
    EXPECT_FALSE(s.hasUnsavedChanges());
    const auto slot = s.createContact(person("a@x"), "x");
    EXPECT_TRUE(s.hasUnsavedChanges());
    s.markSaved();
    s.markContacted(slot, "12/07/2026");
    EXPECT_TRUE(s.hasUnsavedChanges());
    EXPECT_EQ(s.contact(slot).timesContacted, 1);
    EXPECT_EQ(s.contact(slot).lastContacted, "12/07/2026");
    s.markSaved();
    SessionSettings settings = s.settings();
    settings.smtpServer = "mail.example.org";
    s.setSettings(settings);
    EXPECT_TRUE(s.hasUnsavedChanges());
}

TEST(Session, ReplaceDocumentKeepsTheProgramWideValues) {
    Session current;
    current.resetToNew();
    current.contactedToday = 5;
    current.startDirectory = "/opt/velmora/";
    Contact queued;
    queued.email = "q@x";
    current.sendList.append(queued);
    Session loaded;
    loaded.createContact(person("l@x"), "x");
    loaded.sessionFileName = "/tmp/l.qmz";
    current.replaceDocument(std::move(loaded));
    EXPECT_EQ(current.contactCount(), 1);
    EXPECT_TRUE(current.emailExists("l@x")); // the index came along and still works
    EXPECT_EQ(current.sessionFileName, "/tmp/l.qmz");
    EXPECT_EQ(current.contactedToday, 5);
    EXPECT_EQ(current.startDirectory, "/opt/velmora/");
    EXPECT_EQ(current.sendList.count(), 1);
    EXPECT_FALSE(current.hasUnsavedChanges());
}

TEST(Dates, MasksArePaddedToTwoAndFourDigits) {
    LocalDateTime t;
    t.year = 2011;
    t.month = 3;
    t.day = 7;
    t.hour = 9;
    t.minute = 5;
    t.second = 0;
    EXPECT_EQ(formatContactDate(t), "03/07/2011");
    EXPECT_EQ(formatDateMask("%dd/%mm/%yyyy @ %hh:%ii:%ss", t), "07/03/2011 @ 09:05:00");
}

TEST(Session, OneLetterCaseRuleForEveryAddressComparison) {
    struct Row {
        const char* a;
        const char* b;
        bool same;
    };
    const Row table[] = {
        {"ZOË@x.org", "zoë@x.org", true},
        {"ÅNGSTRÖM@x.org", "ångström@x.org", true},
        {"Þór@x.org", "þór@x.org", true},
        // The hash folds eight bytes at a time: a capital split between two
        // words, and capitals in a later word, must still fold.
        {"abcdefgË@x.org", "ABCDEFGë@x.org", true},
        {"mailbox.ÅNGSTRÖM.Ü@x.org", "MAILBOX.ångström.ü@X.ORG", true},
        {"a×b@x.org", "a÷b@x.org", false},
        {"ß@x.org", "SS@x.org", false},
        {"ÿ@x.org", "Ÿ@x.org", false}, // outside Latin-1 capitals
        {"Straße@x.org", "STRASSE@x.org", false},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(std::string(row.a) + " / " + row.b);
        EXPECT_EQ(equalIgnoringCase(row.a, row.b), row.same);
        EXPECT_EQ(contactEmailKey(row.a) == contactEmailKey(row.b), row.same);
        if (row.same) {
            EXPECT_EQ(hashIgnoringCase(row.a), hashIgnoringCase(row.b));
        }
        Session s;
        s.resetToNew();
        const std::int32_t slot = s.createContact(person(row.a), "12/07/2026");
        EXPECT_EQ(s.emailExists(row.b), row.same);
        Contact entry = s.contact(slot);
        entry.id = slot;
        s.addMailtrayEntry(entry);
        EXPECT_EQ(s.mailtrayHasEmail(row.b), row.same);
    }
}

TEST(Session, ContactCountersStopAtTheLargestNumberTheFileHolds) {
    Session s;
    s.resetToNew();
    const std::int32_t slot = s.createContact(person("a@x.org"), "12/07/2026");
    s.modifyContact(slot, [](Contact& c) { c.timesContacted = 2147483646; });
    s.markContacted(slot, "12/08/2026");
    EXPECT_EQ(s.contact(slot).timesContacted, 2147483647);
    s.markContacted(slot, "12/09/2026");
    EXPECT_EQ(s.contact(slot).timesContacted, 2147483647);
    EXPECT_EQ(s.contact(slot).lastContacted, "12/09/2026");
    EXPECT_EQ(countedOnceMore(-5), -4);
}

} // namespace velmora::store
