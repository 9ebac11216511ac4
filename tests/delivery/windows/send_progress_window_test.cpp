// The progress window through scripted runs, offscreen.
#include "../scripted_connection.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/windows/send_progress_window.h"
#include "support/test_support.h"

#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
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

} // namespace velmora::delivery
