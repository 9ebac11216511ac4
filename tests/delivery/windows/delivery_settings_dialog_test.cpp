#include "../python_helpers.h"
#include "delivery/keyring_password.h"
#include "delivery/windows/delivery_settings_dialog.h"
#include "platform/qt_text.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <thread>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using platform::toQString;

using testing_support::FakePrompter;
using testing_support::MemoryKeyring;
using testing_support::TempDir;

namespace {

// Enabled states as "client server login": each is '1' or '0' when every
// control of its group agrees, '?' when they differ.
std::string enabling(const DeliverySettingsDialog& d) {
    const auto all = [](std::initializer_list<const QWidget*> ws) {
        const bool first = (*ws.begin())->isEnabled();
        for (const QWidget* w : ws) {
            if (w->isEnabled() != first) {
                return '?';
            }
        }
        return first ? '1' : '0';
    };
    std::string s;
    s += all({d.clientPathField(), d.parametersField(), d.browseButton()});
    s += all({d.authenticationBox(), d.serverField(), d.portField(), d.timeoutField()});
    s += all({d.userNameField(), d.passwordField()});
    return s;
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

struct SettingsDialogTest : ::testing::Test {
    store::Session session;
    FakePrompter prompter;
    void SetUp() override { session.resetToNew(); }
};

} // namespace

TEST_F(SettingsDialogTest, OpensWithTheSessionsSettings) {
    store::SessionSettings s = session.settings();
    s.deliveryMethod = code(store::DeliveryMethod::SmtpServer);
    s.requiresAuth = 0;
    s.smtpServer = "mail.example";
    s.smtpPort = 587;
    s.timeoutSeconds = 30;
    s.password = "secret";
    s.editorFormat = code(store::EditorFormat::PlainText);
    s.signature = "Regards\r\nAnn";
    s.includeSignature = 1;
    session.setSettings(s);
    DeliverySettingsDialog d(session, prompter);
    d.show();
    EXPECT_EQ(d.windowTitle(), u"Mail Delivery Settings"_s);
    QStringList methods;
    for (int i = 0; i < d.methodDropDown()->count(); ++i) {
        methods << d.methodDropDown()->itemText(i);
    }
    EXPECT_EQ(methods, QStringList({u"None"_s, u"SMTP Server"_s, u"Default Mail Client"_s,
                                    u"Custom Mail Client"_s}));
    EXPECT_EQ(d.methodDropDown()->currentIndex(), 1);
    EXPECT_EQ(d.serverField()->text(), u"mail.example"_s);
    EXPECT_EQ(d.portField()->text(), u"587"_s);
    EXPECT_EQ(d.timeoutField()->text(), u"30"_s);
    EXPECT_EQ(d.passwordField()->text(), u"secret"_s);
    EXPECT_EQ(d.passwordField()->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(d.plainTextOption()->isChecked());
    EXPECT_FALSE(d.htmlOption()->isChecked());
    EXPECT_EQ(d.signatureField()->toPlainText(), u"Regards\nAnn"_s);
    EXPECT_TRUE(d.includeSignatureBox()->isChecked());
    EXPECT_EQ(d.parametersField()->text().toStdString(), store::kDefaultClientParameters);
    EXPECT_EQ(d.authenticationBox()->text(), u"Requires Authentication"_s);
    EXPECT_EQ(d.browseButton()->text(), u">>"_s);
    EXPECT_EQ(d.cancelButton()->text(), u"Cancel"_s);
    EXPECT_EQ(d.applyButton()->text(), u"Apply"_s);
    EXPECT_EQ(enabling(d), "010");
    // Choosing the other format unchecks the first.
    d.htmlOption()->click();
    EXPECT_FALSE(d.plainTextOption()->isChecked());
}

TEST_F(SettingsDialogTest, ControlsFollowEveryMethodAndTheAuthenticationBox) {
    DeliverySettingsDialog d(session, prompter);
    struct Row {
        int method;
        bool auth;
        const char* states;
    };
    const Row table[] = {{1, false, "010"}, {1, true, "011"},  {3, true, "100"},
                         {3, false, "100"}, {0, true, "000"},  {2, true, "000"},
                         {1, true, "011"},  {2, false, "000"}, {1, false, "010"}};
    const QWidget* alwaysEnabled[] = {
        d.methodDropDown(),      d.htmlOption(),   d.plainTextOption(),
        d.fromField(),           d.replyToField(), d.signatureField(),
        d.includeSignatureBox(), d.cancelButton(), d.applyButton()};
    for (const Row& row : table) {
        d.methodDropDown()->setCurrentIndex(row.method);
        d.authenticationBox()->setChecked(row.auth);
        EXPECT_EQ(enabling(d), row.states) << "method " << row.method << " auth " << row.auth;
        for (const QWidget* w : alwaysEnabled) {
            EXPECT_TRUE(w->isEnabled());
        }
    }
    // Disabled fields keep their texts.
    d.userNameField()->setText(u"ann"_s);
    d.methodDropDown()->setCurrentIndex(3);
    EXPECT_EQ(d.userNameField()->text(), u"ann"_s);
}

TEST_F(SettingsDialogTest, ApplyCopiesEveryControlAndParsesTheNumbers) {
    QPointer<DeliverySettingsDialog> d = new DeliverySettingsDialog(session, prompter);
    d->methodDropDown()->setCurrentIndex(3);
    d->clientPathField()->setText(u" /usr/bin/mailer "_s);
    d->serverField()->setText(u"   "_s);
    d->portField()->setText(u" 25abc"_s);
    d->timeoutField()->setText(u"soon"_s);
    d->authenticationBox()->setChecked(true);
    d->userNameField()->setText(u"ann"_s);
    d->passwordField()->setText(u"pw "_s);
    d->plainTextOption()->setChecked(true);
    d->fromField()->setText(u"Ann <ann@x>"_s);
    d->replyToField()->setText(u"r@x"_s);
    d->signatureField()->setPlainText(u"--\nAnn"_s);
    d->includeSignatureBox()->setChecked(true);
    d->applyButton()->click();
    flushDeletes();
    EXPECT_TRUE(d.isNull());

    const store::SessionSettings& s = session.settings();
    EXPECT_EQ(s.deliveryMethod, 3);
    EXPECT_EQ(s.clientPath, " /usr/bin/mailer ");
    EXPECT_EQ(s.smtpServer, "   ");
    EXPECT_EQ(s.smtpPort, 25);
    EXPECT_EQ(s.timeoutSeconds, 0);
    EXPECT_EQ(s.requiresAuth, 1);
    EXPECT_EQ(s.userName, "ann");
    EXPECT_EQ(s.password, "pw ");
    EXPECT_EQ(s.editorFormat, code(store::EditorFormat::PlainText));
    EXPECT_EQ(s.fromAddress, "Ann <ann@x>");
    EXPECT_EQ(s.replyTo, "r@x");
    EXPECT_EQ(s.signature, "--\r\nAnn"); // the file's line breaks
    EXPECT_EQ(s.includeSignature, 1);
}

TEST_F(SettingsDialogTest, CancelAfterEditingLeavesTheSettings) {
    const store::SessionSettings before = session.settings();
    QPointer<DeliverySettingsDialog> d = new DeliverySettingsDialog(session, prompter);
    d->methodDropDown()->setCurrentIndex(0);
    d->serverField()->setText(u"other"_s);
    d->portField()->setText(u"1"_s);
    d->htmlOption()->setChecked(false);
    d->plainTextOption()->setChecked(true);
    d->signatureField()->setPlainText(u"x"_s);
    d->cancelButton()->click();
    flushDeletes();
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(session.settings(), before);
}

TEST_F(SettingsDialogTest, TheClientProgramRequesterStartsAtTheTypedPath) {
    DeliverySettingsDialog d(session, prompter);
    d.methodDropDown()->setCurrentIndex(3);
    d.clientPathField()->setText(u"/opt/old"_s);
    d.browseButton()->click(); // cancelled
    EXPECT_EQ(d.clientPathField()->text(), u"/opt/old"_s);
    prompter.files = {"/usr/bin/new client"};
    d.browseButton()->click();
    EXPECT_EQ(d.clientPathField()->text(), u"/usr/bin/new client"_s);
    ASSERT_EQ(prompter.fileRequests.size(), 2u);
    EXPECT_EQ(prompter.fileRequests[0].title, "Custom Client Executable...");
    EXPECT_EQ(prompter.fileRequests[0].initialPath, "/opt/old");
    EXPECT_EQ(prompter.fileRequests[0].filter, "Exectuable (*)|*");
}

TEST_F(SettingsDialogTest, SecurityAndLoginMethodOpenAsSetSuggestPortsAndApply) {
    store::SessionSettings s = session.settings();
    s.smtpPort = 25;
    s.requiresAuth = 1;
    s.extensions.set("smtpAuthMechanism", "login");
    s.extensions.set("futureKey", "kept");
    session.setSettings(s);
    QPointer<DeliverySettingsDialog> d = new DeliverySettingsDialog(session, prompter);
    QStringList captions;
    for (int i = 0; i < d->securityDropDown()->count(); ++i) {
        captions << d->securityDropDown()->itemText(i);
    }
    EXPECT_EQ(captions, QStringList({u"Auto"_s, u"STARTTLS"_s, u"TLS"_s, u"None"_s}));
    EXPECT_EQ(d->securityDropDown()->currentIndex(), 0);
    EXPECT_EQ(d->loginMethodDropDown()->currentText(), u"LOGIN"_s);
    EXPECT_EQ(d->portField()->text(), u"25"_s); // opening changes nothing
    EXPECT_EQ(d->testConnectionButton()->text(), u"Test Connection"_s);

    d->securityDropDown()->setCurrentIndex(2);
    EXPECT_EQ(d->portField()->text(), u"465"_s);
    d->securityDropDown()->setCurrentIndex(1);
    EXPECT_EQ(d->portField()->text(), u"587"_s);
    d->portField()->setText(u"2525"_s); // the user's own port stays
    d->securityDropDown()->setCurrentIndex(3);
    EXPECT_EQ(d->portField()->text(), u"2525"_s);

    d->loginMethodDropDown()->setCurrentIndex(1);
    d->applyButton()->click();
    flushDeletes();
    const store::ExtensionSettings& applied = session.settings().extensions;
    EXPECT_EQ(applied.value("smtpSecurity"), "none");
    EXPECT_EQ(applied.value("smtpAuthMechanism"), "plain");
    EXPECT_EQ(applied.value("futureKey"), "kept");
    EXPECT_EQ(session.settings().smtpPort, 2525);

    // The login method follows the login fields; Security the server fields.
    DeliverySettingsDialog other(session, prompter);
    other.authenticationBox()->setChecked(false);
    EXPECT_FALSE(other.loginMethodDropDown()->isEnabled());
    EXPECT_TRUE(other.securityDropDown()->isEnabled());
    other.methodDropDown()->setCurrentIndex(2);
    EXPECT_FALSE(other.securityDropDown()->isEnabled());
    EXPECT_FALSE(other.testConnectionButton()->isEnabled());
}

TEST_F(SettingsDialogTest, TestConnectionUsesTheDialogsValuesWithoutFreezing) {
    TempDir store;
    delivery_testing::SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    DeliverySettingsDialog d(session, prompter);
    d.serverField()->setText(u"127.0.0.1"_s);
    d.securityDropDown()->setCurrentIndex(0);               // Auto: this server offers no TLS
    d.portField()->setText(QString::number(server.port())); // not applied
    d.testConnectionButton()->click();
    QPointer<ConnectionTestWindow> window = d.connectionTestWindow();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    // The window system keeps running while the test does.
    for (int i = 0; i < 1000 && window->running(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(window->running());
    const QString text = window->reportText();
    EXPECT_TRUE(text.contains(u"Greeting: test.server"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"Encryption: none"_s));
    EXPECT_TRUE(text.contains(u"Login: not set"_s));
    EXPECT_TRUE(text.contains(u"Result: OK"_s));
    EXPECT_EQ(session.settings().smtpPort, 25); // nothing was applied
    EXPECT_FALSE(std::filesystem::exists(store.file("001.json")));

    // Closing a window whose test still runs cancels it at once.
    d.portField()->setText(u"9"_s); // discard: nothing answers, so the test waits
    d.serverField()->setText(u"192.0.2.1"_s);
    d.testConnectionButton()->click();
    window = d.connectionTestWindow();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->running());
    window->close();
    flushDeletes();
    EXPECT_TRUE(window.isNull());
}

TEST_F(SettingsDialogTest, AdvancedSettingsKeepTheRulesOfSettingsSet) {
    store::SessionSettings s = session.settings();
    s.extensions.set("ratePerMinute", "20");
    session.setSettings(s);
    QPointer<DeliverySettingsDialog> d = new DeliverySettingsDialog(session, prompter);
    EXPECT_EQ(d->advancedField("ratePerMinute")->text(), u"20"_s);
    EXPECT_EQ(d->advancedField("messagesPerConnection")->text(), u"1"_s);
    struct Case {
        const char* name;
        const char* value;
    };
    for (const Case c : {Case{"messagesPerConnection", "0"}, Case{"tlsPinSha256", "abc"},
                         Case{"deferredRetries", "many"},
                         Case{"bounceAddress", "bounces at example.org"}}) {
        SCOPED_TRACE(c.name);
        const QString before = d->advancedField(c.name)->text();
        d->advancedField(c.name)->setText(QString::fromLatin1(c.value));
        prompter.shown.clear();
        d->applyButton()->click();
        store::SessionSettings copy = session.settings();
        const std::optional<SettingRefusal> refusal = setSettingByName(copy, c.name, c.value);
        ASSERT_TRUE(refusal);
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].text, refusal->message);
        flushDeletes();
        ASSERT_FALSE(d.isNull()); // the dialog stays for a correction
        d->advancedField(c.name)->setText(before);
    }
    d->advancedField("ratePerHour")->setText(u" 600 "_s);
    d->advancedField("tlsPinSha256")->setText(QString(64, u'a'));
    d->advancedField("bounceAddress")->setText(u" bounces@example.org "_s);
    d->applyButton()->click();
    flushDeletes();
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(session.settings().extensions.value("bounceAddress"), "bounces@example.org");
    // The key of the return addresses comes with the address, as with `settings set`.
    EXPECT_EQ(session.settings().extensions.value("bounceKey").size(), 64u);
    EXPECT_EQ(session.settings().extensions.value("ratePerHour"), "600");
    EXPECT_EQ(session.settings().extensions.value("ratePerMinute"), "20");
    EXPECT_EQ(session.settings().extensions.value("tlsPinSha256"), std::string(64, 'a'));
}

TEST_F(SettingsDialogTest, TrustThisCertificateFillsInThePinOfTheRefusedOne) {
    TempDir certificates;
    std::string pin =
        delivery_testing::runPythonScript("make_test_certificates.py", {certificates.path()});
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r')) {
        pin.pop_back();
    }
    TempDir store;
    delivery_testing::SmtpTestServer server(store.path(), {"--cert", certificates.file("self.pem"),
                                                           "--key", certificates.file("self.key")});
    ASSERT_TRUE(server.running());
    QPointer<DeliverySettingsDialog> d = new DeliverySettingsDialog(session, prompter);
    d->serverField()->setText(u"127.0.0.1"_s);
    d->securityDropDown()->setCurrentIndex(1); // STARTTLS
    d->portField()->setText(QString::number(server.port()));
    d->testConnectionButton()->click();
    QPointer<ConnectionTestWindow> window = d->connectionTestWindow();
    ASSERT_FALSE(window.isNull());
    EXPECT_FALSE(window->trustButton()->isVisible());
    for (int i = 0; i < 1000 && window->running(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(window->running());
    // What the server offered before the handshake still shows.
    const QString text = window->reportText();
    EXPECT_TRUE(text.contains(u"Capabilities before TLS: "_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"STARTTLS"_s));
    EXPECT_FALSE(text.contains(u"Capabilities: (none)"_s));
    ASSERT_TRUE(window->trustButton()->isVisible());
    EXPECT_EQ(window->trustButton()->text(), u"Trust this certificate"_s);
    window->trustButton()->click();
    EXPECT_EQ(d->advancedField("tlsPinSha256")->text(), toQString(pin));
    d->applyButton()->click();
    flushDeletes();
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(session.settings().extensions.value("tlsPinSha256"), pin);
}

namespace {

void useLogin(store::Session& session, bool inKeyring) {
    store::SessionSettings s = session.settings();
    s.deliveryMethod = code(store::DeliveryMethod::SmtpServer);
    s.smtpServer = "mail.example";
    s.requiresAuth = 1;
    s.userName = "ann";
    s.password = "secret";
    s.extensions.set("passwordInKeyring", inKeyring ? "1" : "0");
    session.setSettings(s);
}

} // namespace

TEST_F(SettingsDialogTest, WithoutAKeyringTheBoxIsDisabledAndSaysWhy) {
    MemoryKeyring unreachable;
    unreachable.unavailable = "No desktop keyring is running: no Secret Service.";
    struct Case {
        store::PasswordStore* store;
        QString tooltip;
    };
    for (const Case& c : {Case{nullptr, toQString(kNoKeyringInThisBuildText)},
                          Case{&unreachable, toQString(*unreachable.unavailable)}}) {
        useLogin(session, true);
        QPointer<DeliverySettingsDialog> d =
            new DeliverySettingsDialog(session, prompter, nullptr, c.store);
        EXPECT_EQ(d->keyringBox()->text(), u"Keep the password in the desktop keyring"_s);
        EXPECT_FALSE(d->keyringBox()->isEnabled());
        EXPECT_EQ(d->keyringBox()->toolTip(), c.tooltip);
        // Apply leaves the session's choice as it was.
        d->applyButton()->click();
        flushDeletes();
        EXPECT_TRUE(keepsPasswordInKeyring(session.settings()));
        EXPECT_TRUE(prompter.shown.empty());
    }
}

TEST_F(SettingsDialogTest, TheKeyringBoxMovesThePasswordAndReportsARefusal) {
    MemoryKeyring keyring;
    useLogin(session, false);
    QPointer<DeliverySettingsDialog> d =
        new DeliverySettingsDialog(session, prompter, nullptr, &keyring);
    EXPECT_TRUE(d->keyringBox()->isEnabled());
    EXPECT_FALSE(d->keyringBox()->isChecked());
    EXPECT_TRUE(d->keyringBox()->toolTip().isEmpty());
    // It follows the login fields.
    d->authenticationBox()->setChecked(false);
    EXPECT_FALSE(d->keyringBox()->isEnabled());
    d->authenticationBox()->setChecked(true);
    d->keyringBox()->setChecked(true);
    d->applyButton()->click();
    flushDeletes();
    EXPECT_TRUE(keepsPasswordInKeyring(session.settings()));
    EXPECT_EQ(keyring.entries[keyringAccount(session.settings())], "secret");
    EXPECT_EQ(session.settings().password, "secret");

    // Off again: the entry goes, the password returns to the file.
    d = new DeliverySettingsDialog(session, prompter, nullptr, &keyring);
    EXPECT_TRUE(d->keyringBox()->isChecked());
    d->keyringBox()->setChecked(false);
    d->applyButton()->click();
    flushDeletes();
    EXPECT_FALSE(keepsPasswordInKeyring(session.settings()));
    EXPECT_TRUE(keyring.entries.empty());

    // A keyring that refuses: the password stays in the file, with a message.
    keyring.refusal = "The keyring is locked.";
    d = new DeliverySettingsDialog(session, prompter, nullptr, &keyring);
    d->keyringBox()->setChecked(true);
    d->applyButton()->click();
    flushDeletes();
    EXPECT_FALSE(keepsPasswordInKeyring(session.settings()));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, keyringWriteFailedText("The keyring is locked."));
}

} // namespace velmora::delivery
