#include "contacts/contact_dialog.h"
#include "contacts/email_list_dialog.h"
#include "contacts/gui_fakes.h"
#include "support/test_support.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using namespace testing_support;

namespace {

struct DialogTest : ::testing::Test {
    store::Session session;
    FakeViews views;
    FakePrompter prompter;
    FakeClipboard clipboard;
    store::FixedClock clock{march5()};
};

} // namespace

TEST_F(DialogTest, AddContactStartsEmptyAndAddsTheTrimmedContactThenCloses) {
    fillSession(session, {"Two"}, {"known@x"});
    QPointer<ContactDialog> dialog = new ContactDialog(session, views, clock);
    dialog->show();
    EXPECT_EQ(dialog->windowTitle(), u"Add Contact"_s);
    EXPECT_EQ(dialog->groupLabel()->text(), u"Add to Campaign Group"_s);
    EXPECT_EQ(dialog->statusLabel()->text(), u"Set Initial Status"_s);
    EXPECT_EQ(dialog->cancelButton()->text(), u"Cancel"_s);
    EXPECT_EQ(dialog->confirmButton()->text(), u"Add >>"_s);
    EXPECT_EQ(comboItems(*dialog->groupDropDown()), QStringList({u"Main (Default)"_s, u"Two"_s}));
    EXPECT_EQ(dialog->groupDropDown()->currentIndex(), 0);
    EXPECT_TRUE(dialog->statusChoices()->button(0)->isChecked());
    EXPECT_TRUE(dialog->emailField()->text().isEmpty());
    EXPECT_FALSE(dialog->emailField()->isReadOnly());

    dialog->emailField()->setText(u"  new@x  "_s);
    dialog->nameField()->setText(u" Ann "_s);
    dialog->notesField()->setPlainText(u"  first\nsecond\n"_s);
    dialog->groupDropDown()->setCurrentIndex(1);
    dialog->statusChoices()->button(-1)->setChecked(true);
    EXPECT_FALSE(dialog->statusChoices()->button(0)->isChecked());
    dialog->confirmButton()->click();

    ASSERT_EQ(session.contactCount(), 2);
    const store::Contact& c = session.contact(2);
    EXPECT_EQ(c.email, "new@x");
    EXPECT_EQ(c.name, "Ann");
    EXPECT_EQ(c.notes, "first\r\nsecond\r\n"); // the file's line breaks
    EXPECT_EQ(c.groupIndex, 2);
    EXPECT_EQ(c.status, -1);
    EXPECT_EQ(c.previousStatus, -1);
    EXPECT_EQ(c.dateAdded, "03/05/2026");
    EXPECT_EQ(c.lastContacted, "never");
    EXPECT_EQ(views.refreshes, 1);
    EXPECT_EQ(views.statusLines, 1);
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(DialogTest, AddContactWithAKnownOrBlankAddressAddsNothingButStillRefreshesAndCloses) {
    fillSession(session, {}, {"known@x"});
    for (const QString& typed : {u"KNOWN@x "_s, u"   "_s}) {
        QPointer<ContactDialog> dialog = new ContactDialog(session, views, clock);
        dialog->emailField()->setText(typed);
        dialog->confirmButton()->click();
        flushDeletes();
        EXPECT_TRUE(dialog.isNull());
    }
    EXPECT_EQ(session.contactCount(), 1);
    EXPECT_EQ(views.refreshes, 2);
    EXPECT_EQ(views.statusLines, 2);

    QPointer<ContactDialog> cancelled = new ContactDialog(session, views, clock);
    cancelled->emailField()->setText(u"other@x"_s);
    cancelled->cancelButton()->click();
    flushDeletes();
    EXPECT_TRUE(cancelled.isNull());
    EXPECT_EQ(session.contactCount(), 1);
    EXPECT_EQ(views.refreshes, 2);
}

TEST_F(DialogTest, EditOpensOnlyWithASelection) {
    fillSession(session, {}, {"a@x"});
    EXPECT_EQ(ContactDialog::openForEdit(session, views, prompter), nullptr);
}

TEST_F(DialogTest, EditOneContactShowsItAndStoresTheFieldsAsTyped) {
    fillSession(session, {"Two"}, {"a@x", "b@x"});
    session.modifyContact(2, [](store::Contact& c) {
        c.status = code(store::ContactStatus::Customers);
        c.groupIndex = 2;
        c.address = "Street 1\r\nTown";
    });
    views.selected = {2};
    QPointer<ContactDialog> dialog = ContactDialog::openForEdit(session, views, prompter);
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), u"Edit Contact"_s);
    EXPECT_EQ(dialog->groupLabel()->text(), u"Move to Campaign Group"_s);
    EXPECT_EQ(dialog->statusLabel()->text(), u"Set Status"_s);
    EXPECT_EQ(dialog->confirmButton()->text(), u"Apply"_s);
    EXPECT_EQ(dialog->emailField()->text(), u"b@x"_s);
    EXPECT_EQ(dialog->addressField()->toPlainText(), u"Street 1\nTown"_s);
    EXPECT_EQ(dialog->groupDropDown()->currentIndex(), 1);
    EXPECT_TRUE(dialog->statusChoices()->button(2)->isChecked());
    EXPECT_FALSE(dialog->emailField()->isReadOnly());

    // An address already in the table and blanks around it are kept.
    dialog->emailField()->setText(u" a@x "_s);
    dialog->confirmButton()->click();
    const store::Contact& c = session.contact(2);
    EXPECT_EQ(c.email, " a@x ");
    EXPECT_EQ(c.address, "Street 1\r\nTown"); // shown as lines, stored with CR LF
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.previousStatus, 2);
    EXPECT_EQ(c.groupIndex, 2);
    EXPECT_EQ(views.refreshes, 1);
    EXPECT_TRUE(prompter.shown.empty());
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(DialogTest, EditSeveralShowsJoinedReadOnlyTextsAndAsksOnlyTheGroupQuestion) {
    fillSession(session, {"Two"}, {"p1@x", "p2@x", "p3@x", "p4@x", "p5@x", "p6@x", "p7@x"});
    session.modifyContact(2, [](store::Contact& c) { c.notes = "old"; });
    views.selected = {1, 2, 3, 4, 5, 6, 7};
    QPointer<ContactDialog> dialog = ContactDialog::openForEdit(session, views, prompter);
    ASSERT_FALSE(dialog.isNull());
    EXPECT_EQ(dialog->windowTitle(), u"Edit Contacts"_s);
    EXPECT_EQ(dialog->emailField()->text(), u"p1@x;  p2@x;  p3@x;  p4@x;  p5@x..."_s);
    EXPECT_EQ(dialog->nameField()->text(),
              u"Name of p1@x;  Name of p2@x;  Name of p3@x;  Name of p4@x;  Name of p5@x..."_s);
    for (QLineEdit* field : {dialog->emailField(), dialog->nameField(), dialog->telephoneField(),
                             dialog->companyField()}) {
        EXPECT_TRUE(field->isReadOnly());
    }
    EXPECT_TRUE(dialog->addressField()->isReadOnly());
    EXPECT_FALSE(dialog->notesField()->isReadOnly());
    EXPECT_TRUE(dialog->notesField()->toPlainText().isEmpty());
    EXPECT_EQ(dialog->groupDropDown()->currentIndex(), -1);
    EXPECT_FALSE(dialog->statusChoices()->chosen());

    dialog->notesField()->setPlainText(u"called"_s);
    dialog->groupDropDown()->setCurrentIndex(1);
    prompter.answers = {platform::PromptAnswer::No};
    dialog->confirmButton()->click();
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Confirm");
    EXPECT_EQ(prompter.shown[0].text,
              "Are you sure you want to move all the selected items to the new group settings?");
    EXPECT_EQ(session.contact(1).notes, "called");
    EXPECT_EQ(session.contact(2).notes, "old\ncalled");
    EXPECT_EQ(session.contact(7).groupIndex, 1);
    EXPECT_EQ(session.contact(1).email, "p1@x");
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(DialogTest, EditSeveralThenSelectingOneAppliesTheSeveralRulesToThatOne) {
    fillSession(session, {}, {"p1@x", "p2@x", "p3@x"});
    views.selected = {1, 2};
    QPointer<ContactDialog> dialog = ContactDialog::openForEdit(session, views, prompter);
    ASSERT_FALSE(dialog.isNull());
    dialog->statusChoices()->button(1)->setChecked(true);
    views.selected = {3};
    prompter.answers = {platform::PromptAnswer::Yes};
    dialog->confirmButton()->click();
    EXPECT_EQ(session.contact(3).email, "p3@x");
    EXPECT_EQ(session.contact(3).name, "Name of p3@x");
    EXPECT_EQ(session.contact(3).status, 1);
    EXPECT_EQ(session.contact(1).status, 0);
    EXPECT_EQ(prompter.shown.at(0).text,
              "Are you sure you want to set all the selected items to the new status settings?");
}

TEST_F(DialogTest, EmailListPastesImportsAndAddsWithOneGroupAndStatus) {
    fillSession(session, {"Two"}, {"known@x"});
    TempDir dir;
    writeFileBytes(dir.file("list.txt"), "  a@x , b@x\r\nKNOWN@X\rc@x");
    QPointer<EmailListDialog> dialog =
        new EmailListDialog(session, views, prompter, clipboard, clock);
    dialog->show();
    EXPECT_EQ(dialog->windowTitle(), u"Add Email List"_s);
    EXPECT_EQ(dialog->pasteButton()->text(), u"Paste from Clipboard"_s);
    EXPECT_EQ(dialog->importButton()->text(), u"Import from .txt File"_s);
    EXPECT_EQ(dialog->cancelButton()->text(), u"Cancel"_s);
    EXPECT_EQ(dialog->addButton()->text(), u"Add >>"_s);
    EXPECT_TRUE(dialog->findChildren<QLabel*>().size() > 0);
    bool hint = false;
    for (const QLabel* label : dialog->findChildren<QLabel*>()) {
        hint = hint ||
               label->text() == u"Paste email addresses above, seperated by new-lines or commas."_s;
    }
    EXPECT_TRUE(hint);
    EXPECT_EQ(dialog->groupDropDown()->currentIndex(), 0);
    EXPECT_TRUE(dialog->statusChoices()->button(0)->isChecked());

    // Pasting replaces what the area held.
    dialog->textArea()->setPlainText(u"typed@x"_s);
    clipboard.content = "  p@x\nq@x  ";
    dialog->pasteButton()->click();
    EXPECT_EQ(dialog->textArea()->toPlainText(), u"p@x\nq@x"_s);

    // A cancelled requester leaves it; a chosen file replaces it line by line.
    dialog->importButton()->click();
    EXPECT_EQ(dialog->textArea()->toPlainText(), u"p@x\nq@x"_s);
    prompter.files = {dir.file("list.txt")};
    dialog->importButton()->click();
    ASSERT_EQ(prompter.fileRequests.size(), 2u);
    EXPECT_EQ(prompter.fileRequests[1].title, "Import email-list from .txt file...");
    EXPECT_EQ(prompter.fileRequests[1].filter, "Plain Text (*.txt)|*.txt|All files (*.*)|*.*");
    EXPECT_EQ(prompter.fileRequests[1].initialPath, "");
    EXPECT_EQ(dialog->textArea()->toPlainText(), u"a@x , b@x\nKNOWN@X\nc@x\n"_s);

    dialog->groupDropDown()->setCurrentIndex(1);
    dialog->statusChoices()->button(1)->setChecked(true);
    dialog->addButton()->click();
    ASSERT_EQ(session.contactCount(), 4);
    EXPECT_EQ(session.contact(2).email, "a@x");
    EXPECT_EQ(session.contact(3).email, "b@x");
    EXPECT_EQ(session.contact(4).email, "c@x");
    for (std::int32_t slot = 2; slot <= 4; ++slot) {
        EXPECT_EQ(session.contact(slot).groupIndex, 2);
        EXPECT_EQ(session.contact(slot).status, 1);
        EXPECT_EQ(session.contact(slot).dateAdded, "03/05/2026");
    }
    EXPECT_EQ(views.refreshes, 1);
    EXPECT_EQ(views.statusLines, 1);
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(DialogTest, EmailListImportOfAnEmptyFileEmptiesTheAreaAndAnUnreadableOneSaysSo) {
    fillSession(session, {}, {});
    TempDir dir;
    writeFileBytes(dir.file("empty.txt"), "");
    writeFileBytes(dir.file("old.txt"), "caf\xE9@x\n");
    auto* dialog = new EmailListDialog(session, views, prompter, clipboard, clock);
    dialog->textArea()->setPlainText(u"typed@x"_s);
    prompter.files = {dir.file("missing.txt"), dir.file("empty.txt"), dir.file("old.txt")};
    dialog->importButton()->click();
    EXPECT_EQ(dialog->textArea()->toPlainText(), u"typed@x"_s);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Error");
    dialog->importButton()->click();
    EXPECT_EQ(dialog->textArea()->toPlainText(), u""_s);
    // A file of an older version in the Western code page is converted.
    dialog->importButton()->click();
    EXPECT_EQ(dialog->textArea()->toPlainText(), QString::fromUtf8("caf\u00e9@x\n"));

    dialog->cancelButton()->click();
    EXPECT_EQ(session.contactCount(), 0);
    EXPECT_EQ(views.refreshes, 0);
    flushDeletes();
}

} // namespace velmora::contacts
