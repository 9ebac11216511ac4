#include "delivery/send_run.h"

#include "delivery/connection_test.h"
#include "delivery/delivery_run.h"
#include "delivery/send_list.h"
#include "delivery/smtp_session.h"

#include <algorithm>

namespace {

// What every session of one run shares; only the recipient changes.
SmtpSessionRequest baseRequest(const Session& session, const MessageDraft& draft,
                               const SendRunEnvironment& environment, bool logDialogue) {
    SmtpSessionRequest request = smtpRequestFor(session.settings(), environment.hostName);
    request.message = outgoingMessage(draft, "", draft.format);
    request.message.subject = std::string(trimSpaces(draft.subject));
    request.logDialogue = logDialogue;
    return request;
}

SmtpOutcome runOneSession(SmtpSessionRequest& request, std::string recipient,
                          const SendRunEnvironment& environment, RunObserver& observer) {
    request.message.recipient = std::move(recipient);
    const MessageEnvironment messageEnvironment{environment.clock, environment.contentTypes, {}};
    std::unique_ptr<Connection> connection = environment.openConnection();
    return runSmtpSession(request, *connection, observer, messageEnvironment);
}

void count(SendRunSummary& summary, const SmtpOutcome& outcome) {
    switch (outcome.result) {
    case SmtpResult::Delivered:
        ++summary.delivered;
        return;
    case SmtpResult::Rejected:
        ++summary.rejected;
        return;
    case SmtpResult::Failed:
        ++summary.failed;
        return;
    case SmtpResult::Cancelled:
        summary.cancelled = true;
        return;
    }
}

// A failure after the connection was made (greeting, TLS, HELO/EHLO, login,
// a refused sender, 421, 530, a lost connection, a time-out) would meet
// every following recipient too.
bool stopsRun(const SmtpOutcome& outcome) {
    switch (outcome.result) {
    case SmtpResult::Delivered:
    case SmtpResult::Rejected:
        return false;
    case SmtpResult::Cancelled:
        return true;
    case SmtpResult::Failed:
        return outcome.connectionOpened;
    }
    return true;
}

void finish(RunObserver& observer) {
    observer.progress(kFinishedLabel);
    observer.sendingChanged(false);
}

} // namespace

ConnectionFactory tcpConnections() {
    return [] { return std::make_unique<TcpConnection>(); };
}

bool smtpServerConfigured(const SessionSettings& settings) {
    return !trimSpaces(settings.smtpServer).empty() && settings.smtpPort != 0;
}

void gatherRecipients(Session& session, const MessageDraft& draft,
                      const std::vector<std::int32_t>& filteredRows) {
    session.sendList.clear();
    const auto addContactsWithStatus = [&session](ContactStatus status) {
        for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
            if (session.contact(slot).status == code(status)) {
                addRecipient(session, slot, session.contact(slot).email);
            }
        }
    };
    switch (static_cast<RecipientChoice>(draft.recipientChoice)) {
    case RecipientChoice::SingleRecipient:
        addRecipient(session, -1, draft.singleRecipient);
        return;
    case RecipientChoice::Mailtray:
        for (std::int32_t slot = 1; slot <= session.mailtrayCount(); ++slot) {
            const Contact& entry = session.mailtrayEntry(slot);
            if (!entry.isDeleted()) {
                addRecipient(session, entry.id, entry.email);
            }
        }
        return;
    case RecipientChoice::FilteredResults:
        for (const std::int32_t slot : filteredRows) {
            if (session.hasContact(slot)) {
                addRecipient(session, slot, session.contact(slot).email);
            }
        }
        return;
    case RecipientChoice::AllCustomers:
        return addContactsWithStatus(ContactStatus::Customers);
    case RecipientChoice::AllProspects:
        return addContactsWithStatus(ContactStatus::Prospects);
    case RecipientChoice::AllSubscribers:
        return addContactsWithStatus(ContactStatus::Subscribers);
    case RecipientChoice::EntireList:
        for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
            const Contact& contact = session.contact(slot);
            if (!contact.isDeleted() && contact.status != code(ContactStatus::DoNotContact)) {
                addRecipient(session, slot, contact.email);
            }
        }
        return;
    }
    // A choice outside the list (a damaged caller) addresses nobody.
}

std::int32_t notAttempted(const SendRunSummary& summary) {
    return std::max(0, summary.recipients - summary.delivered - summary.deferred -
                           summary.rejected - summary.failed);
}

std::string summaryText(const SendRunSummary& summary) {
    const std::int32_t skipped = notAttempted(summary);
    // A run without deferrals that reached everyone keeps the line scripts already read.
    return "Delivered " + std::to_string(summary.delivered) +
           (summary.deferred > 0 ? ", deferred " + std::to_string(summary.deferred) : "") +
           ", rejected " + std::to_string(summary.rejected) + ", failed " +
           std::to_string(summary.failed) +
           (skipped > 0 ? ", not attempted " + std::to_string(skipped) : std::string()) + ".";
}

std::string sendingLabel(std::int32_t index, std::int32_t count, std::string_view address) {
    return "Sending " + std::to_string(index) + "/" + std::to_string(count) + " (" +
           std::string(address) + ")";
}

std::string previewLabel(std::string_view address) {
    return "Sending Preview (" + std::string(address) + ")";
}

SendRunSummary sendToRecipients(Session& session, const MessageDraft& draft,
                                const std::vector<std::int32_t>& filteredRows,
                                const SendRunEnvironment& environment, RunObserver& observer) {
    gatherRecipients(session, draft, filteredRows);
    return runDelivery(session, draft, newRunPlan(session, draft, ""), environment, observer);
}

std::string previewRecipient(std::string_view fromText) {
    return parseSender(fromText).senderAddress;
}

SendRunSummary sendPreview(const Session& session, const MessageDraft& draft,
                           const SendRunEnvironment& environment, RunObserver& observer) {
    SendRunSummary summary;
    summary.recipients = 1;
    observer.progressRange(1);
    const std::string recipient = previewRecipient(draft.fromText);
    if (recipient.empty()) {
        // "Name <>" names nobody: an empty RCPT TO would be refused at best.
        observer.logLine("The 'From' field holds no address to send the preview to.");
        summary.failed = 1;
        summary.stoppedEarly = true;
    } else {
        SmtpSessionRequest request = baseRequest(session, draft, environment, true);
        observer.progress(previewLabel(recipient));
        observer.sendingChanged(true);
        observer.advanceProgress();
        const SmtpOutcome outcome = runOneSession(request, recipient, environment, observer);
        count(summary, outcome);
        summary.stoppedEarly = stopsRun(outcome);
    }
    finish(observer);
    return summary;
}

bool confirmSendEmail(Prompter& prompter) {
    return prompter.message("Confirm", kSendEmailQuestion, PromptButtons::YesNo) ==
           PromptAnswer::Yes;
}

std::string previewQuestion(std::string_view fromText) {
    return "Are you sure you want to send a preview of this message to your email address? The "
           "preview uses the address in the 'From' field to send you a copy of the email.\nThe "
           "email will be sent to \"" +
           std::string(trimSpaces(fromText)) + "\"";
}

PreviewCheck confirmPreview(Prompter& prompter, std::string_view fromText) {
    if (trimSpaces(fromText).empty()) {
        prompter.message("Information", kPreviewNeedsFromText, PromptButtons::Ok);
        return PreviewCheck::NeedsFrom;
    }
    return prompter.message("Confirm", previewQuestion(fromText), PromptButtons::YesNo) ==
                   PromptAnswer::Yes
               ? PreviewCheck::Send
               : PreviewCheck::Declined;
}
