#include "store/session_commands.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::store {

using testing_support::dataPath;
using testing_support::FakePrompter;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

struct RecordingHooks final : SessionHooks {
    void refreshViews() override { calls += "refresh;"; }
    void setWindowTitle(const std::string& title) override {
        calls += "title;";
        lastTitle = title;
    }
    void updateStatusLine() override { calls += "status;"; }
    std::string calls;
    std::string lastTitle;
};

Session sessionWithOneContact() {
    Session s;
    s.resetToNew();
    NewContact c;
    c.email = "keep@example.org";
    s.createContact(c, "12/07/2026");
    return s;
}

} // namespace

TEST(SessionTitle, ShowsTheFileNamePart) {
    EXPECT_EQ(sessionWindowTitle("<untitled>"), "Velmora Mailtray v1.1 - <untitled>");
    EXPECT_EQ(sessionWindowTitle("/home/ann/lists/spring.qmz"),
              "Velmora Mailtray v1.1 - spring.qmz");
    EXPECT_EQ(sessionWindowTitle("\"quoted.qmz\" trailing"), "Velmora Mailtray v1.1 - quoted.qmz");
}

TEST(SessionCommands, NewSessionRefreshesTitlesAndStatus) {
    Session s = sessionWithOneContact();
    RecordingHooks hooks;
    newSession(s, hooks);
    EXPECT_EQ(s.contactCount(), 0);
    EXPECT_EQ(hooks.calls, "refresh;title;status;");
    EXPECT_EQ(hooks.lastTitle, "Velmora Mailtray v1.1 - <untitled>");
}

TEST(SessionCommands, OpeningAForeignFileKeepsTheCurrentSession) {
    TempDir dir;
    writeFileBytes(dir.file("notes.txt"), "just some text that is not a session");
    Session s = sessionWithOneContact();
    RecordingHooks hooks;
    FakePrompter prompter;
    EXPECT_EQ(loadSession(s, dir.file("notes.txt"), hooks, prompter), LoadOutcome::Refused);
    EXPECT_EQ(s.contactCount(), 1);
    EXPECT_TRUE(s.hasUnsavedChanges());
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Error");
    EXPECT_EQ(prompter.shown[0].text,
              "Cannot open session file \"" + dir.file("notes.txt") + "\" - header mismatch.");
    EXPECT_EQ(hooks.calls, "");
}

TEST(SessionCommands, OpeningAMissingFileSaysSoAndKeepsTheSession) {
    Session s = sessionWithOneContact();
    RecordingHooks hooks;
    FakePrompter prompter;
    EXPECT_EQ(loadSession(s, "/nonexistent/x.qmz", hooks, prompter), LoadOutcome::Refused);
    EXPECT_EQ(s.contactCount(), 1);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              "Cannot open session file \"/nonexistent/x.qmz\" - No such file or directory");
}

TEST(SessionCommands, OpeningAGoodFileReplacesTheSession) {
    Session s = sessionWithOneContact();
    s.contactedToday = 3;
    RecordingHooks hooks;
    FakePrompter prompter;
    const std::string path = dataPath("rich_session.qmz");
    EXPECT_EQ(loadSession(s, path, hooks, prompter), LoadOutcome::Loaded);
    EXPECT_EQ(s.contactCount(), 4);
    EXPECT_EQ(s.sessionFileName, path);
    EXPECT_EQ(s.contactedToday, 3);
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(hooks.lastTitle, "Velmora Mailtray v1.1 - rich_session.qmz");
}

TEST(SessionCommands, ADamagedFileLoadsWhatItHoldsUntitled) {
    TempDir dir;
    const std::string golden = testing_support::readFileBytes(dataPath("rich_session.qmz"));
    writeFileBytes(dir.file("cut.qmz"), golden.substr(0, golden.size() - 30));
    Session s = sessionWithOneContact();
    RecordingHooks hooks;
    FakePrompter prompter;
    EXPECT_EQ(loadSession(s, dir.file("cut.qmz"), hooks, prompter), LoadOutcome::Damaged);
    EXPECT_EQ(s.contactCount(), 4);
    EXPECT_TRUE(s.isUntitled());
    EXPECT_TRUE(s.hasUnsavedChanges());
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Session file \"" + dir.file("cut.qmz") +
                                          "\" is damaged: only part of it could be read.");
    EXPECT_EQ(hooks.lastTitle, "Velmora Mailtray v1.1 - <untitled>");
}

TEST(SessionCommands, SaveNamesTheSessionOrReportsTheFailure) {
    TempDir dir;
    Session s = sessionWithOneContact();
    RecordingHooks hooks;
    FakePrompter prompter;
    ASSERT_TRUE(saveSession(s, dir.file("a.qmz"), hooks, prompter));
    EXPECT_EQ(s.sessionFileName, dir.file("a.qmz"));
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_EQ(hooks.calls, "title;");

    EXPECT_FALSE(saveSession(s, dir.path() + "/missing/b.qmz", hooks, prompter));
    EXPECT_EQ(s.sessionFileName, dir.file("a.qmz"));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Error");
    EXPECT_EQ(prompter.shown[0].text, "Cannot save session file \"" + dir.path() +
                                          "/missing/b.qmz\" - No such file or directory");
}

} // namespace velmora::store
