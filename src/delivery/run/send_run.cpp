#include "delivery/run/send_run.h"

#include "delivery/international_address.h"
#include "delivery/message/message_builder.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/run/delivery_run.h"
#include "delivery/run/run_session.h"
#include "delivery/run/send_list.h"
#include "delivery/smtp/smtp_request.h"
#include "delivery/smtp/smtp_session.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace velmora::delivery {

namespace {

SmtpOutcome notSent(SmtpResult result, std::string reason) {
    SmtpOutcome outcome;
    outcome.result = result;
    outcome.reason = std::move(reason);
    return outcome;
}

} // namespace

std::vector<std::string> problemsBeforeSending(const MessageDraft& draft) {
    std::vector<std::string> problems;
    std::vector<std::string> unknownNames;
    std::vector<std::string> fixedAttachments;
    std::vector<const std::string*> texts{&draft.subject, &draft.body};
    const std::vector<std::string> attachments = draft.attachmentList();
    for (const std::string& path : attachments) {
        texts.push_back(&path);
        if (!hasPersonalFields(path)) {
            fixedAttachments.push_back(path);
        }
    }
    const PersonalValues none;
    for (const std::string* text : texts) {
        for (const PersonalFieldUse& use : personalFieldsIn(*text)) {
            if (!personalFieldValue(use.name, none) &&
                std::find(unknownNames.begin(), unknownNames.end(), use.name) ==
                    unknownNames.end()) {
                unknownNames.push_back(use.name);
                problems.push_back(unknownFieldProblem(use.name));
            }
        }
    }
    for (std::string& problem : unreadableAttachments(fixedAttachments)) {
        problems.push_back(std::move(problem));
    }
    const AsciiDomainAddress sender = withAsciiDomain(parseSender(draft.fromText).senderAddress);
    if (!sender.ok()) {
        problems.push_back(sender.error);
    }
    return problems;
}

std::optional<std::string> checkBeforeSending(const MessageDraft& draft) {
    const std::vector<std::string> problems = problemsBeforeSending(draft);
    if (problems.empty()) {
        return std::nullopt;
    }
    return problems.front() + " Nothing was sent.";
}

std::optional<std::string>
personalAttachmentPath(std::string_view path, const PersonalValues& values, std::string* problem) {
    for (const PersonalFieldUse& use : personalFieldsIn(path)) {
        std::string value = personalFieldValue(use.name, values).value_or("");
        if (store::trimSpaces(value).empty()) {
            value = use.fallback.value_or("");
        }
        // A value is one file name: it must not lead to another folder.
        if (value.find('/') != std::string::npos || value == "." || value == "..") {
            if (problem != nullptr) {
                *problem = "Attachment \"" + std::string(path) + "\" for " + values.email +
                           ": the field \"{{" + use.name + "}}\" holds \"" + value +
                           "\", which is not a file name.";
            }
            return std::nullopt;
        }
    }
    return fillPersonalFields(path, values, FieldSyntax::PlainText);
}

std::vector<std::string> personalAttachmentProblems(const store::Session& session,
                                                    const MessageDraft& draft,
                                                    const std::vector<PlannedRecipient>& recipients,
                                                    bool listRun) {
    std::vector<std::string> personal;
    for (const std::string& path : draft.attachmentList()) {
        if (hasPersonalFields(path)) {
            personal.push_back(path);
        }
    }
    std::vector<std::string> problems;
    if (personal.empty()) {
        return problems;
    }
    // Recipients often share a file (a company's invoice): each is read once.
    std::map<std::string, std::string> checked;
    for (const PlannedRecipient& recipient : recipients) {
        const PersonalValues values = recipientValues(
            session, listRun ? recipient.slot : contactSlotWithAddress(session, recipient.address),
            recipient.address);
        for (const std::string& pattern : personal) {
            std::string problem;
            const std::optional<std::string> path =
                personalAttachmentPath(pattern, values, &problem);
            if (!path) {
                problems.push_back(problem);
                continue;
            }
            auto known = checked.find(*path);
            if (known == checked.end()) {
                const std::vector<std::string> unreadable = unreadableAttachments({*path});
                known = checked.emplace(*path, unreadable.empty() ? "" : unreadable.front()).first;
            }
            if (!known->second.empty()) {
                problems.push_back("For " + recipient.address + ": " + known->second);
            }
        }
    }
    return problems;
}

std::string missingPersonalAttachmentsText(std::size_t count) {
    return std::to_string(count) + " personal attachment" + (count == 1 ? "" : "s") +
           " cannot be read. Nothing was sent.";
}

std::int32_t contactSlotWithAddress(const store::Session& session, std::string_view address) {
    const std::string_view wanted = store::trimSpaces(address);
    if (wanted.empty()) {
        return 0;
    }
    for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
        const store::Contact& contact = session.contact(slot);
        if (!contact.isDeleted() &&
            store::equalIgnoringAsciiCase(store::trimSpaces(contact.email.view()), wanted)) {
            return slot;
        }
    }
    return 0;
}

std::string unsubscribeUrlFor(const store::Session& session, std::string_view recipient) {
    std::string url = session.settings().extensions.value("unsubscribeUrl");
    const std::string encoded = percentEncoded(recipient);
    for (std::size_t at = url.find("{{email}}"); at != std::string::npos;
         at = url.find("{{email}}", at + encoded.size())) {
        url.replace(at, 9, encoded);
    }
    return url;
}

PersonalValues recipientValues(const store::Session& session, std::int32_t slot,
                               std::string_view address) {
    PersonalValues values;
    if (slot > 0 && session.hasContact(slot)) {
        values = personalValues(session.contact(slot));
    }
    values.email = std::string(address);
    values.unsubscribeUrl = unsubscribeUrlFor(session, address);
    return values;
}

std::string listUnsubscribeValue(const store::Session& session, std::string_view senderAddress,
                                 std::string_view recipient) {
    std::string mailto(store::trimSpaces(session.settings().extensions.value("unsubscribeMailto")));
    if (mailto.empty()) {
        mailto = std::string(store::trimSpaces(session.settings().replyTo));
    }
    if (mailto.empty()) {
        mailto = std::string(senderAddress);
    }
    std::string value = "<mailto:" + withAsciiDomain(mailto).address + "?subject=unsubscribe>";
    const std::string url = unsubscribeUrlFor(session, recipient);
    if (!url.empty()) {
        value = "<" + url + ">, " + value;
    }
    return value;
}

std::string listIdFor(std::string_view senderAddress) {
    const std::string address = withAsciiDomain(senderAddress).address;
    const std::size_t at = address.rfind('@');
    if (at == std::string::npos || at + 1 == address.size()) {
        return "";
    }
    std::string id;
    for (char c : address) {
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
        if (c == '@' || c == '.') {
            if (!id.empty() && id.back() != '.') {
                id.push_back('.');
            }
        } else if (keep) {
            id.push_back(c);
        }
    }
    while (!id.empty() && id.back() == '.') {
        id.pop_back();
    }
    return id;
}

OutgoingMessage personalMessage(const store::Session& session, const MessageDraft& draft,
                                const PersonalValues& values) {
    OutgoingMessage message = outgoingMessage(draft, values.email, draft.format);
    message.subject =
        fillPersonalFields(store::trimSpaces(draft.subject), values, FieldSyntax::PlainText);
    message.body = fillPersonalFields(draft.body, values,
                                      draft.format == code(store::EditorFormat::Html)
                                          ? FieldSyntax::Html
                                          : FieldSyntax::PlainText);
    message.textAlternative = session.settings().extensions.boolean("textAlternative");
    for (std::string& path : message.attachments) {
        if (hasPersonalFields(path)) {
            // A value that is no file name leaves the path as written, which
            // the check before sending has refused already.
            path = personalAttachmentPath(path, values, nullptr).value_or(path);
        }
    }
    return message;
}

ConnectionFactory tcpConnections() {
    return [] { return std::make_unique<TcpConnection>(); };
}

bool smtpServerConfigured(const store::SessionSettings& settings) {
    return !store::trimSpaces(settings.smtpServer).empty() && settings.smtpPort != 0;
}

void gatherRecipients(store::Session& session, const MessageDraft& draft,
                      const std::vector<std::int32_t>& filteredRows) {
    session.sendList.clear();
    const auto addContactsWithStatus = [&session](store::ContactStatus status) {
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
            const store::Contact& entry = session.mailtrayEntry(slot);
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
        return addContactsWithStatus(store::ContactStatus::Customers);
    case RecipientChoice::AllProspects:
        return addContactsWithStatus(store::ContactStatus::Prospects);
    case RecipientChoice::AllSubscribers:
        return addContactsWithStatus(store::ContactStatus::Subscribers);
    case RecipientChoice::EntireList:
        for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
            const store::Contact& contact = session.contact(slot);
            if (!contact.isDeleted() &&
                contact.status != code(store::ContactStatus::DoNotContact)) {
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

SmtpSessionRequest runRequest(const store::Session& session, const SendRunEnvironment& environment,
                              bool logDialogue) {
    SmtpSessionRequest request = smtpRequestFor(session.settings(), environment.hostName);
    if (environment.tokens != nullptr && usesOAuth(session.settings())) {
        signInWithTokens(request, session.settings(), *environment.tokens);
    }
    request.logDialogue = logDialogue;
    request.pipelining = true;
    return request;
}

RunConnection::RunConnection(SmtpSessionRequest request, const SendRunEnvironment& environment,
                             RunObserver& observer, std::int64_t messagesPerConnection)
    : request_(std::move(request)), environment_(environment), observer_(observer),
      perConnection_(std::max<std::int64_t>(1, messagesPerConnection)),
      messageEnvironment_{environment.clock, environment.contentTypes, {}} {
    request_.keepOpen = perConnection_ > 1;
    messageEnvironment_.randomBytes = environment.randomBytes;
    messageEnvironment_.memo = &memo_;
    messageEnvironment_.attachmentFailed = [this](const std::string& reason) {
        attachmentProblem_ = reason;
    };
}

RunConnection::~RunConnection() {
    release();
}

void RunConnection::release() {
    if (session_) {
        session_->quit();
    }
    session_.reset();
    connection_.reset();
    announced_.reset();
}

SmtpOutcome RunConnection::send(OutgoingMessage message,
                                const std::optional<std::string>& nextRecipient) {
    if (announced_ && *announced_ != message.recipient) {
        // The server waits with another message's envelope: only closing
        // ends that transaction without sending it anything.
        release();
    }
    announced_.reset();
    const AsciiDomainAddress recipient = withAsciiDomain(message.recipient);
    if (!recipient.ok()) {
        if (request_.logDialogue) {
            observer_.logLine(recipient.error); // a list run logs it as the result
        }
        return notSent(SmtpResult::Rejected, recipient.error);
    }
    message.recipient = recipient.address;
    message.senderAddress = withAsciiDomain(message.senderAddress).address;
    message.envelopeSender = envelopeFrom(message.senderAddress, message.recipient);
    if (message.messageId.empty()) {
        message.messageId = messageId(message.senderAddress, environment_.randomBytes);
    }
    const std::string sentId = message.messageId;
    request_.nextEnvelope.reset();
    const std::int64_t carried = session_ && session_->held() ? session_->messages() : 0;
    if (nextRecipient && carried + 2 <= perConnection_) {
        const AsciiDomainAddress next = withAsciiDomain(*nextRecipient);
        if (next.ok()) {
            request_.nextEnvelope =
                SmtpEnvelope{envelopeFrom(message.senderAddress, next.address), next.address};
            announced_ = *nextRecipient;
        }
    }
    request_.message = std::move(message);
    attachmentProblem_.clear();
    SmtpOutcome outcome = session_ && session_->held() ? overHeldConnection() : overNewConnection();
    if (session_ && session_->held() && session_->messages() >= perConnection_) {
        release();
    }
    if (!attachmentProblem_.empty()) {
        if (request_.logDialogue) {
            observer_.logLine(attachmentProblem_);
        }
        outcome = notSent(SmtpResult::Failed, attachmentProblem_);
    }
    outcome.messageId = sentId;
    return outcome;
}

std::string RunConnection::envelopeFrom(const std::string& sender,
                                        const std::string& recipient) const {
    return withAsciiDomain(envelopeSender(returnPath_, sender, recipient)).address;
}

SmtpOutcome RunConnection::overHeldConnection() {
    const SmtpOutcome outcome = session_->next();
    if (outcome.result == SmtpResult::Failed && outcome.connectionLost && !outcome.messageWritten) {
        // Servers end connections that served enough or idled: nothing of
        // this message was taken, so it goes over a new one.
        observer_.logLine(kReopeningText);
        return overNewConnection();
    }
    return outcome;
}

SmtpOutcome RunConnection::overNewConnection() {
    session_.reset();
    connection_ = environment_.openConnection();
    session_ =
        std::make_unique<SmtpSession>(request_, *connection_, observer_, messageEnvironment_);
    return session_->run();
}

OutgoingMessage recipientMessage(const store::Session& session, const MessageDraft& draft,
                                 std::int32_t contactSlot, const std::string& address,
                                 bool listRun) {
    // A typed address takes the fields of the contact that has it.
    const std::int32_t valuesSlot =
        listRun ? contactSlot : contactSlotWithAddress(session, address);
    OutgoingMessage message =
        personalMessage(session, draft, recipientValues(session, valuesSlot, address));
    if (listRun) {
        message.listId = listIdFor(message.senderAddress);
        message.listUnsubscribe = listUnsubscribeValue(session, message.senderAddress, address);
        message.oneClickUnsubscribe =
            !session.settings().extensions.value("unsubscribeUrl").empty();
    }
    return message;
}

SendRunSummary sendToRecipients(store::Session& session, const MessageDraft& draft,
                                const std::vector<std::int32_t>& filteredRows,
                                const SendRunEnvironment& environment, RunObserver& observer) {
    gatherRecipients(session, draft, filteredRows);
    return runDelivery(session, draft, newRunPlan(session, draft, ""), environment, observer);
}

std::string previewRecipient(std::string_view fromText) {
    return parseSender(fromText).senderAddress;
}

SendRunSummary sendPreview(const store::Session& session, const MessageDraft& draft,
                           const SendRunEnvironment& environment, RunObserver& observer) {
    const std::string recipient = previewRecipient(draft.fromText);
    SingleSend single;
    single.label = previewLabel(recipient);
    // The sender sees the fields as a typed address would get them.
    single.fields = {-1, recipient};
    if (recipient.empty()) {
        // "Name <>" names nobody: an empty RCPT TO would be refused at best.
        single.addressProblem = "The 'From' field holds no address to send the preview to.";
    }
    return sendSingle(session, draft, single, environment, observer);
}

std::string testSubject(std::string_view subject) {
    return std::string(kTestSubjectPrefix) + std::string(store::trimSpaces(subject));
}

std::string testLabel(std::string_view address) {
    return "Sending Test (" + std::string(address) + ")";
}

PlannedRecipient firstRecipientOf(const store::Session& session) {
    if (session.sendList.count() == 0) {
        return {};
    }
    const store::Contact& entry = session.sendList.at(1);
    return {entry.id, std::string(entry.email.view())};
}

SendRunSummary sendTest(const store::Session& session, const MessageDraft& draft,
                        const PlannedRecipient& as, const std::string& address,
                        const SendRunEnvironment& environment, RunObserver& observer) {
    const std::string to(store::trimSpaces(address));
    SingleSend single;
    single.label = testLabel(to);
    // The contact's own message, list headers and all, to another mailbox;
    // without a contact the fields a typed address gets.
    single.fields = as.address.empty()
                        ? PlannedRecipient{contactSlotWithAddress(session, address), address}
                        : as;
    single.listFields = true;
    if (to.empty()) {
        single.addressProblem = "The test send names no address.";
    } else if (store::hasControlCharacter(to)) {
        single.addressProblem = store::controlCharacterAddressText(to);
    }
    single.adjust = [&to](OutgoingMessage& message) {
        message.recipient = to;
        message.subject = testSubject(message.subject);
    };
    return sendSingle(session, draft, single, environment, observer);
}

bool confirmSendEmail(platform::Prompter& prompter) {
    return prompter.message("Confirm", kSendEmailQuestion, platform::PromptButtons::YesNo) ==
           platform::PromptAnswer::Yes;
}

std::string previewQuestion(std::string_view fromText) {
    return "Are you sure you want to send a preview of this message to your email address? The "
           "preview uses the address in the 'From' field to send you a copy of the email.\nThe "
           "email will be sent to \"" +
           std::string(store::trimSpaces(fromText)) + "\"";
}

PreviewCheck confirmPreview(platform::Prompter& prompter, std::string_view fromText) {
    if (store::trimSpaces(fromText).empty()) {
        prompter.message("Information", kPreviewNeedsFromText, platform::PromptButtons::Ok);
        return PreviewCheck::NeedsFrom;
    }
    return prompter.message("Confirm", previewQuestion(fromText), platform::PromptButtons::YesNo) ==
                   platform::PromptAnswer::Yes
               ? PreviewCheck::Send
               : PreviewCheck::Declined;
}

} // namespace velmora::delivery
