#pragma once

#include "delivery/delivery_settings.h"
#include "delivery/windows/connection_test_window.h"
#include "delivery/windows/relays_window.h"
#include "delivery/windows/sign_in_group.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "store/password_store.h"
#include "store/session.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace velmora::delivery {

// "Mail Delivery Settings": edits the session's settings and writes them
// back only on "Apply".
class DeliverySettingsDialog final : public QWidget {
    Q_OBJECT

public:
    // `passwords`: the desktop keyring; null where there is none.
    // `launcher` opens the browser for an OAuth sign-in; null: the address is only shown.
    DeliverySettingsDialog(store::Session& session, platform::Prompter& prompter,
                           QWidget* parent = nullptr, store::PasswordStore* passwords = nullptr,
                           platform::Launcher* launcher = nullptr);
    ~DeliverySettingsDialog() override;

    // The controls as they stand now.
    DeliverySettingsForm form() const;

    QComboBox* methodDropDown() const { return method_; }
    QLineEdit* clientPathField() const { return clientPath_; }
    QPushButton* browseButton() const { return browse_; }
    QLineEdit* parametersField() const { return parameters_; }
    QLineEdit* serverField() const { return server_; }
    QLineEdit* portField() const { return port_; }
    QLineEdit* timeoutField() const { return timeout_; }
    QCheckBox* authenticationBox() const { return requiresAuth_; }
    QLineEdit* userNameField() const { return userName_; }
    QLineEdit* passwordField() const { return password_; }
    QRadioButton* htmlOption() const { return html_; }
    QRadioButton* plainTextOption() const { return plainText_; }
    QLineEdit* fromField() const { return from_; }
    QLineEdit* replyToField() const { return replyTo_; }
    QPlainTextEdit* signatureField() const { return signature_; }
    QCheckBox* includeSignatureBox() const { return includeSignature_; }
    QCheckBox* keyringBox() const { return keyring_; }
    QComboBox* securityDropDown() const { return security_; }
    QComboBox* loginMethodDropDown() const { return loginMethod_; }
    QPushButton* testConnectionButton() const { return testConnection_; }
    // "Relays...": the pool's further relays, changed with this dialog's Apply.
    QPushButton* relaysButton() const { return relays_; }
    RelaysWindow* relaysWindow() const { return relaysWindow_; }
    // The field of an advanced setting by its name ("tlsPinSha256", ...).
    QLineEdit* advancedField(std::string_view name) const;
    // The window of the last "Test Connection", while it is open.
    ConnectionTestWindow* connectionTestWindow() const { return testWindow_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* applyButton() const { return apply_; }

    // The OAuth sign-in group (sign_in_group.h).
    SignInGroup* signInGroup() const { return signIn_; }
    QPushButton* googleSignInButton() const { return signIn_->googleButton(); }
    QPushButton* microsoftSignInButton() const { return signIn_->microsoftButton(); }
    QPushButton* otherProviderButton() const { return signIn_->otherProviderButton(); }
    // "Sign In" under the other provider's fields.
    QPushButton* otherSignInButton() const { return signIn_->otherSignInButton(); }
    QPushButton* signOutButton() const { return signIn_->signOutButton(); }
    QLabel* signInStatusLabel() const { return signIn_->statusLabel(); }
    // Shown while a sign-in waits for the browser; its text is the sign-in's last line.
    QWidget* signInProgress() const { return signIn_->progress(); }
    QLabel* signInProgressLabel() const { return signIn_->progressLabel(); }
    QPushButton* cancelSignInButton() const { return signIn_->cancelButton(); }
    bool signingIn() const { return signIn_->signingIn(); }
    // The field of an OAuth setting by its key ("oauthClientId", ...).
    QLineEdit* oauthField(std::string_view key) const { return signIn_->field(key); }

private:
    void followMethodAndLogin();
    void chooseClientProgram();
    void suggestPort(int securityPosition);
    void testConnection();
    // The settings of the controls, or nothing after saying why an advanced one is refused.
    std::optional<store::SessionSettings> checkedSettings();
    void apply();
    // The sign-in keys of `from` go to the dialog and, as they stand in the
    // keyring already, to the session at once.
    void keepSignIn(const store::SessionSettings& from);
    // The same for a sign-out: the tokens only.
    void keepSignOut(const store::SessionSettings& from);

    store::Session& session_;
    platform::Prompter& prompter_;
    store::PasswordStore* passwords_;
    // Why the keyring box cannot be used; empty when it can.
    QString keyringUnavailable_;
    QCheckBox* keyring_;
    // The states last applied; none until the first pass sets every control.
    std::optional<DeliveryControlStates> shown_;

    QComboBox* method_;
    QLineEdit* clientPath_;
    QPushButton* browse_;
    QLineEdit* parameters_;
    QLineEdit* server_;
    QLineEdit* port_;
    QLineEdit* timeout_;
    QCheckBox* requiresAuth_;
    QLineEdit* userName_;
    QLineEdit* password_;
    QRadioButton* html_;
    QRadioButton* plainText_;
    QLineEdit* from_;
    QLineEdit* replyTo_;
    QPlainTextEdit* signature_;
    QCheckBox* includeSignature_;
    QComboBox* security_;
    QComboBox* loginMethod_;
    QPushButton* testConnection_;
    QPointer<ConnectionTestWindow> testWindow_;
    QPushButton* relays_;
    QPointer<RelaysWindow> relaysWindow_;
    std::array<QLineEdit*, kAdvancedSettingCount> advanced_{};
    store::ExtensionSettings extensions_; // the settings the dialog does not show, kept
    QPushButton* cancel_;
    QPushButton* apply_;

    platform::Launcher* launcher_;
    SignInGroup* signIn_ = nullptr;
};

} // namespace velmora::delivery
