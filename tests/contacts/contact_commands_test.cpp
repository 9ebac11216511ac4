#include "contacts/contact_commands.h"
#include "contacts/fake_views.h"
#include "contacts/mailtray.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::contacts {

using namespace testing_support;

TEST(DeleteEntriesCommand, AsksEvenWithNothingSelectedAndDeletesOnlyOnYes) {
    store::Session s;
    fillSession(s, {}, {"a@x", "b@x", "c@x"});
    addContactsToMailtray(s, {1});
    FakeViews views;
    FakePrompter prompter;
    prompter.answers = {platform::PromptAnswer::Yes, platform::PromptAnswer::No,
                        platform::PromptAnswer::Yes};

    EXPECT_TRUE(deleteEntriesCommand(s, views, prompter));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Confirm Delete");
    EXPECT_EQ(prompter.shown[0].text,
              "Are you sure you want to permanently delete the selected entries?");
    EXPECT_EQ(prompter.shown[0].buttons, platform::PromptButtons::YesNoDefaultNo);

    views.selected = {1, 3};
    EXPECT_FALSE(deleteEntriesCommand(s, views, prompter));
    EXPECT_EQ(s.liveContactCount(), 3);

    EXPECT_TRUE(deleteEntriesCommand(s, views, prompter));
    EXPECT_TRUE(s.contact(1).isDeleted());
    EXPECT_FALSE(s.contact(2).isDeleted());
    EXPECT_TRUE(s.contact(3).isDeleted());
    EXPECT_EQ(s.mailtrayCount(), 1); // the Mailtray keeps its copy
    EXPECT_EQ(views.refreshes, 2);
    EXPECT_EQ(views.statusLines, 2);
}

TEST(RemoveCampaignGroupCommand, RefreshesOnlyWhenAGroupWasRemoved) {
    store::Session s;
    fillSession(s, {"Two", "Three"}, {"a@x"});
    s.modifyContact(1, [](store::Contact& c) { c.groupIndex = 3; });
    FakeViews views;
    FakePrompter prompter;

    views.treeItem = 101; // the "Group Select" heading
    EXPECT_FALSE(removeCampaignGroupCommand(s, views, prompter));
    views.treeItem = 1002; // a status item
    EXPECT_FALSE(removeCampaignGroupCommand(s, views, prompter));
    EXPECT_TRUE(prompter.shown.empty());

    views.treeItem = 2003;
    EXPECT_FALSE(removeCampaignGroupCommand(s, views, prompter));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              "The selected group currently contains 1 entries. You cannot delete a non-empty "
              "group.");

    views.treeItem = 2002;
    prompter.answers = {platform::PromptAnswer::Yes};
    EXPECT_TRUE(removeCampaignGroupCommand(s, views, prompter));
    EXPECT_EQ(s.groupCount(), 2);
    EXPECT_EQ(s.group(2).name, "Three");
    EXPECT_EQ(s.group(2).id, 3);
    EXPECT_EQ(s.contact(1).groupIndex, 2);
    EXPECT_EQ(views.refreshes, 1);
}

} // namespace velmora::contacts
