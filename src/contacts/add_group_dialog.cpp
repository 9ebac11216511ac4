#include "contacts/add_group_dialog.h"

#include "contacts/campaign_groups.h"
#include "platform/qt_window_behaviour.h"
#include "store/text_encoding.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

AddGroupDialog::AddGroupDialog(store::Session& session, ViewAccess& views, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), views_(views), name_(new QLineEdit(this)),
      description_(new QPlainTextEdit(this)), cancel_(new QPushButton(u"Cancel"_s, this)),
      add_(new QPushButton(u"Add Group >>"_s, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Add New Campaign Group"_s);
    resize(346, 130);

    name_->setMinimumWidth(240);
    description_->setFixedHeight(60);
    description_->setTabChangesFocus(true);

    auto* form = new QFormLayout;
    form->addRow(u"Group Name"_s, name_);
    form->addRow(u"Description"_s, description_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(add_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    connect(add_, &QPushButton::clicked, this, &AddGroupDialog::addGroup);
    platform::installDialogKeys(*this, cancel_, add_);
}

void AddGroupDialog::addGroup() {
    if (addGroupFromDialog(session_, name_->text().toStdString(),
                           store::storedLineBreaks(description_->toPlainText().toStdString())) !=
        0) {
        views_.refreshViews();
    }
    close();
}

} // namespace velmora::contacts
