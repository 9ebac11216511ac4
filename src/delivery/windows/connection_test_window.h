#pragma once

#include "store/records.h"

#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velmora::delivery {

// "Test Connection": tries the settings it was given on a thread of its
// own, so the program stays responsive, and shows what the server said.
// Closing the window cancels a test still running.
class ConnectionTestWindow final : public QWidget {
    Q_OBJECT

public:
    ConnectionTestWindow(const store::SessionSettings& settings, QWidget* parent = nullptr);
    ~ConnectionTestWindow() override;

    bool running() const { return running_; }
    QString reportText() const;
    QPushButton* closeButton() const { return close_; }
    // "Trust this certificate": shown when the test refused a certificate
    // that its pin would accept.
    QPushButton* trustButton() const { return trust_; }

signals:
    void finished(bool passed);
    // The user trusts the refused certificate: `pin` is its tlsPinSha256.
    void trustRequested(const QString& pin);

private:
    void showReport(const QStringList& lines, bool passed, const QString& pin);

    QLabel* status_;
    QPlainTextEdit* report_;
    QPushButton* close_;
    QPushButton* trust_;
    QString pin_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::thread worker_;
    bool running_ = true;
};

} // namespace velmora::delivery
