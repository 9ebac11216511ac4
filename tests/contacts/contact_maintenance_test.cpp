#include "contacts/campaign_groups.h"
#include "contacts/contact_maintenance.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::contacts {

using testing_support::FakePrompter;

namespace {

store::Session sessionWith(int contacts) {
    store::Session s;
    s.resetToNew();
    s.addCampaignGroup(-1, "Two", "");
    for (int i = 1; i <= contacts; ++i) {
        store::NewContact c;
        c.email = "p" + std::to_string(i) + "@x";
        c.name = "P" + std::to_string(i);
        c.notes = i % 2 == 0 ? "old note" : "";
        c.status = 2;
        s.createContact(c, "d");
    }
    return s;
}

} // namespace

TEST(EditDisplay, JoinsTheFirstFiveValuesAndMarksMore) {
    store::Session s = sessionWith(7);
    const auto d = contactEditDisplay(s, {1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->multi);
    EXPECT_EQ(d->title, "Edit Contacts");
    EXPECT_EQ(d->email, "p1@x;  p2@x;  p3@x;  p4@x;  p5@x...");
    EXPECT_EQ(d->telephone, "..."); // empty values add no separator
    EXPECT_EQ(d->notes, "");
    EXPECT_EQ(d->groupPosition, -1);
    EXPECT_FALSE(d->status);
    EXPECT_FALSE(contactEditDisplay(s, {}));

    const auto single = contactEditDisplay(s, {2});
    ASSERT_TRUE(single);
    EXPECT_EQ(single->title, "Edit Contact");
    EXPECT_EQ(single->notes, "old note");
    EXPECT_EQ(single->groupPosition, 0);
    EXPECT_EQ(single->status, 2);
}

TEST(ApplyEdits, SingleEditStoresTextsAsTypedAndRecordsThePreviousStatus) {
    store::Session s = sessionWith(2);
    const auto opened = *contactEditDisplay(s, {1});
    ContactEditInput in;
    in.email = " p2@x ";
    in.name = "New";
    in.groupPosition = 1;
    in.status = 2; // unchanged status still moves into previousStatus
    FakePrompter prompter;
    s.modifyContact(1, [](store::Contact& c) { c.previousStatus = 0; });
    applyContactEdits(s, opened, 1, {1}, in, prompter);
    EXPECT_EQ(s.contact(1).email, " p2@x ");
    EXPECT_EQ(s.contact(1).groupIndex, 2);
    EXPECT_EQ(s.contact(1).previousStatus, 2);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST(ApplyEdits, MultiEditAppendsNotesAndAsksPerChoice) {
    store::Session s = sessionWith(3);
    const auto opened = *contactEditDisplay(s, {1, 2, 3});
    ContactEditInput in = {};
    in.notes = "met again";
    in.groupPosition = 1;
    FakePrompter prompter;
    prompter.answers = {platform::PromptAnswer::No};
    applyContactEdits(s, opened, 0, {1, 2, 3}, in, prompter);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              "Are you sure you want to move all the selected items to the new group settings?");
    EXPECT_EQ(s.contact(1).groupIndex, 1);      // No keeps the groups...
    EXPECT_EQ(s.contact(1).notes, "met again"); // ...but the notes still go in
    EXPECT_EQ(s.contact(2).notes, "old note\nmet again");

    in.notes = "  ";
    in.status = -1;
    prompter.answers = {platform::PromptAnswer::Yes};
    applyContactEdits(s, opened, 0, {2, 3}, in, prompter);
    EXPECT_EQ(prompter.shown.back().text,
              "Are you sure you want to set all the selected items to the new group and status "
              "settings?");
    EXPECT_EQ(s.contact(2).status, -1);
    EXPECT_EQ(s.contact(2).previousStatus, 2);
    EXPECT_EQ(s.contact(2).groupIndex, 2);
    EXPECT_EQ(s.contact(1).status, 2);
    EXPECT_EQ(s.contact(2).notes, "old note\nmet again"); // blank notes append nothing
}

TEST(ApplyEdits, ADialogOpenedForSeveralNeverWritesTheJoinedTexts) {
    store::Session s = sessionWith(3);
    const auto opened = *contactEditDisplay(s, {1, 2, 3});
    ContactEditInput in;
    in.email = opened.email; // the read-only joined texts come back with Apply
    in.name = opened.name;
    FakePrompter prompter;
    applyContactEdits(s, opened, 0, {2}, in, prompter); // only one row selected now
    EXPECT_EQ(s.contact(2).email, "p2@x");
    EXPECT_EQ(s.contact(2).name, "P2");
}

TEST(ApplyEdits, ADialogOpenedForOneEditsThatContactWhateverIsSelectedNow) {
    store::Session s = sessionWith(3);
    const auto opened = *contactEditDisplay(s, {3});
    ContactEditInput in;
    in.email = "p3@x";
    in.name = "Renamed";
    in.groupPosition = 0;
    in.status = 1;
    FakePrompter prompter;
    applyContactEdits(s, opened, 3, {1, 2}, in, prompter);
    EXPECT_EQ(s.contact(3).name, "Renamed");
    EXPECT_EQ(s.contact(1).name, "P1");
    EXPECT_TRUE(prompter.shown.empty());
}

TEST(ApplyEdits, ADialogOpenedForAContactDeletedMeanwhileChangesNothing) {
    store::Session s = sessionWith(3);
    const auto opened = *contactEditDisplay(s, {2});
    s.deleteContact(2); // or removed as a duplicate
    s.markSaved();
    ContactEditInput in;
    in.email = "p2@x";
    in.name = "Back to life?";
    in.status = 0;
    FakePrompter prompter;
    applyContactEdits(s, opened, 2, {}, in, prompter);
    EXPECT_TRUE(s.contact(2).isDeleted());
    EXPECT_EQ(s.contact(2).name, "P2");
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_FALSE(s.emailExists("p2@x"));
}

TEST(ApplyEdits, ADialogOpenedBeforeTheSessionWasReplacedChangesNothing) {
    store::Session s = sessionWith(3);
    const auto single = *contactEditDisplay(s, {3});
    const auto several = *contactEditDisplay(s, {1, 2});
    store::Session loaded = sessionWith(3); // same slots, other people
    s.replaceDocument(std::move(loaded));
    ContactEditInput in;
    in.name = "Typed for the old session";
    in.notes = "note";
    FakePrompter prompter;
    applyContactEdits(s, single, 3, {3}, in, prompter);
    applyContactEdits(s, several, 0, {1, 2}, in, prompter);
    EXPECT_EQ(s.contact(3).name, "P3");
    EXPECT_EQ(s.contact(1).notes, "");
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_TRUE(prompter.shown.empty());
}

TEST(SelectionDialogs, WriteTheFieldAndWordTheMessage) {
    store::Session s = sessionWith(2);
    EXPECT_EQ(applySelectionTag(s, {1, 2}, 4), "The selected entries have been tagged as \"Star\"");
    EXPECT_EQ(s.contact(2).tag, 4);
    EXPECT_EQ(applySelectionTag(s, {}, 4), "The selected entries have been tagged as \"\"");
    EXPECT_EQ(applySelectionGroup(s, {}, 1),
              "The selected entries have been moved to Campaign Group \"Two\"");
    applySelectionGroup(s, {1}, 1);
    EXPECT_EQ(s.contact(1).groupIndex, 2);
    EXPECT_EQ(applySelectionStatus(s, {1}, 3),
              "The selected entries have been assigned the status \"Do Not Contact\"");
    EXPECT_EQ(s.contact(1).status, -1);
    EXPECT_EQ(s.contact(1).previousStatus, 2); // Set Status leaves it alone
}

TEST(DeleteEntries, MarksDeletedAndKeepsTheMailtray) {
    store::Session s = sessionWith(3);
    store::Contact entry = s.contact(2);
    entry.id = 2;
    s.addMailtrayEntry(entry);
    deleteSelectedEntries(s, {2, 3});
    EXPECT_EQ(s.contactCount(), 3);
    EXPECT_EQ(s.liveContactCount(), 1);
    EXPECT_EQ(s.mailtrayCount(), 1);
    EXPECT_EQ(liveSelection(s, {1, 2, 3}), (SlotList{1}));
}

TEST(CampaignGroups, AddRefusesBlankNamesAndKeepsSurroundingBlanks) {
    store::Session s = sessionWith(0);
    EXPECT_EQ(addGroupFromDialog(s, "   ", "d"), 0);
    const auto slot = addGroupFromDialog(s, " Autumn ", "desc");
    ASSERT_EQ(slot, 3);
    EXPECT_EQ(s.group(slot), (store::CampaignGroup{3, " Autumn ", "desc"}));
}

TEST(CampaignGroups, RemoveRefusesNonEmptyGroupsAndAsksFirst) {
    store::Session s = sessionWith(1); // p1 in group 1
    s.addCampaignGroup(-1, "Three", "");
    store::NewContact c;
    c.email = "three@x";
    c.groupIndex = 3;
    s.createContact(c, "d");
    FakePrompter prompter;
    EXPECT_FALSE(removeSelectedGroup(s, 101, prompter));  // a heading
    EXPECT_FALSE(removeSelectedGroup(s, 1000, prompter)); // a status item
    EXPECT_TRUE(prompter.shown.empty());

    EXPECT_FALSE(removeSelectedGroup(s, 2001, prompter));
    EXPECT_EQ(
        prompter.shown.back().text,
        "The selected group currently contains 1 entries. You cannot delete a non-empty group.");

    prompter.answers = {platform::PromptAnswer::Cancel, platform::PromptAnswer::Yes};
    EXPECT_FALSE(removeSelectedGroup(s, 2002, prompter));
    EXPECT_EQ(s.groupCount(), 3);
    EXPECT_TRUE(removeSelectedGroup(s, 2002, prompter));
    EXPECT_EQ(s.groupCount(), 2);
    EXPECT_EQ(s.group(2).id, 3);
    EXPECT_EQ(s.contact(2).groupIndex, 2);
}

} // namespace velmora::contacts
