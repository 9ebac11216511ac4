#include "delivery/feedback/report_text.h"

#include "store/text.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace velmora::delivery {

namespace {

std::string_view trimWhite(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isAddressLocalChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("._%+-=/!#$&'*?^{|}~").find(c) != std::string_view::npos;
}

bool isDomainChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
}

bool containsAny(std::string_view lower, std::initializer_list<std::string_view> needles) {
    return std::any_of(needles.begin(), needles.end(), [lower](std::string_view needle) {
        return lower.find(needle) != std::string_view::npos;
    });
}

std::string_view nextLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// Whether the address at `pos` stands on a line that quotes a header of the
// returned message ("To: list@example.org"): that names the message, not
// the recipient who failed.
bool onQuotedHeaderLine(std::string_view text, std::size_t pos) {
    const std::size_t lineStart = text.rfind('\n', pos);
    const std::size_t from = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    const std::string lower = store::toLowerAscii(trimWhite(text.substr(from, pos - from)));
    for (std::string_view name :
         {"to:", "from:", "cc:", "sender:", "reply-to:", "subject:", "message-id:", "return-path:",
          "errors-to:", "list-", "date:", "received:", "delivered-to:"}) {
        if (lower.starts_with(name)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<std::vector<ReportField>> readFieldBlocks(std::string_view text) {
    std::vector<std::vector<ReportField>> blocks(1);
    while (!text.empty()) {
        const std::string_view line = nextLine(text);
        if (trimWhite(line).empty()) {
            if (!blocks.back().empty()) {
                blocks.emplace_back();
            }
            continue;
        }
        if ((line.front() == ' ' || line.front() == '\t') && !blocks.back().empty()) {
            blocks.back().back().value += ' ';
            blocks.back().back().value += trimWhite(line);
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            continue;
        }
        blocks.back().push_back(ReportField{std::string(trimWhite(line.substr(0, colon))),
                                            std::string(trimWhite(line.substr(colon + 1)))});
    }
    if (blocks.back().empty()) {
        blocks.pop_back();
    }
    return blocks;
}

std::string fieldValue(const std::vector<ReportField>& block, std::string_view name) {
    for (const ReportField& field : block) {
        if (store::equalIgnoringCase(field.name, name)) {
            return field.value;
        }
    }
    return {};
}

std::string addressFromTypedField(std::string_view value) {
    const std::size_t semicolon = value.find(';');
    if (semicolon != std::string_view::npos) {
        value = value.substr(semicolon + 1);
    }
    value = trimWhite(value);
    if (value.size() >= 2 && value.front() == '<' && value.back() == '>') {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(trimWhite(value));
}

std::string findStatusCode(std::string_view text) {
    for (std::size_t i = 0; i + 5 <= text.size(); ++i) {
        const char c = text[i];
        if ((c != '2' && c != '4' && c != '5') || text[i + 1] != '.') {
            continue;
        }
        if (i > 0 && (isDigit(text[i - 1]) || text[i - 1] == '.')) {
            continue;
        }
        std::size_t j = i + 2;
        const std::size_t subjectStart = j;
        while (j < text.size() && isDigit(text[j]) && j - subjectStart < 3) {
            ++j;
        }
        if (j == subjectStart || j >= text.size() || text[j] != '.') {
            continue;
        }
        const std::size_t detailStart = ++j;
        while (j < text.size() && isDigit(text[j]) && j - detailStart < 3) {
            ++j;
        }
        if (j == detailStart || (j < text.size() && (isDigit(text[j]) || text[j] == '.'))) {
            // A version number or an IP address, not a status.
            if (!(j < text.size() && text[j] == '.' &&
                  (j + 1 >= text.size() || !isDigit(text[j + 1])))) {
                continue;
            }
        }
        return std::string(text.substr(i, j - i));
    }
    return {};
}

int findReplyCode(std::string_view text) {
    for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
        if ((text[i] != '4' && text[i] != '5') || !isDigit(text[i + 1]) || !isDigit(text[i + 2])) {
            continue;
        }
        if (i > 0 && (std::isalnum(static_cast<unsigned char>(text[i - 1])) != 0 ||
                      text[i - 1] == '.' || text[i - 1] == '#')) {
            continue;
        }
        const std::size_t end = i + 3;
        if (end < text.size() && text[end] != ' ' && text[end] != '-' && text[end] != '\t') {
            continue;
        }
        if (text[i + 1] > '5') {
            continue;
        }
        return (text[i] - '0') * 100 + (text[i + 1] - '0') * 10 + (text[i + 2] - '0');
    }
    return 0;
}

RefusalReason refusalReasonFromText(std::string_view text) {
    const std::string lower = store::toLowerAscii(text);
    if (containsAny(lower, {"user unknown",
                            "unknown user",
                            "no such user",
                            "no such recipient",
                            "does not exist",
                            "doesn't exist",
                            "not exist",
                            "no mailbox",
                            "mailbox not found",
                            "mailbox unavailable",
                            "invalid recipient",
                            "recipient unknown",
                            "unknown recipient",
                            "unknown address",
                            "no such address",
                            "user not found",
                            "recipient not found",
                            "invalid mailbox",
                            "unrouteable address",
                            "unroutable address",
                            "mailbox is inactive",
                            "account has been disabled",
                            "account is disabled",
                            "no longer",
                            "not a valid mailbox",
                            "addressee unknown",
                            "unknown local part",
                            "not listed",
                            "no such mailbox",
                            "not found in directory",
                            "invalid address",
                            "address rejected",
                            "host unknown",
                            "domain not found",
                            "no mx",
                            "not our customer",
                            "name is not recognized",
                            "mailbox disabled",
                            "email account that you tried to reach does not"})) {
        return RefusalReason::UserUnknown;
    }
    if (containsAny(lower, {"mailbox full", "mailbox is full", "over quota", "quota exceeded",
                            "exceeded storage", "exceed", "insufficient", "full mailbox",
                            "mailbox size limit"})) {
        return RefusalReason::MailboxFull;
    }
    if (containsAny(lower, {"too large", "too big", "size limit", "message size"})) {
        return RefusalReason::TooLarge;
    }
    if (containsAny(lower, {"spam", "blocked", "blacklist", "blocklist", "policy", "rejected",
                            "denied", "refused", "reputation", "rate limit"})) {
        return RefusalReason::Policy;
    }
    if (containsAny(lower, {"try again", "temporar", "delayed", "deferred", "timed out", "timeout",
                            "greylist", "will retry", "not yet been delivered", "still trying"})) {
        return RefusalReason::Temporary;
    }
    return RefusalReason::None;
}

const char* refusalReasonPhrase(RefusalReason reason) {
    switch (reason) {
    case RefusalReason::UserUnknown:
        return "user unknown";
    case RefusalReason::MailboxFull:
        return "mailbox full";
    case RefusalReason::TooLarge:
        return "message too large";
    case RefusalReason::Policy:
        return "refused by policy";
    case RefusalReason::Temporary:
        return "delayed";
    case RefusalReason::None:
        break;
    }
    return "";
}

bool isHardRefusal(std::string_view status, int replyCode, std::string_view diagnostic,
                   bool permanentNotice) {
    const RefusalReason reason = refusalReasonFromText(diagnostic);
    if (!status.empty()) {
        if (status.front() != '5') {
            return false;
        }
        const std::string_view rest = status.substr(2);
        if (rest.starts_with("1.") || rest == "4.4") {
            return true;
        }
        if (rest == "0.0" || rest.starts_with("5.")) {
            // Says only "permanent": the words tell what about.
            return reason == RefusalReason::UserUnknown ||
                   (rest == "0.0" && reason == RefusalReason::None);
        }
        // Mailbox, system, network, media and policy: nothing final about the address,
        // unless the server's words say the user does not exist.
        return reason == RefusalReason::UserUnknown;
    }
    if (replyCode >= 400 && replyCode < 500) {
        return false;
    }
    if (reason == RefusalReason::UserUnknown) {
        return true;
    }
    if (reason != RefusalReason::None) {
        return false;
    }
    return replyCode >= 500 || permanentNotice;
}

bool isSystemAddress(std::string_view address) {
    const std::string local = store::toLowerAscii(address.substr(0, address.find('@')));
    static constexpr std::array<std::string_view, 12> kSystemNames{
        "postmaster", "mailer-daemon", "mailer_daemon", "maildaemon", "mail-daemon", "mailer",
        "hostmaster", "abuse",         "root",          "noc",        "webmaster",   "daemon"};
    return std::find(kSystemNames.begin(), kSystemNames.end(), local) != kSystemNames.end();
}

std::string_view noticeBeforeQuote(std::string_view text) {
    static constexpr std::array<std::string_view, 16> kQuoteStarts{
        "--- below this line is a copy of the message",
        "------ this is a copy of the message",
        "--- enclosed are the original headers",
        "-----original message-----",
        "----- original message -----",
        "--- original message follows",
        "original message follows",
        "------- returned message",
        "----- unsent message follows",
        "------ original message",
        "this is a copy of the headers",
        "the original message was received",
        "original message headers",
        "return-path:",
        "received: from",
        "------ forwarded message"};
    std::string_view rest = text;
    std::size_t offset = 0;
    while (!rest.empty()) {
        const std::size_t lineStart = offset;
        const std::string_view line = nextLine(rest);
        offset = text.size() - rest.size();
        const std::string lower = store::toLowerAscii(trimWhite(line));
        for (std::string_view start : kQuoteStarts) {
            if (lower.starts_with(start)) {
                return text.substr(0, lineStart);
            }
        }
    }
    return text;
}

std::vector<std::string> addressesInText(std::string_view text,
                                         const std::vector<std::string>& ignore) {
    std::vector<std::string> found;
    std::size_t at = text.find('@');
    while (at != std::string_view::npos) {
        std::size_t start = at;
        while (start > 0 && isAddressLocalChar(text[start - 1])) {
            --start;
        }
        std::size_t end = at + 1;
        while (end < text.size() && isDomainChar(text[end])) {
            ++end;
        }
        while (end > at + 1 && (text[end - 1] == '.' || text[end - 1] == '-')) {
            --end;
        }
        while (start < at && (text[start] == '.' || text[start] == '\'' || text[start] == '=')) {
            ++start;
        }
        // "SMTP=ann@example.org", "rfc822;ann@..." name the address with its type.
        const std::string_view typed = text.substr(start, at - start);
        for (std::string_view prefix : {"smtp=", "smtp:", "rfc822="}) {
            if (typed.size() > prefix.size() &&
                store::equalIgnoringCase(typed.substr(0, prefix.size()), prefix)) {
                start += prefix.size();
                break;
            }
        }
        const std::string_view local = text.substr(start, at - start);
        const std::string_view domain = text.substr(at + 1, end - at - 1);
        const std::size_t lastDot = domain.rfind('.');
        const bool inMessageId =
            start > 0 && text[start - 1] == '<' &&
            store::toLowerAscii(text.substr(start >= 14 ? start - 14 : 0, start >= 14 ? 14 : start))
                    .find("id:") != std::string::npos;
        if (!local.empty() && !onQuotedHeaderLine(text, start) &&
            lastDot != std::string_view::npos && lastDot > 0 && domain.size() - lastDot > 2 &&
            std::isalpha(static_cast<unsigned char>(domain[lastDot + 1])) != 0 && !inMessageId) {
            std::string address(text.substr(start, end - start));
            const auto same = [&address](const std::string& other) {
                return store::equalIgnoringCase(other, address);
            };
            if (!isSystemAddress(address) && std::none_of(found.begin(), found.end(), same) &&
                std::none_of(ignore.begin(), ignore.end(), same)) {
                found.push_back(std::move(address));
            }
        }
        at = text.find('@', std::max(end, at + 1));
    }
    return found;
}

std::string textAfterAddress(std::string_view text, std::string_view address) {
    const std::string lower = store::toLowerAscii(text);
    const std::size_t at = lower.find(store::toLowerAscii(address));
    if (at == std::string::npos) {
        return {};
    }
    const std::string lowerAddress = store::toLowerAscii(address);
    const std::size_t localSize = lowerAddress.find('@');
    std::size_t start = at + address.size();
    std::size_t end = std::min(text.size(), start + 600);
    // The next other address: the same one again ("RCPT TO:<ann@...>") is
    // still about this recipient.
    std::size_t nextAt = text.find('@', start);
    while (nextAt != std::string_view::npos && nextAt >= localSize &&
           lower.compare(nextAt - localSize, lowerAddress.size(), lowerAddress) == 0) {
        nextAt = text.find('@', nextAt + 1);
    }
    if (nextAt != std::string_view::npos && nextAt < end) {
        // Up to the line that holds the next address.
        const std::size_t lineStart = text.rfind('\n', nextAt);
        end = lineStart == std::string_view::npos || lineStart < start ? nextAt : lineStart;
    }
    std::string out;
    for (std::size_t i = start; i < end && out.size() < 200; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else if (c != '>' || !out.empty()) {
            out += c;
        }
    }
    while (!out.empty() && (out.front() == ':' || out.front() == ' ')) {
        out.erase(out.begin());
    }
    return std::string(trimWhite(out));
}

std::string bareMessageId(std::string_view text) {
    text = trimWhite(text);
    const std::size_t open = text.find('<');
    if (open != std::string_view::npos) {
        const std::size_t close = text.find('>', open);
        if (close != std::string_view::npos) {
            return std::string(trimWhite(text.substr(open + 1, close - open - 1)));
        }
    }
    const std::size_t space = text.find_first_of(" \t");
    return std::string(text.substr(0, space));
}

std::string quotedMessageId(std::string_view text) {
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::string_view line = trimWhite(nextLine(rest));
        if (line.size() > 11 && store::equalIgnoringCase(line.substr(0, 11), "message-id:")) {
            std::string id = bareMessageId(line.substr(11));
            if (id.empty() && !rest.empty()) {
                std::string_view next = rest;
                id = bareMessageId(nextLine(next));
            }
            if (id.find('@') != std::string::npos) {
                return id;
            }
        }
    }
    return {};
}

} // namespace velmora::delivery
