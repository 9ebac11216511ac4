// Signing in with OAuth end to end: `mailtray oauth`, `send` and
// `test-connection` against a fake provider (HTTPS from a throw-away
// authority) and the test SMTP server with XOAUTH2 and OAUTHBEARER, both on
// 127.0.0.1. The "browser" is fake_browser.py, started by the launcher.
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "delivery/oauth/oauth_provider.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/python_helpers.h"
#include "store/counted_string.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

namespace velmora::delivery {

using delivery_testing::runPythonScript;
using delivery_testing::scriptPath;
using delivery_testing::serverEnvelopes;
using delivery_testing::SmtpTestServer;
using testing_support::CliRun;
using testing_support::MemoryKeyring;
using testing_support::readFileBytes;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;

namespace {

// The provider, the mail server and a session that signs in with them.
struct OAuthCase {
    TempDir certs;
    TempDir provider; // the fake provider's files: valid-tokens, requests, refuse-refresh
    TempDir mail;     // the messages the SMTP server took
    TempDir work;
    std::string sessionPath = work.file("list.qmz");
    std::string draftPath = work.file("offer.eml");
    std::optional<SmtpTestServer> auth;
    std::optional<SmtpTestServer> smtp;
    std::optional<ScopedEnvironment> trust;
    std::optional<ScopedEnvironment> page;

    OAuthCase() {
        runPythonScript("make_test_certificates.py", {certs.path()});
        std::ofstream(provider.file("valid-tokens")).close();
        auth.emplace(provider.path(),
                     std::vector<std::string>{"--cert", certs.file("server.pem"), "--key",
                                              certs.file("server.key"), "--login",
                                              "ann@example.org"},
                     "fake_authorization_server.py");
        smtp.emplace(mail.path(),
                     std::vector<std::string>{"--oauth-user", "ann@example.org", "--oauth-tokens",
                                              provider.file("valid-tokens")});
        trust.emplace("SSL_CERT_FILE", certs.file("ca.pem"));
        page.emplace("VELMORA_TEST_BROWSER_PAGE", work.file("page.txt"));
        const std::string base = "https://127.0.0.1:" + std::to_string(auth->port());
        store::Session session;
        store::SessionSettings settings;
        settings.smtpServer = "127.0.0.1";
        settings.smtpPort = smtp->port();
        settings.timeoutSeconds = 10;
        settings.extensions.set("smtpSecurity", "none");
        settings.extensions.set(kOAuthProviderKey, "custom");
        settings.extensions.set(kOAuthClientIdKey, "test-client");
        settings.extensions.set(kOAuthAuthorizeUrlKey, base + "/authorize");
        settings.extensions.set(kOAuthTokenUrlKey, base + "/token");
        settings.extensions.set(kOAuthDeviceUrlKey, base + "/device");
        settings.extensions.set(kOAuthScopeKey, "https://mail.example/smtp");
        session.setSettings(settings);
        for (const char* email : {"a@example.net", "b@example.net"}) {
            store::NewContact fields;
            fields.email = email;
            session.addMailtrayEntry(session.contact(session.createContact(fields, "01/01/2026")));
        }
        std::string error;
        EXPECT_TRUE(writeSessionFile(session, sessionPath, error)) << error;
        MessageDraft draft;
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "Winter offer";
        draft.body = "<p>Hello</p>";
        EXPECT_TRUE(writeDraftFile(draft, draftPath, error)) << error;
    }

    CliRun run(std::vector<std::string> args, store::PasswordStore* keyring = nullptr) {
        CliRun result = testing_support::runCliWithClock(args, testing_support::RunDayClock(),
                                                         std::cin, keyring);
        // No token ever reaches the terminal or the session file in clear.
        const std::string tokens = readFileBytes(provider.file("valid-tokens"));
        const std::string file = readFileBytes(sessionPath);
        for (std::size_t at = 0; at < tokens.size();) {
            const std::size_t end = tokens.find('\n', at);
            const std::string token = tokens.substr(at, end - at);
            at = end + 1;
            EXPECT_EQ(result.out.find(token), std::string::npos);
            EXPECT_EQ(result.err.find(token), std::string::npos);
            EXPECT_EQ(file.find(token), std::string::npos);
        }
        EXPECT_EQ((result.out + result.err + file).find("rt-"), std::string::npos);
        return result;
    }
    CliRun send() { return run({"send", sessionPath, draftPath, "--recipients", "entire"}); }
    void expireTokens() { std::ofstream(provider.file("valid-tokens")).close(); }
    std::string requests() { return readFileBytes(provider.file("requests")); }
};

} // namespace

TEST(OAuthEndToEnd, SignInInTheBrowserThenSendRenewingTheTokenUntilTheProviderRefuses) {
    OAuthCase c;
    const CliRun login = c.run({"oauth", "login", c.sessionPath, "--browser",
                                scriptPath("fake_browser.py"), "--timeout", "60"});
    ASSERT_EQ(login.exitCode, 0) << login.out << login.err;
    EXPECT_TRUE(login.out.find("Open this address in a browser to sign in: https://127.0.0.1:") !=
                std::string::npos);
    EXPECT_TRUE(login.out.ends_with("Signed in as ann@example.org.\n")) << login.out;
    EXPECT_TRUE(testing_support::waitUntil(std::chrono::seconds(30), [&] {
        return std::filesystem::exists(c.work.file("page.txt"));
    }));
    EXPECT_EQ(readFileBytes(c.work.file("page.txt")), "Signed in. You can close this window.");
    const CliRun status = c.run({"oauth", "status", c.sessionPath});
    EXPECT_TRUE(status.out.starts_with("Signed in as ann@example.org (until ")) << status.out;

    // OAUTHBEARER (offered, so Auto takes it) with the token of the sign-in.
    CliRun sent = c.send();
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_EQ(serverEnvelopes(c.mail.path()).size(), 2U);
    EXPECT_EQ(serverEnvelopes(c.mail.path())[0]["login"], "ann@example.org");
    EXPECT_EQ(c.requests(), "authorization_code\n");

    // The token expires early; XOAUTH2 this time. The refusal is answered,
    // the token renewed and the run goes on without a word to the user.
    c.expireTokens();
    ASSERT_EQ(c.run({"settings", "set", c.sessionPath, "smtpAuthMechanism=xoauth2"}).exitCode, 0);
    sent = c.send();
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_EQ(serverEnvelopes(c.mail.path()).size(), 4U);
    EXPECT_EQ(c.requests(), "authorization_code\nrefresh_token\n");

    // The provider no longer renews: nothing is sent, the user is told to sign in.
    c.expireTokens();
    std::ofstream(c.provider.file("refuse-refresh")).close();
    sent = c.send();
    EXPECT_EQ(sent.exitCode, 1);
    EXPECT_NE((sent.out + sent.err).find("sign in again"), std::string::npos)
        << sent.out << sent.err;
    EXPECT_EQ(serverEnvelopes(c.mail.path()).size(), 4U);
}

TEST(OAuthEndToEnd, DeviceSignInKeepsTheRefreshTokenInTheKeyringAndSignOutForgetsIt) {
    OAuthCase c;
    MemoryKeyring keyring;
    const CliRun login = c.run({"oauth", "login", c.sessionPath, "--device"}, &keyring);
    ASSERT_EQ(login.exitCode, 0) << login.out << login.err;
    EXPECT_NE(login.out.find("To sign in, open https://127.0.0.1/device on any device and enter "
                             "the code WDJB-MJHT."),
              std::string::npos)
        << login.out;
    ASSERT_EQ(keyring.entries.size(), 1U);
    const std::string refresh = keyring.entries.begin()->second;
    EXPECT_TRUE(refresh.starts_with("rt-"));
    const std::string file = readFileBytes(c.sessionPath);
    EXPECT_EQ(file.find(store::rot13Text(refresh)), std::string::npos);

    // test-connection renews with the token from the keyring.
    c.expireTokens();
    const CliRun test = c.run({"test-connection", c.sessionPath}, &keyring);
    EXPECT_EQ(test.exitCode, 0) << test.out << test.err;
    EXPECT_EQ(c.requests(), "urn:ietf:params:oauth:grant-type:device_code\n"
                            "urn:ietf:params:oauth:grant-type:device_code\nrefresh_token\n");

    EXPECT_EQ(c.run({"oauth", "logout", c.sessionPath}, &keyring).out, "Signed out.\n");
    EXPECT_TRUE(keyring.entries.empty());
    const CliRun status = c.run({"oauth", "status", c.sessionPath});
    EXPECT_EQ(status.exitCode, 1);
    EXPECT_EQ(status.out, "Not signed in with OAuth.\n");
}

// Relay 2 of a pool signs in with an account of its own (another provider,
// another server): a run signs into each relay with its own token, and a
// token of relay 2 renewed during a run or a connection test is kept in
// relay 2's keys, so the next command does not renew it again.
TEST(OAuthEndToEnd, ARelayWithItsOwnSignInRenewsAndKeepsItsOwnToken) {
    OAuthCase c;
    TempDir provider2;
    TempDir mail2;
    std::ofstream(provider2.file("valid-tokens")).close();
    const SmtpTestServer auth2(provider2.path(),
                               {"--cert", c.certs.file("server.pem"), "--key",
                                c.certs.file("server.key"), "--login", "bob@example.org"},
                               "fake_authorization_server.py");
    const SmtpTestServer smtp2(mail2.path(), {"--oauth-user", "bob@example.org", "--oauth-tokens",
                                              provider2.file("valid-tokens")});
    const std::string base = "https://127.0.0.1:" + std::to_string(auth2.port());
    ASSERT_EQ(c.run({"settings", "set", c.sessionPath, "smtpAuthMechanism=xoauth2",
                     "relay.2.server=127.0.0.1", "relay.2.port=" + std::to_string(smtp2.port()),
                     "relay.2.security=none", "relay.2.authMechanism=xoauth2",
                     "relay.2.oauthClientId=test-client",
                     "relay.2.oauthAuthorizeUrl=" + base + "/authorize",
                     "relay.2.oauthTokenUrl=" + base + "/token",
                     "relay.2.oauthScope=https://mail.example/smtp"})
                  .exitCode,
              0);
    // Without a provider of its own relay 2 would share the session's sign-in.
    EXPECT_NE(c.run({"oauth", "status", c.sessionPath, "--relay", "2"})
                  .err.find("Relay 2 has no sign-in of its own"),
              std::string::npos);
    const std::vector<std::string> browser{"--browser", scriptPath("fake_browser.py")};
    auto login = [&](std::vector<std::string> args) {
        args.insert(args.end(), browser.begin(), browser.end());
        const CliRun run = c.run(args);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        return run.out;
    };
    EXPECT_TRUE(
        login({"oauth", "login", c.sessionPath}).ends_with("Signed in as ann@example.org.\n"));
    EXPECT_TRUE(login({"oauth", "login", c.sessionPath, "--relay", "2", "--provider", "custom"})
                    .ends_with("Signed in as bob@example.org.\n"));
    EXPECT_TRUE(c.run({"oauth", "status", c.sessionPath, "--relay", "2"})
                    .out.starts_with("Signed in as bob@example.org (until "));
    EXPECT_EQ(c.requests(), "authorization_code\n");
    const auto requests2 = [&] { return readFileBytes(provider2.file("requests")); };
    EXPECT_EQ(requests2(), "authorization_code\n");
    // Neither relay's tokens are shown by `settings show` or kept in clear.
    const CliRun shown = c.run({"settings", "show", c.sessionPath});
    const std::string tokens2 = readFileBytes(provider2.file("valid-tokens"));
    const std::string token2 = tokens2.substr(0, tokens2.find('\n'));
    EXPECT_EQ(shown.out.find(token2), std::string::npos);
    EXPECT_EQ(readFileBytes(c.sessionPath).find(token2), std::string::npos);
    EXPECT_EQ(shown.out.find("relay.2.oauthAccessToken"), std::string::npos);
    EXPECT_NE(shown.out.find("\"relay.2.oauthLogin\": \"bob@example.org\""), std::string::npos)
        << shown.out;

    CliRun sent = c.send();
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    ASSERT_EQ(serverEnvelopes(c.mail.path()).size(), 1U) << sent.out;
    ASSERT_EQ(serverEnvelopes(mail2.path()).size(), 1U) << sent.out;
    EXPECT_EQ(serverEnvelopes(c.mail.path())[0]["login"], "ann@example.org");
    EXPECT_EQ(serverEnvelopes(mail2.path())[0]["login"], "bob@example.org");

    // Relay 2's token ends early: the run renews it with relay 2's provider
    // only, and keeps it, so the next run renews nothing.
    std::ofstream(provider2.file("valid-tokens")).close();
    sent = c.send();
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_EQ(requests2(), "authorization_code\nrefresh_token\n");
    EXPECT_EQ(c.requests(), "authorization_code\n");
    sent = c.send();
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_EQ(serverEnvelopes(mail2.path()).size(), 3U);
    EXPECT_EQ(requests2(), "authorization_code\nrefresh_token\n");

    // The same for a connection test of relay 2.
    std::ofstream(provider2.file("valid-tokens")).close();
    for (int i = 0; i < 2; ++i) {
        const CliRun test = c.run({"test-connection", c.sessionPath, "--relay", "2"});
        EXPECT_EQ(test.exitCode, 0) << test.out << test.err;
    }
    EXPECT_EQ(requests2(), "authorization_code\nrefresh_token\nrefresh_token\n");
    EXPECT_EQ(c.requests(), "authorization_code\n");

    EXPECT_EQ(c.run({"oauth", "logout", c.sessionPath, "--relay", "2"}).out, "Signed out.\n");
    EXPECT_EQ(c.run({"oauth", "status", c.sessionPath, "--relay", "2"}).exitCode, 1);
    EXPECT_EQ(c.run({"oauth", "status", c.sessionPath}).exitCode, 0);
}

} // namespace velmora::delivery
