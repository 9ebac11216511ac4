#include "contacts/mailtray.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::contacts {

namespace {

store::Session sessionOf(std::initializer_list<const char*> emails) {
    store::Session s;
    s.resetToNew();
    for (const char* e : emails) {
        store::NewContact c;
        c.email = e;
        c.name = std::string("Name of ") + e;
        s.createContact(c, "01/01/2026");
    }
    return s;
}

} // namespace

TEST(Mailtray, AddsEachAddressOnceIgnoringCaseButNotBlanks) {
    store::Session s = sessionOf({"a@x", "A@X", "b@x"});
    s.modifyContact(3, [](store::Contact& c) { c.email = "a@x "; });
    EXPECT_EQ(addContactsToMailtray(s, {1, 1, 2, 3}), 2);
    ASSERT_EQ(s.mailtrayCount(), 2);
    EXPECT_EQ(s.mailtrayEntry(1).id, 1);
    EXPECT_EQ(s.mailtrayEntry(2).id, 3); // the trailing blank makes it another address
    EXPECT_EQ(s.mailtrayEntry(1).name, "Name of a@x");
}

TEST(Mailtray, DoNotContactAndEditedContactsAreCopiedAsTheyWere) {
    store::Session s = sessionOf({"a@x"});
    s.modifyContact(1,
                    [](store::Contact& c) { c.status = code(store::ContactStatus::DoNotContact); });
    ASSERT_EQ(addContactsToMailtray(s, {1}), 1);
    s.modifyContact(1, [](store::Contact& c) { c.name = "Renamed"; });
    EXPECT_EQ(s.mailtrayEntry(1).name, "Name of a@x");
}

TEST(Mailtray, ClipboardAndExportFormats) {
    store::Session s = sessionOf({"a@x", "b@x"});
    addContactsToMailtray(s, {1, 2});
    store::Contact deleted;
    deleted.email = "gone@x";
    deleted.status = code(store::ContactStatus::Deleted);
    s.addMailtrayEntry(deleted);
    EXPECT_EQ(mailtrayClipboardText(s), "a@x\nb@x\n");
    EXPECT_EQ(mailtrayExportText(s), "a@x\r\nb@x\r\n");
}

TEST(Mailtray, ExportPathAndQuestionTexts) {
    EXPECT_EQ(mailtrayExportPath("/home/a/list"), "/home/a/list.txt");
    EXPECT_EQ(mailtrayExportPath("/home/a/list.TXT"), "/home/a/list.TXT");
    EXPECT_EQ(mailtrayExportPath("/home/a/list.text"), "/home/a/list.text.txt");
    EXPECT_EQ(mailtraySavedQuestion("/home/a/list.txt"),
              "The mailtray entries have been saved to \"list.txt\". Would you like to mark "
              "these entries as contacted?");
    EXPECT_EQ(mailtrayWindowTitle(3), "Mailtray (3 Recipients)");
}

TEST(Mailtray, SaveWritesTheExportFile) {
    testing_support::TempDir dir;
    store::Session s = sessionOf({"a@x"});
    addContactsToMailtray(s, {1});
    std::string error;
    ASSERT_TRUE(saveMailtrayToFile(s, dir.file("out.txt"), error)) << error;
    EXPECT_EQ(testing_support::readFileBytes(dir.file("out.txt")), "a@x\r\n");
    EXPECT_FALSE(saveMailtrayToFile(s, dir.path() + "/missing/out.txt", error));
}

TEST(Mailtray, MarkingStampsEntriesAndContactsFoundBySlot) {
    store::Session s = sessionOf({"a@x", "b@x", "c@x"});
    addContactsToMailtray(s, {3, 1});
    s.deleteContact(2); // slots stay stable
    store::Contact orphan;
    orphan.id = 99; // names no contact: only the entry is stamped
    orphan.email = "orphan@x";
    s.addMailtrayEntry(orphan);
    markMailtrayContacted(s, "12/07/2026");
    EXPECT_EQ(s.contact(3).lastContacted, "12/07/2026");
    EXPECT_EQ(s.contact(3).timesContacted, 1);
    EXPECT_EQ(s.contact(1).timesContacted, 1);
    EXPECT_EQ(s.contact(2).timesContacted, 0);
    EXPECT_EQ(s.mailtrayEntry(1).timesContacted, 1);
    EXPECT_EQ(s.mailtrayEntry(3).lastContacted, "12/07/2026");
    EXPECT_EQ(s.contactedToday, 2);
    EXPECT_EQ(s.mailtrayCount(), 3);
}

TEST(MailtrayButtons, FollowOpeningAddingAndEmptying) {
    auto b = MailtrayButtons::onOpen(0, false);
    EXPECT_FALSE(b.addSelected);
    EXPECT_TRUE(b.addFiltered);
    EXPECT_FALSE(b.empty || b.copy || b.save);

    b.afterAdd(MailtrayButtons::Used::AddFiltered, 4);
    EXPECT_FALSE(b.addFiltered);
    EXPECT_FALSE(b.addSelected); // keeps its state
    EXPECT_TRUE(b.empty && b.copy && b.save);

    b.afterEmpty();
    EXPECT_TRUE(b.addSelected && b.addFiltered);
    EXPECT_FALSE(b.empty || b.copy || b.save);

    b = MailtrayButtons::onOpen(2, true);
    b.afterAdd(MailtrayButtons::Used::AddSelected, 2);
    EXPECT_FALSE(b.addSelected);
    EXPECT_TRUE(b.addFiltered);
    b.afterAdd(MailtrayButtons::Used::AddSelected, 0); // nothing was there to add
    EXPECT_TRUE(b.addSelected);
}

} // namespace velmora::contacts
