#include "app/file_commands.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using testing_support::FakePrompter;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

struct TitleHooks final : SessionHooks {
    void setWindowTitle(const std::string& title) override { this->title = title; }
    void refreshViews() override { ++refreshes; }
    std::string title;
    int refreshes = 0;
};

class FileCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        session.resetToNew();
        context.profileDirectory = dir.path() + "/";
    }
    void addContact(const std::string& email) {
        NewContact c;
        c.email = email;
        session.createContact(c, "12/07/2026");
    }
    Session loaded(const std::string& path) {
        SessionReadResult read = readSessionFile(path);
        EXPECT_EQ(read.status, SessionReadStatus::Loaded) << path;
        return std::move(read.session);
    }

    TempDir dir;
    Session session;
    TitleHooks hooks;
    FakePrompter prompter;
    FileCommandContext context{session, hooks, prompter, ""};
};

} // namespace

TEST(SessionExtension, IsAddedOnlyWhenTheNameHasNone) {
    EXPECT_EQ(withSessionExtension("/home/ann/list"), "/home/ann/list.qmz");
    EXPECT_EQ(withSessionExtension("/home/ann/list.qmz"), "/home/ann/list.qmz");
    EXPECT_EQ(withSessionExtension("/home/ann/list.QMZ"), "/home/ann/list.QMZ");
    EXPECT_EQ(withSessionExtension("/home/ann/list.bak"), "/home/ann/list.bak");
    EXPECT_EQ(withSessionExtension("/home/a.b/list"), "/home/a.b/list.qmz");
}

TEST_F(FileCommandsTest, SaveOfAnUntitledSessionAsksForAPathAndAddsTheExtension) {
    addContact("ann@example.org");
    prompter.files.push_back(dir.file("spring"));
    EXPECT_TRUE(saveSessionCommand(context));
    ASSERT_EQ(prompter.fileRequests.size(), 1u);
    EXPECT_EQ(prompter.fileRequests[0].title, "Save Mailtray Session...");
    EXPECT_EQ(prompter.fileRequests[0].filter, "Session files (*.qmz)|*.qmz|All files (*.*)|*.*");
    EXPECT_EQ(prompter.fileRequests[0].initialPath, dir.file("untitled.qmz"));
    EXPECT_EQ(session.sessionFileName, dir.file("spring.qmz"));
    EXPECT_EQ(hooks.title, "Velmora Mailtray v1.1 - spring.qmz");
    EXPECT_FALSE(session.hasUnsavedChanges());
    EXPECT_EQ(loaded(dir.file("spring.qmz")).contactCount(), 1);

    // A titled session saves in place without asking.
    addContact("bob@example.org");
    EXPECT_TRUE(saveSessionCommand(context));
    EXPECT_EQ(prompter.fileRequests.size(), 1u);
    EXPECT_EQ(loaded(dir.file("spring.qmz")).contactCount(), 2);
}

TEST_F(FileCommandsTest, SaveAsStartsAtTheCurrentFileAndACancelSavesNothing) {
    session.sessionFileName = dir.file("old.qmz");
    prompter.files.push_back(std::nullopt);
    EXPECT_FALSE(saveSessionAsCommand(context));
    EXPECT_EQ(prompter.fileRequests.at(0).initialPath, dir.file("old.qmz"));
    EXPECT_EQ(session.sessionFileName, dir.file("old.qmz"));
    EXPECT_TRUE(hooks.title.empty());
}

TEST_F(FileCommandsTest, AnExistingFileBehindTheAddedExtensionIsOnlyReplacedWhenConfirmed) {
    writeFileBytes(dir.file("keep.qmz"), "precious");
    prompter.files.push_back(dir.file("keep"));
    prompter.answers.push_back(PromptAnswer::No);
    EXPECT_FALSE(saveSessionAsCommand(context));
    EXPECT_EQ(readFileBytes(dir.file("keep.qmz")), "precious");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Confirm");

    prompter.files.push_back(dir.file("keep"));
    prompter.answers.push_back(PromptAnswer::Yes);
    EXPECT_TRUE(saveSessionAsCommand(context));
    EXPECT_EQ(loaded(dir.file("keep.qmz")).groupCount(), 1);
}

TEST_F(FileCommandsTest, NothingIsAskedWithoutUnsavedChanges) {
    EXPECT_TRUE(mayDiscardSession(context));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(FileCommandsTest, UnsavedChangesAskYesNoCancel) {
    addContact("ann@example.org");
    // Cancel stops; nothing is saved.
    prompter.answers.push_back(PromptAnswer::Cancel);
    EXPECT_FALSE(mayDiscardSession(context));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Confirm");
    EXPECT_EQ(prompter.shown[0].text, "The current session has unsaved changes. Save them first?");
    EXPECT_EQ(prompter.shown[0].buttons, PromptButtons::YesNoCancel);
    // No goes on without saving.
    prompter.answers.push_back(PromptAnswer::No);
    EXPECT_TRUE(mayDiscardSession(context));
    EXPECT_TRUE(prompter.fileRequests.empty());
    // Yes on an untitled session asks for a path; a cancelled requester stops.
    prompter.answers.push_back(PromptAnswer::Yes);
    prompter.files.push_back(std::nullopt);
    EXPECT_FALSE(mayDiscardSession(context));
    // Yes with a path saves and goes on.
    prompter.answers.push_back(PromptAnswer::Yes);
    prompter.files.push_back(dir.file("kept.qmz"));
    EXPECT_TRUE(mayDiscardSession(context));
    EXPECT_EQ(loaded(dir.file("kept.qmz")).contactCount(), 1);
}

TEST_F(FileCommandsTest, AFailedSaveStopsTheDiscard) {
    addContact("ann@example.org");
    session.sessionFileName = dir.file("missing-folder/list.qmz");
    prompter.answers.push_back(PromptAnswer::Yes);
    EXPECT_FALSE(mayDiscardSession(context));
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].title, "Error");
    EXPECT_EQ(session.contactCount(), 1);
}

TEST_F(FileCommandsTest, NewSessionKeepsTheSessionWhenCancelled) {
    addContact("ann@example.org");
    prompter.answers.push_back(PromptAnswer::Cancel);
    newSessionCommand(context);
    EXPECT_EQ(session.contactCount(), 1);
    prompter.answers.push_back(PromptAnswer::No);
    newSessionCommand(context);
    EXPECT_EQ(session.contactCount(), 0);
    EXPECT_EQ(hooks.title, "Velmora Mailtray v1.1 - <untitled>");
    EXPECT_EQ(hooks.refreshes, 1);
}

TEST_F(FileCommandsTest, OpenSessionUsesItsRequesterAndLoadsThePickedFile) {
    Session other;
    other.resetToNew();
    NewContact c;
    c.email = "other@example.org";
    other.createContact(c, "12/07/2026");
    std::string error;
    ASSERT_TRUE(writeSessionFile(other, dir.file("other.qmz"), error)) << error;

    prompter.files.push_back(std::nullopt); // cancelled: nothing happens
    openSessionCommand(context);
    EXPECT_EQ(hooks.refreshes, 0);
    ASSERT_EQ(prompter.fileRequests.size(), 1u);
    EXPECT_EQ(prompter.fileRequests[0].title, "Open Mailtray Session...");
    EXPECT_EQ(prompter.fileRequests[0].filter, "Session files (*.qmz)|*.qmz|All files (*.*)|*.*");
    EXPECT_EQ(prompter.fileRequests[0].initialPath, dir.path() + "/*.qmz");

    prompter.files.push_back(dir.file("other.qmz"));
    openSessionCommand(context);
    EXPECT_EQ(session.contactCount(), 1);
    EXPECT_EQ(session.contact(1).email, "other@example.org");
    EXPECT_EQ(hooks.title, "Velmora Mailtray v1.1 - other.qmz");
}

TEST_F(FileCommandsTest, OpenAsksAboutUnsavedChangesBeforeTheRequester) {
    addContact("ann@example.org");
    prompter.answers.push_back(PromptAnswer::Cancel);
    openSessionCommand(context);
    EXPECT_TRUE(prompter.fileRequests.empty());
    EXPECT_EQ(session.contactCount(), 1);
}

TEST_F(FileCommandsTest, AGivenFileOpensWithOpenSessionsChecksAndMessages) {
    Session other;
    other.resetToNew();
    NewContact c;
    c.email = "given@example.org";
    other.createContact(c, "12/07/2026");
    std::string error;
    ASSERT_TRUE(writeSessionFile(other, dir.file("given.qmz"), error)) << error;
    writeFileBytes(dir.file("notes.qmz"), "not a session");

    // A missing file and a foreign one are refused with the Open messages;
    // the session stays.
    addContact("kept@example.org");
    session.markSaved();
    EXPECT_FALSE(openSessionFileCommand(context, dir.file("missing.qmz")));
    EXPECT_FALSE(openSessionFileCommand(context, dir.file("notes.qmz")));
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[0].title, "Error");
    EXPECT_NE(prompter.shown[0].text.find(dir.file("missing.qmz")), std::string::npos);
    EXPECT_EQ(prompter.shown[1].text, headerMismatchText(dir.file("notes.qmz")));
    EXPECT_EQ(session.contact(1).email, "kept@example.org");

    // Unsaved changes are asked about first; Cancel opens nothing.
    addContact("more@example.org");
    prompter.answers.push_back(PromptAnswer::Cancel);
    EXPECT_FALSE(openSessionFileCommand(context, dir.file("given.qmz")));
    EXPECT_EQ(session.contactCount(), 2);

    prompter.answers.push_back(PromptAnswer::No);
    EXPECT_TRUE(openSessionFileCommand(context, dir.file("given.qmz")));
    EXPECT_EQ(session.contact(1).email, "given@example.org");
    EXPECT_EQ(hooks.title, "Velmora Mailtray v1.1 - given.qmz");
    EXPECT_TRUE(prompter.fileRequests.empty()); // no requester for a given file
}
