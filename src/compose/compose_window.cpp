#include "compose/compose_window.h"

#include "compose/editing_commands.h"
#include "compose/font_style_dialog.h"
#include "compose/surface/body_editor.h"
#include "delivery/draft_file.h"
#include "delivery/personal_fields.h"
#include "delivery/send_progress_window.h"
#include "platform/qt_images.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolButton>

namespace velmora::compose {

namespace {

constexpr int kInnerWidth = 555;
constexpr int kInnerHeight = 400;
const QColor kLabelBackground(0xFE, 0xFE, 0xFE);
const QColor kLabelText(0x66, 0x66, 0x66);

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* addLabel(QWidget* parent, const char* text, int y) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(5, y, 95, 20);
    return label;
}

} // namespace

ComposeWindow::ComposeWindow(store::EditorFormat format, ComposeServices services)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint),
      format_(format), services_(std::move(services)) {
    setWindowTitle(QStringLiteral("Compose Email"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The counts stay as they were when the window opened.
    counts_ = countRecipients(services_.session, services_.filteredResults().size());
    buildMenus();
    statusBar()->setSizeGripEnabled(false); // the window keeps its size
    buildControls();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    centreOnScreen(*this);

    connect(to_, &QComboBox::currentIndexChanged, this, &ComposeWindow::composeIdleUpdate);
    connect(body_, &BodyEditor::selectionChanged, this, &ComposeWindow::composeIdleUpdate);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &ComposeWindow::composeIdleUpdate);
    composeIdleUpdate();
}

ComposeWindow::~ComposeWindow() = default;

void ComposeWindow::buildMenus() {
    const auto item = [this](QMenu* menu, const char* caption, std::function<void()> command) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        connect(action, &QAction::triggered, this, [command = std::move(command)] { command(); });
        actions_.push_back(action);
        return action;
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    item(file, "New", [this] { emit newRequested(); });
    item(file, "Open..", [this] { openDraftCommand(); });
    item(file, "Save..", [this] { saveDraftFile(); });
    file->addSeparator();
    item(file, "Send Email", [this] { sendEmail(true); });
    file->addSeparator();
    item(file, "Close", [this] { close(); });

    QMenu* edit = menuBar()->addMenu(QStringLiteral("Edit"));
    item(edit, "Cut", [this] { cut(); });
    item(edit, "Copy", [this] { copy(); });
    item(edit, "Paste", [this] { paste(); });
    edit->addSeparator();
    QMenu* insert = edit->addMenu(QStringLiteral("Insert"));
    item(insert, "Hyperlink..", [this] {
        htmlCommand([this](BodyEditor& body) { openHyperlinkDialog(body, hyperlinkDialog_); });
    });
    item(insert, "Attachment..", [this] { attachFile(); });
    item(insert, "Horizontal Line",
         [this] { htmlCommand([](BodyEditor& body) { insertHorizontalLine(body); }); });
    // The personal fields each recipient's message is filled with.
    QMenu* fields = edit->addMenu(QStringLiteral("Insert Field"));
    for (std::string_view name : delivery::kPersonalFieldNames) {
        const std::string field = "{{" + std::string(name) + "}}";
        QAction* action = fields->addAction(QString::fromStdString(field));
        connect(action, &QAction::triggered, this, [this, field] { body_->insertText(field); });
        actions_.push_back(action);
    }
    edit->addSeparator();
    item(edit, "Clear Attachments", [this] { clearAttachments(); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("Tools"));
    item(tools, "Font Style..",
         [this] { htmlCommand([this](BodyEditor& body) { chooseFontStyle(body, this); }); });
    item(tools, "Edit HTML", [this] {
        htmlCommand([this](BodyEditor& body) { openEditHtmlDialog(body, editHtmlDialog_); });
    });
    tools->addSeparator();
    item(tools, "Send Preview", [this] { sendPreview(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    QAction* helpItem = item(help, "Help...", [this] { services_.showHelp(); });
    helpItem->setShortcut(QKeySequence(Qt::Key_F1));
    helpItem->setShortcutContext(Qt::WindowShortcut);
    help->addSeparator();
    item(help, "About", [this] { services_.showAbout(); });
}

QToolButton* ComposeWindow::addButton(int x, int y, int size, int image, const char* tooltip,
                                      std::function<void()> command) {
    auto* button = new QToolButton(centralWidget());
    button->setGeometry(x, y, size, size);
    button->setIcon(services_.images.icon(image));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolTip(QString::fromLatin1(tooltip));
    button->setAccessibleName(QString::fromLatin1(tooltip));
    connect(button, &QToolButton::clicked, this, [command = std::move(command)] { command(); });
    buttons_.push_back(button);
    return button;
}

void ComposeWindow::buildControls() {
    auto* central = new QWidget(this);
    central->setFixedSize(kInnerWidth, kInnerHeight);
    setCentralWidget(central);
    const store::SessionSettings& settings = services_.session.settings();

    addButton(0, 0, 32, 18, "Send email", [this] { sendEmail(false); });
    addButton(32, 0, 32, 19, "Save draft", [this] { saveDraftFile(); });
    addButton(64, 0, 32, 20, "Preview", [this] { sendPreview(); });
    addButton(104, 0, 32, 36, "Cut", [this] { cut(); });
    addButton(136, 0, 32, 37, "Copy", [this] { copy(); });
    addButton(168, 0, 32, 38, "Paste", [this] { paste(); });
    addButton(208, 0, 32, 21, "Attach a file", [this] { attachFile(); });
    attachmentLabel_ = new QLabel(QString::fromLatin1(kNoFilesAttached), central);
    attachmentLabel_->setGeometry(242, 0, 280, 32);
    attachmentLabel_->setAutoFillBackground(true);
    QPalette colours = attachmentLabel_->palette();
    colours.setColor(QPalette::Window, kLabelBackground);
    colours.setColor(QPalette::WindowText, kLabelText);
    attachmentLabel_->setPalette(colours);

    addLabel(central, "From", 35);
    from_ = new QLineEdit(qs(settings.fromAddress), central);
    from_->setGeometry(100, 35, 450, 20);
    addLabel(central, "To", 60);
    to_ = new QComboBox(central);
    to_->setGeometry(100, 60, 165, 20);
    for (const std::string& text : recipientEntryTexts(counts_)) {
        to_->addItem(qs(text));
    }
    to_->setCurrentIndex(code(delivery::RecipientChoice::Mailtray));
    single_ = new QLineEdit(central);
    single_->setGeometry(270, 60, 280, 20);
    addLabel(central, "Subject", 85);
    subject_ = new QLineEdit(central);
    subject_->setGeometry(100, 85, 450, 20);

    const auto html = [this](std::function<void(BodyEditor&)> command) {
        return [this, command = std::move(command)] { htmlCommand(command); };
    };
    addButton(5, 110, 24, 35, "Font-style",
              html([this](BodyEditor& body) { chooseFontStyle(body, this); }));
    paragraphStyle_ = new QComboBox(central);
    paragraphStyle_->setGeometry(30, 110, 170, 25);
    for (const std::string_view caption : blockFormatCaptions) {
        paragraphStyle_->addItem(qs(caption));
    }
    paragraphStyle_->setCurrentIndex(0);
    connect(paragraphStyle_, &QComboBox::activated, this, [this](int index) {
        htmlCommand(
            [this, index](BodyEditor& body) { chooseBlockFormat(body, lastBlockFormat_, index); });
    });
    const auto tag = [html](const char* word) {
        return html([word](BodyEditor& body) { toggleTag(body, word); });
    };
    const auto align = [html](const char* word) {
        return html([word](BodyEditor& body) { alignSelection(body, word); });
    };
    addButton(205, 110, 24, 22, "Bold", tag("b"));
    addButton(230, 110, 24, 23, "Italic", tag("i"));
    addButton(260, 110, 24, 24, "Unordered-list", tag("ul"));
    addButton(285, 110, 24, 25, "Ordered-list", tag("ol"));
    addButton(315, 110, 24, 26, "Align-left", align("left"));
    addButton(340, 110, 24, 27, "Align-center", align("center"));
    addButton(365, 110, 24, 28, "Align-justify", align("justify"));
    addButton(390, 110, 24, 29, "Align-right", align("right"));
    addButton(420, 110, 24, 30, "Increase indent", tag("blockquote"));
    addButton(445, 110, 24, 31, "Decrease indent", tag("blockquote"));
    addButton(470, 110, 24, 32, "Insert horizontal-line",
              html([](BodyEditor& body) { insertHorizontalLine(body); }));
    addButton(500, 110, 24, 33, "Insert hyperlink",
              html([this](BodyEditor& body) { openHyperlinkDialog(body, hyperlinkDialog_); }));
    addButton(525, 110, 24, 34, "Edit HTML",
              html([this](BodyEditor& body) { openEditHtmlDialog(body, editHtmlDialog_); }));

    body_ = new BodyEditor(format_, central);
    body_->setGeometry(5, 140, 545, 215);

    if (format_ == store::EditorFormat::PlainText) {
        paragraphStyle_->setItemText(0, QString::fromLatin1(kPlainTextEntry));
        paragraphStyle_->setEnabled(false);
        for (QToolButton* button : buttons_) {
            if (button->y() == 110) {
                button->setEnabled(false);
            }
        }
    }
}

void ComposeWindow::start() {
    const store::SessionSettings& settings = services_.session.settings();
    if (format_ == store::EditorFormat::Html) {
        // A document that cannot be written leaves the body empty.
        if (body_->loadBodyDocument(initialHtmlDocument(settings)) == 0) {
            body_->setDesignMode("On");
        }
    } else {
        body_->setPlainText(initialPlainText(settings));
    }
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

QToolButton* ComposeWindow::button(const QString& tooltip) const {
    for (QToolButton* button : buttons_) {
        if (button->toolTip() == tooltip) {
            return button;
        }
    }
    return nullptr;
}

QAction* ComposeWindow::menuAction(const QString& caption) const {
    for (QAction* action : actions_) {
        if (action->text() == caption) {
            return action;
        }
    }
    return nullptr;
}

void ComposeWindow::htmlCommand(const std::function<void(BodyEditor&)>& command) {
    // The formatting commands work on HTML; a plain-text body has none.
    if (format_ == store::EditorFormat::Html) {
        command(*body_);
    }
}

void ComposeWindow::cut() {
    button(QStringLiteral("Paste"))->setEnabled(true);
    body_->cutSelection();
}

void ComposeWindow::copy() {
    button(QStringLiteral("Paste"))->setEnabled(true);
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
            for (const char* tooltip :
                 {"Bold", "Italic", "Unordered-list", "Ordered-list", "Align-left", "Align-center",
                  "Align-justify", "Align-right", "Increase indent", "Decrease indent",
                  "Font-style", "Cut", "Copy"}) {
                button(QString::fromLatin1(tooltip))->setEnabled(*has);
            }
        }
    }
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (const auto paste = pasteShown_.update(!clipboard->text().isEmpty())) {
        button(QStringLiteral("Paste"))->setEnabled(*paste);
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
    attachmentLabel_->setText(qs(attachmentLabelText(attachments_)));
    if (attachmentSlotsFull(attachments_)) {
        // The button stays disabled for the life of the window; the menu
        // item works again once the slots are cleared.
        button(QStringLiteral("Attach a file"))->setEnabled(false);
    }
}

void ComposeWindow::clearAttachments() {
    compose::clearAttachments(attachments_);
    attachmentLabel_->setText(QString::fromLatin1(kNoFilesAttached));
}

void ComposeWindow::saveDraftFile() {
    const auto chosen = services_.prompter.saveFileName(
        delivery::kSaveDraftTitle, delivery::kDraftFilter, services_.profileDirectory + "*.eml");
    if (!chosen || chosen->empty()) {
        return;
    }
    const std::string path = delivery::withDraftExtension(*chosen);
    std::string error;
    if (!writeDraftFile(draft(), path, error)) {
        // Saving is what the user asked for: a draft that was not written says so.
        services_.prompter.message("Error", delivery::cannotSaveDraftText(path, error));
        return;
    }
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
    from_->setText(qs(opened.fromText));
    subject_->setText(qs(opened.subject));
    if (format_ == store::EditorFormat::Html) {
        if (body_->loadBodyDocument(opened.body) == 0) {
            body_->setDesignMode("On");
        }
    } else {
        body_->setPlainText(opened.body);
    }
    opened.body.clear();
    attachments_ = std::move(opened);
    attachmentLabel_->setText(qs(attachmentLabelText(attachments_)));
}

void ComposeWindow::sendEmail(bool ask) {
    if (ask && !delivery::confirmSendEmail(services_.prompter)) {
        return;
    }
    // The run reads the window as it is now, and its own format.
    const delivery::MessageDraft message = draft();
    delivery::openSendProgressWindow(this)->sendToRecipients(
        services_.session, message, services_.filteredResults(), services_.delivery);
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
    delivery::openSendProgressWindow(this)->sendPreview(services_.session, message,
                                                        services_.delivery);
}

ComposeWindow* openComposeWindow(store::EditorFormat format, const ComposeServices& services,
                                 QPointer<ComposeWindow>& current) {
    if (current) {
        // Replaced without asking; deleted once the command that asked is over.
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
