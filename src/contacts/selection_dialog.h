#pragma once

#include "contacts/view_access.h"
#include "platform/prompter.h"
#include "store/session.h"
#include "views/contact_list_model.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeView;

namespace velmora::contacts {

// Set Tag, Set Group and Set Status: the selected contacts listed (for
// information only), one drop-down, and "Apply >>" for the rows selected
// when it is pressed.
class SelectionDialog final : public QWidget {
    Q_OBJECT

public:
    enum class Kind { Tag, Group, Status };

    SelectionDialog(Kind kind, store::Session& session, ViewAccess& views,
                    platform::Prompter& prompter, const platform::ProgramImages* images = nullptr,
                    QWidget* parent = nullptr);

    Kind kind() const { return kind_; }
    QTreeView* list() const { return list_; }
    views::ContactListModel* listModel() const { return model_; }
    QLabel* label() const { return label_; }
    QComboBox* dropDown() const { return dropDown_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* applyButton() const { return apply_; }

private:
    void apply();

    Kind kind_;
    store::Session& session_;
    ViewAccess& views_;
    platform::Prompter& prompter_;

    views::ContactListModel* model_;
    QTreeView* list_;
    QLabel* label_;
    QComboBox* dropDown_;
    QPushButton* cancel_;
    QPushButton* apply_;
};

} // namespace velmora::contacts
