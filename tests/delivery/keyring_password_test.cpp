#include "cli/cli_test_support.h"
#include "delivery/keyring_password.h"
#include "store/session_file.h"
#include "store/session_lock.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace velmora::delivery {

using testing_support::MemoryKeyring;
using testing_support::TempDir;

namespace {

store::SessionSettings login(const std::string& password) {
    store::Session fresh;
    fresh.resetToNew();
    store::SessionSettings s = fresh.settings();
    s.smtpServer = "mail.example.org";
    s.smtpPort = 587;
    s.requiresAuth = 1;
    s.userName = "ann";
    s.password = password;
    return s;
}

store::Session sessionWith(const store::SessionSettings& settings) {
    store::Session session;
    session.resetToNew();
    session.setSettings(settings);
    session.markSaved();
    return session;
}

} // namespace

TEST(KeyringPassword, TheChoiceStoresRemovesOrFallsBackToTheFile) {
    struct Case {
        const char* what;
        bool before, keep;
        std::optional<std::string> unavailable, writeError;
        bool marker, stored, message;
    };
    const Case cases[] = {
        {"kept", false, true, std::nullopt, std::nullopt, true, true, false},
        {"no keyring", false, true, "no bus", std::nullopt, false, false, true},
        {"refused", false, true, std::nullopt, "locked", false, false, true},
        {"turned off", true, false, std::nullopt, std::nullopt, false, false, false},
        {"left off", false, false, std::nullopt, std::nullopt, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryKeyring keyring;
        store::SessionSettings before = login("s3cret");
        before.extensions.set(kPasswordInKeyringKey, c.before ? "1" : "0");
        if (c.before) {
            keyring.entries[keyringAccount(before)] = "s3cret";
        }
        keyring.unavailable = c.unavailable;
        keyring.refusal = c.writeError;
        store::SessionSettings settings = before;
        const auto message = applyKeyringChoice(settings, c.keep, before, keyring);
        EXPECT_EQ(keepsPasswordInKeyring(settings), c.marker);
        EXPECT_EQ(keyring.entries.count("smtp://ann@mail.example.org:587") == 1, c.stored);
        EXPECT_EQ(message.has_value(), c.message);
        EXPECT_EQ(settings.password, "s3cret"); // in memory either way
        if (message) {
            EXPECT_NE(message->find(c.unavailable ? *c.unavailable : *c.writeError),
                      std::string::npos);
        }
    }
}

TEST(KeyringPassword, AMissingOrLockedLoginKeyringIsSaidInWords) {
    const struct {
        const char* refusal;
        const char* message;
    } cases[] = {
        {"Object does not exist at path \u201c/org/freedesktop/secrets/collection/login\u201d",
         kNoLoginKeyringText},
        {"Object does not exist at path /org/freedesktop/secrets/aliases/default",
         kNoLoginKeyringText},
        {"Cannot create an item in a locked collection", kNoLoginKeyringText},
        {"Access denied", "Access denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        MemoryKeyring keyring;
        keyring.refusal = c.refusal;
        const store::SessionSettings before = login("s3cret");
        store::SessionSettings settings = before;
        EXPECT_EQ(applyKeyringChoice(settings, true, before, keyring), c.message);
        EXPECT_FALSE(keepsPasswordInKeyring(settings));
        EXPECT_EQ(settings.password, "s3cret");
    }
}

TEST(KeyringPassword, AnUnchangedPasswordIsNotWrittenAgain) {
    // The keyring was locked at load time: the session holds no password.
    MemoryKeyring keyring;
    store::SessionSettings before = login("");
    before.extensions.set(kPasswordInKeyringKey, "1");
    keyring.entries[keyringAccount(before)] = "kept";
    keyring.refusal = "must not be written";
    store::SessionSettings settings = before;
    settings.signature = "Regards";
    EXPECT_FALSE(applyKeyringChoice(settings, true, before, keyring));
    EXPECT_TRUE(keepsPasswordInKeyring(settings));
    EXPECT_EQ(keyring.entries[keyringAccount(before)], "kept");
}

TEST(KeyringPassword, AChangedLoginMovesTheEntry) {
    MemoryKeyring keyring;
    store::SessionSettings before = login("old");
    before.extensions.set(kPasswordInKeyringKey, "1");
    keyring.entries[keyringAccount(before)] = "old";
    store::SessionSettings settings = before;
    settings.userName = "bob";
    settings.password = "new";
    EXPECT_FALSE(applyKeyringChoice(settings, true, before, keyring));
    EXPECT_EQ(keyring.entries,
              (std::map<std::string, std::string>{{"smtp://bob@mail.example.org:587", "new"}}));
}

TEST(KeyringPassword, TheFileKeepsAnEmptyPasswordAndTheMarker) {
    TempDir dir;
    store::SessionSettings settings = login("s3cret");
    settings.extensions.set(kPasswordInKeyringKey, "1");
    store::Session session = sessionWith(settings);
    std::string error;
    ASSERT_TRUE(writeSessionFile(session, dir.file("k.qmz"), error)) << error;
    store::SessionReadResult read = store::readSessionFile(dir.file("k.qmz"));
    ASSERT_EQ(read.status, store::SessionReadStatus::Loaded);
    EXPECT_EQ(read.session.settings().password, "");
    EXPECT_TRUE(keepsPasswordInKeyring(read.session.settings()));
    EXPECT_EQ(read.session.settings().userName, "ann");

    // Off (the default), the password travels in the file as before.
    session.setSettings(login("s3cret"));
    ASSERT_TRUE(writeSessionFile(session, dir.file("f.qmz"), error)) << error;
    EXPECT_EQ(store::readSessionFile(dir.file("f.qmz")).session.settings().password, "s3cret");
}

TEST(KeyringPassword, LoadingFetchesThePasswordWithoutAChangeToSave) {
    MemoryKeyring keyring;
    store::SessionSettings stored = login("");
    stored.extensions.set(kPasswordInKeyringKey, "1");
    keyring.entries[keyringAccount(stored)] = "s3cret";

    store::Session session = sessionWith(stored);
    EXPECT_FALSE(fetchKeyringPassword(session, keyring));
    EXPECT_EQ(session.settings().password, "s3cret");
    EXPECT_FALSE(session.hasUnsavedChanges());

    // Unreachable keyring or no entry: a message, the password stays empty.
    store::Session unreachable = sessionWith(stored);
    keyring.unavailable = "No desktop keyring is running.";
    const auto message = fetchKeyringPassword(unreachable, keyring);
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, keyringReadFailedText("No desktop keyring is running."));
    EXPECT_EQ(unreachable.settings().password, "");
    keyring.unavailable.reset();
    keyring.entries.clear();
    store::Session missing = sessionWith(stored);
    EXPECT_TRUE(fetchKeyringPassword(missing, keyring));

    // Without the marker nothing is asked.
    store::Session plain = sessionWith(login("inline"));
    keyring.unavailable = "unused";
    EXPECT_FALSE(fetchKeyringPassword(plain, keyring));
    EXPECT_EQ(plain.settings().password, "inline");
}

TEST(KeyringPassword, TheCommandLineToolReadsTheKeyringToo) {
    TempDir dir;
    store::SessionSettings settings = login("s3cret");
    settings.extensions.set(kPasswordInKeyringKey, "1");
    store::Session session = sessionWith(settings);
    std::string error;
    ASSERT_TRUE(writeSessionFile(session, dir.file("k.qmz"), error)) << error;

    MemoryKeyring keyring;
    keyring.entries[keyringAccount(settings)] = "s3cret";
    const auto shown =
        testing_support::runCli({"session", "show", dir.file("k.qmz"), "--with-password"},
                                testing_support::cliTestTime(), &keyring);
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(nlohmann::json::parse(shown.out)["settings"]["password"], "s3cret");
    EXPECT_EQ(shown.err, "");

    // Without a keyring the command goes on and says why the password is missing.
    const auto without =
        testing_support::runCli({"session", "show", dir.file("k.qmz"), "--with-password"});
    ASSERT_EQ(without.exitCode, 0) << without.err;
    EXPECT_EQ(nlohmann::json::parse(without.out)["settings"]["password"], "");
    EXPECT_EQ(without.err, std::string(kNoKeyringInThisBuildText) + "\n");
}

TEST(KeyringPassword, SettingsSetMovesThePasswordOrSavesNothing) {
    TempDir dir;
    store::Session session = sessionWith(login("s3cret"));
    std::string error;
    ASSERT_TRUE(writeSessionFile(session, dir.file("k.qmz"), error)) << error;
    const std::string before = testing_support::readFileBytes(dir.file("k.qmz"));

    // No keyring: refused, the file untouched.
    const auto refused =
        testing_support::runCli({"settings", "set", dir.file("k.qmz"), "passwordInKeyring=1"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Nothing was saved."), std::string::npos);
    EXPECT_EQ(testing_support::readFileBytes(dir.file("k.qmz")), before);

    // A file another program holds: refused before the keyring is touched.
    MemoryKeyring keyring;
    {
        store::SessionLock held;
        ASSERT_EQ(held.acquire(dir.file("k.qmz")), store::SessionLock::Outcome::Acquired);
        const auto locked =
            testing_support::runCli({"settings", "set", dir.file("k.qmz"), "passwordInKeyring=1"},
                                    testing_support::cliTestTime(), &keyring);
        EXPECT_EQ(locked.exitCode, 1);
        EXPECT_EQ(locked.err, "Session file \"" + dir.file("k.qmz") +
                                  "\" is in use by another Velmora Mailtray (process " +
                                  std::to_string(::getpid()) + ").\n");
        EXPECT_TRUE(keyring.entries.empty());
        EXPECT_EQ(testing_support::readFileBytes(dir.file("k.qmz")), before);
    }

    const auto moved =
        testing_support::runCli({"settings", "set", dir.file("k.qmz"), "passwordInKeyring=1"},
                                testing_support::cliTestTime(), &keyring);
    ASSERT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_EQ(keyring.entries[keyringAccount(login(""))], "s3cret");
    const store::SessionReadResult read = store::readSessionFile(dir.file("k.qmz"));
    EXPECT_EQ(read.session.settings().password, "");
    EXPECT_TRUE(keepsPasswordInKeyring(read.session.settings()));
}

} // namespace velmora::delivery
