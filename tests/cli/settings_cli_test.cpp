#include "cli/cli_test_support.h"
#include "store/session_commands.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace velmora::cli {

using nlohmann::json;
using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::runCliWithInput;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

struct SettingsCase {
    TempDir dir;
    std::string path = dir.file("s.qmz");
    SettingsCase() { writeFileBytes(path, readFileBytes(dataPath("new_session.qmz"))); }
    json show(bool withPassword = false) const {
        std::vector<std::string> args = {"settings", "show", path};
        if (withPassword) {
            args.push_back("--with-password");
        }
        const auto run = runCli(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return json::parse(run.out);
    }
};

mode_t modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 0777;
}

} // namespace

TEST(SettingsCli, ShowListsTheFieldsAndEveryExtensionKeyWithItsDefault) {
    SettingsCase c;
    const json shown = c.show();
    EXPECT_EQ(shown["smtpPort"], 25);
    EXPECT_EQ(shown["deliveryMethod"], 1);
    EXPECT_EQ(shown["smtpSecurity"], "auto");
    EXPECT_EQ(shown["smtpAuthMechanism"], "auto");
    EXPECT_EQ(shown["heloName"], "");
    EXPECT_EQ(shown["tlsPinSha256"], "");
    EXPECT_EQ(shown["messagesPerConnection"], 1);
    EXPECT_EQ(shown["textAlternative"], 1);

    // A key a newer build wrote is shown too.
    const auto extension = runCli({"settings", "show", dataPath("extension_session.qmz")});
    ASSERT_EQ(extension.exitCode, 0) << extension.err;
    EXPECT_EQ(json::parse(extension.out)["futureKey"], "kept as is");
    EXPECT_EQ(json::parse(extension.out)["smtpSecurity"], "tls");
}

TEST(SettingsCli, SetChangesFieldsAndExtensionKeysByName) {
    SettingsCase c;
    const auto run = runCli(
        {"settings", "set", c.path, "smtpServer=mail.example.net", "smtpPort=587",
         "timeoutSeconds=30", "requiresAuth=1", "userName=ann.lee", "password=s3cret",
         "deliveryMethod=custom-client", "editorFormat=plain", "fromAddress=Ann <ann@example.org>",
         "smtpSecurity=STARTTLS", "smtpAuthMechanism=plain", "heloName=[IPv6:2001:db8::1]",
         "signature=Ann\nSales", "includeSignature=1", "messagesPerConnection=20"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json shown = c.show();
    EXPECT_EQ(shown["smtpServer"], "mail.example.net");
    EXPECT_EQ(shown["smtpPort"], 587);
    EXPECT_EQ(shown["timeoutSeconds"], 30);
    EXPECT_EQ(shown["requiresAuth"], 1);
    EXPECT_EQ(shown["password"], "********");
    EXPECT_EQ(c.show(true)["password"], "s3cret");
    EXPECT_EQ(shown["deliveryMethod"], 3);
    EXPECT_EQ(shown["editorFormat"], 0);
    EXPECT_EQ(shown["fromAddress"], "Ann <ann@example.org>");
    EXPECT_EQ(shown["smtpSecurity"], "starttls");
    EXPECT_EQ(shown["smtpAuthMechanism"], "plain");
    EXPECT_EQ(shown["heloName"], "[IPv6:2001:db8::1]");
    EXPECT_EQ(shown["signature"], "Ann\nSales");
    EXPECT_EQ(shown["messagesPerConnection"], 20);

    // Back to the defaults: the file is the plain layout again, byte for byte.
    SettingsCase fresh;
    ASSERT_EQ(runCli({"settings", "set", fresh.path, "smtpSecurity=tls",
                      "tlsPinSha256=" + std::string(64, 'A')})
                  .exitCode,
              0);
    EXPECT_NE(readFileBytes(fresh.path), readFileBytes(dataPath("new_session.qmz")));
    EXPECT_EQ(fresh.show()["tlsPinSha256"], std::string(64, 'A'));
    ASSERT_EQ(
        runCli({"settings", "set", fresh.path, "smtpSecurity=auto", "tlsPinSha256="}).exitCode, 0);
    EXPECT_EQ(readFileBytes(fresh.path), readFileBytes(dataPath("new_session.qmz")));
}

TEST(SettingsCli, ABadNameOrValueExits2NamingWhatIsAllowedAndSavesNothing) {
    struct Case {
        std::string assignment;
        std::string message; // part of the error
    };
    // Each refused value is in settings_by_name_test.cpp; here what the
    // command does with one.
    const Case cases[] = {
        {"smtpSecurity=ssl", "allowed: auto|starttls|tls|none."},
        {"password=bad\nsecret", "Bad value \"********\" for password"},
        {"smtpHost=x", "Unknown setting \"smtpHost\"; the settings are: editorFormat,"},
        {"smtpPort", "is not NAME=VALUE"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.assignment);
        SettingsCase c;
        const std::string before = readFileBytes(c.path);
        // A good assignment first: it must not be saved either.
        const auto run =
            runCli({"settings", "set", c.path, "smtpServer=mail.example.net", k.assignment});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find(k.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("secret"), std::string::npos);
        EXPECT_EQ(readFileBytes(c.path), before);
    }
}

TEST(SettingsCli, PasswordDashReadsTheFirstLineOfStandardInput) {
    SettingsCase c;
    const auto run = runCliWithInput({"settings", "set", c.path, "password=-", "requiresAuth=1"},
                                     "pa ss=word\r\nsecond line\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(c.show(true)["password"], "pa ss=word");
    EXPECT_EQ(run.out, "");

    // Nothing to read is refused; an explicit "password=" empties it.
    for (const char* input : {"", "\n"}) {
        const auto empty = runCliWithInput({"settings", "set", c.path, "password=-"}, input);
        EXPECT_EQ(empty.exitCode, 2);
        EXPECT_EQ(empty.err, "password=- found no password on standard input (give "
                             "\"password=\" to empty it).\nNothing was saved.\n");
        EXPECT_EQ(c.show(true)["password"], "pa ss=word");
    }
    ASSERT_EQ(runCli({"settings", "set", c.path, "password="}).exitCode, 0);
    EXPECT_EQ(c.show(true)["password"], "");
}

TEST(SettingsCli, AFileThatHoldsThePasswordIsReadableByItsOwnerOnly) {
    SettingsCase c;
    ASSERT_EQ(::chmod(c.path.c_str(), 0644), 0);
    // Without a password the mode stays as the user chose it.
    auto run = runCli({"settings", "set", c.path, "smtpPort=587"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(modeOf(c.path), 0644u);
    EXPECT_EQ(run.err, "");

    run = runCliWithInput({"settings", "set", c.path, "password=-"}, "s3cret\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(modeOf(c.path), 0600u);
    EXPECT_EQ(run.err, store::sessionMadePrivateText(c.path) + "\n");
    EXPECT_EQ(store::sessionMadePrivateText(c.path),
              "Session file \"" + c.path +
                  "\" holds the SMTP password, so other users can no longer read it.");

    // Said once: the next save finds it private already.
    run = runCli({"settings", "set", c.path, "smtpPort=25"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(modeOf(c.path), 0600u);
}

} // namespace velmora::cli
