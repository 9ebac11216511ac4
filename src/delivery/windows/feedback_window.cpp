#include "delivery/windows/feedback_window.h"

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/settings_by_name.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using platform::toQString;

namespace {

struct FieldCaption {
    const char* key;
    const char* caption;
};
// The line fields, in the order of fields_; Security is a drop-down.
constexpr std::array<FieldCaption, 6> kFieldCaptions{{
    {kFeedbackServerKey, "Server"},
    {kFeedbackPortKey, "Port"},
    {kFeedbackLoginKey, "Login"},
    {kFeedbackFolderKey, "Folder"},
    {kFeedbackDoneFolderKey, "Move handled mail to"},
    {kSoftBounceLimitKey, "Soft bounces in a row before Do Not Contact"},
}};
constexpr std::array<const char*, 3> kSecurityNames{"tls", "starttls", "none"};
constexpr std::array<const char*, 3> kSecurityCaptions{"TLS", "STARTTLS", "None"};

// Runs `f` on the window's thread, unless the window went meanwhile.
template <class F> void onWindowThread(QPointer<FeedbackWindow> window, F f) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [window, f = std::move(f)] {
            if (window) {
                f(*window);
            }
        },
        Qt::QueuedConnection);
}

} // namespace

FeedbackWindow::FeedbackWindow(FeedbackWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), services_(std::move(services)), security_(new QComboBox),
      fetch_(new QPushButton(u"Fetch"_s)), cancel_(new QPushButton(u"Cancel"_s)),
      apply_(new QPushButton(u"Apply"_s)), close_(new QPushButton(u"Close"_s)),
      progress_(new QProgressBar), status_(new QLabel), counts_(new QLabel), table_(new QTableView),
      model_(new FeedbackRowsModel(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Process Replies and Bounces"_s);

    auto* mailbox = new QGroupBox(u"Mailbox"_s);
    auto* grid = new QGridLayout(mailbox);
    const store::ExtensionSettings& ext = services_.session.settings().extensions;
    int row = 0;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit(toQString(ext.value(kFieldCaptions[i].key)));
        field->setToolTip(toQString(kFieldCaptions[i].key));
        fields_[i] = field;
        grid->addWidget(new QLabel(toQString(kFieldCaptions[i].caption)), row, 0);
        grid->addWidget(field, row++, 1);
        if (kFieldCaptions[i].key == std::string_view(kFeedbackPortKey)) {
            grid->addWidget(new QLabel(u"Security"_s), row, 0);
            grid->addWidget(security_, row++, 1);
        }
    }
    for (const char* caption : kSecurityCaptions) {
        security_->addItem(toQString(caption));
    }
    security_->setToolTip(toQString(kFeedbackSecurityKey));
    const MailSecurity current = mailSecurityNamed(ext.value(kFeedbackSecurityKey));
    security_->setCurrentIndex(current == MailSecurity::Tls        ? 0
                               : current == MailSecurity::StartTls ? 1
                                                                   : 2);
    if (ext.value(kSoftBounceLimitKey).empty()) {
        settingField(kSoftBounceLimitKey)
            ->setText(toQString(std::to_string(ext.integer(kSoftBounceLimitKey))));
    }

    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setMinimumSize(640, 220);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    progress_->setRange(0, 0);

    auto* fetchRow = new QHBoxLayout;
    fetchRow->addWidget(fetch_);
    fetchRow->addWidget(progress_, 1);
    fetchRow->addWidget(cancel_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(counts_, 1);
    buttons->addWidget(apply_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mailbox);
    layout->addLayout(fetchRow);
    layout->addWidget(status_);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);

    connect(fetch_, &QPushButton::clicked, this, &FeedbackWindow::startFetch);
    connect(apply_, &QPushButton::clicked, this, &FeedbackWindow::applyFound);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (cancelled_) {
            cancelled_->store(true);
        }
    });
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    platform::installDialogKeys(*this, close_);
    platform::placeOver(*this, parent);
    showState();
}

FeedbackWindow::~FeedbackWindow() {
    if (worker_.joinable()) {
        cancelled_->store(true);
        worker_.join(); // the transfer asks the flag between its steps
    }
}

QLineEdit* FeedbackWindow::settingField(std::string_view key) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (kFieldCaptions[i].key == key) {
            return fields_[i];
        }
    }
    return nullptr;
}

void FeedbackWindow::showState() {
    fetch_->setEnabled(!busy());
    cancel_->setEnabled(busy());
    progress_->setVisible(busy());
    apply_->setEnabled(!busy() && !applied_ && !fetched_.messages.empty());
}

std::vector<ReturnedMessage> FeedbackWindow::fetchedMessages() const {
    std::vector<ReturnedMessage> messages;
    for (const FetchedMessage& message : fetched_.messages) {
        messages.push_back(message.message);
    }
    return messages;
}

void FeedbackWindow::startFetch() {
    if (busy()) {
        return;
    }
    store::Session& session = services_.session;
    if (session.isUntitled()) {
        services_.prompter.message("Information", kFeedbackNeedsSessionFileText);
        return;
    }
    // The settings as typed, by the rules of 'mailtray settings set'.
    store::SessionSettings settings = session.settings();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string value(store::trimSpaces(fields_[i]->text().toStdString()));
        if (value.empty()) {
            settings.extensions.remove(kFieldCaptions[i].key);
        } else if (const auto refusal = setSettingByName(settings, kFieldCaptions[i].key, value)) {
            services_.prompter.message("Information", refusal->message);
            return;
        }
    }
    settings.extensions.set(kFeedbackSecurityKey,
                            kSecurityNames[static_cast<std::size_t>(security_->currentIndex())]);
    if (settings != session.settings()) {
        session.setSettings(settings);
    }
    box_ = feedbackMailbox(settings);
    if (box_.server.empty()) {
        services_.prompter.message("Information", kFeedbackServerNotSetText);
        return;
    }
    sessionPath_ = session.sessionFileName;
    generation_ = session.documentGeneration();
    fetched_ = {};
    applied_ = false;
    model_->clear();
    counts_->clear();
    status_->setText(toQString("Reading \"" + store::printableText(box_.folder) + "\" on " +
                               store::printableText(box_.server) + "..."));
    progress_->setRange(0, 0);
    cancelled_ = std::make_shared<std::atomic<bool>>(false);

    QPointer<FeedbackWindow> self(this);
    worker_ = std::thread([self, settings, box = box_, cancel = cancelled_,
                           keyring = services_.keyring,
                           options = feedbackClassifyOptions(settings)] {
        store::SessionSettings tokenSettings = settings;
        const store::SystemClock clock;
        SessionAccessTokens tokens(tokenSettings, keyring,
                                   [&clock] { return clock.now().millisecondsSinceEpoch / 1000; });
        tokens.setCancelled([cancel] { return cancel->load(); });
        MailboxFetch fetched;
        std::shared_ptr<ImapMailbox> mailbox;
        std::string bearer;
        // Signed in with OAuth: the mailbox takes the same access token as SMTP.
        if (usesOAuth(settings)) {
            std::string error;
            bearer = tokens.current(error);
            if (bearer.empty()) {
                fetched.result = {MailboxProblem::LoginRefused, error};
            }
        }
        if (fetched.result.ok()) {
            ImapAccount account = feedbackAccount(settings, bearer);
            account.cancelled = [cancel] { return cancel->load(); };
            mailbox = std::make_shared<ImapMailbox>(account);
            fetched = fetchReturnedMail(*mailbox, box, options,
                                        [self](std::size_t done, std::size_t total) {
                                            onWindowThread(self, [done, total](FeedbackWindow& w) {
                                                w.showProgress(done, total);
                                            });
                                        });
        }
        std::optional<store::SessionSettings> renewed;
        if (tokens.changed()) {
            renewed = tokenSettings;
        }
        onWindowThread(self, [fetched, mailbox, renewed](FeedbackWindow& w) {
            w.finishFetch(fetched, mailbox, renewed);
        });
    });
    showState();
}

void FeedbackWindow::showProgress(std::size_t done, std::size_t total) {
    progress_->setRange(0, static_cast<int>(total));
    progress_->setValue(static_cast<int>(done));
}

void FeedbackWindow::finishFetch(const MailboxFetch& fetched,
                                 const std::shared_ptr<ImapMailbox>& mailbox,
                                 const std::optional<store::SessionSettings>& renewed) {
    if (worker_.joinable()) {
        worker_.join();
    }
    store::Session& session = services_.session;
    if (renewed) {
        store::SessionSettings settings = session.settings();
        copyOAuthTokens(*renewed, settings);
        session.setSettings(std::move(settings));
    }
    if (!fetched.result.ok()) {
        status_->setText(toQString(fetched.result.reason + " Nothing was changed."));
        showState();
        return;
    }
    fetched_ = fetched;
    mailbox_ = mailbox;
    const FeedbackOutcome outcome =
        applyFeedback(session, sessionPath_, fetchedMessages(), services_.clock.now(), true);
    model_->setRows(outcome.rows, session);
    counts_->setText(toQString(feedbackCountsText(outcome.counts) + " Contacts to change " +
                               std::to_string(outcome.contactsChanged) + "."));
    status_->setText(toQString(fetchedText(box_, fetched)));
    showState();
}

void FeedbackWindow::applyFound() {
    if (busy() || applied_ || fetched_.messages.empty()) {
        return;
    }
    store::Session& session = services_.session;
    // The rows name contacts by slot, and the ledger lies beside the file fetched for.
    if (session.documentGeneration() != generation_ || session.sessionFileName != sessionPath_) {
        services_.prompter.message("Information", kFeedbackSessionReplacedText);
        return;
    }
    FeedbackOutcome outcome;
    std::string error;
    const bool recorded = applyAndRecordFeedback(
        session, sessionPath_, fetchedMessages(), services_.clock.now(),
        [this] { return services_.saveSession && services_.saveSession(); }, outcome, error);
    if (!recorded) {
        services_.prompter.message("Information", error);
        return;
    }
    applied_ = true;
    model_->setRows(outcome.rows, session);
    counts_->setText(toQString(feedbackCountsText(outcome.counts) + " Contacts changed " +
                               std::to_string(outcome.contactsChanged) + "."));
    // Only now that the session holds the changes is the mailbox changed.
    // (Cancel reaches the mailbox through the flag its account was given.)
    progress_->setRange(0, 0);
    QPointer<FeedbackWindow> self(this);
    worker_ = std::thread([self, mailbox = mailbox_, box = box_, messages = fetched_.messages,
                           found = outcome.foundByReturnAddress] {
        std::size_t handled = 0;
        const MailboxResult result = markHandled(*mailbox, box, messages, handled, found);
        onWindowThread(self,
                       [result, handled](FeedbackWindow& w) { w.finishMarking(result, handled); });
    });
    showState();
}

void FeedbackWindow::finishMarking(const MailboxResult& result, std::size_t handled) {
    if (worker_.joinable()) {
        worker_.join();
    }
    status_->setText(toQString(result.ok() ? handledText(box_, handled) : notMarkedText(result)));
    showState();
}

} // namespace velmora::delivery
