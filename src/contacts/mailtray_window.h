#pragma once

#include "contacts/mailtray.h"
#include "contacts/view_access.h"
#include "platform/clipboard.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/session.h"
#include "views/contact_list_model.h"

#include <QWidget>

class QPushButton;
class QTreeView;

namespace velmora::contacts {

// The Mailtray: the queued recipients, filled from the main window's lists,
// emptied, copied to the clipboard or saved to a text file.
class MailtrayWindow final : public QWidget {
    Q_OBJECT

public:
    MailtrayWindow(store::Session& session, ViewAccess& views, platform::Prompter& prompter,
                   platform::Clipboard& clipboard, const store::Clock& clock,
                   const platform::ProgramImages* images = nullptr, QWidget* parent = nullptr);

    // Lists the Mailtray again and sets the buttons as on opening, for when
    // the session was replaced while the window stayed open. The window also
    // does this by itself when it is activated or used after such a change.
    void reload();

    QTreeView* list() const { return list_; }
    views::ContactListModel* listModel() const { return model_; }
    QPushButton* addSelectedButton() const { return addSelected_; }
    QPushButton* addFilteredButton() const { return addFiltered_; }
    QPushButton* emptyButton() const { return empty_; }
    QPushButton* copyButton() const { return copy_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* closeButton() const { return close_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void reloadIfSessionReplaced();
    void addSelected();
    void addFiltered();
    void emptyMailtray();
    void copyToClipboard();
    void saveToFile();
    void offerMarking(const std::string& question);
    void fillList();
    void showButtons();

    store::Session& session_;
    ViewAccess& views_;
    platform::Prompter& prompter_;
    platform::Clipboard& clipboard_;
    const store::Clock& clock_;
    MailtrayButtons state_;
    std::uint64_t shownGeneration_ = 0;

    views::ContactListModel* model_;
    QTreeView* list_;
    QPushButton* addSelected_;
    QPushButton* addFiltered_;
    QPushButton* empty_;
    QPushButton* copy_;
    QPushButton* save_;
    QPushButton* close_;
};

} // namespace velmora::contacts
