#include "contacts/selection_dialog.h"

#include "contacts/contact_dialog.h"
#include "contacts/contact_maintenance.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using platform::toQString;

namespace {

QString title(SelectionDialog::Kind kind) {
    switch (kind) {
    case SelectionDialog::Kind::Tag:
        return u"Set Selection Tags"_s;
    case SelectionDialog::Kind::Group:
        return u"Move Selection to Group"_s;
    case SelectionDialog::Kind::Status:
        return u"Set Selection Status"_s;
    }
    return {};
}

QString labelText(SelectionDialog::Kind kind) {
    switch (kind) {
    case SelectionDialog::Kind::Tag:
        return u"Tag Entries"_s;
    case SelectionDialog::Kind::Group:
        return u"Campaign Group"_s;
    case SelectionDialog::Kind::Status:
        return u"Set Status"_s;
    }
    return {};
}

} // namespace

SelectionDialog::SelectionDialog(Kind kind, store::Session& session, ViewAccess& views,
                                 platform::Prompter& prompter,
                                 const platform::ProgramImages* images, QWidget* parent)
    : QWidget(parent, Qt::Window), kind_(kind), session_(session), views_(views),
      prompter_(prompter),
      model_(new views::ContactListModel(session, views::RowTable::Contacts, images, this)),
      list_(new QTreeView(this)), label_(new QLabel(labelText(kind), this)),
      dropDown_(new QComboBox(this)), cancel_(new QPushButton(u"Cancel"_s, this)),
      apply_(new QPushButton(u"Apply >>"_s, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title(kind));
    resize(395, 240);

    model_->setRowSlots(liveSelection(session_, views_.selectedRows()));
    views::setUpOwnRowsView(*list_, *model_);

    switch (kind) {
    case Kind::Tag:
        for (std::int32_t tag = code(store::ContactTag::None); tag <= code(store::ContactTag::Star);
             ++tag) {
            dropDown_->addItem(toQString(store::tagCaption(tag)));
        }
        break;
    case Kind::Group:
        fillGroupDropDown(*dropDown_, session_);
        break;
    case Kind::Status:
        for (const std::int32_t status : kStatusDropDownCodes) {
            dropDown_->addItem(toQString(store::statusCaption(status)));
        }
        break;
    }
    if (dropDown_->count() > 0) {
        dropDown_->setCurrentIndex(0);
    }

    auto* choice = new QHBoxLayout;
    choice->addWidget(label_);
    choice->addWidget(dropDown_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(apply_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(choice);
    layout->addLayout(buttons);

    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    connect(apply_, &QPushButton::clicked, this, &SelectionDialog::apply);
    platform::installDialogKeys(*this, cancel_, apply_);
}

void SelectionDialog::apply() {
    const SlotList selected = views_.selectedRows();
    const std::int32_t position = dropDown_->currentIndex();
    std::string message;
    switch (kind_) {
    case Kind::Tag:
        message = applySelectionTag(session_, selected, position);
        break;
    case Kind::Group:
        message = applySelectionGroup(session_, selected, position);
        break;
    case Kind::Status:
        message = applySelectionStatus(session_, selected, position);
        break;
    }
    views_.refreshViews();
    prompter_.message("Information", message);
    close();
}

} // namespace velmora::contacts
