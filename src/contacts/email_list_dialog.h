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

namespace velmora::contacts {
class StatusChoices;

// Add Email List: addresses typed, pasted or imported into a text area, all
// added with one group and one status by "Add >>".
class EmailListDialog final : public QWidget {
    Q_OBJECT

public:
    EmailListDialog(store::Session& session, ViewAccess& views, platform::Prompter& prompter,
                    platform::Clipboard& clipboard, const store::Clock& clock,
                    QWidget* parent = nullptr);

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

    store::Session& session_;
    ViewAccess& views_;
    platform::Prompter& prompter_;
    platform::Clipboard& clipboard_;
    const store::Clock& clock_;

    QPlainTextEdit* text_;
    QComboBox* group_;
    StatusChoices* status_;
    QPushButton* paste_;
    QPushButton* import_;
    QPushButton* cancel_;
    QPushButton* add_;
};

} // namespace velmora::contacts
