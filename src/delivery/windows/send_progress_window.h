#pragma once

#include "delivery/run/delivery_run.h"
#include "delivery/run/send_run.h"
#include "delivery/run_observer.h"

#include <QDialog>
#include <QStringList>
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
class SendProgressWindow final : public QDialog, public RunObserver {
    Q_OBJECT
public:
    explicit SendProgressWindow(QWidget* parent = nullptr);

    // The runs of the compose window's commands, each in this window.
    SendRunSummary sendToRecipients(store::Session& session, const MessageDraft& draft,
                                    const std::vector<std::int32_t>& filteredRows,
                                    const SendRunEnvironment& environment);
    SendRunSummary sendPreview(const store::Session& session, const MessageDraft& draft,
                               const SendRunEnvironment& environment);
    SendRunSummary sendTest(const store::Session& session, const MessageDraft& draft,
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

    QProgressBar* progressBar_;
    QLabel* status_;
    QLabel* counts_;
    QLabel* pace_;
    QPushButton* retry_;
    QListWidget* log_;
    QPushButton* button_;
    bool running_ = false;
    bool cancelRequested_ = false;
    // What Retry sends with: the last list run's session, draft and environment.
    store::Session* session_ = nullptr;
    MessageDraft draft_;
    std::optional<SendRunEnvironment> environment_;
    std::string runId_;
};

// A new progress window over `parent` that deletes itself when closed. The
// compose window calls its sendToRecipients or sendPreview.
SendProgressWindow* openSendProgressWindow(QWidget* parent);

} // namespace velmora::delivery
