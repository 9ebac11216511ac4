#include "contacts/contact_adding.h"

#include <gtest/gtest.h>

namespace velmora::contacts {

namespace {

store::Session freshSession() {
    store::Session s;
    s.resetToNew();
    return s;
}

std::vector<std::string> emails(const store::Session& s) {
    std::vector<std::string> out;
    for (const store::Contact& c : s.contacts()) {
        out.push_back(c.email.str());
    }
    return out;
}

} // namespace

TEST(StatusChoice, TheLastSetChoiceWins) {
    EXPECT_EQ(readStatusChoice(false, false, false), 0);
    EXPECT_EQ(readStatusChoice(true, false, false), 1);
    EXPECT_EQ(readStatusChoice(true, true, false), 2);
    EXPECT_EQ(readStatusChoice(true, true, true), -1);
}

TEST(AddSingleContact, TrimsBlanksOnlyAndRefusesEmptyOrKnownAddresses) {
    store::Session s = freshSession();
    ContactForm form;
    form.email = "  ann@example.org ";
    form.notes = "  first line\nsecond\n";
    form.address = "\tStreet ";
    form.groupIndex = 1;
    form.status = 2;
    const auto slot = addSingleContact(s, form, "12/07/2026");
    ASSERT_EQ(slot, 1);
    EXPECT_EQ(s.contact(slot).email, "ann@example.org");
    EXPECT_EQ(s.contact(slot).notes, "first line\nsecond\n"); // the line break stays
    EXPECT_EQ(s.contact(slot).address, "\tStreet");
    EXPECT_EQ(s.contact(slot).previousStatus, 2);

    form.email = "ANN@example.org";
    EXPECT_EQ(addSingleContact(s, form, "x"), 0);
    form.email = "   ";
    EXPECT_EQ(addSingleContact(s, form, "x"), 0);
    form.email = "bell\x07@example.org";
    EXPECT_EQ(addSingleContact(s, form, "x"), 0);
    EXPECT_EQ(s.contactCount(), 1);

    s.deleteContact(1);
    form.email = "ann@example.org";
    EXPECT_EQ(addSingleContact(s, form, "x"), 2); // a Deleted match does not count
}

TEST(AddEmailList, SplitsAtCommasAndLineFeedsAndAddsEachAddressOnce) {
    store::Session s = freshSession();
    auto r = addEmailList(s, "a@x.org, b@x.org", 1, 0, "d");
    EXPECT_EQ(r.added, 2);
    EXPECT_EQ(emails(s), (std::vector<std::string>{"a@x.org", "b@x.org"}));

    store::Session t = freshSession();
    r = addEmailList(t, "one@x.org,,Three@x.org,three@X.org", 2, 1, "d");
    EXPECT_EQ(r.added, 2);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(emails(t), (std::vector<std::string>{"one@x.org", "Three@x.org"}));
    for (const store::Contact& c : t.contacts()) {
        EXPECT_EQ(c.groupIndex, 2);
        EXPECT_EQ(c.status, 1);
        EXPECT_EQ(c.previousStatus, 1);
        EXPECT_EQ(c.lastContacted, "never");
        EXPECT_EQ(c.dateAdded, "d");
    }
}

TEST(AddEmailList, AddressesWithControlCharactersAreRefusedAndNamed) {
    store::Session s = freshSession();
    const auto r = addEmailList(s, "a@x.org\nbell\x07@x.org,esc\x1B[2J@x.org", 1, 0, "d");
    EXPECT_EQ(emails(s), (std::vector<std::string>{"a@x.org"}));
    EXPECT_EQ(addListResultText(r),
              "Added 1, skipped 0.\n"
              "The address \"bell\\x07@x.org\" holds a control character. It was not added.\n"
              "The address \"esc\\x1B[2J@x.org\" holds a control character. It was not added.\n");
}

TEST(AddEmailList, BlanksAreRemovedEvenInsideAndSeparatorsAloneAddNothing) {
    store::Session s = freshSession();
    EXPECT_EQ(addEmailList(s, " , ,\n\n\n ,", 1, 0, "d").added, 0);
    addEmailList(s, "Ann Lee <ann@x.org>", 1, 0, "d");
    EXPECT_EQ(emails(s), (std::vector<std::string>{"AnnLee<ann@x.org>"}));
}

TEST(AddEmailList, PairsOfLineFeedsCollapseInOnePass) {
    // Three line feeds leave two, and the empty field between them is skipped;
    // a carriage return is no separator: it stays in the address, which a
    // control character then refuses.
    store::Session s = freshSession();
    const auto r = addEmailList(s, "a@x\n\n\nb@x\r\nc@x", 1, 0, "d");
    EXPECT_EQ(r.added, 2);
    EXPECT_EQ(emails(s), (std::vector<std::string>{"a@x", "c@x"}));
    EXPECT_EQ(r.refused, (std::vector<std::string>{"b@x\r"}));
    EXPECT_EQ(r.skipped, 0);
}

TEST(AddEmailList, WithoutAnyGroupContactsGetGroupZero) {
    store::Session s; // no groups at all
    addEmailList(s, "a@x", 0, 0, "d");
    EXPECT_EQ(s.contact(1).groupIndex, 0);
}

TEST(ImportedText, EachLineTrimmedAndEndedByOneLineFeed) {
    EXPECT_EQ(importedAddressText("a@x \r\n b@x\rc@x\n\nd@x"), "a@x\nb@x\nc@x\n\nd@x\n");
    EXPECT_EQ(importedAddressText(""), "");
    EXPECT_EQ(importedAddressText("x\r\n"), "x\n");
    EXPECT_EQ(pastedAddressText("  a@x, b@x \n"), "a@x, b@x \n");
}

} // namespace velmora::contacts
