#include "delivery/send_progress_window.h"

#include "platform/qt_prompter.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int kDrawPasses = 10; // event drains before the work starts

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

SendProgressWindow::SendProgressWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Sending Mail"));
    setFixedSize(328, 226);

    auto* progressBox = new QGroupBox(QStringLiteral("Progress"), this);
    progressBox->setGeometry(5, 5, 320, 60);
    progressBar_ = new QProgressBar(this);
    progressBar_->setGeometry(10, 20, 310, 15);
    progressBar_->setRange(0, 10);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    status_ = new QLabel(QString::fromLatin1(kConnectingLabel), this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setGeometry(10, 40, 310, 20);

    auto* messagesBox = new QGroupBox(QStringLiteral("Server Messages"), this);
    messagesBox->setGeometry(5, 70, 320, 120);
    log_ = new QListWidget(this);
    log_->setObjectName(QStringLiteral("serverMessagesLog"));
    log_->setGeometry(10, 85, 310, 95);

    button_ = new QPushButton(QStringLiteral("Close"), this);
    button_->setGeometry(230, 195, 95, 25);
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, &SendProgressWindow::buttonPressed);

    // Centred over the window that started the run, else on the screen.
    const QRect area = parent != nullptr
                           ? parent->window()->frameGeometry()
                           : (screen() != nullptr ? screen()->availableGeometry() : QRect());
    if (area.isValid()) {
        move(area.center() - rect().center());
    }
}

QString SendProgressWindow::statusText() const {
    return status_->text();
}

QString SendProgressWindow::buttonText() const {
    return button_->text();
}

QStringList SendProgressWindow::logLines() const {
    QStringList lines;
    for (int i = 0; i < log_->count(); ++i) {
        lines << log_->item(i)->text();
    }
    return lines;
}

void SendProgressWindow::logLine(const std::string& text) {
    log_->addItem(fromUtf8(text));
    log_->scrollToBottom();
}

void SendProgressWindow::progress(const std::string& label) {
    status_->setText(fromUtf8(label));
}

void SendProgressWindow::pumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void SendProgressWindow::progressRange(int maximum) {
    progressBar_->setRange(0, maximum);
    progressBar_->setValue(0);
}

void SendProgressWindow::advanceProgress() {
    progressBar_->setValue(progressBar_->value() + 1);
}

void SendProgressWindow::sendingChanged(bool sending) {
    button_->setText(sending ? QStringLiteral("Cancel") : QStringLiteral("Close"));
}

void SendProgressWindow::beginRun() {
    running_ = true;
    cancelRequested_ = false;
    // Modal to the whole program: a command of another window (a new
    // session, closing the compose window) must not run under the run's feet.
    setWindowModality(Qt::ApplicationModal);
    show();
    for (int i = 0; i < kDrawPasses; ++i) {
        pumpEvents();
    }
}

void SendProgressWindow::endRun() {
    running_ = false;
    if (log_->count() > 0) {
        log_->setCurrentRow(log_->count() - 1);
    }
}

SendRunSummary SendProgressWindow::sendToRecipients(Session& session, const MessageDraft& draft,
                                                    const std::vector<std::int32_t>& filteredRows,
                                                    const SendRunEnvironment& environment) {
    beginRun();
    const SendRunSummary summary =
        ::sendToRecipients(session, draft, filteredRows, environment, *this);
    endRun();
    return summary;
}

SendRunSummary SendProgressWindow::sendPreview(const Session& session, const MessageDraft& draft,
                                               const SendRunEnvironment& environment) {
    beginRun();
    const SendRunSummary summary = ::sendPreview(session, draft, environment, *this);
    endRun();
    return summary;
}

void SendProgressWindow::buttonPressed() {
    if (running_) {
        cancelRequested_ = true;
    } else {
        close();
    }
}

void SendProgressWindow::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The window is the run's only way to show how it ended: closing it
        // cancels the run, and the window closes when asked again.
        cancelRequested_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void SendProgressWindow::reject() {
    if (running_) {
        cancelRequested_ = true;
        return;
    }
    QDialog::reject();
}

SendProgressWindow* openSendProgressWindow(QWidget* parent) {
    auto* window = new SendProgressWindow(parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    return window;
}

bool askToSendEmail(QWidget* parent) {
    QtPrompter prompter(parent);
    return confirmSendEmail(prompter);
}

bool askToSendPreview(QWidget* parent, QWidget* fromField, const std::string& fromText) {
    QtPrompter prompter(parent);
    switch (confirmPreview(prompter, fromText)) {
    case PreviewCheck::Send:
        return true;
    case PreviewCheck::NeedsFrom:
        if (fromField != nullptr) {
            fromField->setFocus(Qt::OtherFocusReason);
        }
        return false;
    case PreviewCheck::Declined:
        return false;
    }
    return false;
}
