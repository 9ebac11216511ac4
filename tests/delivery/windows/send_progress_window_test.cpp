// The progress window through scripted runs, offscreen.
#include "../python_helpers.h"
#include "../scripted_connection.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/windows/send_progress_window.h"
#include "store/counted_string.h"
#include "support/test_support.h"

#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using delivery_testing::deliveryScript;
using delivery_testing::ScriptedServer;

namespace {

struct Seen {
    QString status, button;
    bool modal = false;
};

struct WindowRun {
    store::FixedClock clock{store::LocalDateTime{}};
    MimeTypesFile types{"/nonexistent"};
    ScriptedServer server{clock};
    SendRunEnvironment environment{clock, types, server.factory(), "client.example"};
    store::Session session;
    MessageDraft draft;
    QPointer<SendProgressWindow> window = openSendProgressWindow(nullptr);
    std::vector<Seen> seen; // the window as each session opened

    explicit WindowRun(int recipients) {
        store::SessionSettings settings;
        settings.smtpServer = "mail.example.net";
        settings.extensions.set("smtpSecurity", "none"); // the scripts speak plain SMTP
        session.setSettings(settings);
        draft.fromText = "ann@example.org";
        for (int i = 1; i <= recipients; ++i) {
            store::NewContact fields;
            fields.email = "r" + std::to_string(i) + "@example.org";
            store::Contact entry = session.contact(session.createContact(fields, "01/01/2026"));
            session.addMailtrayEntry(entry);
            server.add(deliveryScript("ann@example.org", fields.email));
        }
        server.onOpen = [this](int) {
            seen.push_back({window->statusText(), window->buttonText(),
                            QApplication::activeModalWidget() == window.data()});
        };
    }
    ~WindowRun() {
        if (window) {
            delete window.data();
        }
    }
};

} // namespace

TEST(SendProgressWindow, CaptionsThroughARunAndCloseAfter) {
    WindowRun r(2);
    EXPECT_EQ(r.window->windowTitle(), u"Sending Mail"_s);
    EXPECT_GE(r.window->width(), 328);
    EXPECT_GE(r.window->height(), 226);
    EXPECT_EQ(r.window->statusText(), u"Connecting..."_s);
    EXPECT_EQ(r.window->buttonText(), u"Close"_s);
    EXPECT_EQ(r.window->progressBar()->maximum(), 10);

    const SendRunSummary summary =
        r.window->sendToRecipients(r.session, r.draft, {}, r.environment);
    EXPECT_EQ(summary.delivered, 2);
    ASSERT_EQ(r.seen.size(), 2u);
    EXPECT_EQ(r.seen[0].status, u"Sending 1/2 (r1@example.org)"_s);
    EXPECT_EQ(r.seen[1].status, u"Sending 2/2 (r2@example.org)"_s);
    for (const Seen& s : r.seen) {
        EXPECT_EQ(s.button, u"Cancel"_s);
        EXPECT_TRUE(s.modal);
    }
    EXPECT_EQ(r.window->statusText(), u"Finished."_s);
    EXPECT_EQ(r.window->buttonText(), u"Close"_s);
    EXPECT_EQ(r.window->progressBar()->value(), 2);
    EXPECT_EQ(r.window->logLines().last(), u"Delivered 2, rejected 0, failed 0."_s);
    EXPECT_EQ(r.window->countsText(),
              u"Delivered 2, deferred 0, rejected 0, failed 0, not attempted 0"_s);
    EXPECT_FALSE(r.window->retryButton()->isVisible());
    EXPECT_EQ(r.window->log()->currentRow(), r.window->log()->count() - 1);
    EXPECT_TRUE(r.window->isVisible());

    QTest::mouseClick(r.window->button(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(r.window.isNull()); // closed and gone
}

TEST(SendProgressWindow, CancelWhileSendingStopsTheRunAndKeepsTheWindow) {
    WindowRun r(3);
    // The user clicks while the second session works and events are pumped.
    r.server.onOpen = [&r](int n) {
        if (n == 2) {
            QTimer::singleShot(0, r.window.data(),
                               [&r] { QTest::mouseClick(r.window->button(), Qt::LeftButton); });
        }
    };
    const SendRunSummary summary =
        r.window->sendToRecipients(r.session, r.draft, {}, r.environment);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(r.server.opened, 2);
    EXPECT_TRUE(r.window->logLines().contains(u"Cancelled."_s));
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_EQ(r.window->buttonText(), u"Close"_s);

    // The close box during a later run cancels it too, and closes nothing.
    r.server.onOpen = [&r](int) {
        QTimer::singleShot(0, r.window.data(), [&r] { r.window->close(); });
    };
    EXPECT_EQ(r.window->sendPreview(r.session, r.draft, r.environment).cancelled, true);
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_FALSE(r.window->running());
}

TEST(SendProgressWindow, ARunStoppedEarlySaysSoAndRetrySendsToTheRest) {
    testing_support::TempDir dir;
    WindowRun r(3);
    r.session.sessionFileName = dir.file("campaign.qmz"); // journaled beside it
    r.server.onOpen = [&r](int n) {
        if (n == 2) {
            QTimer::singleShot(0, r.window.data(),
                               [&r] { QTest::mouseClick(r.window->button(), Qt::LeftButton); });
        }
    };
    r.window->sendToRecipients(r.session, r.draft, {}, r.environment);
    EXPECT_EQ(r.window->statusText(), u"Stopped early: 2 of 3 recipients not attempted."_s);
    EXPECT_EQ(r.window->countsText(),
              u"Delivered 1, deferred 0, rejected 0, failed 0, not attempted 2"_s);
    ASSERT_TRUE(r.window->retryButton()->isVisible());

    // The retry's two sessions, in place of the third one's unused script.
    r.server.onOpen = nullptr;
    r.server.connections.pop_back();
    r.server.add(deliveryScript("ann@example.org", "r2@example.org"));
    r.server.add(deliveryScript("ann@example.org", "r3@example.org"));
    QTest::mouseClick(r.window->retryButton(), Qt::LeftButton);
    EXPECT_EQ(r.server.opened, 4);
    EXPECT_EQ(r.window->statusText(), u"Finished."_s);
    EXPECT_EQ(r.window->logLines().last(), u"Delivered 2, rejected 0, failed 0."_s);
    EXPECT_FALSE(r.window->retryButton()->isVisible());
}

TEST(SendProgressWindow, IsResizableAndTheNextOneOpensAtTheSameSize) {
    {
        WindowRun r(0);
        r.window->show();
        r.window->resize(640, 420);
        EXPECT_EQ(r.window->size(), QSize(640, 420));
    }
    WindowRun next(0);
    EXPECT_EQ(next.window->size(), QSize(640, 420));
}

namespace {

struct QuietSignIn final : SignInFeedback {
    void show(const std::string&) override {}
    bool cancelled() override { return false; }
};

// The real network: the fake provider and the SMTP server that takes only
// its current tokens, started once.
class SendProgressSignIn : public ::testing::Test {
protected:
    static void SetUpTestSuite() { servers = new delivery_testing::OAuthTestServers; }
    static void TearDownTestSuite() {
        delete servers;
        servers = nullptr;
    }
    static inline delivery_testing::OAuthTestServers* servers = nullptr;
};

} // namespace

// A desktop send of a session signed in with OAuth signs in with its token:
// an ended token is renewed and kept in the session; when the provider
// refuses to renew, nothing starts and the window says why.
TEST_F(SendProgressSignIn, RenewsAnEndedTokenAndRefusesToStartWhenTheProviderRefuses) {
    const store::SystemClock clock;
    const MimeTypesFile types("/nonexistent");
    const SendRunEnvironment environment{clock, types, tcpConnections(), "client.example"};
    testing_support::MemoryKeyring keyring;
    store::Session session;
    store::SessionSettings settings;
    servers->configure(settings);
    SignInRequest device;
    device.device = true;
    device.nowSeconds = clock.now().millisecondsSinceEpoch / 1000;
    QuietSignIn quiet;
    const SignInResult signedIn = signIn(settings, device, quiet, &keyring);
    ASSERT_TRUE(signedIn.ok) << signedIn.message;
    session.setSettings(settings);
    for (const char* email : {"a@example.net", "b@example.net"}) {
        store::NewContact fields;
        fields.email = email;
        session.addMailtrayEntry(session.contact(session.createContact(fields, "01/01/2026")));
    }
    MessageDraft draft;
    draft.fromText = "ann@example.org";
    draft.subject = "Winter offer";
    draft.body = "Hello";
    const std::string ended = session.settings().extensions.value(kOAuthAccessTokenKey);
    const auto endToken = [&session] {
        store::SessionSettings s = session.settings();
        s.extensions.set(kOAuthExpiresAtKey, "1");
        session.setSettings(s);
        servers->expireTokens();
    };
    endToken();

    QPointer<SendProgressWindow> window = openSendProgressWindow(nullptr, &keyring);
    const SendRunSummary sent = window->sendToRecipients(session, draft, {}, environment);
    EXPECT_EQ(sent.delivered, 2) << window->logLines().join(u'\n').toStdString();
    EXPECT_EQ(delivery_testing::serverEnvelopes(servers->mail.path()).size(), 2U);
    EXPECT_NE(servers->requests().find("refresh_token"), std::string::npos);
    // The renewed token is the session's now, for the user's Save to keep.
    const std::string renewed = session.settings().extensions.value(kOAuthAccessTokenKey);
    EXPECT_NE(renewed, ended);
    EXPECT_NE(testing_support::readFileBytes(servers->dir.file("valid-tokens"))
                  .find(store::rot13Text(renewed)),
              std::string::npos);
    delete window.data();

    // The provider no longer renews: neither a list run nor a preview starts.
    endToken();
    std::ofstream(servers->dir.file("refuse-refresh")).close();
    const store::SessionSettings before = session.settings();
    for (const bool preview : {false, true}) {
        window = openSendProgressWindow(nullptr, &keyring);
        const SendRunSummary refused =
            preview ? window->sendPreview(session, draft, environment)
                    : window->sendToRecipients(session, draft, {}, environment);
        EXPECT_EQ(refused.recipients, 0);
        EXPECT_EQ(window->statusText(), QString::fromUtf8(kSignInAgainText));
        EXPECT_EQ(window->buttonText(), u"Close"_s);
        EXPECT_FALSE(window->running());
        delete window.data();
    }
    EXPECT_EQ(delivery_testing::serverEnvelopes(servers->mail.path()).size(), 2U);
    // Nothing lost: the sign-in stays for when the user signs in again.
    EXPECT_TRUE(session.settings() == before);
    EXPECT_EQ(keyring.entries.size(), 1U);
    std::filesystem::remove(servers->dir.file("refuse-refresh"));
}

} // namespace velmora::delivery
