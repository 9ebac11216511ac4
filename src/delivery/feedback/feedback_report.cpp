#include "delivery/feedback/feedback_report.h"

#include "delivery/feedback/report_text.h"
#include "delivery/message/html_text.h"
#include "store/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <gmime/gmime.h>
#include <memory>

namespace velmora::delivery {

namespace {

// GMime keeps its tables for the life of the process; set them up once.
void ensureGMime() {
    static const bool ready = [] {
        g_mime_init();
        return true;
    }();
    (void)ready;
}

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

std::string header(GMimeObject* object, const char* name) {
    const char* value = g_mime_object_get_header(object, name);
    return value == nullptr ? std::string() : std::string(value);
}

std::vector<std::string> mailboxes(InternetAddressList* list) {
    std::vector<std::string> out;
    if (list == nullptr) {
        return out;
    }
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
            if (addr != nullptr && std::strchr(addr, '@') != nullptr) {
                out.emplace_back(addr);
            }
        }
    }
    return out;
}

std::vector<std::string> parsedMailboxes(const std::string& value) {
    if (value.empty()) {
        return {};
    }
    GObjectPtr<InternetAddressList> list(internet_address_list_parse(nullptr, value.c_str()));
    return mailboxes(list.get());
}

std::string partBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr) {
        return {};
    }
    GObjectPtr<GMimeStream> memory(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, memory.get());
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

std::string partText(GMimePart* part) {
    if (GMIME_IS_TEXT_PART(part)) {
        char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
        if (text != nullptr) {
            std::string out(text);
            g_free(text);
            return out;
        }
    }
    return partBytes(part);
}

bool isType(GMimeObject* object, const char* type, const char* subtype) {
    GMimeContentType* contentType = g_mime_object_get_content_type(object);
    return contentType != nullptr && g_mime_content_type_is_type(contentType, type, subtype) != 0;
}

// What the walk over a report's parts finds.
struct ReportParts {
    std::string deliveryStatus;
    std::string feedbackReport;
    std::string notice;     // the first plain text outside the returned message
    std::string htmlNotice; // the first HTML text, where there is no plain one
    std::string returnedHeaders;
    std::string returnedMessageId;
    std::vector<std::string> returnedTo;
};

void walk(GMimeObject* object, ReportParts& parts, int depth) {
    if (object == nullptr || depth > 16) {
        return;
    }
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i) {
            walk(g_mime_multipart_get_part(multipart, i), parts, depth + 1);
        }
        return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* returned = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (returned != nullptr && parts.returnedMessageId.empty() && parts.returnedTo.empty()) {
            const char* id = g_mime_message_get_message_id(returned);
            parts.returnedMessageId = id == nullptr ? std::string() : std::string(id);
            parts.returnedTo =
                mailboxes(g_mime_message_get_addresses(returned, GMIME_ADDRESS_TYPE_TO));
        }
        return;
    }
    if (!GMIME_IS_PART(object)) {
        return;
    }
    GMimePart* part = GMIME_PART(object);
    if (isType(object, "message", "delivery-status") ||
        isType(object, "message", "global-delivery-status")) {
        parts.deliveryStatus += partBytes(part);
        parts.deliveryStatus += "\n\n";
    } else if (isType(object, "message", "feedback-report")) {
        parts.feedbackReport += partBytes(part);
    } else if (isType(object, "text", "rfc822-headers")) {
        if (parts.returnedHeaders.empty()) {
            parts.returnedHeaders = partText(part);
        }
    } else if (isType(object, "text", "plain") || isType(object, "text", "*")) {
        if (isType(object, "text", "html")) {
            if (parts.htmlNotice.empty()) {
                parts.htmlNotice = plainTextFromHtml(partText(part));
            }
        } else if (parts.notice.empty()) {
            parts.notice = partText(part);
        }
    }
}

bool containsAnyLower(std::string_view text, std::initializer_list<std::string_view> needles) {
    const std::string lower = store::toLowerAscii(text);
    return std::any_of(needles.begin(), needles.end(), [&lower](std::string_view needle) {
        return lower.find(needle) != std::string::npos;
    });
}

bool fromMailSystem(const std::string& from, const std::string& fromHeader) {
    return (!from.empty() && isSystemAddress(from)) ||
           containsAnyLower(fromHeader,
                            {"mailer-daemon", "mail delivery", "postmaster", "mail administrator",
                             "delivery subsystem", "mail system", "mailer daemon", "mdaemon"});
}

bool bounceSubject(std::string_view subject) {
    return containsAnyLower(subject, {"undeliver",
                                      "undelivered",
                                      "delivery status notification",
                                      "failure notice",
                                      "delivery failed",
                                      "delivery failure",
                                      "returned mail",
                                      "could not be delivered",
                                      "nondeliverable",
                                      "non-deliverable",
                                      "non remis",
                                      "delivery has failed",
                                      "mail delivery",
                                      "not delivered",
                                      "delivery problem",
                                      "delayed mail",
                                      "delivery delayed",
                                      "warning: could not send",
                                      "unzustellbar",
                                      "rejected",
                                      "bounce",
                                      "permanent error",
                                      "message status",
                                      "delivery notification",
                                      "mail system error",
                                      "non-delivery",
                                      "user unknown"});
}

bool warningText(std::string_view text) {
    return containsAnyLower(text, {"delayed", "warning", "will retry", "will be retried",
                                   "not yet been delivered", "still trying", "deferred",
                                   "will continue to try", "temporary failure"});
}

bool autoReplyHeaders(GMimeObject* top) {
    const std::string submitted = store::toLowerAscii(header(top, "Auto-Submitted"));
    if (!submitted.empty() && submitted != "no") {
        return true;
    }
    if (!header(top, "X-Autoreply").empty() || !header(top, "X-Autorespond").empty() ||
        !header(top, "X-Autoresponder").empty()) {
        return true;
    }
    const std::string precedence = store::toLowerAscii(header(top, "Precedence"));
    return precedence == "auto_reply";
}

bool autoReplySubject(std::string_view subject) {
    return containsAnyLower(subject,
                            {"out of office", "out of the office", "auto:", "automatic reply",
                             "autoreply", "auto-reply", "auto reply", "vacation", "away from",
                             "abwesenheit", "absence", "autosvar", "automatische antwort"});
}

// The first line someone wrote, above any quote.
std::string firstWrittenLine(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos) {
            continue;
        }
        return std::string(line.substr(first));
    }
    return {};
}

bool asksToUnsubscribe(std::string_view text) {
    return containsAnyLower(text, {"unsubscribe", "remove me", "opt out", "opt-out", "take me off",
                                   "stop sending", "remove my address", "désinscri", "abmelden"}) ||
           store::equalIgnoringCase(text, "stop");
}

// Returns how many recipients the report says were delivered, relayed or expanded.
int readDeliveryStatus(const std::string& text, FeedbackReport& report) {
    int delivered = 0;
    for (const std::vector<ReportField>& block : readFieldBlocks(text)) {
        std::string address = addressFromTypedField(fieldValue(block, "Original-Recipient"));
        const std::string final = addressFromTypedField(fieldValue(block, "Final-Recipient"));
        if (address.find('@') == std::string::npos) {
            address = final;
        }
        if (address.find('@') == std::string::npos) {
            continue; // the per-message block, or no address we could act on
        }
        const std::string action = store::toLowerAscii(fieldValue(block, "Action"));
        std::string status = findStatusCode(fieldValue(block, "Status"));
        const std::string diagnostic = fieldValue(block, "Diagnostic-Code");
        if (status.empty()) {
            status = findStatusCode(diagnostic);
        }
        // Servers write "failure" or "error" for "failed" too.
        const bool delayed = action.starts_with("delay");
        if (action.starts_with("deliver") || action.starts_with("relay") ||
            action.starts_with("expand") ||
            (action.empty() && (status.empty() || status[0] == '2'))) {
            ++delivered;
            continue;
        }
        const bool failed = !delayed;
        FeedbackRecipient recipient;
        recipient.address = address;
        recipient.status = status;
        recipient.diagnostic = diagnostic;
        const int replyCode = findReplyCode(diagnostic) != 0
                                  ? findReplyCode(diagnostic)
                                  : findReplyCode(fieldValue(block, "Status"));
        recipient.hard = !delayed && isHardRefusal(status, replyCode, diagnostic, failed);
        const auto same = [&address](const FeedbackRecipient& other) {
            return store::equalIgnoringCase(other.address, address);
        };
        if (std::none_of(report.recipients.begin(), report.recipients.end(), same)) {
            report.recipients.push_back(std::move(recipient));
        }
    }
    return delivered;
}

void readNotice(std::string_view notice, const std::vector<std::string>& ignore, bool warning,
                FeedbackReport& report) {
    const std::vector<std::string> addresses = addressesInText(notice, ignore);
    for (const std::string& address : addresses) {
        FeedbackRecipient recipient;
        recipient.address = address;
        recipient.diagnostic = textAfterAddress(notice, address);
        // One address: the whole notice speaks about it.
        const std::string_view about =
            addresses.size() == 1 ? notice : std::string_view(recipient.diagnostic);
        recipient.status = findStatusCode(recipient.diagnostic);
        if (recipient.status.empty()) {
            recipient.status = findStatusCode(about);
        }
        const int replyCode = findReplyCode(about);
        recipient.hard = !warning && isHardRefusal(recipient.status, replyCode, about, true);
        report.recipients.push_back(std::move(recipient));
    }
}

} // namespace

const char* feedbackKindName(FeedbackKind kind) {
    switch (kind) {
    case FeedbackKind::Bounce:
        return "bounce";
    case FeedbackKind::Complaint:
        return "complaint";
    case FeedbackKind::Unsubscribe:
        return "unsubscribe";
    case FeedbackKind::AutoReply:
        return "auto-reply";
    case FeedbackKind::Other:
        break;
    }
    return "other";
}

void FeedbackCounts::add(const FeedbackReport& report) {
    switch (report.kind) {
    case FeedbackKind::Bounce:
        ++bounces;
        break;
    case FeedbackKind::Complaint:
        ++complaints;
        break;
    case FeedbackKind::Unsubscribe:
        ++unsubscribes;
        break;
    case FeedbackKind::AutoReply:
        ++autoReplies;
        return;
    case FeedbackKind::Other:
        ++other;
        ++notUnderstood;
        return;
    }
    if (report.recipients.empty()) {
        ++notUnderstood;
    }
}

std::string feedbackCountsText(const FeedbackCounts& counts) {
    return "Bounces " + std::to_string(counts.bounces) + ", complaints " +
           std::to_string(counts.complaints) + ", unsubscribe requests " +
           std::to_string(counts.unsubscribes) + ", auto-replies " +
           std::to_string(counts.autoReplies) + ", other " + std::to_string(counts.other) +
           "; not understood " + std::to_string(counts.notUnderstood) + ".";
}

std::string FeedbackRecipient::reason() const {
    std::string phrase = refusalReasonPhrase(refusalReasonFromText(diagnostic));
    if (phrase.empty() && !status.empty()) {
        phrase = hard ? "failed" : "delayed";
    }
    if (status.empty()) {
        return phrase;
    }
    return phrase.empty() ? status : status + " " + phrase;
}

FeedbackReport classifyMessage(std::string_view bytes, const ClassifyOptions& options) {
    ensureGMime();
    FeedbackReport report;
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) {
        return report;
    }
    GMimeObject* top = GMIME_OBJECT(message.get());
    const char* subject = g_mime_message_get_subject(message.get());
    report.subject = subject == nullptr ? std::string() : std::string(subject);
    const char* id = g_mime_message_get_message_id(message.get());
    report.messageId = id == nullptr ? std::string() : std::string(id);
    const std::vector<std::string> from = mailboxes(g_mime_message_get_from(message.get()));
    report.from = from.empty() ? std::string() : from.front();
    for (const char* name : {"Delivered-To", "X-Original-To", "To", "Envelope-To"}) {
        for (std::string& address : parsedMailboxes(header(top, name))) {
            const auto same = [&address](const std::string& other) {
                return store::equalIgnoringCase(other, address);
            };
            if (std::none_of(report.returnedTo.begin(), report.returnedTo.end(), same)) {
                report.returnedTo.push_back(std::move(address));
            }
        }
    }

    ReportParts parts;
    GMimeObject* body = g_mime_message_get_mime_part(message.get());
    walk(body, parts, 0);
    if (parts.returnedMessageId.empty() && !parts.returnedHeaders.empty()) {
        parts.returnedMessageId = quotedMessageId(parts.returnedHeaders);
        if (parts.returnedTo.empty()) {
            for (const std::vector<ReportField>& block : readFieldBlocks(parts.returnedHeaders)) {
                parts.returnedTo = parsedMailboxes(fieldValue(block, "To"));
                break;
            }
        }
    }
    report.originalMessageId = parts.returnedMessageId;
    std::string reportType;
    if (body != nullptr && isType(body, "multipart", "report")) {
        const char* type =
            g_mime_content_type_get_parameter(g_mime_object_get_content_type(body), "report-type");
        reportType = type == nullptr ? std::string() : store::toLowerAscii(type);
    }

    // A complaint from a feedback loop.
    if (!parts.feedbackReport.empty() || reportType == "feedback-report") {
        report.kind = FeedbackKind::Complaint;
        const std::vector<std::vector<ReportField>> blocks = readFieldBlocks(parts.feedbackReport);
        std::vector<std::string> named;
        for (const std::vector<ReportField>& block : blocks) {
            for (const ReportField& field : block) {
                if (store::equalIgnoringCase(field.name, "Feedback-Type") &&
                    report.feedbackType.empty()) {
                    report.feedbackType = store::toLowerAscii(field.value);
                }
                if (store::equalIgnoringCase(field.name, "Original-Rcpt-To") ||
                    store::equalIgnoringCase(field.name, "Removal-Recipient")) {
                    named.push_back(addressFromTypedField(field.value));
                }
            }
        }
        if (named.empty()) {
            named = parts.returnedTo;
        }
        for (const std::string& address : named) {
            if (address.find('@') != std::string::npos) {
                report.recipients.push_back(FeedbackRecipient{address, {}, true, {}});
            }
        }
        return report;
    }

    // A standard delivery report.
    if (!parts.deliveryStatus.empty()) {
        const int delivered = readDeliveryStatus(parts.deliveryStatus, report);
        if (!report.recipients.empty()) {
            report.kind = FeedbackKind::Bounce;
            return report;
        }
        if (delivered > 0) {
            return report; // delivered or relayed: nothing to act on
        }
    }

    // A notice in the words of a server that writes no standard report.
    const std::string notice = parts.notice.empty() ? parts.htmlNotice : parts.notice;
    if (reportType == "delivery-status" || fromMailSystem(report.from, header(top, "From")) ||
        bounceSubject(report.subject)) {
        // Our own addresses, as the report's headers name them (not
        // X-Original-To, which some servers fill with the failed recipient).
        std::vector<std::string> ignore = parsedMailboxes(header(top, "To"));
        for (std::string& address : parsedMailboxes(header(top, "Delivered-To"))) {
            ignore.push_back(std::move(address));
        }
        if (!report.from.empty()) {
            ignore.push_back(report.from);
        }
        const std::string_view text = noticeBeforeQuote(notice);
        const bool warning = warningText(report.subject) ||
                             (warningText(text) && !containsAnyLower(text, {"fatal", "permanent"}));
        readNotice(text, ignore, warning, report);
        if (report.recipients.empty()) {
            // Our messages go to one person each: the returned copy names them.
            for (const std::string& address : parts.returnedTo) {
                report.recipients.push_back(
                    FeedbackRecipient{address, findStatusCode(text),
                                      !warning && isHardRefusal(findStatusCode(text),
                                                                findReplyCode(text), text, true),
                                      std::string()});
            }
        }
        if (report.originalMessageId.empty()) {
            report.originalMessageId = quotedMessageId(notice);
        }
        if (report.recipients.empty()) {
            const std::string status = findStatusCode(text);
            report.unnamed = FeedbackRecipient{
                std::string(), status,
                !warning && isHardRefusal(status, findReplyCode(text), text, true),
                refusalReasonPhrase(refusalReasonFromText(text))};
        }
        if (!report.recipients.empty() || fromMailSystem(report.from, header(top, "From"))) {
            report.kind = FeedbackKind::Bounce;
            return report;
        }
        report.recipients.clear();
    }

    // A person's (or a program's) answer.
    const std::string inReplyTo = header(top, "In-Reply-To");
    if (!inReplyTo.empty()) {
        report.originalMessageId = bareMessageId(inReplyTo);
    } else {
        const std::string references = header(top, "References");
        const std::size_t last = references.rfind('<');
        if (last != std::string::npos) {
            report.originalMessageId = bareMessageId(references.substr(last));
        }
    }
    if (autoReplyHeaders(top)) {
        report.kind = FeedbackKind::AutoReply;
        return report;
    }
    const bool toUnsubscribeAddress =
        !options.unsubscribeAddress.empty() &&
        std::any_of(report.returnedTo.begin(), report.returnedTo.end(),
                    [&options](const std::string& address) {
                        return store::equalIgnoringCase(address, options.unsubscribeAddress);
                    });
    if (toUnsubscribeAddress || asksToUnsubscribe(report.subject) ||
        asksToUnsubscribe(firstWrittenLine(notice))) {
        report.kind = FeedbackKind::Unsubscribe;
        if (!report.from.empty()) {
            report.recipients.push_back(FeedbackRecipient{report.from, {}, false, {}});
        }
        return report;
    }
    if (autoReplySubject(report.subject)) {
        report.kind = FeedbackKind::AutoReply;
    }
    return report;
}

} // namespace velmora::delivery
