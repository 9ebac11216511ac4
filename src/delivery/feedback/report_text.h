#pragma once

#include <string>
#include <string_view>
#include <vector>

// Reading the plain-text pieces of returned mail: status codes, the reason a
// server gave, and the addresses a human-readable notice names. No MIME here:
// the classifier hands these functions decoded text.
namespace velmora::delivery {

// One "Name: value" field of a delivery-status or feedback-report block,
// continuation lines joined.
struct ReportField {
    std::string name; // as written
    std::string value;
};
// The blocks of a machine-readable report body, split at blank lines.
std::vector<std::vector<ReportField>> readFieldBlocks(std::string_view text);
// The value of the first field named `name` (any case), or empty.
std::string fieldValue(const std::vector<ReportField>& block, std::string_view name);
// "rfc822; ann@example.org" -> "ann@example.org" (angle brackets dropped).
std::string addressFromTypedField(std::string_view value);

// The first enhanced status code ("5.1.1") in `text`, or empty.
std::string findStatusCode(std::string_view text);
// The first basic SMTP reply code (a 4xx or 5xx standing alone), or 0.
int findReplyCode(std::string_view text);

// Why a server refused, as one short phrase that a note can carry.
enum class RefusalReason { None, UserUnknown, MailboxFull, TooLarge, Policy, Temporary };
RefusalReason refusalReasonFromText(std::string_view text);
const char* refusalReasonPhrase(RefusalReason reason);

// Whether a refusal says the address is gone for good. Hard: the address or
// domain does not exist or has moved; soft: everything that may pass (4.x.x,
// full mailboxes, sizes, policy and rate refusals). With no code at all the
// words decide, and `permanentNotice` (the notice said the delivery failed)
// breaks the tie.
bool isHardRefusal(std::string_view status, int replyCode, std::string_view diagnostic,
                   bool permanentNotice);

// Addresses named in a human-readable notice, in order, each once (any case),
// leaving out `ignore` and the addresses of mail systems (postmaster, ...).
std::vector<std::string> addressesInText(std::string_view text,
                                         const std::vector<std::string>& ignore);
// Whether the local part names a mail system rather than a person.
bool isSystemAddress(std::string_view address);
// `text` up to where a notice starts quoting the returned message.
std::string_view noticeBeforeQuote(std::string_view text);
// The text from `address` to the next address, one line of at most 200
// characters with spaces collapsed (what the server said about it).
std::string textAfterAddress(std::string_view text, std::string_view address);
// The Message-ID named by a "Message-ID:" line in quoted headers, or empty.
std::string quotedMessageId(std::string_view text);
// "<a@b>" or " a@b " -> "a@b".
std::string bareMessageId(std::string_view text);

} // namespace velmora::delivery
