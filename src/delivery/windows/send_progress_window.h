#pragma once

#include "delivery/run/delivery_run.h"
#include "delivery/run/run_sign_ins.h"
#include "delivery/run/send_run.h"
#include "delivery/run_observer.h"
#include "store/password_store.h"

#include <QDialog>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace velmora::delivery {

// "Sending Mail": the progress of one send run or preview, its counts per
// outcome, pace and time left, and the server's messages. While the run
// works the window is modal to the whole program and the run pumps events
// through it, so every window stays painted and only its button (Cancel)
// acts. Afterwards it shows how the run ended, "Close", and "Retry" when
// some recipients did not get the message; it stays open until the user
// closes it. It can be resized; the next one opens at the size it had.
// A session signed in with OAuth sends with its tokens; a renewed token goes
// into the session (unsaved, like any change) when the run ends.
class SendProgressWindow final : public QDialog, public RunObserver {
    Q_OBJECT
public:
    // `keyring`: the desktop keyring the session's refresh token may be
    // kept in (null: none).
    explicit SendProgressWindow(QWidget* parent = nullptr, store::PasswordStore* keyring = nullptr);

    // The runs of the compose window's commands, each in this window.
    SendRunSummary sendToRecipients(store::Session& session, const MessageDraft& draft,
                                    const std::vector<std::int32_t>& filteredRows,
                                    const SendRunEnvironment& environment);
    SendRunSummary sendPreview(store::Session& session, const MessageDraft& draft,
                               const SendRunEnvironment& environment);
    SendRunSummary sendTest(store::Session& session, const MessageDraft& draft,
                            const PlannedRecipient& as, const std::string& address,
                            const SendRunEnvironment& environment);

    // Continues an interrupted run (see prepareResume).
    SendRunSummary resume(store::Session& session, const MessageDraft& draft,
                          const DeliveryPlan& plan, const SendRunEnvironment& environment);
    // Sends again to the last run's recipients that did not get the message.
    SendRunSummary retry();

    bool running() const { return running_; }
    QString statusText() const;
    QString countsText() const;
    QString paceText() const;
    QPushButton* retryButton() const { return retry_; }
    QString buttonText() const;
    QStringList logLines() const;
    QPushButton* button() const { return button_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QListWidget* log() const { return log_; }

    // RunObserver
    void logLine(const std::string& text) override;
    void progress(const std::string& label) override;
    bool cancelRequested() override { return cancelRequested_; }
    void pumpEvents() override;
    void progressRange(int maximum) override;
    void advanceProgress() override;
    void sendingChanged(bool sending) override;
    void tallyChanged(const RunTally& tally) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override; // Escape

private:
    void beginRun();
    void endRun(const SendRunSummary& summary);
    void buttonPressed();
    // Sets `environment` up with the session's sign-ins; false (and the
    // user told why) when the run must not start.
    bool signIn(const store::Session& session, SendRunEnvironment& environment);
    // Writes renewed tokens into the session.
    void keepRenewed(store::Session& session);

    QProgressBar* progressBar_;
    QLabel* status_;
    QLabel* counts_;
    QLabel* pace_;
    QPushButton* retry_;
    QListWidget* log_;
    QPushButton* button_;
    bool running_ = false;
    std::atomic<bool> cancelRequested_ = false; // also read by a renewal on its thread
    store::PasswordStore* keyring_;
    // The last run's sign-ins: its environment points into them.
    std::unique_ptr<RunSignIns> signIns_;
    // What Retry sends with: the last list run's session, draft and environment.
    store::Session* session_ = nullptr;
    MessageDraft draft_;
    std::optional<SendRunEnvironment> environment_;
    std::string runId_;
};

// A new progress window over `parent` that deletes itself when closed. The
// compose window calls its sendToRecipients or sendPreview.
SendProgressWindow* openSendProgressWindow(QWidget* parent,
                                           store::PasswordStore* keyring = nullptr);

} // namespace velmora::delivery
