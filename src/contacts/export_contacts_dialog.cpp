#include "contacts/export_contacts_dialog.h"

#include "contacts/contact_dialog.h"
#include "contacts/contact_export.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using platform::toQString;

ExportContactsDialog::ExportContactsDialog(const store::Session& session, ShownLists lists,
                                           platform::Prompter& prompter, std::string startPath,
                                           QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), lists_(std::move(lists)),
      startPath_(std::move(startPath)), prompter_(prompter),
      current_(new QRadioButton(u"Current list: "_s + toQString(lists_.currentCaption), this)),
      filtered_(new QRadioButton(u"All Entries ( filtered )"_s, this)),
      group_(new QRadioButton(u"Campaign Group"_s, this)),
      status_(new QRadioButton(u"Status"_s, this)),
      mailtray_(new QRadioButton(u"Mailtray"_s, this)), groupList_(new QComboBox(this)),
      statusList_(new QComboBox(this)),
      bom_(new QCheckBox(u"Byte order mark (for spreadsheet programs)"_s, this)),
      cancel_(new QPushButton(u"Cancel"_s, this)), export_(new QPushButton(u"Export..."_s, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Export Contacts"_s);

    current_->setChecked(true);
    filtered_->setEnabled(lists_.filtered);
    fillGroupDropDown(*groupList_, session_);
    if (groupList_->count() > 0) {
        groupList_->setCurrentIndex(0);
    }
    group_->setEnabled(groupList_->count() > 0);
    for (const store::ContactStatus status : store::kVisibleStatuses) {
        statusList_->addItem(toQString(store::statusCaption(code(status))), code(status));
    }
    bom_->setChecked(true);

    auto* choices = new QGridLayout;
    choices->addWidget(current_, 0, 0, 1, 2);
    choices->addWidget(filtered_, 1, 0, 1, 2);
    choices->addWidget(group_, 2, 0);
    choices->addWidget(groupList_, 2, 1);
    choices->addWidget(status_, 3, 0);
    choices->addWidget(statusList_, 3, 1);
    choices->addWidget(mailtray_, 4, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(export_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addWidget(bom_);
    layout->addLayout(buttons);

    connect(groupList_, &QComboBox::activated, this, [this] { group_->setChecked(true); });
    connect(statusList_, &QComboBox::activated, this, [this] { status_->setChecked(true); });
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    connect(export_, &QPushButton::clicked, this, &ExportContactsDialog::exportList);
    platform::installDialogKeys(*this, cancel_, export_);
    platform::placeOver(*this, parent);
}

void ExportContactsDialog::exportList() {
    ExportChoice choice;
    if (current_->isChecked()) {
        choice.source = ExportSource::Rows;
        choice.rows = lists_.currentRows;
    } else if (filtered_->isChecked()) {
        choice.source = ExportSource::Rows;
        choice.rows = lists_.filteredRows;
    } else if (group_->isChecked()) {
        choice.source = ExportSource::Group;
        choice.group = groupList_->currentIndex() + 1;
    } else if (status_->isChecked()) {
        const std::int32_t status = statusList_->currentData().toInt();
        for (int t = 0; t < views::kTabCount; ++t) {
            const auto tab = static_cast<views::ViewTab>(t);
            if (tab != views::ViewTab::AllEntries && tabStatus(tab) == status) {
                choice.tab = tab;
            }
        }
    } else {
        choice.source = ExportSource::Mailtray;
    }
    const std::optional<std::string> chosen =
        prompter_.saveFileName(kExportContactsTitle, kExportContactsFilter, startPath_);
    if (!chosen || chosen->empty()) {
        return;
    }
    const std::optional<std::string> path = withCsvExtension(*chosen);
    // The requester confirmed replacing the name it was given, not the one
    // with the extension added.
    if (*path != *chosen && ::access(path->c_str(), F_OK) == 0 &&
        prompter_.message("Confirm", "\"" + *path + "\" already exists. Replace it?",
                          platform::PromptButtons::YesNo) != platform::PromptAnswer::Yes) {
        return;
    }
    const ExportResult result = exportContactsCsv(session_, choice, *path, bom_->isChecked());
    if (!result.ok) {
        prompter_.message("Error", result.error);
        return;
    }
    prompter_.message("Information", exportDoneText(result.count, *path));
    close();
}

} // namespace velmora::contacts
