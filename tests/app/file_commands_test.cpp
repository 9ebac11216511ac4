#include "app/file_commands.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace velmora::app {

using testing_support::FakePrompter;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

struct TitleHooks final : store::SessionHooks {
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
        store::NewContact c;
        c.email = email;
        session.createContact(c, "12/07/2026");
    }
    store::Session loaded(const std::string& path) {
        store::SessionReadResult read = store::readSessionFile(path);
        EXPECT_EQ(read.status, store::SessionReadStatus::Loaded) << path;
        return std::move(read.session);
    }

    TempDir dir;
    store::Session session;
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
    prompter.answers.push_back(platform::PromptAnswer::No);
    EXPECT_FALSE(saveSessionAsCommand(context));
    EXPECT_EQ(readFileBytes(dir.file("keep.qmz")), "precious");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Confirm");

    prompter.files.push_back(dir.file("keep"));
    prompter.answers.push_back(platform::PromptAnswer::Yes);
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
    prompter.answers.push_back(platform::PromptAnswer::Cancel);
    EXPECT_FALSE(mayDiscardSession(context));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Confirm");
    EXPECT_EQ(prompter.shown[0].text, "The current session has unsaved changes. Save them first?");
    EXPECT_EQ(prompter.shown[0].buttons, platform::PromptButtons::YesNoCancel);
    // No goes on without saving.
    prompter.answers.push_back(platform::PromptAnswer::No);
    EXPECT_TRUE(mayDiscardSession(context));
    EXPECT_TRUE(prompter.fileRequests.empty());
    // Yes on an untitled session asks for a path; a cancelled requester stops.
    prompter.answers.push_back(platform::PromptAnswer::Yes);
    prompter.files.push_back(std::nullopt);
    EXPECT_FALSE(mayDiscardSession(context));
    // Yes with a path saves and goes on.
    prompter.answers.push_back(platform::PromptAnswer::Yes);
    prompter.files.push_back(dir.file("kept.qmz"));
    EXPECT_TRUE(mayDiscardSession(context));
    EXPECT_EQ(loaded(dir.file("kept.qmz")).contactCount(), 1);
}

TEST_F(FileCommandsTest, AFailedSaveStopsTheDiscard) {
    addContact("ann@example.org");
    session.sessionFileName = dir.file("missing-folder/list.qmz");
    prompter.answers.push_back(platform::PromptAnswer::Yes);
    EXPECT_FALSE(mayDiscardSession(context));
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].title, "Error");
    EXPECT_EQ(session.contactCount(), 1);
}

TEST_F(FileCommandsTest, NewSessionKeepsTheSessionWhenCancelled) {
    addContact("ann@example.org");
    prompter.answers.push_back(platform::PromptAnswer::Cancel);
    newSessionCommand(context);
    EXPECT_EQ(session.contactCount(), 1);
    prompter.answers.push_back(platform::PromptAnswer::No);
    newSessionCommand(context);
    EXPECT_EQ(session.contactCount(), 0);
    EXPECT_EQ(hooks.title, "Velmora Mailtray v1.1 - <untitled>");
    EXPECT_EQ(hooks.refreshes, 1);
}

TEST_F(FileCommandsTest, OpenSessionUsesItsRequesterAndLoadsThePickedFile) {
    store::Session other;
    other.resetToNew();
    store::NewContact c;
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
    prompter.answers.push_back(platform::PromptAnswer::Cancel);
    openSessionCommand(context);
    EXPECT_TRUE(prompter.fileRequests.empty());
    EXPECT_EQ(session.contactCount(), 1);
}

TEST_F(FileCommandsTest, AGivenFileOpensWithOpenSessionsChecksAndMessages) {
    store::Session other;
    other.resetToNew();
    store::NewContact c;
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
    EXPECT_EQ(prompter.shown[1].text, store::headerMismatchText(dir.file("notes.qmz")));
    EXPECT_EQ(session.contact(1).email, "kept@example.org");

    // Unsaved changes are asked about first; Cancel opens nothing.
    addContact("more@example.org");
    prompter.answers.push_back(platform::PromptAnswer::Cancel);
    EXPECT_FALSE(openSessionFileCommand(context, dir.file("given.qmz")));
    EXPECT_EQ(session.contactCount(), 2);

    prompter.answers.push_back(platform::PromptAnswer::No);
    EXPECT_TRUE(openSessionFileCommand(context, dir.file("given.qmz")));
    EXPECT_EQ(session.contact(1).email, "given@example.org");
    EXPECT_EQ(hooks.title, "Velmora Mailtray v1.1 - given.qmz");
    EXPECT_TRUE(prompter.fileRequests.empty()); // no requester for a given file
}

namespace {

// The desktop program's File commands with their hold on the file.
class LockedFileCommandsTest : public FileCommandsTest {
protected:
    void SetUp() override {
        FileCommandsTest::SetUp();
        context.file = &file;
        addContact("ann@example.org");
        ASSERT_TRUE(writeSessionFile(session, dir.file("s.qmz"), error));
        session.markSaved();
    }
    void open(const std::string& path) {
        prompter.files.push_back(path);
        openSessionCommand(context);
    }
    std::string inUseText(const std::string& path) const {
        return "Session file \"" + path + "\" is in use by another Velmora Mailtray (process " +
               std::to_string(::getpid()) + ").";
    }

    OpenSessionFile file;
    std::string error;
};

} // namespace

TEST_F(LockedFileCommandsTest, AnOpenSessionHoldsItsLockUntilANewSession) {
    open(dir.file("s.qmz"));
    ASSERT_EQ(session.contactCount(), 1);
    EXPECT_TRUE(file.lock.held());
    EXPECT_FALSE(file.readOnly);
    store::SessionLock other;
    EXPECT_EQ(other.acquire(dir.file("s.qmz")), store::SessionLock::Outcome::InUse);

    // Saving keeps it; Save As moves it to the new file.
    addContact("bob@example.org");
    EXPECT_TRUE(saveSessionCommand(context));
    prompter.files.push_back(dir.file("t.qmz"));
    EXPECT_TRUE(saveSessionAsCommand(context));
    EXPECT_EQ(other.acquire(dir.file("s.qmz")), store::SessionLock::Outcome::Acquired);
    other.release();
    EXPECT_EQ(other.acquire(dir.file("t.qmz")), store::SessionLock::Outcome::InUse);

    newSessionCommand(context);
    EXPECT_FALSE(file.lock.held());
    EXPECT_EQ(other.acquire(dir.file("t.qmz")), store::SessionLock::Outcome::Acquired);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(LockedFileCommandsTest, AFileAnotherProgramHoldsOpensReadOnlyAndSavesThroughSaveAs) {
    store::SessionLock other;
    ASSERT_EQ(other.acquire(dir.file("s.qmz")), store::SessionLock::Outcome::Acquired);
    open(dir.file("s.qmz"));
    EXPECT_EQ(session.contactCount(), 1);
    EXPECT_TRUE(file.readOnly);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, inUseText(dir.file("s.qmz")));

    // Save asks for another name; the held file itself is refused.
    addContact("bob@example.org");
    prompter.files.push_back(dir.file("s.qmz"));
    EXPECT_FALSE(saveSessionCommand(context));
    EXPECT_EQ(prompter.fileRequests.back().title, kSaveSessionTitle);
    EXPECT_EQ(prompter.shown.back().text, inUseText(dir.file("s.qmz")));
    EXPECT_EQ(loaded(dir.file("s.qmz")).contactCount(), 1);

    prompter.files.push_back(dir.file("copy.qmz"));
    EXPECT_TRUE(saveSessionCommand(context));
    EXPECT_FALSE(file.readOnly);
    EXPECT_EQ(loaded(dir.file("copy.qmz")).contactCount(), 2);
}

// A file named on the command line or chosen from Recent Sessions is held
// as one chosen in Open Session.. is.
TEST_F(LockedFileCommandsTest, AGivenFileIsLockedOrOpensReadOnlyLikeAnOpenedOne) {
    EXPECT_TRUE(openSessionFileCommand(context, dir.file("s.qmz")));
    EXPECT_TRUE(file.lock.held());
    EXPECT_FALSE(file.readOnly);
    store::SessionLock other;
    EXPECT_EQ(other.acquire(dir.file("s.qmz")), store::SessionLock::Outcome::InUse);

    // A refused file leaves the open session and its lock as they were.
    EXPECT_FALSE(openSessionFileCommand(context, dir.file("missing.qmz")));
    EXPECT_TRUE(file.lock.held());
    EXPECT_EQ(other.acquire(dir.file("s.qmz")), store::SessionLock::Outcome::InUse);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Error");

    newSessionCommand(context);
    ASSERT_EQ(other.acquire(dir.file("s.qmz")), store::SessionLock::Outcome::Acquired);
    EXPECT_TRUE(openSessionFileCommand(context, dir.file("s.qmz")));
    EXPECT_EQ(session.contactCount(), 1);
    EXPECT_TRUE(file.readOnly);
    EXPECT_FALSE(file.lock.held());
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].text, inUseText(dir.file("s.qmz")));
    // Save goes through Save As.
    prompter.files.push_back(dir.file("copy.qmz"));
    EXPECT_TRUE(saveSessionCommand(context));
    EXPECT_EQ(prompter.fileRequests.back().title, kSaveSessionTitle);
    EXPECT_FALSE(file.readOnly);
}

TEST_F(LockedFileCommandsTest, AFileChangedBehindOurBackIsOnlyReplacedWhenConfirmed) {
    open(dir.file("s.qmz"));
    addContact("bob@example.org");
    // Another program that takes no lock saves the file meanwhile.
    store::Session theirs = loaded(dir.file("s.qmz"));
    store::NewContact c;
    c.email = "theirs@example.org";
    theirs.createContact(c, "12/07/2026");
    theirs.createContact(c, "12/07/2026");
    ASSERT_TRUE(store::writeSessionFile(theirs, dir.file("s.qmz"), error));

    prompter.answers.push_back(platform::PromptAnswer::No);
    EXPECT_FALSE(saveSessionCommand(context));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              "The session file \"" + dir.file("s.qmz") +
                  "\" was changed by another program since it was opened. Replace it with this "
                  "session?");
    EXPECT_EQ(prompter.shown[0].buttons, platform::PromptButtons::YesNo);
    EXPECT_EQ(loaded(dir.file("s.qmz")).contactCount(), 3);

    prompter.answers.push_back(platform::PromptAnswer::Yes);
    EXPECT_TRUE(saveSessionCommand(context));
    EXPECT_EQ(loaded(dir.file("s.qmz")).contactCount(), 2);
    // Our own save is no change behind our back.
    addContact("cy@example.org");
    EXPECT_TRUE(saveSessionCommand(context));
    EXPECT_EQ(prompter.shown.size(), 2u);
}

} // namespace velmora::app
