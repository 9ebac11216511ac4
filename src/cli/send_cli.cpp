#include "cli/cli_context.h"
#include "delivery/mime_types_file.h"
#include "delivery/send_run.h"
#include "delivery/untrusted_text.h"

#include <csignal>
#include <memory>
#include <optional>
#include <ostream>

namespace {

constexpr std::string_view kSinglePrefix = "single:";

struct SendOptions {
    std::string sessionPath;
    std::string draftPath;
    std::string recipients;
    std::string format;
    bool preview = false;
    std::string mimeTypes = kSystemMimeTypesPath;
};

std::optional<RecipientChoice> recipientChoiceNamed(std::string_view name) {
    if (name.starts_with(kSinglePrefix)) {
        return RecipientChoice::SingleRecipient;
    }
    if (name == "mailtray") {
        return RecipientChoice::Mailtray;
    }
    if (name == "customers") {
        return RecipientChoice::AllCustomers;
    }
    if (name == "prospects") {
        return RecipientChoice::AllProspects;
    }
    if (name == "subscribers") {
        return RecipientChoice::AllSubscribers;
    }
    if (name == "entire") {
        return RecipientChoice::EntireList;
    }
    return std::nullopt;
}

// Set by the SIGINT handler; a signal handler can reach nothing else.
volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void onInterrupt(int) {
    interruptRequested = 1;
}

// While a run works, Ctrl+C is its Cancel button: the run stops between two
// reads, and what was delivered so far is still stamped and saved.
class InterruptAsCancel {
public:
    InterruptAsCancel() {
        interruptRequested = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~InterruptAsCancel() {
        if (installed_) {
            ::sigaction(SIGINT, &previous_, nullptr);
        }
    }
    InterruptAsCancel(const InterruptAsCancel&) = delete;
    InterruptAsCancel& operator=(const InterruptAsCancel&) = delete;
    bool requested() const { return interruptRequested != 0; }

private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

// The terminal as progress window: each label change and each log line on
// a line of its own, as soon as it happens. Ctrl+C cancels.
class PrintingObserver final : public RunObserver {
public:
    explicit PrintingObserver(std::ostream& out) : out_(out) {}
    void logLine(const std::string& text) override { print(text); }
    // "Finished." right after the log's own "Finished." is not printed twice.
    void progress(const std::string& label) override {
        if (label != label_) {
            label_ = label;
            if (label != lastLine_) {
                print(label);
            }
        }
    }
    bool cancelRequested() override { return interrupt_.requested(); }

private:
    // Nothing a server (or an imported address) holds reaches the terminal raw.
    void print(const std::string& line) {
        out_ << safeServerText(line) << std::endl;
        lastLine_ = line;
    }

    std::ostream& out_;
    InterruptAsCancel interrupt_;
    std::string label_ = kConnectingLabel;
    std::string lastLine_;
};

} // namespace

void registerSendCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<SendOptions>();
    auto* send = app.add_subcommand(
        "send", "Send a draft over SMTP with the session's settings, one session per recipient, "
                "and stamp the contacts it was delivered to");
    send->add_option("SESSION", o->sessionPath, "The session file")->required();
    send->add_option("DRAFT", o->draftPath, "The email draft file")->required();
    send->add_option("--recipients", o->recipients,
                     "single:ADDR, mailtray, customers, prospects, subscribers or entire")
        ->check(
            [](const std::string& value) {
                return recipientChoiceNamed(value) ? std::string()
                                                   : "not a recipient choice: " + value;
            },
            "RECIPIENTS");
    send->add_option("--format", o->format, "The text part's format (default: the session's)")
        ->check(CLI::IsMember({"html", "plain"}));
    send->add_flag("--preview", o->preview,
                   "Send one copy to the From field's address instead (stamps nothing)");
    send->add_option("--mime-types", o->mimeTypes,
                     "The list of content types by extension (default /etc/mime.types)");
    send->callback([&context, o] {
        if (!o->preview && o->recipients.empty()) {
            context.err << "--recipients is required unless --preview is given.\n"
                        << "Run 'mailtray send --help' for usage.\n";
            context.exitCode = kExitUsage;
            return;
        }
        Session session;
        MessageDraft draft;
        if (!openSessionForCommand(context, session, o->sessionPath) ||
            !openDraftForCommand(context, o->draftPath, draft)) {
            return;
        }
        if (!smtpServerConfigured(session.settings())) {
            context.fail(kServerNotSetText);
            return;
        }
        draft.format = session.settings().editorFormat;
        if (!o->format.empty()) {
            draft.format =
                o->format == "html" ? code(EditorFormat::Html) : code(EditorFormat::PlainText);
        }
        const MimeTypesFile types(o->mimeTypes);
        const SendRunEnvironment environment{context.clock, types, tcpConnections(),
                                             localHostName()};
        PrintingObserver observer(context.out);

        if (o->preview) {
            if (trimSpaces(draft.fromText).empty()) {
                context.fail(kPreviewNeedsFromText);
                return;
            }
            const SendRunSummary summary = sendPreview(session, draft, environment, observer);
            context.out << summaryText(summary) << std::endl;
            context.exitCode = summary.stoppedEarly ? kExitFailed : kExitOk;
            return;
        }

        const RecipientChoice choice = *recipientChoiceNamed(o->recipients);
        draft.recipientChoice = code(choice);
        if (choice == RecipientChoice::SingleRecipient) {
            draft.singleRecipient = o->recipients.substr(kSinglePrefix.size());
        }
        const SendRunSummary summary = sendToRecipients(session, draft, {}, environment, observer);
        if (choice == RecipientChoice::SingleRecipient) {
            context.out << summaryText(summary) << std::endl; // a list run logged it
        }
        context.exitCode = summary.stoppedEarly ? kExitFailed : kExitOk;
        // The stamps of what was delivered are kept even when the run stopped.
        if (session.hasUnsavedChanges() &&
            !saveSessionForCommand(context, session, o->sessionPath)) {
            context.exitCode = kExitFailed;
        }
    });
}
