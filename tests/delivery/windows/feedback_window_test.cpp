// "Process Replies and Bounces...": against Dovecot on 127.0.0.1 (the
// feedback tests' throw-away server) for the fetch, the failed save and the
// apply; against a listener that never answers for Cancel.
#include "../python_helpers.h"
#include "delivery/feedback/feedback_apply.h"
#include "delivery/settings_by_name.h"
#include "delivery/windows/feedback_window.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using testing_support::FakePrompter;
using testing_support::readFileBytes;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;
constexpr std::int32_t kDoNotContact = -1;

std::size_t messagesIn(const std::string& maildir) {
    std::size_t count = 0;
    for (const char* sub : {"/new", "/cur"}) {
        if (fs::exists(maildir + sub)) {
            count += static_cast<std::size_t>(
                std::distance(fs::directory_iterator(maildir + sub), fs::directory_iterator()));
        }
    }
    return count;
}

struct FeedbackWindowTest : ::testing::Test {
    TempDir dir;
    store::Session session;
    FakePrompter prompter;
    store::FixedClock clock{store::LocalDateTime{2026, 12, 7, 9, 30}};
    bool saveSucceeds = true;
    int saves = 0;

    void SetUp() override {
        session.resetToNew();
        store::SessionSettings settings = session.settings();
        settings.password = "secret";
        session.setSettings(settings);
        for (const char* email : {"gone@example.org", "full@example.org", "angry@isp.example",
                                  "dana@example.com", "bea@example.com", "slow@example.com"}) {
            store::NewContact contact;
            contact.email = email;
            session.createContact(contact, "01/01/2026");
        }
        session.sessionFileName = dir.file("s.qmz");
        save();
    }
    bool save() {
        ++saves;
        std::string error;
        if (!saveSucceeds || !store::writeSessionFile(session, session.sessionFileName, error)) {
            return false;
        }
        session.markSaved();
        return true;
    }
    FeedbackWindowServices services() {
        return {session, prompter, clock, nullptr, [this] { return save(); }};
    }
};

} // namespace

TEST_F(FeedbackWindowTest, FetchShowsWhatWasFoundApplySavesFirstThenMoves) {
    TempDir server;
    delivery_testing::SmtpTestServer dovecot(
        server.path(),
        {"--users", "window", "--messages", testing_support::dataPath("delivery/feedback/mail")},
        "feedback/imap_test_server.py");
    std::istringstream ports(readFileBytes(server.file("ports")));
    int tlsPort = 0;
    ports >> tlsPort;
    ScopedEnvironment trust("SSL_CERT_FILE", server.file("ca.pem"));
    const std::string inbox = server.file("home/window/Maildir");

    auto* window = new FeedbackWindow(services());
    QAbstractItemModelTester tester(window->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(window->windowTitle(), u"Process Replies and Bounces"_s);
    EXPECT_EQ(window->settingField(kSoftBounceLimitKey)->text(), u"3"_s);
    EXPECT_FALSE(window->applyButton()->isEnabled());
    window->settingField(kFeedbackServerKey)->setText(u"127.0.0.1"_s);
    window->settingField(kFeedbackPortKey)->setText(QString::number(tlsPort));
    window->settingField(kFeedbackLoginKey)->setText(u"window"_s);
    window->settingField(kFeedbackDoneFolderKey)->setText(u"Handled"_s);
    window->securityDropDown()->setCurrentIndex(0); // TLS

    // A setting the command line would refuse is refused here with its words.
    window->settingField(kSoftBounceLimitKey)->setText(u"0"_s);
    window->fetchButton()->click();
    store::SessionSettings copy = session.settings();
    ASSERT_EQ(prompter.shown.size(), 1U);
    EXPECT_EQ(prompter.shown[0].text, setSettingByName(copy, kSoftBounceLimitKey, "0")->message);
    EXPECT_FALSE(window->busy());
    window->settingField(kSoftBounceLimitKey)->setText(u"2"_s);

    window->fetchButton()->click();
    EXPECT_TRUE(window->busy());
    EXPECT_TRUE(window->cancelButton()->isEnabled());
    EXPECT_FALSE(window->fetchButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->busy(); }, 20000));
    EXPECT_EQ(window->statusLabel()->text(), u"Read 9 messages from \"INBOX\"."_s);
    EXPECT_EQ(session.settings().extensions.value(kSoftBounceLimitKey), "2");
    EXPECT_EQ(session.settings().extensions.value(kFeedbackSecurityKey), "tls");
    EXPECT_TRUE(window->countsLabel()->text().endsWith(u" Contacts to change 3."_s))
        << window->countsLabel()->text().toStdString();
    const QAbstractItemModel& rows = *window->model();
    ASSERT_EQ(rows.columnCount(), 5);
    QStringList headers;
    for (int c = 0; c < rows.columnCount(); ++c) {
        headers << rows.headerData(c, Qt::Horizontal).toString();
    }
    EXPECT_EQ(headers,
              QStringList({u"Kind"_s, u"Address"_s, u"Contact"_s, u"Reason"_s, u"Action"_s}));
    bool sawHardBounce = false;
    for (int r = 0; r < rows.rowCount(); ++r) {
        if (rows.index(r, 1).data().toString() == u"gone@example.org"_s) {
            sawHardBounce = true;
            EXPECT_EQ(rows.index(r, 2).data().toString(), u"gone@example.org"_s);
            EXPECT_EQ(rows.index(r, 4).data().toString(), u"Do Not Contact"_s);
        }
    }
    EXPECT_TRUE(sawHardBounce);
    // Found, not done: the contacts and the mailbox are as they were.
    EXPECT_NE(session.contact(1).status, kDoNotContact);
    EXPECT_EQ(messagesIn(inbox), 9U);
    ASSERT_TRUE(window->applyButton()->isEnabled());

    // A save that fails leaves neither the contacts changed nor the mailbox.
    saveSucceeds = false;
    prompter.shown.clear();
    window->applyButton()->click();
    ASSERT_EQ(prompter.shown.size(), 1U);
    EXPECT_EQ(prompter.shown[0].text,
              "The session was not saved, so nothing was changed in it or in the mailbox.");
    EXPECT_FALSE(window->busy());
    EXPECT_NE(session.contact(1).status, kDoNotContact);
    EXPECT_TRUE(session.contact(3).notes.view().empty());
    EXPECT_EQ(messagesIn(inbox), 9U);

    // Saved under another name meanwhile: the ledger would lie beside the wrong file.
    const std::string fetchedFor = session.sessionFileName;
    session.sessionFileName = dir.file("other.qmz");
    prompter.shown.clear();
    window->applyButton()->click();
    ASSERT_EQ(prompter.shown.size(), 1U);
    EXPECT_EQ(prompter.shown[0].text,
              "Another session was opened since the fetch: fetch again to apply to this one.");
    EXPECT_FALSE(fs::exists(feedbackLedgerPath(session.sessionFileName)));
    session.sessionFileName = fetchedFor;

    // The second Apply does it all: the failed one left nothing that counts as applied.
    saveSucceeds = true;
    window->applyButton()->click();
    EXPECT_TRUE(window->countsLabel()->text().endsWith(u" Contacts changed 3."_s));
    const store::Session saved = store::readSessionFile(session.sessionFileName).session;
    EXPECT_EQ(saved.contact(1).status, kDoNotContact);
    EXPECT_EQ(saved.contact(3).notes.view(), "Complained 12/07/2026");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->busy(); }, 20000));
    EXPECT_EQ(window->statusLabel()->text(), u"Moved 8 messages to \"Handled\"."_s);
    EXPECT_EQ(messagesIn(inbox), 1U);
    EXPECT_FALSE(window->applyButton()->isEnabled());
    window->close();
}

TEST_F(FeedbackWindowTest, CancelStopsAFetchTheServerNeverAnswers) {
    // The system completes the connection; nobody ever says a word on it.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);

    FeedbackWindow window(services());
    window.settingField(kFeedbackServerKey)->setText(u"127.0.0.1"_s);
    window.settingField(kFeedbackPortKey)->setText(QString::number(ntohs(address.sin_port)));
    window.securityDropDown()->setCurrentIndex(2); // None
    const std::string before = readFileBytes(session.sessionFileName);
    window.fetchButton()->click();
    ASSERT_TRUE(window.busy());
    window.cancelButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.busy(); }, 10000));
    EXPECT_TRUE(window.statusLabel()->text().endsWith(u" Nothing was changed."_s))
        << window.statusLabel()->text().toStdString();
    EXPECT_EQ(window.model()->rowCount(), 0);
    EXPECT_FALSE(window.applyButton()->isEnabled());
    EXPECT_EQ(saves, 1); // the set-up's own
    EXPECT_EQ(readFileBytes(session.sessionFileName), before);
    ::close(silent);
}

} // namespace velmora::delivery
