#include "delivery/windows/connection_test_window.h"

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/smtp/smtp_request.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using platform::toQString;

namespace {

// The worker's observer: nothing to show while it runs; Cancel when the window goes.
class CancellableObserver final : public RunObserver {
public:
    explicit CancellableObserver(std::shared_ptr<std::atomic<bool>> cancel)
        : cancel_(std::move(cancel)) {}
    void logLine(const std::string&) override {}
    bool cancelRequested() override { return cancel_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> cancel_;
};

} // namespace

ConnectionTestWindow::ConnectionTestWindow(const store::SessionSettings& settings, QWidget* parent,
                                           store::PasswordStore* keyring)
    : QWidget(parent, Qt::Window), status_(new QLabel(u"Testing the connection..."_s)),
      report_(new QPlainTextEdit), close_(new QPushButton(u"Close"_s)),
      trust_(new QPushButton(u"Trust this certificate"_s)),
      cancel_(std::make_shared<std::atomic<bool>>(false)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Test Connection"_s);
    report_->setReadOnly(true);
    report_->setMinimumSize(520, 220);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(trust_);
    buttons->addWidget(close_);
    trust_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(report_);
    layout->addLayout(buttons);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    connect(trust_, &QPushButton::clicked, this, [this] {
        trust_->setEnabled(false);
        emit trustRequested(pin_);
    });
    platform::installDialogKeys(*this, close_);
    platform::placeOver(*this, parent);

    QPointer<ConnectionTestWindow> self(this);
    worker_ = std::thread([self, settings, cancel = cancel_, keyring] {
        TcpConnection connection;
        CancellableObserver observer(cancel);
        const store::SystemClock clock;
        store::SessionSettings tokenSettings = settings;
        SessionAccessTokens tokens(tokenSettings, keyring,
                                   [&clock] { return clock.now().millisecondsSinceEpoch / 1000; });
        tokens.setCancelled([cancel] { return cancel->load(); });
        const SmtpSessionReport report =
            testSmtpConnection(settings, localHostName(), connection, observer, clock, &tokens);
        std::optional<store::SessionSettings> renewed;
        if (tokens.changed()) {
            renewed = tokenSettings;
        }
        QStringList lines;
        for (const std::string& line :
             connectionTestLines(smtpRequestFor(settings, localHostName()), report)) {
            lines << toQString(line);
        }
        const bool passed = connectionTestPassed(report);
        const QString pin = toQString(certificatePinToTrust(report).value_or(std::string()));
        if (cancel->load()) {
            return; // the window is going: nobody to tell
        }
        // The window's own thread shows it; the window may be gone by then.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, lines, passed, pin, renewed] {
                if (self) {
                    self->showReport(lines, passed, pin, renewed);
                }
            },
            Qt::QueuedConnection);
    });
}

ConnectionTestWindow::~ConnectionTestWindow() {
    cancel_->store(true);
    if (worker_.joinable()) {
        worker_.join(); // a cancelled test ends within a few milliseconds
    }
}

QString ConnectionTestWindow::reportText() const {
    return report_->toPlainText();
}

void ConnectionTestWindow::showReport(const QStringList& lines, bool passed, const QString& pin,
                                      const std::optional<store::SessionSettings>& renewed) {
    running_ = false;
    if (renewed) {
        emit tokensRenewed(*renewed);
    }
    pin_ = pin;
    trust_->setVisible(!pin.isEmpty());
    status_->setText(passed ? u"The connection test succeeded."_s
                            : u"The connection test failed."_s);
    report_->setPlainText(lines.join(u'\n'));
    emit finished(passed);
}

} // namespace velmora::delivery
