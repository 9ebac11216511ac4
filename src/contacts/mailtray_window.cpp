#include "contacts/mailtray_window.h"

#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using platform::toQString;

MailtrayWindow::MailtrayWindow(store::Session& session, ViewAccess& views,
                               platform::Prompter& prompter, platform::Clipboard& clipboard,
                               const store::Clock& clock, const platform::ProgramImages* images,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), views_(views), prompter_(prompter),
      clipboard_(clipboard), clock_(clock),
      model_(new views::ContactListModel(session, views::RowTable::Mailtray, images, this)),
      list_(new QTreeView(this)), addSelected_(new QPushButton(u"Add Selected"_s, this)),
      addFiltered_(new QPushButton(u"Add Filtered"_s, this)),
      empty_(new QPushButton(u"Emtpy Mailtray"_s, this)),
      copy_(new QPushButton(u"Copy to Clipboard"_s, this)),
      save_(new QPushButton(u"Save to File.."_s, this)),
      close_(new QPushButton(u"Close Window"_s, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    resize(490, 231);
    views::setUpOwnRowsView(*list_, *model_);
    list_->setMinimumSize(380, 220);

    auto* column = new QVBoxLayout;
    for (QPushButton* button : {addSelected_, addFiltered_, empty_, copy_, save_}) {
        column->addWidget(button);
    }
    column->addStretch();
    column->addWidget(close_);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(column);

    connect(addSelected_, &QPushButton::clicked, this, &MailtrayWindow::addSelected);
    connect(addFiltered_, &QPushButton::clicked, this, &MailtrayWindow::addFiltered);
    connect(empty_, &QPushButton::clicked, this, &MailtrayWindow::emptyMailtray);
    connect(copy_, &QPushButton::clicked, this, &MailtrayWindow::copyToClipboard);
    connect(save_, &QPushButton::clicked, this, &MailtrayWindow::saveToFile);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    platform::installDialogKeys(*this, close_);

    reload();
}

void MailtrayWindow::reload() {
    shownGeneration_ = session_.documentGeneration();
    fillList();
    state_ = MailtrayButtons::onOpen(session_.mailtrayCount(), !views_.selectedRows().empty());
    showButtons();
}

void MailtrayWindow::reloadIfSessionReplaced() {
    if (shownGeneration_ != session_.documentGeneration()) {
        reload();
    }
}

void MailtrayWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        reloadIfSessionReplaced();
    }
    QWidget::changeEvent(event);
}

void MailtrayWindow::fillList() {
    std::vector<std::int32_t> rows;
    rows.reserve(static_cast<std::size_t>(session_.mailtrayCount()));
    for (std::int32_t slot = 1; slot <= session_.mailtrayCount(); ++slot) {
        if (!session_.mailtrayEntry(slot).isDeleted()) {
            rows.push_back(slot);
        }
    }
    model_->setRowSlots(std::move(rows));
}

void MailtrayWindow::showButtons() {
    setWindowTitle(toQString(mailtrayWindowTitle(session_.mailtrayCount())));
    addSelected_->setEnabled(state_.addSelected);
    addFiltered_->setEnabled(state_.addFiltered);
    empty_->setEnabled(state_.empty);
    copy_->setEnabled(state_.copy);
    save_->setEnabled(state_.save);
}

void MailtrayWindow::addSelected() {
    reloadIfSessionReplaced();
    addContactsToMailtray(session_, views_.selectedRows());
    fillList();
    state_.afterAdd(MailtrayButtons::Used::AddSelected, session_.mailtrayCount());
    showButtons();
    views_.updateStatusLine();
}

void MailtrayWindow::addFiltered() {
    reloadIfSessionReplaced();
    addContactsToMailtray(session_, views_.filteredRows());
    fillList();
    state_.afterAdd(MailtrayButtons::Used::AddFiltered, session_.mailtrayCount());
    showButtons();
    views_.updateStatusLine();
}

void MailtrayWindow::emptyMailtray() {
    reloadIfSessionReplaced();
    if (prompter_.message("Confirm", kEmptyMailtrayQuestion, platform::PromptButtons::YesNo) !=
        platform::PromptAnswer::Yes) {
        return;
    }
    session_.clearMailtray();
    fillList();
    state_.afterEmpty();
    showButtons();
    views_.updateStatusLine();
}

void MailtrayWindow::copyToClipboard() {
    reloadIfSessionReplaced();
    clipboard_.setText(mailtrayClipboardText(session_));
    offerMarking(mailtrayCopiedQuestion());
}

void MailtrayWindow::saveToFile() {
    reloadIfSessionReplaced();
    const std::optional<std::string> chosen = prompter_.saveFileName(
        "Save mailtray emails to file...", "Plain Text (*.txt)|*.txt|All files (*.*)|*.*", "*.txt");
    if (!chosen) {
        return;
    }
    const std::string path = mailtrayExportPath(*chosen);
    std::string error;
    if (!saveMailtrayToFile(session_, path, error)) {
        prompter_.message("Error", mailtraySaveFailedText(path, error));
        return;
    }
    offerMarking(mailtraySavedQuestion(path));
}

void MailtrayWindow::offerMarking(const std::string& question) {
    if (prompter_.message("Confirm", question, platform::PromptButtons::YesNo) !=
        platform::PromptAnswer::Yes) {
        return;
    }
    markMailtrayContacted(session_, formatContactDate(clock_.now()));
    views_.refreshViews();
    views_.updateStatusLine();
}

} // namespace velmora::contacts
