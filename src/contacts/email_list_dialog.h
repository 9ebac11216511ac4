#pragma once

#include "contacts/view_access.h"
#include "platform/clipboard.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/session.h"

#include <QWidget>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class StatusChoices;

// Add Email List: addresses typed, pasted or imported into a text area, all
// added with one group and one status by "Add >>".
class EmailListDialog final : public QWidget {
    Q_OBJECT

public:
    EmailListDialog(Session& session, ViewAccess& views, Prompter& prompter, Clipboard& clipboard,
                    const Clock& clock, QWidget* parent = nullptr);

    QPlainTextEdit* textArea() const { return text_; }
    QComboBox* groupDropDown() const { return group_; }
    StatusChoices* statusChoices() const { return status_; }
    QPushButton* pasteButton() const { return paste_; }
    QPushButton* importButton() const { return import_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* addButton() const { return add_; }

private:
    void pasteFromClipboard();
    void importFromFile();
    void addAddresses();

    Session& session_;
    ViewAccess& views_;
    Prompter& prompter_;
    Clipboard& clipboard_;
    const Clock& clock_;

    QPlainTextEdit* text_;
    QComboBox* group_;
    StatusChoices* status_;
    QPushButton* paste_;
    QPushButton* import_;
    QPushButton* cancel_;
    QPushButton* add_;
};
