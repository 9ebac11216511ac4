#include "delivery/windows/delivery_settings_dialog.h"

#include "delivery/keyring_password.h"
#include "delivery/oauth/oauth_provider.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"
#include "store/text_encoding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using platform::toQString;

namespace {

// Programs on this system carry no extension; the requester offers every
// file and the user picks the program.
constexpr const char* kClientProgramFilter = "Exectuable (*)|*";

} // namespace

DeliverySettingsDialog::DeliverySettingsDialog(store::Session& session,
                                               platform::Prompter& prompter, QWidget* parent,
                                               store::PasswordStore* passwords,
                                               platform::Launcher* launcher)
    : QWidget(parent, Qt::Window), session_(session), prompter_(prompter), passwords_(passwords),
      keyring_(new QCheckBox(u"Keep the password in the desktop keyring"_s)),
      method_(new QComboBox), clientPath_(new QLineEdit), browse_(new QPushButton(u">>"_s)),
      parameters_(new QLineEdit), server_(new QLineEdit), port_(new QLineEdit),
      timeout_(new QLineEdit), requiresAuth_(new QCheckBox(u"Requires Authentication"_s)),
      userName_(new QLineEdit), password_(new QLineEdit), html_(new QRadioButton(u"HTML"_s)),
      plainText_(new QRadioButton(u"Plain Text"_s)), from_(new QLineEdit), replyTo_(new QLineEdit),
      signature_(new QPlainTextEdit), includeSignature_(new QCheckBox(u"Include Signature"_s)),
      security_(new QComboBox), loginMethod_(new QComboBox),
      testConnection_(new QPushButton(u"Test Connection"_s)),
      relays_(new QPushButton(u"Relays..."_s)), cancel_(new QPushButton(u"Cancel"_s)),
      apply_(new QPushButton(u"Apply"_s)), launcher_(launcher) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Mail Delivery Settings"_s);

    for (std::int32_t m = code(store::DeliveryMethod::None);
         m <= code(store::DeliveryMethod::CustomMailClient); ++m) {
        const std::string_view caption = store::deliveryMethodCaption(m);
        method_->addItem(toQString(caption));
    }
    for (const char* caption : kSecurityCaptions) {
        security_->addItem(toQString(caption));
    }
    for (const char* caption : kLoginMethodCaptions) {
        loginMethod_->addItem(toQString(caption));
    }
    password_->setEchoMode(QLineEdit::Password);
    browse_->setFixedWidth(32);
    port_->setFixedWidth(60);
    timeout_->setFixedWidth(60);
    signature_->setFixedHeight(55);
    signature_->setTabChangesFocus(true);

    auto* delivery = new QGroupBox(u"Delivery Method"_s);
    auto* deliveryGrid = new QGridLayout(delivery);
    deliveryGrid->addWidget(new QLabel(u"Send Mail"_s), 0, 0);
    deliveryGrid->addWidget(method_, 0, 1);

    auto* client = new QGroupBox(u"Mail Client"_s);
    auto* clientGrid = new QGridLayout(client);
    auto* pathRow = new QHBoxLayout;
    pathRow->setSpacing(0);
    pathRow->addWidget(clientPath_);
    pathRow->addWidget(browse_);
    clientGrid->addWidget(new QLabel(u"Client Path"_s), 0, 0);
    clientGrid->addLayout(pathRow, 0, 1);
    clientGrid->addWidget(new QLabel(u"Parameters"_s), 1, 0);
    clientGrid->addWidget(parameters_, 1, 1);

    auto* server = new QGroupBox(u"Server Settings"_s);
    auto* serverGrid = new QGridLayout(server);
    serverGrid->addWidget(new QLabel(u"SMTP Server"_s), 0, 0);
    serverGrid->addWidget(server_, 0, 1, 1, 3);
    serverGrid->addWidget(new QLabel(u"Use Port"_s), 1, 0);
    serverGrid->addWidget(port_, 1, 1);
    serverGrid->addWidget(new QLabel(u"Timeout (secs)"_s), 1, 2, Qt::AlignRight);
    serverGrid->addWidget(timeout_, 1, 3);
    serverGrid->addWidget(new QLabel(u"Security"_s), 2, 0);
    serverGrid->addWidget(security_, 2, 1, 1, 3);
    serverGrid->addWidget(requiresAuth_, 3, 0, 1, 4);
    serverGrid->addWidget(new QLabel(u"Username"_s), 4, 0);
    serverGrid->addWidget(userName_, 4, 1, 1, 3);
    serverGrid->addWidget(new QLabel(u"Password"_s), 5, 0);
    serverGrid->addWidget(password_, 5, 1, 1, 3);
    serverGrid->addWidget(keyring_, 6, 1, 1, 3);
    serverGrid->addWidget(new QLabel(u"Login method"_s), 7, 0);
    serverGrid->addWidget(loginMethod_, 7, 1, 1, 3);
    serverGrid->addWidget(relays_, 8, 0, 1, 2, Qt::AlignLeft);
    serverGrid->addWidget(testConnection_, 8, 0, 1, 4, Qt::AlignRight);

    auto* email = new QGroupBox(u"Email Settings"_s);
    auto* emailGrid = new QGridLayout(email);
    auto* formats = new QHBoxLayout;
    formats->addWidget(html_);
    formats->addWidget(plainText_);
    formats->addStretch();
    emailGrid->addWidget(new QLabel(u"Editor Format"_s), 0, 0);
    emailGrid->addLayout(formats, 0, 1);
    emailGrid->addWidget(new QLabel(u"From (default)"_s), 1, 0);
    emailGrid->addWidget(from_, 1, 1);
    emailGrid->addWidget(new QLabel(u"Reply-to"_s), 2, 0);
    emailGrid->addWidget(replyTo_, 2, 1);
    emailGrid->addWidget(new QLabel(u"Signature"_s), 3, 0, Qt::AlignTop);
    emailGrid->addWidget(signature_, 3, 1);
    emailGrid->addWidget(includeSignature_, 4, 1);
    emailGrid->setRowStretch(5, 1);

    auto* advanced = new QGroupBox(u"Advanced"_s);
    auto* advancedGrid = new QGridLayout(advanced);
    for (std::size_t i = 0; i < kAdvancedSettingCount; ++i) {
        auto* field = new QLineEdit;
        field->setToolTip(toQString(kAdvancedSettings[i].name));
        advanced_[i] = field;
        const int row = static_cast<int>(i);
        advancedGrid->addWidget(new QLabel(toQString(kAdvancedSettings[i].caption)), row, 0);
        advancedGrid->addWidget(field, row, 1);
    }

    signIn_ = new SignInGroup(
        [this] {
            store::SessionSettings settings = session_.settings();
            settings.userName = userName_->text().toStdString();
            settings.fromAddress = from_->text().toStdString();
            settings.extensions = extensions_;
            return settings;
        },
        [this](const store::SessionSettings& settings, bool signedIn) {
            if (signedIn) {
                keepSignIn(settings);
            } else {
                keepSignOut(settings);
            }
        },
        prompter_, passwords_, launcher);

    auto* left = new QVBoxLayout;
    left->addWidget(delivery);
    left->addWidget(client);
    left->addWidget(server);
    left->addWidget(signIn_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(apply_);
    auto* right = new QVBoxLayout;
    right->addWidget(email);
    right->addWidget(advanced);
    right->addStretch();
    right->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(right);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    const DeliverySettingsForm f = deliverySettingsForm(session_.settings());
    method_->setCurrentIndex(f.methodPosition);
    clientPath_->setText(toQString(f.clientPath));
    parameters_->setText(toQString(f.clientParameters));
    server_->setText(toQString(f.smtpServer));
    port_->setText(toQString(f.portText));
    timeout_->setText(toQString(f.timeoutText));
    requiresAuth_->setChecked(f.requiresAuth);
    userName_->setText(toQString(f.userName));
    password_->setText(toQString(f.password));
    (f.html ? html_ : plainText_)->setChecked(true);
    from_->setText(toQString(f.fromAddress));
    replyTo_->setText(toQString(f.replyTo));
    signature_->setPlainText(toQString(store::editedLineBreaks(f.signature)));
    includeSignature_->setChecked(f.includeSignature);
    security_->setCurrentIndex(f.securityPosition);
    keyring_->setChecked(keepsPasswordInKeyring(session_.settings()));
    if (passwords_ == nullptr) {
        keyringUnavailable_ = toQString(kNoKeyringInThisBuildText);
    } else if (const auto reason = passwords_->unavailableReason()) {
        keyringUnavailable_ = toQString(*reason);
    }
    keyring_->setToolTip(keyringUnavailable_);
    loginMethod_->setCurrentIndex(f.loginMethodPosition);
    for (std::size_t i = 0; i < kAdvancedSettingCount; ++i) {
        advanced_[i]->setText(toQString(f.advanced[i]));
    }
    extensions_ = f.extensions;
    signIn_->showFields(extensions_);

    // The enabling rule follows the two controls it depends on.
    connect(method_, &QComboBox::currentIndexChanged, this,
            &DeliverySettingsDialog::followMethodAndLogin);
    connect(requiresAuth_, &QCheckBox::toggled, this,
            &DeliverySettingsDialog::followMethodAndLogin);
    connect(browse_, &QPushButton::clicked, this, &DeliverySettingsDialog::chooseClientProgram);
    // Connected after the initial position, so opening the dialog changes no port.
    connect(security_, &QComboBox::currentIndexChanged, this, &DeliverySettingsDialog::suggestPort);
    connect(testConnection_, &QPushButton::clicked, this, &DeliverySettingsDialog::testConnection);
    connect(relays_, &QPushButton::clicked, this, [this] {
        if (relaysWindow_ == nullptr) {
            relaysWindow_ = new RelaysWindow(
                extensions_, [this] { return applyDeliverySettings(form()); }, prompter_, this,
                passwords_, launcher_);
        }
        relaysWindow_->show();
        relaysWindow_->raise();
    });
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    connect(apply_, &QPushButton::clicked, this, &DeliverySettingsDialog::apply);
    platform::installDialogKeys(*this, cancel_, apply_);
    followMethodAndLogin();

    if (parent != nullptr) {
        adjustSize();
        move(parent->geometry().center() - rect().center());
    }
}

DeliverySettingsForm DeliverySettingsDialog::form() const {
    DeliverySettingsForm f;
    f.html = html_->isChecked();
    f.methodPosition = method_->currentIndex();
    f.clientPath = clientPath_->text().toStdString();
    f.clientParameters = parameters_->text().toStdString();
    f.smtpServer = server_->text().toStdString();
    f.portText = port_->text().toStdString();
    f.timeoutText = timeout_->text().toStdString();
    f.requiresAuth = requiresAuth_->isChecked();
    f.userName = userName_->text().toStdString();
    f.password = password_->text().toStdString();
    f.fromAddress = from_->text().toStdString();
    f.replyTo = replyTo_->text().toStdString();
    f.signature = store::storedLineBreaks(signature_->toPlainText().toStdString());
    f.includeSignature = includeSignature_->isChecked();
    f.securityPosition = security_->currentIndex();
    f.loginMethodPosition = loginMethod_->currentIndex();
    for (std::size_t i = 0; i < kAdvancedSettingCount; ++i) {
        f.advanced[i] = advanced_[i]->text().toStdString();
    }
    f.extensions = extensions_;
    return f;
}

void DeliverySettingsDialog::followMethodAndLogin() {
    const DeliveryControlStates states =
        deliveryControlStates(method_->currentIndex(), requiresAuth_->isChecked());
    if (shown_ == states) {
        return;
    }
    for (QWidget* w : {static_cast<QWidget*>(clientPath_), static_cast<QWidget*>(parameters_),
                       static_cast<QWidget*>(browse_)}) {
        w->setEnabled(states.clientFields);
    }
    for (QWidget* w : {static_cast<QWidget*>(requiresAuth_), static_cast<QWidget*>(server_),
                       static_cast<QWidget*>(port_), static_cast<QWidget*>(timeout_),
                       static_cast<QWidget*>(security_), static_cast<QWidget*>(testConnection_)}) {
        w->setEnabled(states.serverFields);
    }
    userName_->setEnabled(states.loginFields);
    password_->setEnabled(states.loginFields);
    loginMethod_->setEnabled(states.loginFields);
    keyring_->setEnabled(states.loginFields && keyringUnavailable_.isEmpty());
    shown_ = states;
}

void DeliverySettingsDialog::chooseClientProgram() {
    const std::optional<std::string> path = prompter_.openFileName(
        "Custom Client Executable...", kClientProgramFilter, clientPath_->text().toStdString());
    if (path) {
        clientPath_->setText(toQString(*path));
    }
}

void DeliverySettingsDialog::suggestPort(int securityPosition) {
    port_->setText(toQString(portTextForSecurity(securityPosition, port_->text().toStdString())));
}

DeliverySettingsDialog::~DeliverySettingsDialog() = default;

QLineEdit* DeliverySettingsDialog::advancedField(std::string_view name) const {
    for (std::size_t i = 0; i < kAdvancedSettingCount; ++i) {
        if (kAdvancedSettings[i].name == name) {
            return advanced_[i];
        }
    }
    return nullptr;
}

std::optional<store::SessionSettings> DeliverySettingsDialog::checkedSettings() {
    const DeliverySettingsForm f = form();
    store::SessionSettings settings = applyDeliverySettings(f);
    if (const auto refusal = applyAdvancedSettings(f, settings)) {
        prompter_.message("Information", refusal->message);
        return std::nullopt;
    }
    signIn_->takeFields(settings);
    return settings;
}

void DeliverySettingsDialog::testConnection() {
    // The dialog's values, applied or not.
    const std::optional<store::SessionSettings> settings = checkedSettings();
    if (!settings) {
        return;
    }
    if (testWindow_ != nullptr) {
        testWindow_->close(); // one test at a time; closing cancels it
    }
    testWindow_ = new ConnectionTestWindow(*settings, this, passwords_);
    // A token renewed for the test is the session's new one.
    connect(testWindow_, &ConnectionTestWindow::tokensRenewed, this,
            [this](const store::SessionSettings& renewed) { keepSignIn(renewed); });
    // Trusting the refused certificate fills its pin in; Apply keeps it.
    connect(testWindow_, &ConnectionTestWindow::trustRequested, this,
            [this](const QString& pin) { advancedField("tlsPinSha256")->setText(pin); });
    testWindow_->show();
}

void DeliverySettingsDialog::apply() {
    std::optional<store::SessionSettings> checked = checkedSettings();
    if (!checked) {
        return;
    }
    store::SessionSettings settings = std::move(*checked);
    // Without a usable keyring the session's choice stays as it was.
    std::vector<std::string> problems;
    if (passwords_ != nullptr && keyringUnavailable_.isEmpty()) {
        if (const auto problem = applyKeyringChoice(settings, keyring_->isChecked(),
                                                    session_.settings(), *passwords_)) {
            problems.push_back(*problem);
        }
        // A relay whose password cannot go there keeps it in the file.
        for (std::string& problem :
             applyRelayKeyringChoices(settings, session_.settings(), *passwords_)) {
            problems.push_back(std::move(problem));
        }
    }
    session_.setSettings(std::move(settings));
    close();
    for (const std::string& problem : problems) {
        prompter_.message("Information", keyringWriteFailedText(problem));
    }
}

void DeliverySettingsDialog::keepSignIn(const store::SessionSettings& from) {
    store::SessionSettings held;
    held.extensions = extensions_;
    copyOAuthTokens(from, held);
    // Apply keeps the provider of the sign-in too.
    held.extensions.set(kOAuthProviderKey, from.extensions.value(kOAuthProviderKey));
    extensions_ = held.extensions;
    store::SessionSettings settings = session_.settings();
    copyOAuthTokens(from, settings);
    // The provider and client the tokens belong to come along: renewing needs them.
    for (const char* key :
         {kOAuthProviderKey, kOAuthClientIdKey, kOAuthClientSecretKey, kOAuthLoginKey,
          kOAuthAuthorizeUrlKey, kOAuthTokenUrlKey, kOAuthDeviceUrlKey, kOAuthScopeKey}) {
        const std::string value = from.extensions.value(key);
        if (value.empty()) {
            settings.extensions.remove(key);
        } else {
            settings.extensions.set(key, value);
        }
    }
    session_.setSettings(std::move(settings));
    signIn_->showState();
}

void DeliverySettingsDialog::keepSignOut(const store::SessionSettings& from) {
    store::SessionSettings held;
    held.extensions = extensions_;
    copyOAuthTokens(from, held);
    // The login stays: it names the account the next sign-in is for.
    extensions_ = held.extensions;
    store::SessionSettings saved = session_.settings();
    copyOAuthTokens(from, saved);
    session_.setSettings(std::move(saved));
}

} // namespace velmora::delivery
