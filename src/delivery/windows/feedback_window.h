#pragma once

#include "delivery/feedback/feedback_fetch.h"
#include "delivery/windows/feedback_rows_model.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/password_store.h"
#include "store/session.h"

#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace velmora::delivery {

struct FeedbackWindowServices {
    store::Session& session;
    platform::Prompter& prompter;
    const store::Clock& clock;
    // The desktop keyring, for an OAuth sign-in kept there; null where there is none.
    store::PasswordStore* keyring = nullptr;
    // Saves the session to its file (the main window's Save); true when saved.
    std::function<bool()> saveSession;
};

// "Process Replies and Bounces...": the feedback mailbox's settings, a Fetch
// that reads it on a thread of its own (with progress and Cancel), the table
// of what was found and Apply, which changes the contacts, saves the session
// and only then moves or marks the handled messages.
class FeedbackWindow final : public QWidget {
    Q_OBJECT

public:
    explicit FeedbackWindow(FeedbackWindowServices services, QWidget* parent = nullptr);
    ~FeedbackWindow() override;

    // The field of a mailbox setting by its key ("feedbackServer", ...).
    QLineEdit* settingField(std::string_view key) const;
    QComboBox* securityDropDown() const { return security_; }
    QPushButton* fetchButton() const { return fetch_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* closeButton() const { return close_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* countsLabel() const { return counts_; }
    QTableView* table() const { return table_; }
    FeedbackRowsModel* model() const { return model_; }
    // A fetch or the marking after Apply is running.
    bool busy() const { return worker_.joinable(); }

private:
    void startFetch();
    void showProgress(std::size_t done, std::size_t total);
    void finishFetch(const MailboxFetch& fetched, const std::shared_ptr<ImapMailbox>& mailbox,
                     const std::optional<store::SessionSettings>& renewed);
    void applyFound();
    void finishMarking(const MailboxResult& result, std::size_t handled);
    void showState();
    std::vector<ReturnedMessage> fetchedMessages() const;

    FeedbackWindowServices services_;
    std::array<QLineEdit*, 6> fields_{};
    QComboBox* security_;
    QPushButton* fetch_;
    QPushButton* cancel_;
    QPushButton* apply_;
    QPushButton* close_;
    QProgressBar* progress_;
    QLabel* status_;
    QLabel* counts_;
    QTableView* table_;
    FeedbackRowsModel* model_;

    std::string sessionPath_;
    std::uint64_t generation_ = 0; // the session's document when it was fetched for
    FeedbackMailbox box_;
    MailboxFetch fetched_;
    bool applied_ = false;
    std::shared_ptr<ImapMailbox> mailbox_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::thread worker_;
};

} // namespace velmora::delivery
