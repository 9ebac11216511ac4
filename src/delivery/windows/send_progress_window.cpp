#include "delivery/windows/send_progress_window.h"

#include "delivery/run/delivery_run.h"
#include "delivery/run/send_check.h"
#include "platform/qt_text.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using platform::toQString;

namespace {

constexpr int kDrawPasses = 10; // event drains before the work starts
constexpr QSize kFirstSize(480, 360);
// The program remembers the window's size for the next run (not across
// starts: the program keeps no configuration outside the session).
constexpr const char* kSizeProperty = "velmoraSendProgressSize";

} // namespace

SendProgressWindow::SendProgressWindow(QWidget* parent, store::PasswordStore* keyring)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      keyring_(keyring) {
    setWindowTitle(u"Sending Mail"_s);
    setSizeGripEnabled(true);
    setMinimumSize(328, 226);

    auto* progressBox = new QGroupBox(u"Progress"_s, this);
    progressBar_ = new QProgressBar(progressBox);
    progressBar_->setRange(0, 10);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    status_ = new QLabel(toQString(kConnectingLabel), progressBox);
    status_->setObjectName(u"status"_s);
    status_->setWordWrap(true);
    counts_ = new QLabel(progressBox);
    counts_->setObjectName(u"counts"_s);
    counts_->setWordWrap(true);
    pace_ = new QLabel(progressBox);
    pace_->setObjectName(u"pace"_s);
    auto* progressLayout = new QVBoxLayout(progressBox);
    progressLayout->addWidget(progressBar_);
    progressLayout->addWidget(status_);
    progressLayout->addWidget(counts_);
    progressLayout->addWidget(pace_);

    auto* messagesBox = new QGroupBox(u"Server Messages"_s, this);
    log_ = new QListWidget(messagesBox);
    log_->setObjectName(u"serverMessagesLog"_s);
    // Long replies wrap rather than being cut off.
    log_->setWordWrap(true);
    log_->setTextElideMode(Qt::ElideNone);
    log_->setResizeMode(QListView::Adjust);
    log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* messagesLayout = new QVBoxLayout(messagesBox);
    messagesLayout->addWidget(log_);

    retry_ = new QPushButton(u"Retry"_s, this);
    retry_->setAutoDefault(false);
    retry_->hide();
    connect(retry_, &QPushButton::clicked, this, [this] { retry(); });
    button_ = new QPushButton(u"Close"_s, this);
    button_->setAutoDefault(false);
    button_->setMinimumWidth(95);
    connect(button_, &QPushButton::clicked, this, &SendProgressWindow::buttonPressed);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(retry_);
    buttons->addWidget(button_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(progressBox);
    layout->addWidget(messagesBox, 1);
    layout->addLayout(buttons);

    const QVariant remembered = QCoreApplication::instance() != nullptr
                                    ? QCoreApplication::instance()->property(kSizeProperty)
                                    : QVariant();
    resize(remembered.isValid() ? remembered.toSize() : kFirstSize);
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

QString SendProgressWindow::countsText() const {
    return counts_->text();
}

QString SendProgressWindow::paceText() const {
    return pace_->text();
}

void SendProgressWindow::tallyChanged(const RunTally& tally) {
    counts_->setText(toQString(tallyText(tally)));
    // A run over a pool shows each relay's part below its pace.
    const std::string relays = relayTallyText(tally);
    const std::string pace = delivery::paceText(tally);
    pace_->setText(toQString(relays.empty() ? pace : pace + "\n" + relays));
}

void SendProgressWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (QCoreApplication::instance() != nullptr && isVisible()) {
        QCoreApplication::instance()->setProperty(kSizeProperty, size());
    }
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
    log_->addItem(toQString(text));
    log_->scrollToBottom();
}

void SendProgressWindow::progress(const std::string& label) {
    status_->setText(toQString(label));
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
    button_->setText(sending ? u"Cancel"_s : u"Close"_s);
}

void SendProgressWindow::beginRun() {
    running_ = true;
    retry_->hide();
    cancelRequested_ = false;
    // Modal to the whole program: a command of another window (a new
    // session, closing the compose window) must not run under the run's feet.
    setWindowModality(Qt::ApplicationModal);
    show();
    for (int i = 0; i < kDrawPasses; ++i) {
        pumpEvents();
    }
}

void SendProgressWindow::endRun(const SendRunSummary& summary) {
    running_ = false;
    if (log_->count() > 0) {
        log_->setCurrentRow(log_->count() - 1);
    }
    runId_ = summary.runId;
    // Rejected recipients would only be refused again.
    const bool retryable = summary.deferred + summary.failed + notAttempted(summary) > 0;
    retry_->setVisible(session_ != nullptr && !runId_.empty() && retryable);
}

SendRunSummary SendProgressWindow::resume(store::Session& session, const MessageDraft& draft,
                                          const DeliveryPlan& plan,
                                          const SendRunEnvironment& environment) {
    session_ = &session;
    draft_ = draft;
    environment_.emplace(environment);
    beginRun();
    if (!signIn(session, *environment_)) {
        return {};
    }
    const SendRunSummary summary = runDelivery(session, draft, plan, *environment_, *this);
    keepRenewed(session);
    endRun(summary);
    return summary;
}

SendRunSummary SendProgressWindow::retry() {
    if (running_ || session_ == nullptr || !environment_ || runId_.empty()) {
        return {};
    }
    beginRun();
    logLine("Retry of the recipients that did not get the message:");
    if (!signIn(*session_, *environment_)) {
        return {};
    }
    const SendRunSummary summary =
        retryNotDelivered(*session_, draft_, runId_, *environment_, *this);
    keepRenewed(*session_);
    endRun(summary);
    return summary;
}

SendRunSummary SendProgressWindow::sendToRecipients(store::Session& session,
                                                    const MessageDraft& draft,
                                                    const std::vector<std::int32_t>& filteredRows,
                                                    const SendRunEnvironment& environment) {
    session_ = &session;
    draft_ = draft;
    environment_.emplace(environment);
    beginRun();
    if (!signIn(session, *environment_)) {
        return {};
    }
    // The check's warnings come first; they never hold the run.
    for (const std::string& line : runWarnings(session, draft, filteredRows, *environment_)) {
        logLine(line);
    }
    const SendRunSummary summary =
        delivery::sendToRecipients(session, draft, filteredRows, *environment_, *this);
    keepRenewed(session);
    endRun(summary);
    return summary;
}

SendRunSummary SendProgressWindow::sendPreview(store::Session& session, const MessageDraft& draft,
                                               const SendRunEnvironment& environment) {
    session_ = nullptr; // a preview has nothing to retry
    SendRunEnvironment signedIn = environment;
    beginRun();
    if (!signIn(session, signedIn)) {
        return {};
    }
    const SendRunSummary summary = delivery::sendPreview(session, draft, signedIn, *this);
    keepRenewed(session);
    endRun(summary);
    return summary;
}

SendRunSummary SendProgressWindow::sendTest(store::Session& session, const MessageDraft& draft,
                                            const PlannedRecipient& as, const std::string& address,
                                            const SendRunEnvironment& environment) {
    session_ = nullptr; // a test send has nothing to retry
    SendRunEnvironment signedIn = environment;
    beginRun();
    if (!signIn(session, signedIn)) {
        return {};
    }
    const SendRunSummary summary = delivery::sendTest(session, draft, as, address, signedIn, *this);
    keepRenewed(session);
    endRun(summary);
    return summary;
}

bool SendProgressWindow::signIn(const store::Session& session, SendRunEnvironment& environment) {
    // From the session as it is now: a retry starts from the tokens the
    // last run renewed.
    const store::Clock* clock = &environment.clock;
    signIns_ = std::make_unique<RunSignIns>(session.settings(), keyring_, [clock] {
        return clock->now().millisecondsSinceEpoch / 1000;
    });
    signIns_->setCancelled([this] { return cancelRequested_.load(); });
    // A renewal waits for the provider (up to the network's time-out): on
    // a thread of its own, while this window and the others stay painted.
    bool ready = false;
    std::string error;
    QEventLoop waiting;
    QThread* renewal = QThread::create([this, &ready, &error] { ready = signIns_->ready(error); });
    connect(renewal, &QThread::finished, &waiting, &QEventLoop::quit);
    renewal->start();
    waiting.exec();
    renewal->wait();
    delete renewal;
    signIns_->fill(environment);
    if (!ready) {
        const std::string why = cancelRequested_ ? std::string(kCancelledText) : error;
        status_->setText(toQString(why));
        logLine(why);
        // A retry that could not sign in can be tried again: its run stays.
        running_ = false;
        retry_->setVisible(session_ != nullptr && !runId_.empty());
    }
    return ready;
}

void SendProgressWindow::keepRenewed(store::Session& session) {
    store::SessionSettings settings = session.settings();
    if (signIns_ && signIns_->keepRenewed(settings) && settings != session.settings()) {
        session.setSettings(std::move(settings));
    }
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

SendProgressWindow* openSendProgressWindow(QWidget* parent, store::PasswordStore* keyring) {
    auto* window = new SendProgressWindow(parent, keyring);
    window->setAttribute(Qt::WA_DeleteOnClose);
    return window;
}

} // namespace velmora::delivery
