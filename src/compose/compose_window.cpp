#include "compose/compose_window.h"

#include "compose/before_sending.h"
#include "compose/editing_commands.h"
#include "compose/font_style_dialog.h"
#include "compose/surface/body_editor.h"
#include "delivery/message/draft_file.h"
#include "delivery/message/personal_fields.h"
#include "delivery/random_source.h"
#include "delivery/run/send_later.h"
#include "delivery/windows/send_progress_window.h"
#include "platform/qt_images.h"
#include "platform/qt_menus.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace velmora::compose {

using platform::toQString;

namespace {

constexpr int kInnerWidth = 555;
constexpr int kInnerHeight = 400;
const QColor kLabelBackground(0xFE, 0xFE, 0xFE);
const QColor kLabelText(0x66, 0x66, 0x66);

QLabel* addLabel(QWidget* parent, const char* text, int y) {
    auto* label = new QLabel(toQString(text), parent);
    label->setGeometry(5, y, 95, 20);
    return label;
}

} // namespace

ComposeWindow::ComposeWindow(store::EditorFormat format, ComposeServices services)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint),
      format_(format), services_(std::move(services)) {
    setWindowTitle(u"Compose Email"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    // The counts stay as they were when the window opened.
    counts_ = countRecipients(services_.session, services_.filteredResults().size());
    buildMenus();
    statusBar()->setSizeGripEnabled(false); // the window keeps its size
    buildControls();
    if (services_.clipboard != nullptr) {
        body_->setClipboard(*services_.clipboard);
    }
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    centreOnScreen(*this);

    unchanged_ = attachments_;
    unchanged_.fromText = from_->text().toStdString();
    // The loaded body is the one to compare with; read once the load is over.
    connect(body_, &BodyEditor::loadEnded, this, [this] {
        if (takeUnchangedBodyOnLoad_) {
            takeUnchangedBodyOnLoad_ = false;
            QTimer::singleShot(0, this, [this] { markUnchanged(); });
        }
    });
    connect(to_, &QComboBox::currentIndexChanged, this, &ComposeWindow::composeIdleUpdate);
    connect(body_, &BodyEditor::selectionChanged, this, &ComposeWindow::composeIdleUpdate);
    // Only the desktop's clipboard says when it changes; the one the window
    // uses is read then, as at every other idle update.
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &ComposeWindow::composeIdleUpdate);
    composeIdleUpdate();
}

ComposeWindow::~ComposeWindow() = default;

void ComposeWindow::buildMenus() {
    platform::MenuPlacer menus(*menuBar(), kComposeTopMenus);
    for (const ComposeMenuEntry& entry : composeMenu()) {
        QMenu* menu = menus.menuFor(entry.menu, entry.submenu);
        switch (entry.kind) {
        case ComposeMenuEntry::Kind::Separator:
            menu->addSeparator();
            break;
        case ComposeMenuEntry::Kind::PersonalFields:
            // The personal fields each recipient's message is filled with.
            for (const std::string_view name : delivery::kPersonalFieldNames) {
                const std::string field = "{{" + std::string(name) + "}}";
                QAction* action = menu->addAction(toQString(field));
                connect(action, &QAction::triggered, this,
                        [this, field] { body_->insertText(field); });
                fieldActions_[name] = action;
            }
            break;
        case ComposeMenuEntry::Kind::Item: {
            QAction* item = platform::addMenuItem(*menu, entry.caption, entry.shortcut);
            const ComposeCommand command = entry.command;
            connect(item, &QAction::triggered, this, [this, command] { runCommand(command); });
            actions_[command] = item;
            break;
        }
        }
    }
}

void ComposeWindow::buildButtons(ButtonRow row, QWidget* parent) {
    const ButtonRowPlace place = buttonRowPlace(row);
    for (const ComposeButton& entry : composeButtons()) {
        if (entry.row != row) {
            continue;
        }
        QToolButton* button =
            platform::addImageButton(*parent, QRect(entry.x, place.y, place.size, place.size),
                                     services_.images.icon(entry.image), entry.tooltip);
        const ComposeCommand command = entry.command;
        connect(button, &QToolButton::clicked, this, [this, command] { runCommand(command); });
        buttons_[command] = button;
        // The formatting commands work on HTML; a plain-text body has none.
        if (row == ButtonRow::Formatting && format_ == store::EditorFormat::PlainText) {
            button->setEnabled(false);
        }
    }
}

void ComposeWindow::buildControls() {
    auto* central = new QWidget(this);
    central->setFixedSize(kInnerWidth, kInnerHeight);
    setCentralWidget(central);
    const store::SessionSettings& settings = services_.session.settings();

    buildButtons(ButtonRow::Message, central);
    attachmentLabel_ = new QLabel(toQString(kNoFilesAttached), central);
    attachmentLabel_->setGeometry(242, 0, 280, 32);
    attachmentLabel_->setAutoFillBackground(true);
    QPalette colours = attachmentLabel_->palette();
    colours.setColor(QPalette::Window, kLabelBackground);
    colours.setColor(QPalette::WindowText, kLabelText);
    attachmentLabel_->setPalette(colours);

    addLabel(central, "From", 35);
    from_ = new QLineEdit(toQString(settings.fromAddress), central);
    from_->setGeometry(100, 35, 450, 20);
    addLabel(central, "To", 60);
    to_ = new QComboBox(central);
    to_->setGeometry(100, 60, 165, 20);
    for (const std::string& text : recipientEntryTexts(counts_)) {
        to_->addItem(toQString(text));
    }
    to_->setCurrentIndex(code(delivery::RecipientChoice::Mailtray));
    single_ = new QLineEdit(central);
    single_->setGeometry(270, 60, 280, 20);
    addLabel(central, "Subject", 85);
    subject_ = new QLineEdit(central);
    subject_->setGeometry(100, 85, 450, 20);

    paragraphStyle_ = new QComboBox(central);
    paragraphStyle_->setGeometry(30, 110, 170, 25);
    for (const std::string_view caption : kBlockFormatCaptions) {
        paragraphStyle_->addItem(toQString(caption));
    }
    paragraphStyle_->setCurrentIndex(0);
    connect(paragraphStyle_, &QComboBox::activated, this, [this](int index) {
        htmlCommand(
            [this, index](BodyEditor& body) { chooseBlockFormat(body, lastBlockFormat_, index); });
    });
    buildButtons(ButtonRow::Formatting, central);
    // The list stands between the Font-style button and Bold, and so does
    // its place in the focus chain.
    QWidget::setTabOrder(buttons_.at(ComposeCommand::FontStyle), paragraphStyle_);

    body_ = new BodyEditor(format_, central);
    body_->setGeometry(5, 140, 545, 215);

    if (format_ == store::EditorFormat::PlainText) {
        paragraphStyle_->setItemText(0, toQString(kPlainTextEntry));
        paragraphStyle_->setEnabled(false);
    }
}

void ComposeWindow::runCommand(ComposeCommand command) {
    using C = ComposeCommand;
    const auto tag = [this](const char* word) {
        htmlCommand([word](BodyEditor& body) { toggleTag(body, word); });
    };
    const auto align = [this](const char* word) {
        htmlCommand([word](BodyEditor& body) { alignSelection(body, word); });
    };
    switch (command) {
    case C::New:
        emit newRequested();
        return;
    case C::Open:
        openDraftCommand();
        return;
    case C::Save:
        saveDraftFile();
        return;
    case C::SendEmail:
        sendEmail(true);
        return;
    case C::SendEmailNow:
        sendEmail(false);
        return;
    case C::Close:
        close();
        return;
    case C::Undo:
        body_->undo();
        return;
    case C::Redo:
        body_->redo();
        return;
    case C::Cut:
        cut();
        return;
    case C::Copy:
        copy();
        return;
    case C::Paste:
        paste();
        return;
    case C::InsertHyperlink:
        htmlCommand([this](BodyEditor& body) { openHyperlinkDialog(body, hyperlinkDialog_); });
        return;
    case C::AttachFile:
        attachFile();
        return;
    case C::InsertHorizontalLine:
        htmlCommand([](BodyEditor& body) { insertHorizontalLine(body); });
        return;
    case C::ClearAttachments:
        clearAttachments();
        return;
    case C::FontStyle:
        htmlCommand([this](BodyEditor& body) { chooseFontStyle(body, this); });
        return;
    case C::EditHtml:
        htmlCommand([this](BodyEditor& body) { openEditHtmlDialog(body, editHtmlDialog_); });
        return;
    case C::SendPreview:
        sendPreview();
        return;
    case C::CheckMessage:
        checkMessage();
        return;
    case C::SendTest:
        sendTest();
        return;
    case C::SendLater:
        sendLater();
        return;
    case C::Help:
        services_.showHelp();
        return;
    case C::About:
        services_.showAbout();
        return;
    case C::Bold:
        tag("b");
        return;
    case C::Italic:
        tag("i");
        return;
    case C::UnorderedList:
        tag("ul");
        return;
    case C::OrderedList:
        tag("ol");
        return;
    case C::AlignLeft:
        align("left");
        return;
    case C::AlignCenter:
        align("center");
        return;
    case C::AlignJustify:
        align("justify");
        return;
    case C::AlignRight:
        align("right");
        return;
    case C::IncreaseIndent:
    case C::DecreaseIndent:
        // Both toggle the quote block: a second press takes it out again.
        tag("blockquote");
        return;
    }
}

void ComposeWindow::start() {
    const store::SessionSettings& settings = services_.session.settings();
    if (format_ == store::EditorFormat::Html) {
        // A document that cannot be written leaves the body empty.
        takeUnchangedBodyOnLoad_ = true;
        if (body_->loadBodyDocument(initialHtmlDocument(settings)) == 0) {
            body_->setDesignMode("On");
        } else {
            takeUnchangedBodyOnLoad_ = false;
        }
    } else {
        body_->setPlainText(initialPlainText(settings));
        markUnchanged();
    }
}

void ComposeWindow::markUnchanged() {
    unchanged_ = draft();
    unchangedBodyKnown_ = true;
}

bool ComposeWindow::hasChanges() {
    delivery::MessageDraft now = draft();
    if (!unchangedBodyKnown_) {
        now.body = unchanged_.body;
    }
    return messageChanged(unchanged_, now);
}

delivery::MessageDraft ComposeWindow::draft() {
    delivery::MessageDraft message = attachments_;
    message.fromText = from_->text().toStdString();
    message.recipientChoice = to_->currentIndex();
    message.singleRecipient = single_->text().toStdString();
    message.subject = subject_->text().toStdString();
    message.body = body_->bodyText();
    message.format = code(format_);
    return message;
}

QToolButton* ComposeWindow::button(ComposeCommand command) const {
    const auto found = buttons_.find(command);
    return found == buttons_.end() ? nullptr : found->second;
}

QAction* ComposeWindow::action(ComposeCommand command) const {
    const auto found = actions_.find(command);
    return found == actions_.end() ? nullptr : found->second;
}

QAction* ComposeWindow::fieldAction(std::string_view field) const {
    const auto found = fieldActions_.find(field);
    return found == fieldActions_.end() ? nullptr : found->second;
}

void ComposeWindow::htmlCommand(const std::function<void(BodyEditor&)>& command) {
    // The formatting commands work on HTML; a plain-text body has none.
    if (format_ == store::EditorFormat::Html) {
        command(*body_);
    }
}

void ComposeWindow::cut() {
    buttons_.at(ComposeCommand::Paste)->setEnabled(true);
    body_->cutSelection();
}

void ComposeWindow::copy() {
    buttons_.at(ComposeCommand::Paste)->setEnabled(true);
    body_->copySelection();
}

void ComposeWindow::paste() {
    body_->pasteClipboard();
}

void ComposeWindow::composeIdleUpdate() {
    if (const auto single = singleShown_.update(to_->currentIndex() == 0)) {
        single_->setEnabled(*single);
    }
    if (format_ == store::EditorFormat::Html) {
        if (const auto has = selectionShown_.update(body_->hasSelection())) {
            paragraphStyle_->setEnabled(*has);
            for (const ComposeButton& entry : composeButtons()) {
                if (entry.followsSelection) {
                    buttons_.at(entry.command)->setEnabled(*has);
                }
            }
        }
    }
    if (const auto paste = pasteShown_.update(!body_->clipboard().text().empty())) {
        buttons_.at(ComposeCommand::Paste)->setEnabled(*paste);
    }
}

void ComposeWindow::attachFile() {
    if (attachmentSlotsFull(attachments_)) {
        return;
    }
    const auto chosen = services_.prompter.openFileName("Attach a file...", "All files (*.*)|*.*",
                                                        services_.profileDirectory + "*.*");
    if (chosen && !chosen->empty()) {
        attachToDraft(attachments_, *chosen, delivery::attachmentSizeKb(*chosen));
    }
    attachmentLabel_->setText(toQString(attachmentLabelText(attachments_)));
    if (attachmentSlotsFull(attachments_)) {
        // The button stays disabled for the life of the window; the menu
        // item works again once the slots are cleared.
        buttons_.at(ComposeCommand::AttachFile)->setEnabled(false);
    }
}

void ComposeWindow::clearAttachments() {
    compose::clearAttachments(attachments_);
    attachmentLabel_->setText(toQString(kNoFilesAttached));
}

void ComposeWindow::saveDraftFile() {
    const auto chosen = services_.prompter.saveFileName(
        delivery::kSaveDraftTitle, delivery::kDraftFilter, services_.profileDirectory + "*.eml");
    if (!chosen || chosen->empty()) {
        return;
    }
    const std::string path = delivery::withDraftExtension(*chosen);
    std::string error;
    const delivery::MessageDraft message = draft();
    if (!writeDraftFile(message, path, error)) {
        // Saving is what the user asked for: a draft that was not written says so.
        services_.prompter.message("Error", delivery::cannotSaveDraftText(path, error));
        return;
    }
    // Kept in a file, the message is no longer lost when the window is replaced.
    unchanged_ = message;
    unchangedBodyKnown_ = true;
    services_.prompter.message("Information", delivery::draftSavedText(path));
}

void ComposeWindow::openDraftCommand() {
    const auto chosen = services_.prompter.openFileName(
        delivery::kOpenDraftTitle, delivery::kDraftFilter, services_.profileDirectory + "*.eml");
    if (chosen && !chosen->empty()) {
        openDraftFile(*chosen);
    }
}

void ComposeWindow::openDraftFile(const std::string& path) {
    const delivery::DraftReadResult read = delivery::readDraftFile(path);
    if (read.status == delivery::DraftReadStatus::CannotOpen ||
        read.status == delivery::DraftReadStatus::HeaderMismatch) {
        return;
    }
    // A draft that ends early gives empty fields for what is missing.
    delivery::MessageDraft opened = attachments_;
    takeDraftFields(opened, read.draft, &delivery::attachmentSizeKb);
    from_->setText(toQString(opened.fromText));
    subject_->setText(toQString(opened.subject));
    const bool html = format_ == store::EditorFormat::Html;
    if (html) {
        takeUnchangedBodyOnLoad_ = true;
        if (body_->loadBodyDocument(opened.body) == 0) {
            body_->setDesignMode("On");
        } else {
            takeUnchangedBodyOnLoad_ = false;
        }
    } else {
        body_->setPlainText(opened.body);
    }
    opened.body.clear();
    attachments_ = std::move(opened);
    attachmentLabel_->setText(toQString(attachmentLabelText(attachments_)));
    // The draft's contents are in its file: the window starts from them.
    if (!html) {
        markUnchanged();
    }
}

void ComposeWindow::sendEmail(bool ask) {
    if (ask && !delivery::confirmSendEmail(services_.prompter)) {
        return;
    }
    // The run reads the window as it is now, and its own format.
    const delivery::MessageDraft message = draft();
    delivery::openSendProgressWindow(this, services_.keyring)
        ->sendToRecipients(services_.session, message, services_.filteredResults(),
                           services_.delivery);
}

void ComposeWindow::sendPreview() {
    switch (delivery::confirmPreview(services_.prompter, from_->text().toStdString())) {
    case delivery::PreviewCheck::NeedsFrom:
        from_->setFocus(Qt::OtherFocusReason);
        return;
    case delivery::PreviewCheck::Declined:
        return;
    case delivery::PreviewCheck::Send:
        break;
    }
    const delivery::MessageDraft message = draft();
    delivery::openSendProgressWindow(this, services_.keyring)
        ->sendPreview(services_.session, message, services_.delivery);
}

void ComposeWindow::checkMessage() {
    const delivery::MessageDraft message = draft();
    const std::vector<std::int32_t> rows =
        services_.filteredResults ? services_.filteredResults() : std::vector<std::int32_t>{};
    std::string text;
    for (const std::string& line : compose::checkMessageReport(
             services_.session, message, rows, services_.delivery, services_.spamFilter)) {
        text += (text.empty() ? "" : "\n") + store::printableText(line);
    }
    services_.prompter.message(kCheckMessageTitle, text, platform::PromptButtons::Ok);
}

void ComposeWindow::sendTest() {
    const delivery::MessageDraft message = draft();
    const std::vector<std::int32_t> rows =
        services_.filteredResults ? services_.filteredResults() : std::vector<std::int32_t>{};
    const delivery::PlannedRecipient as = testSendContact(services_.session, message, rows);
    const std::string initial = delivery::previewRecipient(message.fromText);
    std::optional<std::string> address;
    if (services_.askText) {
        address = services_.askText(kSendTestTitle, sendTestPrompt(as), initial);
    } else {
        bool ok = false;
        const QString typed =
            QInputDialog::getText(this, toQString(kSendTestTitle), toQString(sendTestPrompt(as)),
                                  QLineEdit::Normal, toQString(initial), &ok);
        if (ok) {
            address = typed.toStdString();
        }
    }
    if (!address || store::trimSpaces(*address).empty()) {
        return;
    }
    delivery::openSendProgressWindow(this, services_.keyring)
        ->sendTest(services_.session, message, as, *address, services_.delivery);
}

void ComposeWindow::sendLater() {
    const store::LocalDateTime now = services_.delivery.clock.now();
    const std::string initial = suggestedSendLaterTime(now);
    std::optional<std::string> at;
    if (services_.askText) {
        at = services_.askText(kSendLaterTitle, kSendLaterPrompt, initial);
    } else {
        bool ok = false;
        const QString typed =
            QInputDialog::getText(this, toQString(kSendLaterTitle), toQString(kSendLaterPrompt),
                                  QLineEdit::Normal, toQString(initial), &ok);
        if (ok) {
            at = typed.toStdString();
        }
    }
    if (!at) {
        return;
    }
    unsigned char bytes[2] = {};
    if (services_.delivery.randomBytes) {
        services_.delivery.randomBytes(bytes, sizeof bytes);
    } else {
        delivery::systemRandomBytes(bytes, sizeof bytes);
    }
    SendLaterRequest request;
    request.atText = *at;
    request.program = services_.mailtrayProgram;
    request.folder = delivery::scheduleFolderFromEnvironment();
    request.now = now;
    for (const unsigned char byte : bytes) {
        store::appendHex(request.randomHex, byte, store::HexDigits::Lower);
    }
    const SendLaterResult result = compose::sendLater(services_.session, draft(), request);
    std::string text = store::printableText(result.message);
    if (result.scheduled) {
        text += std::string("\n") + kCloseSessionBeforeSendLaterText;
    }
    services_.prompter.message(result.scheduled ? "Information" : "Error", text);
}

ComposeWindow* openComposeWindow(store::EditorFormat format, const ComposeServices& services,
                                 QPointer<ComposeWindow>& current) {
    if (current) {
        if (current->hasChanges() && services.prompter.message("Confirm", kDiscardMessageText,
                                                               platform::PromptButtons::YesNo) !=
                                         platform::PromptAnswer::Yes) {
            platform::bringToFront(*current);
            return current;
        }
        // Deleted once the command that asked is over.
        current->hide();
        current->deleteLater();
    }
    auto* window = new ComposeWindow(format, services);
    current = window;
    QObject::connect(window, &ComposeWindow::newRequested, window, [format, services, &current] {
        openComposeWindow(format, services, current);
    });
    window->show();
    window->start();
    return window;
}

} // namespace velmora::compose
