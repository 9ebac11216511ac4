#pragma once

#include "contacts/contact_maintenance.h"
#include "contacts/view_access.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/session.h"

#include <QWidget>
#include <cstdint>
#include <optional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace velmora::contacts {

// The four status choices, two by two: "Subscribers", "Prospects" /
// "Customers", "Do Not Contact". Choosing one clears the others.
class StatusChoices final : public QWidget {
    Q_OBJECT

public:
    explicit StatusChoices(QWidget* parent = nullptr);
    // Sets the choice of a status code; none for a code without one.
    void setStatus(std::optional<std::int32_t> status);
    // The code of the set choice, none when nothing is set.
    std::optional<std::int32_t> chosen() const;
    QRadioButton* button(std::int32_t status) const;

private:
    QButtonGroup* group_;
};

// Fills a drop-down with the name of every group slot in slot order, empty
// names included, so that entry k stands for group slot k + 1.
void fillGroupDropDown(QComboBox& dropDown, const store::Session& session);

// Add Contact, and Edit Entries for one or several contacts: a window
// beside the main window that closes after "Add >>"/"Apply" or "Cancel".
class ContactDialog final : public QWidget {
    Q_OBJECT

public:
    // Add mode: all fields empty, the first group, "Subscribers".
    ContactDialog(store::Session& session, ViewAccess& views, const store::Clock& clock,
                  QWidget* parent = nullptr);
    // Edit mode for the rows selected now; nothing opens (null) when none is.
    static ContactDialog* openForEdit(store::Session& session, ViewAccess& views,
                                      platform::Prompter& prompter, QWidget* parent = nullptr);

    QLineEdit* emailField() const { return email_; }
    QLineEdit* nameField() const { return name_; }
    QPlainTextEdit* addressField() const { return address_; }
    QLineEdit* telephoneField() const { return telephone_; }
    QLineEdit* companyField() const { return company_; }
    QPlainTextEdit* notesField() const { return notes_; }
    QComboBox* groupDropDown() const { return group_; }
    StatusChoices* statusChoices() const { return status_; }
    QLabel* groupLabel() const { return groupLabel_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* confirmButton() const { return confirm_; }

private:
    ContactDialog(store::Session& session, ViewAccess& views, platform::Prompter& prompter,
                  ContactEditDisplay opened, std::int32_t openedSlot, QWidget* parent);
    void buildControls();
    void confirm();
    // Only the edit mode has a prompter.
    bool editing() const { return prompter_ != nullptr; }
    // The six text fields as typed.
    store::ContactTexts typedTexts() const;
    void addContact();
    void applyEdits();

    store::Session& session_;
    ViewAccess& views_;
    platform::Prompter* prompter_ = nullptr; // edit mode only
    const store::Clock* clock_ = nullptr;    // add mode only
    ContactEditDisplay opened_;
    std::int32_t openedSlot_ = 0;

    QLineEdit* email_ = nullptr;
    QLineEdit* name_ = nullptr;
    QPlainTextEdit* address_ = nullptr;
    QLineEdit* telephone_ = nullptr;
    QLineEdit* company_ = nullptr;
    QPlainTextEdit* notes_ = nullptr;
    QComboBox* group_ = nullptr;
    StatusChoices* status_ = nullptr;
    QLabel* groupLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* confirm_ = nullptr;
};

} // namespace velmora::contacts
