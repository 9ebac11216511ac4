#include "delivery/windows/relays_window.h"

#include "delivery/keyring_password.h"
#include "platform/qt_text.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace velmora::delivery {

using namespace Qt::StringLiterals;
using platform::toQString;

RelayEditDialog::RelayEditDialog(int number, const RelayForm& form, bool inKeyring,
                                 const QString& keyringUnavailable, SignInGroup* signIn,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), number_(number),
      keyring_(new QCheckBox(u"Keep password in the desktop keyring"_s)), signIn_(signIn),
      ok_(new QPushButton(u"OK"_s)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Relay "_s + QString::number(number));
    auto* fields = new QFormLayout;
    for (std::size_t i = 0; i < kRelayFormFieldCount; ++i) {
        auto* field = new QLineEdit(toQString(form[i]));
        field->setToolTip(toQString(kRelayFormFields[i].field));
        if (std::string_view(kRelayFormFields[i].field) == "password") {
            field->setEchoMode(QLineEdit::Password);
        }
        fields_[i] = field;
        fields->addRow(toQString(kRelayFormFields[i].caption), field);
        if (std::string_view(kRelayFormFields[i].field) == "password") {
            fields->addRow(QString(), keyring_);
        }
    }
    keyring_->setChecked(inKeyring);
    keyring_->setEnabled(keyringUnavailable.isEmpty());
    keyring_->setToolTip(keyringUnavailable);
    auto* cancel = new QPushButton(u"Cancel"_s);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(ok_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    if (signIn_ != nullptr) {
        layout->addWidget(signIn_);
    }
    layout->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(ok_, &QPushButton::clicked, this, &RelayEditDialog::accepted);
}

RelayForm RelayEditDialog::form() const {
    RelayForm form;
    for (std::size_t i = 0; i < kRelayFormFieldCount; ++i) {
        form[i] = fields_[i]->text().toStdString();
    }
    return form;
}

QLineEdit* RelayEditDialog::field(std::string_view name) const {
    for (std::size_t i = 0; i < kRelayFormFieldCount; ++i) {
        if (kRelayFormFields[i].field == name) {
            return fields_[i];
        }
    }
    return nullptr;
}

RelaysWindow::RelaysWindow(store::ExtensionSettings& extensions,
                           std::function<store::SessionSettings()> mainSettings,
                           platform::Prompter& prompter, QWidget* parent,
                           store::PasswordStore* passwords, platform::Launcher* launcher)
    : QWidget(parent, Qt::Window), extensions_(extensions), mainSettings_(std::move(mainSettings)),
      prompter_(prompter), passwords_(passwords), launcher_(launcher),
      model_(new RelayListModel(extensions, this)), list_(new QTableView),
      add_(new QPushButton(u"Add"_s)), edit_(new QPushButton(u"Edit"_s)),
      remove_(new QPushButton(u"Remove"_s)), test_(new QPushButton(u"Test Connection"_s)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Relays"_s);
    if (passwords_ == nullptr) {
        keyringUnavailable_ = toQString(kNoKeyringInThisBuildText);
    } else if (const auto reason = passwords_->unavailableReason()) {
        keyringUnavailable_ = toQString(*reason);
    }
    list_->setModel(model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->verticalHeader()->hide();
    auto* close = new QPushButton(u"Close"_s);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {add_, edit_, remove_, test_}) {
        buttons->addWidget(button);
    }
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(640, 260);

    connect(add_, &QPushButton::clicked, this, [this] {
        const int number = freeRelayNumber(extensions_);
        if (number == 0) {
            prompter_.message("Information", "Every relay number (2 to " +
                                                 std::to_string(store::kMaxRelays) + ") is taken.");
            return;
        }
        openEditor(number);
    });
    connect(edit_, &QPushButton::clicked, this, [this] { openEditor(selectedRelay()); });
    connect(list_, &QTableView::doubleClicked, this, [this] { openEditor(selectedRelay()); });
    connect(remove_, &QPushButton::clicked, this, &RelaysWindow::removeSelected);
    connect(test_, &QPushButton::clicked, this, &RelaysWindow::testSelected);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RelaysWindow::followSelection);
    connect(model_, &QAbstractItemModel::modelReset, this, &RelaysWindow::followSelection);
    followSelection();
}

store::SessionSettings RelaysWindow::currentSettings() const {
    store::SessionSettings settings = mainSettings_();
    settings.extensions = extensions_;
    return settings;
}

int RelaysWindow::selectedRelay() const {
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : model_->relayAt(rows.front().row());
}

void RelaysWindow::followSelection() {
    const bool chosen = selectedRelay() != 0;
    edit_->setEnabled(chosen);
    remove_->setEnabled(chosen);
    test_->setEnabled(chosen);
}

void RelaysWindow::openEditor(int number) {
    if (number == 0) {
        return;
    }
    if (editor_ != nullptr) {
        editor_->close(); // one relay at a time
    }
    auto* signIn =
        new SignInGroup([this, number] { return relaySignInSettings(currentSettings(), number); },
                        [this, number](const store::SessionSettings& account, bool) {
                            keepRelayAccount(extensions_, number, account);
                        },
                        prompter_, passwords_, launcher_);
    signIn->showFields(relaySignInSettings(currentSettings(), number).extensions);
    if (!relayConfigured(currentSettings(), number)) {
        // Its tokens would wait in the block for a relay that may never be added.
        signIn->setEnabled(false);
        signIn->setToolTip(u"Add the relay first; then Edit signs it in."_s);
    }
    editor_ =
        new RelayEditDialog(number, relayForm(extensions_, number),
                            extensions_.boolean(store::relayKey(number, kPasswordInKeyringKey)),
                            keyringUnavailable_, signIn, this);
    connect(editor_, &RelayEditDialog::accepted, this, &RelaysWindow::applyEditor);
    editor_->show();
}

void RelaysWindow::applyEditor() {
    const int number = editor_->number();
    if (const auto refusal = applyRelayForm(extensions_, number, editor_->form())) {
        prompter_.message("Information", refusal->message); // the dialog stays open
        return;
    }
    if (SignInGroup* signIn = editor_->signInGroup(); signIn != nullptr && signIn->isEnabled()) {
        store::SessionSettings account = relaySignInSettings(currentSettings(), number);
        signIn->takeFields(account);
        keepRelayAccount(extensions_, number, account);
    }
    // Without a keyring the choice stays as the form left it: a marker set
    // now would leave a new password in neither place.
    if (keyringUnavailable_.isEmpty()) {
        extensions_.set(store::relayKey(number, kPasswordInKeyringKey),
                        editor_->keyringBox()->isChecked() ? "1" : "0");
    }
    editor_->close();
    model_->reset();
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (model_->relayAt(row) == number) {
            list_->selectRow(row);
        }
    }
}

void RelaysWindow::removeSelected() {
    if (const int number = selectedRelay(); number != 0) {
        removeRelay(extensions_, number);
        model_->reset();
    }
}

void RelaysWindow::testSelected() {
    const int number = selectedRelay();
    if (number == 0) {
        return;
    }
    const store::SessionSettings settings = currentSettings();
    if (testWindow_ != nullptr) {
        testWindow_->close(); // one test at a time; closing cancels it
    }
    testWindow_ = new ConnectionTestWindow(relaySettings(settings, number), this, passwords_);
    // A token the test renewed is the relay's (or the session's it shares) new one.
    connect(testWindow_, &ConnectionTestWindow::tokensRenewed, this,
            [this, number](const store::SessionSettings& renewed) {
                store::SessionSettings held;
                held.extensions = extensions_;
                keepRelaySignIn(held, number, renewed);
                extensions_ = std::move(held.extensions);
            });
    testWindow_->show();
}

} // namespace velmora::delivery
