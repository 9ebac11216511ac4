#pragma once

#include "delivery/run_observer.h"
#include "delivery/send_run.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// "Sending Mail": the progress of one send run or preview and the server's
// messages. While the run works the window is modal to the whole program and
// the run pumps events through it, so every window stays painted and only
// its button (Cancel) acts. Afterwards it shows "Finished." and "Close" and
// stays open until the user closes it.
class SendProgressWindow final : public QDialog, public RunObserver {
    Q_OBJECT
public:
    explicit SendProgressWindow(QWidget* parent = nullptr);

    // The runs of the compose window's commands, each in this window.
    SendRunSummary sendToRecipients(Session& session, const MessageDraft& draft,
                                    const std::vector<std::int32_t>& filteredRows,
                                    const SendRunEnvironment& environment);
    SendRunSummary sendPreview(const Session& session, const MessageDraft& draft,
                               const SendRunEnvironment& environment);

    bool running() const { return running_; }
    QString statusText() const;
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

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override; // Escape

private:
    void beginRun();
    void endRun();
    void buttonPressed();

    QProgressBar* progressBar_;
    QLabel* status_;
    QListWidget* log_;
    QPushButton* button_;
    bool running_ = false;
    bool cancelRequested_ = false;
};

// A new progress window over `parent` that deletes itself when closed. The
// compose window calls its sendToRecipients or sendPreview.
SendProgressWindow* openSendProgressWindow(QWidget* parent);

// The "Send Email" menu item's question; true when the user said Yes.
bool askToSendEmail(QWidget* parent);
// The "Send Preview" command's check and question; true when the preview is
// to be sent. A blank From field is reported and gets the keyboard focus.
bool askToSendPreview(QWidget* parent, QWidget* fromField, const std::string& fromText);
