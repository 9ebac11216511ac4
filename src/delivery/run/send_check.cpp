#include "delivery/run/send_check.h"

#include "delivery/international_address.h"
#include "delivery/message/html_text.h"
#include "delivery/message/personal_fields.h"
#include "delivery/run/send_run.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace velmora::delivery {

namespace {

// The message as a filter reads it: the lines without their dot-stuffing
// and without the end-of-data line.
class MessageText final : public LineSink {
public:
    bool writeLine(std::string_view line) override {
        if (line == ".") {
            return true; // the end of the data, never a line of the message
        }
        if (line.starts_with("..")) {
            line.remove_prefix(1);
        }
        text.append(line);
        text.append("\r\n");
        return true;
    }
    std::string text;
};

std::string lowerTrimmed(std::string_view text) {
    return store::toLowerAscii(store::trimSpaces(text));
}

std::string withoutWww(std::string host) {
    return host.starts_with("www.") ? host.substr(4) : host;
}

bool looksLikeHost(std::string_view host) {
    const std::size_t dot = host.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || host.size() - dot < 3) {
        return false;
    }
    const std::string_view top = host.substr(dot + 1);
    return std::all_of(top.begin(), top.end(),
                       [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

// The host of "scheme://user@host:port/path" ("" when it has none).
std::string hostOfUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return "";
    }
    std::string_view authority = url.substr(scheme + 3);
    authority = authority.substr(0, std::min(authority.find_first_of("/?#"), authority.size()));
    // Credentials before the host are where a false host hides.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    return std::string(authority.substr(0, std::min(authority.find(':'), authority.size())));
}

// What a link's text shows as an address: "web:HOST" or "mail:ADDRESS";
// nothing for a text that is no address ("Read more").
std::optional<std::string> addressShown(std::string_view linkText) {
    std::string text = lowerTrimmed(linkText);
    if (text.empty() || text.find(' ') != std::string::npos) {
        return std::nullopt;
    }
    if (text.starts_with("mailto:")) {
        text.erase(0, 7);
    }
    if (text.find('@') != std::string::npos && text.find('/') == std::string::npos) {
        return "mail:" + text;
    }
    std::string host = text.find("://") != std::string::npos
                           ? hostOfUrl(text)
                           : text.substr(0, std::min(text.find_first_of("/?#:"), text.size()));
    if (!looksLikeHost(host)) {
        return std::nullopt;
    }
    return "web:" + withoutWww(host);
}

// Where a link goes, in the same form; nothing for a link within the page
// or one without a host.
std::optional<std::string> addressTargeted(std::string_view href) {
    const std::string target = lowerTrimmed(href);
    if (target.starts_with("mailto:")) {
        return "mail:" + target.substr(7, target.find('?') == std::string::npos
                                              ? std::string::npos
                                              : target.find('?') - 7);
    }
    const std::string host = hostOfUrl(target);
    if (host.empty()) {
        return std::nullopt;
    }
    return "web:" + withoutWww(host);
}

// "a@x, b@x, c@x" or "a@x, b@x, c@x, ..." for more.
std::string someOf(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < kContactsNamed; ++i) {
        text += (i > 0 ? ", " : "") + names[i];
    }
    return names.size() > kContactsNamed ? text + ", ..." : text;
}

std::string counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string sizeText(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else {
        std::snprintf(text, sizeof text, "%llu KB",
                      static_cast<unsigned long long>((bytes + 1023) / 1024));
    }
    return text;
}

class Findings {
public:
    explicit Findings(std::vector<CheckFinding>& list) : list_(list) {}
    void add(CheckLevel level, const char* kind, std::string text) {
        list_.push_back({level, kind, std::move(text)});
    }

private:
    std::vector<CheckFinding>& list_;
};

std::int32_t valuesSlot(const store::Session& session, const PlannedRecipient& recipient,
                        bool listRun) {
    return listRun ? recipient.slot : contactSlotWithAddress(session, recipient.address);
}

void checkFields(const store::Session& session, const MessageDraft& draft,
                 const MessageCheckRequest& request, Findings& findings) {
    // Each known field once, with the fallback it is first written with.
    std::vector<PersonalFieldUse> fields;
    std::vector<const std::string*> texts{&draft.subject, &draft.body};
    const std::vector<std::string> attachments = draft.attachmentList();
    for (const std::string& path : attachments) {
        texts.push_back(&path);
    }
    const PersonalValues none;
    for (const std::string* text : texts) {
        for (PersonalFieldUse& use : personalFieldsIn(*text)) {
            const bool known = personalFieldValue(use.name, none).has_value();
            const bool seen = std::any_of(fields.begin(), fields.end(), [&](const auto& f) {
                return store::equalIgnoringAsciiCase(f.name, use.name);
            });
            if (known && !seen) {
                fields.push_back(std::move(use));
            }
        }
    }
    for (const PersonalFieldUse& field : fields) {
        std::vector<std::string> lacking;
        for (const PlannedRecipient& recipient : request.recipients) {
            const PersonalValues values = recipientValues(
                session, valuesSlot(session, recipient, request.listRun), recipient.address);
            if (store::trimSpaces(personalFieldValue(field.name, values).value_or("")).empty()) {
                lacking.push_back(recipient.address);
            }
        }
        if (lacking.empty()) {
            continue;
        }
        const std::string instead = field.fallback && !field.fallback->empty()
                                        ? "they get \"" + *field.fallback + "\" instead."
                                        : "the field is left out for them (no fallback: \"{{" +
                                              field.name + "|...}}\" gives one).";
        findings.add(CheckLevel::Warning, "missingField",
                     "The field \"{{" + field.name + "}}\" is empty for " +
                         std::to_string(lacking.size()) + " of " +
                         counted(request.recipients.size(), "recipient", "recipients") + " (" +
                         someOf(lacking) + "): " + instead);
    }
}

void checkRecipients(const store::Session& session, const MessageCheckRequest& request,
                     Findings& findings) {
    if (request.recipients.empty()) {
        findings.add(CheckLevel::Warning, "noRecipients", "The message has no recipients.");
        return;
    }
    std::vector<std::string> doNotContact;
    std::vector<std::string> refused;
    std::vector<std::string> order;
    std::map<std::string, std::size_t> seen;
    for (const PlannedRecipient& recipient : request.recipients) {
        const std::int32_t slot = valuesSlot(session, recipient, request.listRun);
        if (slot > 0 && session.hasContact(slot) &&
            session.contact(slot).status == code(store::ContactStatus::DoNotContact)) {
            doNotContact.push_back(recipient.address);
        }
        const std::string_view address = store::trimSpaces(recipient.address);
        const std::size_t at = address.rfind('@');
        if (at == std::string_view::npos || at == 0 || addressDomain(address).empty() ||
            store::hasControlCharacter(address) || !withAsciiDomain(address).ok()) {
            refused.push_back(recipient.address);
        }
        const std::string key = lowerTrimmed(address);
        if (seen[key]++ == 0) {
            order.push_back(key);
        }
    }
    if (!doNotContact.empty()) {
        findings.add(CheckLevel::Warning, "doNotContact",
                     counted(doNotContact.size(), "recipient has", "recipients have") +
                         " the status Do Not Contact: " + someOf(doNotContact) + ".");
    }
    if (!refused.empty()) {
        findings.add(CheckLevel::Warning, "refusedAddress",
                     counted(refused.size(), "recipient address", "recipient addresses") +
                         " no server will take: " + someOf(refused) + ".");
    }
    std::vector<std::string> twice;
    for (const std::string& key : order) {
        if (seen[key] > 1) {
            twice.push_back(key + " (" + std::to_string(seen[key]) + " times)");
        }
    }
    if (!twice.empty()) {
        findings.add(CheckLevel::Warning, "duplicate",
                     counted(twice.size(), "address comes", "addresses come") +
                         " more than once among the recipients: " + someOf(twice) + ".");
    }
}

void checkSenderDomain(const store::Session& session, const MessageDraft& draft,
                       Findings& findings) {
    const store::SessionSettings& settings = session.settings();
    const std::string login = lowerTrimmed(settings.userName);
    const std::string loginDomain(addressDomain(login));
    const std::string senderDomain(
        store::toLowerAscii(addressDomain(parseSender(draft.fromText).senderAddress)));
    if (settings.requiresAuth == 0 || loginDomain.empty() || senderDomain.empty() ||
        loginDomain == senderDomain) {
        return;
    }
    findings.add(CheckLevel::Warning, "senderDomain",
                 "The sender's domain \"" + senderDomain + "\" is not the relay login's domain \"" +
                     loginDomain + "\": providers then rewrite the sender or refuse the message.");
}

void checkBody(const OutgoingMessage& message, Findings& findings) {
    if (message.format != code(store::EditorFormat::Html)) {
        return;
    }
    const HtmlReferences references = htmlReferences(message.body);
    std::vector<std::string> plainLinks;
    for (const HtmlLink& link : references.links) {
        const std::optional<std::string> shown = addressShown(link.text);
        const std::optional<std::string> target = addressTargeted(link.href);
        if (shown && target && *shown != *target) {
            findings.add(CheckLevel::Warning, "misleadingLink",
                         "The link text \"" + link.text +
                             "\" shows another address than the "
                             "link goes to (\"" +
                             link.href + "\"): filters take that for phishing.");
        }
        if (lowerTrimmed(link.href).starts_with("http:") &&
            std::find(plainLinks.begin(), plainLinks.end(), link.href) == plainLinks.end()) {
            plainLinks.push_back(link.href);
            findings.add(CheckLevel::Warning, "httpLink",
                         "The link \"" + link.href +
                             "\" is not encrypted (http:); use https: where the site offers it.");
        }
    }
    for (const HtmlImage& image : references.images) {
        if (store::trimSpaces(image.alt).empty()) {
            findings.add(CheckLevel::Warning, "imageWithoutAlt",
                         "The image \"" + image.src +
                             "\" has no alternative text (alt): readers who do not load images "
                             "see nothing in its place.");
        }
    }
}

void checkListHeaders(const std::string& built, const MessageCheckRequest& request,
                      const OutgoingMessage& message, Findings& findings) {
    if (!request.listRun || request.recipients.empty()) {
        return;
    }
    const std::size_t headersEnd = std::min(built.find("\r\n\r\n"), built.size());
    const std::string_view headers = std::string_view(built).substr(0, headersEnd);
    const std::size_t mailto = message.listUnsubscribe.find("<mailto:");
    const bool hasAddress = mailto != std::string::npos &&
                            message.listUnsubscribe.find('@', mailto) != std::string::npos;
    if (headers.find("\r\nList-Unsubscribe: ") == std::string_view::npos || !hasAddress) {
        findings.add(CheckLevel::Warning, "listUnsubscribe",
                     "The message has no List-Unsubscribe address: set unsubscribeMailto, the "
                     "Reply-To address or the sender's address. Providers file list mail "
                     "without one as spam.");
        return;
    }
    findings.add(CheckLevel::Note, "listUnsubscribe",
                 "List-Unsubscribe: " + message.listUnsubscribe);
}

void checkSize(std::uint64_t bytes, const std::string& recipient,
               const MessageCheckRequest& request, Findings& findings) {
    findings.add(CheckLevel::Note, "size",
                 "The message to " + recipient + " is " + sizeText(bytes) + ".");
    if (bytes > kLargeMessageBytes) {
        findings.add(CheckLevel::Warning, "size",
                     "The message is " + sizeText(bytes) +
                         ", over 10 MB: many providers refuse or cut messages that large.");
    }
    if (request.relaySizeLimit && bytes <= *request.relaySizeLimit) {
        findings.add(CheckLevel::Note, "relaySize",
                     "The relay takes messages up to " + std::to_string(*request.relaySizeLimit) +
                         " bytes (its SIZE).");
    }
    if (request.relaySizeLimit && bytes > *request.relaySizeLimit) {
        findings.add(CheckLevel::Warning, "relaySize",
                     "The message is " + std::to_string(bytes) +
                         " bytes, over the relay's limit of " +
                         std::to_string(*request.relaySizeLimit) +
                         " bytes (its SIZE): the relay will refuse it.");
    }
}

const char* levelPrefix(CheckLevel level) {
    switch (level) {
    case CheckLevel::Error:
        return "Error: ";
    case CheckLevel::Warning:
        return "Warning: ";
    case CheckLevel::Note:
        return "Note: ";
    }
    return "";
}

} // namespace

bool MessageCheck::hasErrors() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const CheckFinding& f) { return f.level == CheckLevel::Error; });
}

MessageCheck checkMessage(const store::Session& session, const MessageDraft& draft,
                          const MessageCheckRequest& request,
                          const MessageEnvironment& environment) {
    MessageCheck check;
    Findings findings(check.findings);
    // The errors are those a send stops on, in the words it stops with.
    for (std::string& problem : problemsBeforeSending(draft)) {
        findings.add(CheckLevel::Error, "blocked", std::move(problem));
    }
    for (std::string& problem :
         personalAttachmentProblems(session, draft, request.recipients, request.listRun)) {
        findings.add(CheckLevel::Error, "personalAttachment", std::move(problem));
    }
    checkRecipients(session, request, findings);
    checkFields(session, draft, request, findings);
    checkSenderDomain(session, draft, findings);

    const PlannedRecipient first = request.recipients.empty()
                                       ? PlannedRecipient{-1, previewRecipient(draft.fromText)}
                                       : request.recipients.front();
    check.firstRecipient = first.address;
    const OutgoingMessage message = recipientMessage(
        session, draft, first.slot, first.address, request.listRun && !request.recipients.empty());
    checkBody(message, findings);
    MessageText text;
    MessageEnvironment quiet{environment.clock, environment.contentTypes, {}};
    quiet.randomBytes = environment.randomBytes;
    const bool built = writeMessage(message, quiet, text);
    if (built) {
        checkListHeaders(text.text, request, message, findings);
        check.messageBytes = text.text.size();
        checkSize(check.messageBytes, first.address, request, findings);
    }
    if (request.spamFilter) {
        if (built) {
            check.spam = request.spamFilter(text.text);
        } else {
            SpamScore none;
            none.installed = true;
            none.error = "the message could not be built (see the errors)";
            check.spam = none;
        }
    }
    return check;
}

std::vector<std::string> messageCheckLines(const MessageCheck& check) {
    std::vector<std::string> lines;
    if (check.spam) {
        lines = spamScoreLines(*check.spam);
    }
    bool problems = false;
    for (const CheckLevel level : {CheckLevel::Error, CheckLevel::Warning, CheckLevel::Note}) {
        for (const CheckFinding& finding : check.findings) {
            if (finding.level == level) {
                problems = problems || level != CheckLevel::Note;
                lines.push_back(levelPrefix(level) + finding.text);
            }
        }
    }
    if (!problems) {
        lines.emplace_back("No problems found.");
    }
    return lines;
}

std::vector<std::string> checkWarningLines(const MessageCheck& check) {
    std::vector<std::string> lines;
    for (const CheckFinding& finding : check.findings) {
        if (finding.level == CheckLevel::Warning) {
            lines.push_back(levelPrefix(finding.level) + finding.text);
        }
    }
    return lines;
}

std::vector<PlannedRecipient> chosenRecipients(store::Session& session, const MessageDraft& draft,
                                               const std::vector<std::int32_t>& filteredRows) {
    gatherRecipients(session, draft, filteredRows);
    std::vector<PlannedRecipient> recipients;
    for (std::int32_t i = 1; i <= session.sendList.count(); ++i) {
        const store::Contact& entry = session.sendList.at(i);
        recipients.push_back({entry.id, std::string(entry.email.view())});
    }
    return recipients;
}

std::vector<std::string> runWarnings(store::Session& session, const MessageDraft& draft,
                                     const std::vector<std::int32_t>& filteredRows,
                                     const SendRunEnvironment& environment) {
    MessageCheckRequest request;
    request.recipients = chosenRecipients(session, draft, filteredRows);
    request.listRun = draft.recipientChoice != code(RecipientChoice::SingleRecipient);
    MessageEnvironment messageEnvironment{environment.clock, environment.contentTypes, {}};
    messageEnvironment.randomBytes = environment.randomBytes;
    return checkWarningLines(checkMessage(session, draft, request, messageEnvironment));
}

std::optional<std::uint64_t> announcedSizeLimit(const std::vector<std::string>& capabilities) {
    for (const std::string& capability : capabilities) {
        const std::string_view line = store::trimSpaces(capability);
        if (line.size() < 4 || !store::equalIgnoringAsciiCase(line.substr(0, 4), "SIZE") ||
            (line.size() > 4 && line[4] != ' ')) {
            continue;
        }
        const std::string_view number = store::trimSpaces(line.substr(4));
        std::uint64_t limit = 0;
        for (char c : number) {
            if (c < '0' || c > '9' || limit > (UINT64_MAX - 9) / 10) {
                return std::nullopt;
            }
            limit = limit * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return limit > 0 ? std::optional<std::uint64_t>(limit) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace velmora::delivery
