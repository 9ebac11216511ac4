#include "delivery/windows/sign_in_group.h"

#include "delivery/oauth/oauth_provider.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "platform/qt_text.h"
#include "store/clock.h"
#include "store/text.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using platform::toQString;

namespace {

struct OAuthFieldCaption {
    const char* key;
    const char* caption;
};
// The other provider's fields, in the order of fields_.
constexpr std::array<OAuthFieldCaption, 7> kOAuthFieldCaptions{{
    {kOAuthClientIdKey, "Client ID"},
    {kOAuthClientSecretKey, "Client secret"},
    {kOAuthLoginKey, "Login"},
    {kOAuthAuthorizeUrlKey, "Authorization URL"},
    {kOAuthTokenUrlKey, "Token URL"},
    {kOAuthDeviceUrlKey, "Device URL"},
    {kOAuthScopeKey, "Scope"},
}};

// A sign-in on its worker thread: its lines go to the group's thread, the
// Cancel button's flag comes back.
class GroupSignInFeedback final : public SignInFeedback {
public:
    GroupSignInFeedback(std::function<void(const std::string&)> show,
                        std::shared_ptr<std::atomic<bool>> cancel)
        : show_(std::move(show)), cancel_(std::move(cancel)) {}
    void show(const std::string& line) override { show_(line); }
    bool cancelled() override { return cancel_->load(); }

private:
    std::function<void(const std::string&)> show_;
    std::shared_ptr<std::atomic<bool>> cancel_;
};

long long secondsNow() {
    return store::SystemClock().now().millisecondsSinceEpoch / 1000;
}

} // namespace

SignInGroup::SignInGroup(Account account, Keep keep, platform::Prompter& prompter,
                         store::PasswordStore* keyring, platform::Launcher* launcher,
                         QWidget* parent)
    : QGroupBox(u"Sign in with OAuth"_s, parent), account_(std::move(account)),
      keep_(std::move(keep)), prompter_(prompter), keyring_(keyring), launcher_(launcher),
      status_(new QLabel), signOut_(new QPushButton(u"Sign out"_s)),
      google_(new QPushButton(u"Sign in with Google"_s)),
      microsoft_(new QPushButton(u"Sign in with Microsoft"_s)),
      otherProvider_(new QPushButton(u"Other provider..."_s)),
      signInOther_(new QPushButton(u"Sign In"_s)), otherFields_(new QWidget),
      progress_(new QWidget), bar_(new QProgressBar), line_(new QLabel),
      cancel_(new QPushButton(u"Cancel"_s)) {
    auto* fieldGrid = new QGridLayout(otherFields_);
    fieldGrid->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit;
        field->setToolTip(toQString(kOAuthFieldCaptions[i].key));
        fields_[i] = field;
        const int row = static_cast<int>(i);
        fieldGrid->addWidget(new QLabel(toQString(kOAuthFieldCaptions[i].caption)), row, 0);
        fieldGrid->addWidget(field, row, 1);
    }
    field(kOAuthClientSecretKey)->setEchoMode(QLineEdit::Password);
    fieldGrid->addWidget(signInOther_, static_cast<int>(fields_.size()), 1, Qt::AlignRight);
    otherFields_->hide();

    bar_->setRange(0, 0); // no steps to count: the browser has the user
    line_->setWordWrap(true);
    line_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line_->setMaximumWidth(380);
    auto* progressGrid = new QGridLayout(progress_);
    progressGrid->setContentsMargins(0, 0, 0, 0);
    progressGrid->addWidget(line_, 0, 0, 1, 2);
    progressGrid->addWidget(bar_, 1, 0);
    progressGrid->addWidget(cancel_, 1, 1);
    progress_->hide();

    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(signOut_);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(google_);
    buttonRow->addWidget(microsoft_);
    buttonRow->addWidget(otherProvider_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(statusRow);
    layout->addLayout(buttonRow);
    layout->addWidget(otherFields_);
    layout->addWidget(progress_);

    connect(google_, &QPushButton::clicked, this, [this] { signInWith("google"); });
    connect(microsoft_, &QPushButton::clicked, this, [this] { signInWith("microsoft"); });
    connect(otherProvider_, &QPushButton::clicked, this, [this] {
        otherFields_->show();
        field(kOAuthAuthorizeUrlKey)->setFocus(Qt::OtherFocusReason);
    });
    connect(signInOther_, &QPushButton::clicked, this, [this] { signInWith("custom"); });
    connect(signOut_, &QPushButton::clicked, this, &SignInGroup::signOutOfAccount);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (cancelled_) {
            cancelled_->store(true);
        }
    });
}

SignInGroup::~SignInGroup() {
    if (worker_.joinable()) {
        cancelled_->store(true);
        worker_.join(); // the listener notices within a tenth of a second
    }
}

QLineEdit* SignInGroup::field(std::string_view key) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (kOAuthFieldCaptions[i].key == key) {
            return fields_[i];
        }
    }
    return nullptr;
}

void SignInGroup::showFields(const store::ExtensionSettings& extensions) {
    bool anySet = false;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string value = extensions.value(kOAuthFieldCaptions[i].key);
        fields_[i]->setText(toQString(value));
        anySet = anySet || !value.empty();
    }
    otherFields_->setVisible(anySet);
    showState();
}

void SignInGroup::takeFields(store::SessionSettings& settings) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string value(store::trimSpaces(fields_[i]->text().toStdString()));
        if (value.empty()) {
            settings.extensions.remove(kOAuthFieldCaptions[i].key);
        } else {
            settings.extensions.set(kOAuthFieldCaptions[i].key, value);
        }
    }
}

void SignInGroup::showState() {
    store::SessionSettings shown = account_();
    takeFields(shown);
    status_->setText(toQString(oauthStatusText(shown)));
    signOut_->setEnabled(signedInWithOAuth(shown) && !signingIn());
    for (QPushButton* button : {google_, microsoft_, signInOther_}) {
        button->setEnabled(!signingIn());
    }
    progress_->setVisible(signingIn());
}

void SignInGroup::signInWith(const char* provider) {
    if (signingIn()) {
        return;
    }
    store::SessionSettings settings = account_();
    if (oauthPreset(provider) != nullptr) {
        // A preset's own addresses: what was typed for another provider would override them.
        for (const char* key :
             {kOAuthAuthorizeUrlKey, kOAuthTokenUrlKey, kOAuthDeviceUrlKey, kOAuthScopeKey}) {
            field(key)->clear();
        }
    }
    takeFields(settings);
    settings.extensions.set(kOAuthProviderKey, provider);
    if (const std::string problem = oauthClientProblem(oauthClientFor(settings));
        !problem.empty()) {
        // The fields to fill in are the other provider's.
        otherFields_->show();
        prompter_.message("Information", problem);
        return;
    }
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    line_->setText(u"Signing in..."_s);

    QPointer<SignInGroup> self(this);
    // Both hop to the group's thread, where the launcher and the labels live.
    const auto show = [self](const std::string& line) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, text = toQString(line)] {
                if (self) {
                    self->line_->setText(text);
                }
            },
            Qt::QueuedConnection);
    };
    SignInRequest request;
    request.nowSeconds = secondsNow();
    request.openUrl = [self](const std::string& url) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, url] {
                if (self && (self->launcher_ == nullptr || !self->launcher_->openDocument(url))) {
                    self->line_->setText(
                        self->line_->text() + u'\n' +
                        u"The browser could not be started: open the address yourself."_s);
                }
            },
            Qt::QueuedConnection);
        return true; // a refusal is told on the group's thread
    };
    worker_ = std::thread(
        [self, settings, request, show, cancel = cancelled_, keyring = keyring_]() mutable {
            GroupSignInFeedback feedback(show, cancel);
            const SignInResult result = signIn(settings, request, feedback, keyring);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, ok = result.ok, message = toQString(result.message),
                 signedIn = std::move(settings)] {
                    if (self) {
                        self->finishSignIn(ok, message, signedIn);
                    }
                },
                Qt::QueuedConnection);
        });
    showState();
}

void SignInGroup::finishSignIn(bool ok, const QString& message,
                               const store::SessionSettings& signedIn) {
    if (worker_.joinable()) {
        worker_.join();
    }
    const bool cancelled = cancelled_ && cancelled_->load();
    if (ok) {
        keep_(signedIn, true);
        field(kOAuthLoginKey)->setText(toQString(oauthLogin(signedIn)));
    }
    showState();
    if (!ok && !cancelled) {
        prompter_.message("Information", message.toStdString());
    }
}

void SignInGroup::signOutOfAccount() {
    store::SessionSettings settings = account_();
    takeFields(settings);
    signOut(settings, keyring_);
    keep_(settings, false);
    showState();
}

} // namespace velmora::delivery
