#include "contacts/email_list_dialog.h"

#include "contacts/contact_adding.h"
#include "contacts/contact_dialog.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"
#include "store/text_encoding.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using platform::toQString;

EmailListDialog::EmailListDialog(store::Session& session, ViewAccess& views,
                                 platform::Prompter& prompter, platform::Clipboard& clipboard,
                                 const store::Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), views_(views), prompter_(prompter),
      clipboard_(clipboard), clock_(clock), text_(new QPlainTextEdit(this)),
      group_(new QComboBox(this)), status_(new StatusChoices(this)),
      paste_(new QPushButton(u"Paste from Clipboard"_s, this)),
      import_(new QPushButton(u"Import from .txt File"_s, this)),
      cancel_(new QPushButton(u"Cancel"_s, this)), add_(new QPushButton(u"Add >>"_s, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Add Email List"_s);
    resize(404, 294);

    text_->setMinimumHeight(150);
    // Long lists stay fast without wrapping every line.
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    fillGroupDropDown(*group_, session_);
    if (group_->count() > 0) {
        group_->setCurrentIndex(0);
    }
    status_->setStatus(code(store::ContactStatus::Subscribers));

    auto* form = new QFormLayout;
    form->addRow(u"Add to Campaign Group"_s, group_);
    form->addRow(u"Set Initial Status"_s, status_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(paste_);
    buttons->addWidget(import_);
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(add_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_, 1);
    layout->addWidget(
        new QLabel(u"Paste email addresses above, seperated by new-lines or commas."_s, this));
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(paste_, &QPushButton::clicked, this, &EmailListDialog::pasteFromClipboard);
    connect(import_, &QPushButton::clicked, this, &EmailListDialog::importFromFile);
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    connect(add_, &QPushButton::clicked, this, &EmailListDialog::addAddresses);
    platform::installDialogKeys(*this, cancel_, add_);
}

void EmailListDialog::pasteFromClipboard() {
    text_->setPlainText(toQString(pastedAddressText(clipboard_.text())));
}

void EmailListDialog::importFromFile() {
    const std::optional<std::string> path = prompter_.openFileName(
        "Import email-list from .txt file...", "Plain Text (*.txt)|*.txt|All files (*.*)|*.*", "");
    if (!path) {
        return;
    }
    std::string bytes;
    std::string error;
    if (!readAddressListFile(*path, bytes, error)) {
        prompter_.message("Error", importFailedText(*path, error));
        return;
    }
    text_->setPlainText(toQString(importedAddressText(store::textFromFileBytes(bytes))));
}

void EmailListDialog::addAddresses() {
    const std::int32_t status = status_->chosen().value_or(code(store::ContactStatus::Subscribers));
    const AddListResult result =
        addEmailList(session_, text_->toPlainText().toStdString(), group_->currentIndex() + 1,
                     status, formatContactDate(clock_.now()));
    views_.refreshViews();
    views_.updateStatusLine();
    close();
    if (!result.refused.empty()) {
        prompter_.message("Information", addListResultText(result));
    }
}

} // namespace velmora::contacts
