#include "contacts/gui_fakes.h"
#include "contacts/mailtray_window.h"
#include "support/test_support.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using namespace testing_support;

namespace {

struct MailtrayWindowTest : ::testing::Test {
    store::Session session;
    FakeViews views;
    FakePrompter prompter;
    FakeClipboard clipboard;
    store::FixedClock clock{march5()};

    MailtrayWindow* open() {
        auto* window = new MailtrayWindow(session, views, prompter, clipboard, clock);
        window->show();
        return window;
    }
};

// Which of "Add Selected", "Add Filtered", "Emtpy Mailtray", "Copy to
// Clipboard" and "Save to File.." are enabled, as a string of 0 and 1.
std::string enabled(const MailtrayWindow& w) {
    std::string states;
    for (const QPushButton* b : {w.addSelectedButton(), w.addFilteredButton(), w.emptyButton(),
                                 w.copyButton(), w.saveButton()}) {
        states += b->isEnabled() ? '1' : '0';
    }
    return states;
}

QStringList emails(const MailtrayWindow& w) {
    QStringList values;
    const QAbstractItemModel& model = *w.list()->model();
    for (int row = 0; row < model.rowCount(); ++row) {
        values << model.data(model.index(row, 1)).toString();
    }
    return values;
}

} // namespace

TEST_F(MailtrayWindowTest, CaptionsAndTheStateOfAnEmptyMailtrayWithoutSelection) {
    fillSession(session, {}, {"a@x"});
    QPointer<MailtrayWindow> w = open();
    EXPECT_EQ(w->windowTitle(), u"Mailtray (0 Recipients)"_s);
    EXPECT_EQ(w->addSelectedButton()->text(), u"Add Selected"_s);
    EXPECT_EQ(w->addFilteredButton()->text(), u"Add Filtered"_s);
    EXPECT_EQ(w->emptyButton()->text(), u"Emtpy Mailtray"_s);
    EXPECT_EQ(w->copyButton()->text(), u"Copy to Clipboard"_s);
    EXPECT_EQ(w->saveButton()->text(), u"Save to File.."_s);
    EXPECT_EQ(w->closeButton()->text(), u"Close Window"_s);
    EXPECT_EQ(w->list()->model()->headerData(1, Qt::Horizontal).toString(), u"Email Address"_s);
    EXPECT_EQ(enabled(*w), "01000");
    // Selecting rows later does not enable "Add Selected".
    views.selected = {1};
    EXPECT_EQ(enabled(*w), "01000");
    w->closeButton()->click();
    flushDeletes();
    EXPECT_TRUE(w.isNull());
    EXPECT_EQ(session.mailtrayCount(), 0);
}

TEST_F(MailtrayWindowTest, AddButtonsDisableThemselvesUntilEmptiedOrReopened) {
    fillSession(session, {}, {"a@x", "A@X", "b@x", "c@x"});
    session.modifyContact(
        4, [](store::Contact& c) { c.status = code(store::ContactStatus::DoNotContact); });
    views.selected = {4};
    views.filtered = {1, 2, 3};
    MailtrayWindow* w = open();
    QAbstractItemModelTester tester(w->listModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(enabled(*w), "11000");

    w->addSelectedButton()->click();
    EXPECT_EQ(w->windowTitle(), u"Mailtray (1 Recipients)"_s);
    EXPECT_EQ(enabled(*w), "01111");
    EXPECT_EQ(views.statusLines, 1);

    // Add Filtered takes every row of the filtered list, selected or not,
    // and skips an address already queued in another letter case.
    w->addFilteredButton()->click();
    EXPECT_EQ(w->windowTitle(), u"Mailtray (3 Recipients)"_s);
    EXPECT_EQ(emails(*w), QStringList({u"c@x"_s, u"a@x"_s, u"b@x"_s}));
    EXPECT_EQ(enabled(*w), "00111");
    EXPECT_EQ(views.statusLines, 2);

    // A declined question empties nothing.
    prompter.answers = {platform::PromptAnswer::No, platform::PromptAnswer::Yes};
    w->emptyButton()->click();
    EXPECT_EQ(session.mailtrayCount(), 3);
    EXPECT_EQ(enabled(*w), "00111");
    w->emptyButton()->click();
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].title, "Confirm");
    EXPECT_EQ(prompter.shown[1].text,
              "Are you sure you want to remove all entries from the mailtray? This will not "
              "delete entries from your email lists.");
    EXPECT_EQ(session.mailtrayCount(), 0);
    EXPECT_EQ(session.contactCount(), 4);
    EXPECT_EQ(w->windowTitle(), u"Mailtray (0 Recipients)"_s);
    EXPECT_EQ(w->listModel()->rowCount(), 0);
    EXPECT_EQ(enabled(*w), "11000");
    EXPECT_EQ(views.statusLines, 3);

    w->addFilteredButton()->click();
    EXPECT_EQ(enabled(*w), "10111");
    w->close();
    flushDeletes();

    // Reopening with a selection sets the buttons as on first opening.
    MailtrayWindow* again = open();
    EXPECT_EQ(emails(*again), QStringList({u"a@x"_s, u"b@x"_s}));
    EXPECT_EQ(enabled(*again), "11111");
    again->close();
    flushDeletes();
}

TEST_F(MailtrayWindowTest, CopyPutsTheAddressesOnTheClipboardAndMarksOnYes) {
    fillSession(session, {}, {"a@x", "b@x"});
    views.filtered = {1, 2};
    MailtrayWindow* w = open();
    w->addFilteredButton()->click();
    // The Mailtray keeps the name it was given.
    session.modifyContact(1, [](store::Contact& c) { c.name = "Renamed"; });

    prompter.answers = {platform::PromptAnswer::No, platform::PromptAnswer::Yes};
    w->copyButton()->click();
    EXPECT_EQ(clipboard.content, "a@x\nb@x\n");
    EXPECT_EQ(session.contact(1).lastContacted, "never");
    EXPECT_EQ(views.refreshes, 0);

    clipboard.content.clear();
    w->copyButton()->click();
    EXPECT_EQ(clipboard.content, "a@x\nb@x\n");
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].text,
              "The mailtray entries have been copied to the clipboard. Would you like to mark "
              "these entries as contacted?");
    for (std::int32_t slot = 1; slot <= 2; ++slot) {
        EXPECT_EQ(session.contact(slot).lastContacted, "03/05/2026");
        EXPECT_EQ(session.contact(slot).timesContacted, 1);
        EXPECT_EQ(session.mailtrayEntry(slot).lastContacted, "03/05/2026");
    }
    EXPECT_EQ(session.contactedToday, 2);
    EXPECT_EQ(views.refreshes, 1);
    EXPECT_EQ(w->listModel()->data(w->listModel()->index(0, 2)).toString(), u"Name of a@x"_s);
    w->close();
    flushDeletes();
}

TEST_F(MailtrayWindowTest, SaveAppendsTxtWritesCrLfLinesAndNamesOnlyTheFile) {
    fillSession(session, {}, {"a@x", "b@x"});
    views.filtered = {1, 2};
    TempDir dir;
    MailtrayWindow* w = open();
    w->addFilteredButton()->click();

    // Cancelled requester: nothing written, nothing asked.
    w->saveButton()->click();
    ASSERT_EQ(prompter.fileRequests.size(), 1u);
    EXPECT_EQ(prompter.fileRequests[0].title, "Save mailtray emails to file...");
    EXPECT_EQ(prompter.fileRequests[0].filter, "Plain Text (*.txt)|*.txt|All files (*.*)|*.*");
    EXPECT_EQ(prompter.fileRequests[0].initialPath, "*.txt");
    EXPECT_TRUE(prompter.shown.empty());

    prompter.files = {dir.file("queue")};
    prompter.answers = {platform::PromptAnswer::Yes};
    w->saveButton()->click();
    EXPECT_EQ(readFileBytes(dir.file("queue.txt")), "a@x\r\nb@x\r\n");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Confirm");
    EXPECT_EQ(prompter.shown[0].text,
              "The mailtray entries have been saved to \"queue.txt\". Would you like to mark "
              "these entries as contacted?");
    EXPECT_EQ(session.contactedToday, 2);

    // A file that cannot be written is told, and nothing is marked.
    prompter.files = {dir.file("no-such-folder/list.txt")};
    w->saveButton()->click();
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].title, "Error");
    EXPECT_EQ(prompter.shown[1].buttons, platform::PromptButtons::Ok);
    EXPECT_EQ(session.contactedToday, 2);
    w->close();
    flushDeletes();
}

TEST_F(MailtrayWindowTest, FollowsAReplacedSessionWhenActivatedOrUsed) {
    fillSession(session, {}, {"a@x"});
    views.filtered = {1};
    MailtrayWindow* w = open();
    w->addFilteredButton()->click();
    EXPECT_EQ(w->listModel()->rowCount(), 1);

    store::Session replacement;
    fillSession(replacement, {}, {});
    session.replaceDocument(std::move(replacement));
    // Rows of the old Mailtray show nothing rather than read freed records.
    EXPECT_FALSE(w->listModel()->data(w->listModel()->index(0, 1)).isValid());
    QApplication::setActiveWindow(w);
    EXPECT_TRUE(QTest::qWaitForWindowActive(w));
    EXPECT_EQ(w->listModel()->rowCount(), 0);
    EXPECT_EQ(w->windowTitle(), u"Mailtray (0 Recipients)"_s);
    EXPECT_EQ(enabled(*w), "01000");

    // A replaced session with a queue: the first command lists it again.
    store::Session loaded;
    fillSession(loaded, {}, {"q@x", "r@x"});
    addContactsToMailtray(loaded, {1});
    session.replaceDocument(std::move(loaded));
    views.filtered = {2};
    w->addFilteredButton()->click();
    EXPECT_EQ(emails(*w), QStringList({u"q@x"_s, u"r@x"_s}));
    EXPECT_EQ(w->windowTitle(), u"Mailtray (2 Recipients)"_s);
    w->close();
    flushDeletes();
}

} // namespace velmora::contacts
