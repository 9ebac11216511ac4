#include "cli/cli_context.h"
#include "delivery/feedback/feedback_apply.h"
#include "delivery/feedback/feedback_fetch.h"
#include "delivery/feedback/feedback_report.h"
#include "delivery/feedback/mail_sources.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <memory>

namespace velmora::cli {

namespace {

struct FeedbackOptions {
    std::string session;
    std::vector<std::string> paths;
    bool json = false;
    bool dryRun = false;
    std::string since;
};

nlohmann::json countsJson(const delivery::FeedbackCounts& counts) {
    return {{"autoReplies", counts.autoReplies},
            {"bounces", counts.bounces},
            {"complaints", counts.complaints},
            {"notUnderstood", counts.notUnderstood},
            {"other", counts.other},
            {"unsubscribes", counts.unsubscribes}};
}

delivery::ClassifyOptions classifyOptions(const store::Session& session) {
    return delivery::feedbackClassifyOptions(session.settings());
}

void printOutcome(CliContext& context, const delivery::FeedbackOutcome& outcome, bool json,
                  const nlohmann::json& mailbox = nullptr, const std::string& mailboxLine = "") {
    if (json) {
        nlohmann::json rows = nlohmann::json::array();
        for (const delivery::FeedbackRow& row : outcome.rows) {
            rows.push_back({{"action", row.action},
                            {"address", row.address},
                            {"kind", delivery::feedbackKindName(row.kind)},
                            {"reason", row.reason},
                            {"slot", row.slot},
                            {"source", row.source}});
        }
        nlohmann::json all = {{"contactsChanged", outcome.contactsChanged},
                              {"counts", countsJson(outcome.counts)},
                              {"rows", rows}};
        if (!mailbox.is_null()) {
            all["mailbox"] = mailbox;
        }
        context.printJson(all);
        return;
    }
    for (const delivery::FeedbackRow& row : outcome.rows) {
        context.out << row.source << ": " << delivery::feedbackKindName(row.kind) << ' '
                    << (row.address.empty() ? "-" : row.address) << ": " << row.action;
        if (!row.reason.empty()) {
            context.out << " (" << row.reason << ')';
        }
        context.out << '\n';
    }
    context.out << delivery::feedbackCountsText(outcome.counts) << " Contacts changed "
                << outcome.contactsChanged << ".\n";
    if (!mailboxLine.empty()) {
        context.out << mailboxLine << '\n';
    }
}

// Writes the ledger, then saves the session; false after reporting.
bool recordFeedback(CliContext& context, store::Session& session, const std::string& path,
                    const delivery::FeedbackOutcome& outcome) {
    bool saveReported = false;
    std::string error;
    const bool recorded = delivery::recordFeedbackChanges(
        path, outcome,
        [&] {
            if (!session.hasUnsavedChanges()) {
                return true;
            }
            saveReported = !saveSessionForCommand(context, session, path);
            return !saveReported;
        },
        context.clock.now(), error);
    if (!recorded && !saveReported) {
        context.fail(error);
    }
    return recorded;
}

nlohmann::json recipientsJson(const delivery::FeedbackReport& report) {
    nlohmann::json list = nlohmann::json::array();
    for (const delivery::FeedbackRecipient& recipient : report.recipients) {
        list.push_back({{"address", recipient.address},
                        {"hard", recipient.hard},
                        {"reason", recipient.reason()},
                        {"status", recipient.status}});
    }
    return list;
}

void printReport(std::ostream& out, const std::string& source,
                 const delivery::FeedbackReport& report) {
    out << source << ": " << delivery::feedbackKindName(report.kind) << '\n';
    for (const delivery::FeedbackRecipient& recipient : report.recipients) {
        out << "  " << recipient.address;
        if (report.kind == delivery::FeedbackKind::Bounce) {
            out << ' ' << (recipient.status.empty() ? "-" : recipient.status) << ' '
                << (recipient.hard ? "hard" : "soft");
        }
        out << '\n';
    }
}

void fetchFeedback(CliContext& context, const FeedbackOptions& o) {
    store::Session session;
    if (!openSessionForCommand(context, session, o.session,
                               o.dryRun ? SessionUse::Read : SessionUse::Change)) {
        return;
    }
    const delivery::FeedbackMailbox box = delivery::feedbackMailbox(session.settings());
    if (box.server.empty()) {
        context.fail(delivery::kFeedbackServerNotSetText);
        return;
    }
    // Signed in with OAuth: the mailbox takes the same access token as SMTP.
    store::SessionSettings tokenSettings = session.settings();
    delivery::SessionAccessTokens tokens(tokenSettings, context.passwords,
                                         [&context] { return secondsNow(context.clock); });
    std::string bearer;
    if (delivery::usesOAuth(session.settings())) {
        std::string error;
        bearer = tokens.current(error);
        if (bearer.empty()) {
            context.fail(error);
            return;
        }
    }
    delivery::ImapMailbox mailbox(delivery::feedbackAccount(session.settings(), bearer));
    const delivery::MailboxFetch fetched =
        delivery::fetchReturnedMail(mailbox, box, classifyOptions(session));
    if (!fetched.result.ok()) {
        context.fail(fetched.result.reason + " Nothing was changed.");
        return;
    }
    std::vector<delivery::ReturnedMessage> messages;
    for (const delivery::FetchedMessage& message : fetched.messages) {
        messages.push_back(message.message);
    }
    const delivery::FeedbackOutcome outcome =
        delivery::applyFeedback(session, o.session, messages, context.clock.now(), o.dryRun);
    nlohmann::json mailboxJson = {{"folder", box.folder},
                                  {"read", fetched.messages.size()},
                                  {"unreadable", fetched.unreadable.size()},
                                  {"handled", 0},
                                  {"action", box.doneFolder.empty() ? "mark seen" : "move"}};
    const std::string line = delivery::fetchedText(box, fetched);
    if (o.dryRun) {
        printOutcome(context, outcome, o.json, mailboxJson, line + " Nothing was changed.");
        return;
    }
    if (tokens.changed()) {
        store::SessionSettings settings = session.settings();
        delivery::copyOAuthTokens(tokenSettings, settings);
        session.setSettings(std::move(settings));
    }
    if (!recordFeedback(context, session, o.session, outcome)) {
        return;
    }
    // Only now that the session holds the changes is the mailbox changed.
    std::size_t handled = 0;
    const delivery::MailboxResult marked = delivery::markHandled(
        mailbox, box, fetched.messages, handled, outcome.foundByReturnAddress);
    mailboxJson["handled"] = handled;
    printOutcome(context, outcome, o.json, mailboxJson,
                 line + " " + delivery::handledText(box, handled));
    if (!marked.ok()) {
        context.fail(delivery::notMarkedText(marked));
    }
}

} // namespace

void registerFeedbackCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<FeedbackOptions>();
    auto* feedback =
        app.add_subcommand("feedback", "Bounces, complaints, auto-replies and unsubscribe replies");
    feedback->require_subcommand(1);

    auto* scan = feedback->add_subcommand(
        "scan", "Classify message files, Maildir folders or mbox files (no session)");
    scan->add_option("PATH", o->paths, "Message files, Maildir folders or mbox files")->required();
    scan->add_flag("--json", o->json, "Print JSON");
    scan->callback([&context, o] {
        delivery::FeedbackCounts counts;
        nlohmann::json messages = nlohmann::json::array();
        const delivery::MailSourceResult read = delivery::forEachMessage(
            o->paths, [&](const std::string& source, std::string_view bytes) {
                const delivery::FeedbackReport report = delivery::classifyMessage(bytes);
                counts.add(report);
                if (o->json) {
                    messages.push_back({{"kind", delivery::feedbackKindName(report.kind)},
                                        {"originalMessageId", report.originalMessageId},
                                        {"recipients", recipientsJson(report)},
                                        {"source", source},
                                        {"subject", report.subject}});
                } else {
                    printReport(context.out, source, report);
                }
            });
        if (o->json) {
            context.printJson({{"counts", countsJson(counts)}, {"messages", messages}});
        } else {
            context.out << delivery::feedbackCountsText(counts) << '\n';
        }
        if (!read.ok) {
            context.fail(read.error + ".");
        }
    });

    auto* apply = feedback->add_subcommand(
        "apply", "Match returned mail to contacts and set them to Do Not Contact");
    apply->add_option("SESSION", o->session, "The session file")->required();
    apply->add_option("PATH", o->paths, "Message files, Maildir folders or mbox files")->required();
    apply->add_flag("--dry-run", o->dryRun, "Show what would change; change nothing");
    apply->add_flag("--json", o->json, "Print JSON");
    addLockWaitOption(*apply, context);
    apply->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session,
                                   o->dryRun ? SessionUse::Read : SessionUse::Change)) {
            return;
        }
        const delivery::ClassifyOptions options = classifyOptions(session);
        std::vector<delivery::ReturnedMessage> messages;
        const delivery::MailSourceResult read = delivery::forEachMessage(
            o->paths, [&](const std::string& source, std::string_view bytes) {
                messages.push_back({source, delivery::classifyMessage(bytes, options)});
            });
        if (!read.ok) {
            context.fail(read.error + ". Nothing was changed.");
            return;
        }
        const delivery::FeedbackOutcome outcome =
            delivery::applyFeedback(session, o->session, messages, context.clock.now(), o->dryRun);
        if (!o->dryRun && !recordFeedback(context, session, o->session, outcome)) {
            return;
        }
        printOutcome(context, outcome, o->json);
    });

    auto* fetch = feedback->add_subcommand(
        "fetch", "Read returned mail from the feedback mailbox (IMAP) and apply it like 'apply'");
    fetch->add_option("SESSION", o->session, "The session file")->required();
    fetch->add_flag("--dry-run", o->dryRun,
                    "Show what would change; change nothing in the session or the mailbox");
    fetch->add_flag("--json", o->json, "Print JSON");
    addLockWaitOption(*fetch, context);
    fetch->callback([&context, o] { fetchFeedback(context, *o); });

    auto* undo = feedback->add_subcommand("undo", "Undo the changes returned mail made");
    undo->add_option("SESSION", o->session, "The session file")->required();
    undo->add_option("--since", o->since, "Only changes made on or after this day (YYYY-MM-DD)");
    addLockWaitOption(*undo, context);
    undo->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        const delivery::UndoOutcome outcome =
            delivery::undoFeedback(session, o->session, o->since, context.clock.now());
        // The session first: an undo repeated after a failed ledger write
        // finds nothing left to restore.
        if (session.hasUnsavedChanges() && !saveSessionForCommand(context, session, o->session)) {
            return;
        }
        std::string error;
        if (!delivery::appendFeedbackLedger(o->session, outcome.ledgerLines, error)) {
            context.fail("Cannot write \"" + delivery::feedbackLedgerPath(o->session) + "\" - " +
                         error + ".");
            return;
        }
        context.out << "Undid " << outcome.entriesUndone << " changes; contacts restored "
                    << outcome.contactsRestored << ".\n";
    });
}

} // namespace velmora::cli
