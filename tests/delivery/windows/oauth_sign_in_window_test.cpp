// The Settings dialog's OAuth sign-in against the fake provider (HTTPS from a
// throw-away authority) with fake_browser.py as the browser, and Test
// Connection against the test SMTP server that takes the provider's tokens.
#include "../python_helpers.h"
#include "delivery/oauth/oauth_provider.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/windows/delivery_settings_dialog.h"
#include "platform/qt_launcher.h"
#include "store/counted_string.h"
#include "support/test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using delivery_testing::runPythonScript;
using delivery_testing::scriptPath;
using delivery_testing::SmtpTestServer;
using testing_support::FakePrompter;
using testing_support::MemoryKeyring;
using testing_support::readFileBytes;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;

namespace {

// The desktop's browser is the fake one.
struct FakeBrowserLauncher final : platform::Launcher {
    bool openDocument(const std::string& url) override {
        opened.push_back(url);
        return platform::QtLauncher().startProgram(scriptPath("fake_browser.py"), {url});
    }
    bool startProgram(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
    std::vector<std::string> opened;
};

struct RefusingLauncher final : platform::Launcher {
    bool openDocument(const std::string&) override { return false; }
    bool startProgram(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
};

// Started once: the provider and the SMTP server that checks its tokens.
struct Provider {
    TempDir certs;
    TempDir dir; // valid-tokens, requests, refuse-refresh
    TempDir mail;
    std::optional<SmtpTestServer> auth;
    std::optional<SmtpTestServer> smtp;
    std::optional<ScopedEnvironment> trust;
    Provider() {
        runPythonScript("make_test_certificates.py", {certs.path()});
        std::ofstream(dir.file("valid-tokens")).close();
        auth.emplace(dir.path(),
                     std::vector<std::string>{"--cert", certs.file("server.pem"), "--key",
                                              certs.file("server.key"), "--login",
                                              "ann@example.org"},
                     "fake_authorization_server.py");
        smtp.emplace(mail.path(),
                     std::vector<std::string>{"--oauth-user", "ann@example.org", "--oauth-tokens",
                                              dir.file("valid-tokens")});
        trust.emplace("SSL_CERT_FILE", certs.file("ca.pem"));
    }
    QString url(const char* path) const {
        return u"https://127.0.0.1:"_s + QString::number(auth->port()) + QString::fromLatin1(path);
    }
};

class OAuthSignInWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { provider = new Provider; }
    static void TearDownTestSuite() {
        delete provider;
        provider = nullptr;
    }
    void SetUp() override {
        session.resetToNew();
        store::SessionSettings s = session.settings();
        s.deliveryMethod = code(store::DeliveryMethod::SmtpServer);
        s.smtpServer = "127.0.0.1";
        s.smtpPort = provider->smtp->port();
        s.timeoutSeconds = 10;
        s.extensions.set("smtpSecurity", "none");
        session.setSettings(s);
        std::ofstream(provider->dir.file("requests")).close();
    }
    static void fillOtherProvider(DeliverySettingsDialog& d) {
        d.otherProviderButton()->click();
        d.oauthField(kOAuthClientIdKey)->setText(u"test-client"_s);
        d.oauthField(kOAuthAuthorizeUrlKey)->setText(provider->url("/authorize"));
        d.oauthField(kOAuthTokenUrlKey)->setText(provider->url("/token"));
        d.oauthField(kOAuthScopeKey)->setText(u"https://mail.example/smtp"_s);
    }
    static inline Provider* provider = nullptr;
    store::Session session;
    FakePrompter prompter;
    MemoryKeyring keyring;
};

} // namespace

TEST_F(OAuthSignInWindow, SignInTestConnectionRenewsTheTokenSignOutForgetsIt) {
    FakeBrowserLauncher browser;
    DeliverySettingsDialog d(session, prompter, nullptr, &keyring, &browser);
    EXPECT_EQ(d.signInStatusLabel()->text(), u"Not signed in with OAuth."_s);
    EXPECT_FALSE(d.signOutButton()->isEnabled());
    EXPECT_EQ(d.googleSignInButton()->text(), u"Sign in with Google"_s);
    EXPECT_EQ(d.microsoftSignInButton()->text(), u"Sign in with Microsoft"_s);
    EXPECT_EQ(d.otherProviderButton()->text(), u"Other provider..."_s);

    fillOtherProvider(d);
    d.otherSignInButton()->click();
    EXPECT_TRUE(d.signingIn());
    EXPECT_FALSE(d.signInProgress()->isHidden());
    EXPECT_FALSE(d.otherSignInButton()->isEnabled()); // one sign-in at a time
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.signingIn(); }, 30000));
    EXPECT_TRUE(prompter.shown.empty()) << prompter.shown[0].text;
    ASSERT_EQ(browser.opened.size(), 1U);
    EXPECT_TRUE(browser.opened[0].starts_with(provider->url("/authorize?").toStdString()));
    EXPECT_TRUE(d.signInProgress()->isHidden());
    EXPECT_TRUE(d.signInStatusLabel()->text().startsWith(u"Signed in as ann@example.org (until "_s))
        << d.signInStatusLabel()->text().toStdString();
    EXPECT_TRUE(d.signOutButton()->isEnabled());
    // Taken at once: the keyring holds the refresh token the session points at.
    ASSERT_EQ(keyring.entries.size(), 1U);
    EXPECT_TRUE(signedInWithOAuth(session.settings()));
    EXPECT_TRUE(session.settings().extensions.boolean(kOAuthTokenInKeyringKey));
    // With the client it renews at, whatever becomes of the dialog.
    EXPECT_EQ(session.settings().extensions.value(kOAuthTokenUrlKey),
              provider->url("/token").toStdString());
    EXPECT_EQ(session.settings().extensions.value(kOAuthClientIdKey), "test-client");
    const std::string firstToken = session.settings().extensions.value(kOAuthAccessTokenKey);

    // The provider forgets the token: the test renews it and logs in with the new one.
    std::ofstream(provider->dir.file("valid-tokens")).close();
    d.testConnectionButton()->click();
    ConnectionTestWindow* window = d.connectionTestWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, 30000));
    EXPECT_TRUE(window->reportText().contains(u"Result: OK"_s))
        << window->reportText().toStdString();
    EXPECT_EQ(readFileBytes(provider->dir.file("requests")), "authorization_code\nrefresh_token\n");
    const std::string renewed = session.settings().extensions.value(kOAuthAccessTokenKey);
    EXPECT_NE(renewed, firstToken);
    EXPECT_NE(readFileBytes(provider->dir.file("valid-tokens")).find(store::rot13Text(renewed)),
              std::string::npos);

    d.signOutButton()->click();
    EXPECT_EQ(d.signInStatusLabel()->text(), u"Not signed in with OAuth."_s);
    EXPECT_TRUE(keyring.entries.empty());
    EXPECT_FALSE(signedInWithOAuth(session.settings()));
    EXPECT_EQ(session.settings().extensions.value(kOAuthLoginKey), "ann@example.org");
}

TEST_F(OAuthSignInWindow, CancelStopsTheWaitAndAMissingClientIdIsSaid) {
    RefusingLauncher noBrowser;
    DeliverySettingsDialog d(session, prompter, nullptr, &keyring, &noBrowser);
    // No client ID for Google in this build: the fields to fill in are shown.
    EXPECT_FALSE(d.oauthField(kOAuthClientIdKey)->isVisibleTo(&d));
    d.googleSignInButton()->click();
    EXPECT_FALSE(d.signingIn());
    ASSERT_EQ(prompter.shown.size(), 1U);
    store::SessionSettings google;
    google.extensions.set(kOAuthProviderKey, "google");
    EXPECT_EQ(prompter.shown[0].text, oauthClientProblem(oauthClientFor(google)));
    EXPECT_NE(prompter.shown[0].text.find("register this program with Google"), std::string::npos);
    EXPECT_TRUE(d.oauthField(kOAuthClientIdKey)->isVisibleTo(&d));

    prompter.shown.clear();
    fillOtherProvider(d);
    d.otherSignInButton()->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return d.signInProgressLabel()->text().contains(u"could not be started"_s); },
        10000));
    EXPECT_TRUE(d.signInProgressLabel()->text().startsWith(
        u"Open this address in a browser to sign in: "_s));
    d.cancelSignInButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.signingIn(); }, 10000));
    EXPECT_TRUE(prompter.shown.empty()); // the user asked for it: no message
    EXPECT_EQ(d.signInStatusLabel()->text(), u"Not signed in with OAuth."_s);
    EXPECT_FALSE(signedInWithOAuth(session.settings()));
    EXPECT_TRUE(keyring.entries.empty());
    EXPECT_EQ(readFileBytes(provider->dir.file("requests")), "");
}

// A relay's editor has the same group for the relay's own account: its
// tokens go to the relay's keys (its keyring entry apart from the
// session's), Apply keeps them, and its connection test signs in with them.
TEST_F(OAuthSignInWindow, ARelaySignsInToItsOwnAccountFromItsEditor) {
    store::SessionSettings s = session.settings();
    s.extensions.set("relay.2.server", "127.0.0.1");
    s.extensions.set("relay.2.port", std::to_string(provider->smtp->port()));
    s.extensions.set("relay.2.security", "none");
    s.extensions.set("relay.2.authMechanism", "xoauth2");
    session.setSettings(s);
    FakeBrowserLauncher browser;
    auto* d = new DeliverySettingsDialog(session, prompter, nullptr, &keyring, &browser);
    d->relaysButton()->click();
    RelaysWindow* relays = d->relaysWindow();
    relays->list()->selectRow(0);
    relays->editButton()->click();
    SignInGroup* group = relays->editDialog()->signInGroup();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->statusLabel()->text(), u"Not signed in with OAuth."_s);
    group->otherProviderButton()->click();
    group->field(kOAuthClientIdKey)->setText(u"test-client"_s);
    group->field(kOAuthAuthorizeUrlKey)->setText(provider->url("/authorize"));
    group->field(kOAuthTokenUrlKey)->setText(provider->url("/token"));
    group->field(kOAuthScopeKey)->setText(u"https://mail.example/smtp"_s);
    group->otherSignInButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !group->signingIn(); }, 30000));
    EXPECT_TRUE(prompter.shown.empty()) << prompter.shown[0].text;
    EXPECT_TRUE(group->statusLabel()->text().startsWith(u"Signed in as ann@example.org"_s));
    ASSERT_EQ(keyring.entries.size(), 1U);
    EXPECT_TRUE(keyring.entries.begin()->first.ends_with("#relay.2"));
    relays->editDialog()->okButton()->click();
    d->applyButton()->click();
    const store::ExtensionSettings& kept = session.settings().extensions;
    EXPECT_EQ(kept.value("relay.2.oauthProvider"), "custom");
    EXPECT_EQ(kept.value("relay.2.oauthClientId"), "test-client");
    EXPECT_TRUE(kept.boolean("relay.2.oauthTokenInKeyring"));
    EXPECT_FALSE(signedInWithOAuth(session.settings())); // the session's own stays signed out

    // The relay's connection test logs in with its own token, renewed from the keyring.
    std::ofstream(provider->dir.file("valid-tokens")).close();
    d = new DeliverySettingsDialog(session, prompter, nullptr, &keyring, &browser);
    d->relaysButton()->click();
    relays = d->relaysWindow();
    relays->list()->selectRow(0);
    relays->testButton()->click();
    ConnectionTestWindow* test = relays->connectionTestWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !test->running(); }, 30000));
    EXPECT_TRUE(test->reportText().contains(u"Result: OK"_s)) << test->reportText().toStdString();
    EXPECT_EQ(readFileBytes(provider->dir.file("requests")), "authorization_code\nrefresh_token\n");

    relays->editButton()->click();
    relays->editDialog()->signInGroup()->signOutButton()->click();
    EXPECT_TRUE(keyring.entries.empty());
    relays->editDialog()->okButton()->click();
    d->applyButton()->click();
    EXPECT_FALSE(session.settings().extensions.boolean("relay.2.oauthTokenInKeyring"));
    EXPECT_EQ(session.settings().extensions.value("relay.2.oauthAccessToken"), "");
}

} // namespace velmora::delivery
