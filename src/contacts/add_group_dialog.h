#pragma once

#include "contacts/view_access.h"
#include "store/session.h"

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace velmora::contacts {

// "Add New Campaign Group": a name and a description; closes after either button.
class AddGroupDialog final : public QWidget {
    Q_OBJECT

public:
    AddGroupDialog(store::Session& session, ViewAccess& views, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return name_; }
    QPlainTextEdit* descriptionField() const { return description_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* addButton() const { return add_; }

private:
    void addGroup();

    store::Session& session_;
    ViewAccess& views_;
    QLineEdit* name_;
    QPlainTextEdit* description_;
    QPushButton* cancel_;
    QPushButton* add_;
};

} // namespace velmora::contacts
