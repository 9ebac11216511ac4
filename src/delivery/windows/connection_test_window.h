#pragma once

#include "store/password_store.h"
#include "store/records.h"

#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
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
    // A session signed in with OAuth logs in with its token, renewed with
    // the refresh token (from `keyring` when kept there) when it has ended.
    ConnectionTestWindow(const store::SessionSettings& settings, QWidget* parent = nullptr,
                         store::PasswordStore* keyring = nullptr);
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
    // The test renewed the access token: `settings` hold the new one.
    void tokensRenewed(const store::SessionSettings& settings);

private:
    void showReport(const QStringList& lines, bool passed, const QString& pin,
                    const std::optional<store::SessionSettings>& renewed);

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
