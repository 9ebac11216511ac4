#pragma once

#include "platform/launcher.h"
#include "platform/prompter.h"
#include "store/password_store.h"
#include "store/records.h"

#include <QGroupBox>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace velmora::delivery {

// "Sign in with OAuth" for one account: the status line with "Sign out",
// "Sign in with Google", "Sign in with Microsoft" and "Other provider..."
// (its fields and "Sign In"), and while a sign-in waits for the browser its
// last line with "Cancel". The delivery settings use it for the main
// server, the relay editor for a relay's own account.
class SignInGroup final : public QGroupBox {
    Q_OBJECT

public:
    // The account as its owner's fields stand, in the main keys' places (the
    // group's fields go on top).
    using Account = std::function<store::SessionSettings()>;
    // Keeps what a sign-in (`signedIn`) or a sign-out left in `settings`:
    // the tokens, and after a sign-in the provider and fields they belong to.
    using Keep = std::function<void(const store::SessionSettings& settings, bool signedIn)>;

    // `keyring`: null where there is none; `launcher` opens the browser
    // (null: the address is only shown).
    SignInGroup(Account account, Keep keep, platform::Prompter& prompter,
                store::PasswordStore* keyring, platform::Launcher* launcher,
                QWidget* parent = nullptr);
    // A sign-in under way is cancelled and waited for.
    ~SignInGroup() override;

    // Fills the fields from the main keys of `extensions`; the other
    // provider's fields show when one is set.
    void showFields(const store::ExtensionSettings& extensions);
    // The fields written into `settings` (an empty field removes its key).
    void takeFields(store::SessionSettings& settings) const;
    // The status line and the buttons as the account stands now.
    void showState();

    QPushButton* googleButton() const { return google_; }
    QPushButton* microsoftButton() const { return microsoft_; }
    QPushButton* otherProviderButton() const { return otherProvider_; }
    QPushButton* otherSignInButton() const { return signInOther_; }
    QPushButton* signOutButton() const { return signOut_; }
    QLabel* statusLabel() const { return status_; }
    QWidget* progress() const { return progress_; }
    QLabel* progressLabel() const { return line_; }
    QPushButton* cancelButton() const { return cancel_; }
    bool signingIn() const { return worker_.joinable(); }
    // The field of an OAuth setting by its key ("oauthClientId", ...).
    QLineEdit* field(std::string_view key) const;

private:
    void signInWith(const char* provider);
    void finishSignIn(bool ok, const QString& message, const store::SessionSettings& signedIn);
    void signOutOfAccount();

    Account account_;
    Keep keep_;
    platform::Prompter& prompter_;
    store::PasswordStore* keyring_;
    platform::Launcher* launcher_;
    QLabel* status_;
    QPushButton* signOut_;
    QPushButton* google_;
    QPushButton* microsoft_;
    QPushButton* otherProvider_;
    QPushButton* signInOther_;
    QWidget* otherFields_;
    std::array<QLineEdit*, 7> fields_{};
    QWidget* progress_;
    QProgressBar* bar_;
    QLabel* line_;
    QPushButton* cancel_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::thread worker_;
};

} // namespace velmora::delivery
