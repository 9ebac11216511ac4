#include "delivery/feedback/imap_mailbox.h"

#include "delivery/oauth/pkce.h"
#include "store/untrusted_text.h"

#include <algorithm>
#include <curl/curl.h>

namespace velmora::delivery {

namespace {

// No returned message is this big; a server that sends more is cut off.
constexpr std::size_t kMaxResponse = std::size_t{64} << 20;
// UIDs per MOVE or STORE command, so that no command line grows without bound.
constexpr std::size_t kUidsPerCommand = 500;

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

void* newHandle() {
    static const CurlGlobal global;
    return curl_easy_init();
}

void freeHandle(void* handle) {
    if (handle != nullptr) {
        curl_easy_cleanup(static_cast<CURL*>(handle));
    }
}

// Every line the server sends reaches libcurl's header callback, message
// literals included; the body callback sees only some untagged lines.
std::size_t collectLines(char* data, std::size_t size, std::size_t count, void* into) {
    auto* lines = static_cast<std::string*>(into);
    const std::size_t n = size * count;
    if (lines->size() + n > kMaxResponse) {
        return 0;
    }
    lines->append(data, n);
    return n;
}

std::size_t ignoreBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

int askCancelled(void* account, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* a = static_cast<const ImapAccount*>(account);
    return a->cancelled && a->cancelled() ? 1 : 0;
}

} // namespace

MailSecurity mailSecurityNamed(const std::string& name) {
    if (name == "starttls") {
        return MailSecurity::StartTls;
    }
    return name == "none" ? MailSecurity::None : MailSecurity::Tls;
}

int defaultImapPort(MailSecurity security) {
    return security == MailSecurity::Tls ? 993 : 143;
}

ImapMailbox::ImapMailbox(ImapAccount account)
    : account_(std::move(account)), curl_(newHandle(), freeHandle) {
    if (account_.port <= 0) {
        account_.port = defaultImapPort(account_.security);
    }
}

ImapMailbox::~ImapMailbox() = default;

std::string ImapMailbox::baseUrl() const {
    const std::string scheme = account_.security == MailSecurity::Tls ? "imaps://" : "imap://";
    // A literal IPv6 address goes in brackets.
    const bool ipv6 = account_.server.find(':') != std::string::npos;
    return scheme + (ipv6 ? "[" + account_.server + "]" : account_.server) + ":" +
           std::to_string(account_.port) + "/";
}

void ImapMailbox::renewConnection() {
    // A response that did not end where it should have leaves the
    // connection out of step: the next command starts on a fresh one.
    curl_.reset(newHandle());
}

MailboxResult ImapMailbox::command(const std::string& request, bool inFolder) {
    auto* c = static_cast<CURL*>(curl_.get());
    if (c == nullptr) {
        return {MailboxProblem::Unreachable, "The transfer library could not start."};
    }
    lines_.clear();
    char errorText[CURL_ERROR_SIZE] = {};
    const std::string url = baseUrl() + (inFolder ? urlEncoded(imapFolderName(folder_)) : "");
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.c_str());
    curl_easy_setopt(c, CURLOPT_USE_SSL,
                     account_.security == MailSecurity::StartTls
                         ? static_cast<long>(CURLUSESSL_ALL)
                         : static_cast<long>(CURLUSESSL_NONE));
    curl_easy_setopt(c, CURLOPT_USERNAME, account_.login.c_str());
    if (account_.bearer.empty()) {
        curl_easy_setopt(c, CURLOPT_PASSWORD, account_.password.c_str());
    } else {
        curl_easy_setopt(c, CURLOPT_XOAUTH2_BEARER, account_.bearer.c_str());
    }
    if (!account_.caFile.empty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, account_.caFile.c_str());
    }
    if (!account_.caPath.empty()) {
        curl_easy_setopt(c, CURLOPT_CAPATH, account_.caPath.c_str());
    }
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, collectLines);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &lines_);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, ignoreBody);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 512L * 1024L); // long lines stay whole
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, account_.timeoutSeconds);
    // A server that stops sending for the time-out counts as gone.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, account_.timeoutSeconds);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, askCancelled);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &account_);
    const CURLcode code = curl_easy_perform(c);
    errorText_ = *errorText != '\0' ? errorText : curl_easy_strerror(code);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
    if (code == CURLE_OK) {
        return {};
    }
    return problemOf(code, request, inFolder);
}

MailboxResult ImapMailbox::problemOf(int code, const std::string& request, bool inFolder) const {
    const std::string where = "the mail server " + store::printableText(account_.server) +
                              " (port " + std::to_string(account_.port) + ")";
    const std::string why = store::printableText(errorText_);
    switch (static_cast<CURLcode>(code)) {
    case CURLE_ABORTED_BY_CALLBACK:
        return {MailboxProblem::Cancelled, "Cancelled."};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return {MailboxProblem::Unreachable, "Cannot reach " + where + ": " + why + "."};
    case CURLE_OPERATION_TIMEDOUT:
        if (!signedIn_) {
            return {MailboxProblem::Unreachable, "Cannot reach " + where + ": " + why + "."};
        }
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return {MailboxProblem::Tls, "The secure connection to " + where + " failed: " + why + "."};
    case CURLE_LOGIN_DENIED:
        // After the sign-in went through once, a refusal is the folder's.
        if (inFolder && signedIn_) {
            return {MailboxProblem::NoFolder, "The folder \"" + store::printableText(folder_) +
                                                  "\" cannot be opened on " + where +
                                                  ": it does not exist or cannot be read."};
        }
        return {MailboxProblem::LoginRefused,
                "The mail server refused the login for " + store::printableText(account_.login) +
                    ": check feedbackLogin and the password (or the OAuth sign-in)."};
    case CURLE_QUOTE_ERROR: {
        std::string answer = store::printableText(lastRefusal(lines_));
        if (answer.ends_with('.')) {
            answer.pop_back();
        }
        return {MailboxProblem::Refused,
                "The mail server refused \"" + request + "\": " + answer + "."};
    }
    case CURLE_WRITE_ERROR:
        return {MailboxProblem::Unreadable,
                "The mail server sent more than a message can hold; nothing was read."};
    default:
        break;
    }
    return {MailboxProblem::Lost, "The connection to " + where + " was lost: " + why + "."};
}

MailboxResult ImapMailbox::open(const std::string& folder) {
    folder_ = folder;
    signedIn_ = false;
    MailboxResult result = command("CAPABILITY", false);
    if (!result.ok()) {
        return result;
    }
    signedIn_ = true;
    capabilities_ = capabilitiesIn(lines_);
    return command("NOOP", true);
}

MailboxResult ImapMailbox::search(const std::string& criteria, std::vector<std::uint64_t>& uids) {
    uids.clear();
    MailboxResult result = command("UID SEARCH " + criteria, true);
    if (!result.ok()) {
        return result;
    }
    uids = searchedUids(lines_);
    return result;
}

MailboxResult ImapMailbox::fetch(std::uint64_t uid, std::string& bytes) {
    bytes.clear();
    MailboxResult result = command("UID FETCH " + std::to_string(uid) + " BODY.PEEK[]", true);
    if (!result.ok()) {
        return result;
    }
    if (!fetchedLiteral(lines_, bytes)) {
        renewConnection();
        return {MailboxProblem::Unreadable,
                "The message with UID " + std::to_string(uid) + " did not arrive whole."};
    }
    return result;
}

MailboxResult ImapMailbox::moveTo(const std::vector<std::uint64_t>& uids,
                                  const std::string& folder) {
    const bool canMove = capabilities_.contains("move");
    const std::string target = imapQuoted(imapFolderName(folder));
    for (std::size_t from = 0; from < uids.size(); from += kUidsPerCommand) {
        const std::vector<std::uint64_t> part(
            uids.begin() + static_cast<std::ptrdiff_t>(from),
            uids.begin() +
                static_cast<std::ptrdiff_t>(std::min(uids.size(), from + kUidsPerCommand)));
        const std::string set = uidSet(part);
        const std::string first = (canMove ? "UID MOVE " : "UID COPY ") + set + " " + target;
        MailboxResult result = command(first, true);
        if (result.problem == MailboxProblem::Refused &&
            lastRefusal(lines_).find("[TRYCREATE]") != std::string::npos) {
            if (MailboxResult created = command("CREATE " + target, true); !created.ok()) {
                return created;
            }
            result = command(first, true);
        }
        if (!result.ok() || canMove) {
            if (!result.ok()) {
                return result;
            }
            continue;
        }
        // Only these messages are expunged where the server can say so;
        // a plain EXPUNGE would also remove what the user marked deleted.
        result = command("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)", true);
        if (result.ok()) {
            result =
                command(capabilities_.contains("uidplus") ? "UID EXPUNGE " + set : "EXPUNGE", true);
        }
        if (!result.ok()) {
            return result;
        }
    }
    return {};
}

MailboxResult ImapMailbox::markSeen(const std::vector<std::uint64_t>& uids) {
    for (std::size_t from = 0; from < uids.size(); from += kUidsPerCommand) {
        const std::vector<std::uint64_t> part(
            uids.begin() + static_cast<std::ptrdiff_t>(from),
            uids.begin() +
                static_cast<std::ptrdiff_t>(std::min(uids.size(), from + kUidsPerCommand)));
        MailboxResult result =
            command("UID STORE " + uidSet(part) + " +FLAGS.SILENT (\\Seen)", true);
        if (!result.ok()) {
            return result;
        }
    }
    return {};
}

} // namespace velmora::delivery
