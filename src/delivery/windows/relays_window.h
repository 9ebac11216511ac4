#pragma once

#include "delivery/relay_pool.h"
#include "delivery/windows/connection_test_window.h"
#include "delivery/windows/relay_list_model.h"
#include "delivery/windows/sign_in_group.h"
#include "platform/launcher.h"
#include "platform/prompter.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace velmora::delivery {

// Adds or edits one relay: a field per kRelayFormFields, "Keep password in
// the desktop keyring" (disabled with the reason as its tip when the keyring
// cannot be used), "OK" and "Cancel".
class RelayEditDialog final : public QWidget {
    Q_OBJECT

public:
    // `signIn`: the relay's own sign-in group, shown under the fields.
    RelayEditDialog(int number, const RelayForm& form, bool inKeyring,
                    const QString& keyringUnavailable, SignInGroup* signIn,
                    QWidget* parent = nullptr);
    int number() const { return number_; }
    RelayForm form() const;
    QLineEdit* field(std::string_view name) const;
    QCheckBox* keyringBox() const { return keyring_; }
    SignInGroup* signInGroup() const { return signIn_; }
    QPushButton* okButton() const { return ok_; }

signals:
    void accepted();

private:
    int number_;
    std::array<QLineEdit*, kRelayFormFieldCount> fields_{};
    QCheckBox* keyring_;
    SignInGroup* signIn_;
    QPushButton* ok_;
};

// "Relays": the relays of 2 and up, with Add, Edit, Remove and Test
// Connection. It edits the extension block it is given (the delivery
// settings dialog's, so that nothing changes before that dialog's Apply);
// `mainSettings` gives that dialog's settings as they stand, for a test.
// The keyring choice of a relay is only marked here: that dialog's Apply
// stores the passwords (applyRelayKeyringChoices). A relay's own sign-in
// (in Edit) keeps its tokens in the block too, so that Apply saves them.
class RelaysWindow final : public QWidget {
    Q_OBJECT

public:
    // `passwords`: the desktop keyring; null where there is none. `launcher`
    // opens the browser for a relay's sign-in; null: the address is only shown.
    RelaysWindow(store::ExtensionSettings& extensions,
                 std::function<store::SessionSettings()> mainSettings, platform::Prompter& prompter,
                 QWidget* parent = nullptr, store::PasswordStore* passwords = nullptr,
                 platform::Launcher* launcher = nullptr);

    RelayListModel* model() const { return model_; }
    QTableView* list() const { return list_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* editButton() const { return edit_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* testButton() const { return test_; }
    // The Add or Edit dialog while it is open.
    RelayEditDialog* editDialog() const { return editor_; }
    ConnectionTestWindow* connectionTestWindow() const { return testWindow_; }

private:
    int selectedRelay() const;
    // The dialog's settings with the block as this window holds it.
    store::SessionSettings currentSettings() const;
    void openEditor(int number);
    void applyEditor();
    void removeSelected();
    void testSelected();
    void followSelection();

    store::ExtensionSettings& extensions_;
    std::function<store::SessionSettings()> mainSettings_;
    platform::Prompter& prompter_;
    store::PasswordStore* passwords_;
    platform::Launcher* launcher_;
    // Why the keyring cannot be used; empty when it can.
    QString keyringUnavailable_;
    RelayListModel* model_;
    QTableView* list_;
    QPushButton* add_;
    QPushButton* edit_;
    QPushButton* remove_;
    QPushButton* test_;
    QPointer<RelayEditDialog> editor_;
    QPointer<ConnectionTestWindow> testWindow_;
};

} // namespace velmora::delivery
