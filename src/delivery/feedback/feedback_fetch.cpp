#include "delivery/feedback/feedback_fetch.h"

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/oauth/token_client.h"
#include "store/text.h"
#include "store/untrusted_text.h"

namespace velmora::delivery {

namespace {

constexpr long kDefaultTimeoutSeconds = 30;

} // namespace

FeedbackMailbox feedbackMailbox(const store::SessionSettings& settings) {
    const store::ExtensionSettings& extensions = settings.extensions;
    FeedbackMailbox box;
    box.server = std::string(store::trimSpaces(extensions.value(kFeedbackServerKey)));
    box.security = mailSecurityNamed(extensions.value(kFeedbackSecurityKey));
    box.port = static_cast<int>(extensions.integer(kFeedbackPortKey));
    if (box.port <= 0) {
        box.port = defaultImapPort(box.security);
    }
    box.login = extensions.value(kFeedbackLoginKey);
    if (box.login.empty()) {
        box.login = usesOAuth(settings) ? oauthLogin(settings) : settings.userName;
    }
    box.folder = extensions.value(kFeedbackFolderKey);
    if (box.folder.empty()) {
        box.folder = "INBOX";
    }
    box.doneFolder = extensions.value(kFeedbackDoneFolderKey);
    return box;
}

ImapAccount feedbackAccount(const store::SessionSettings& settings, const std::string& bearer) {
    const FeedbackMailbox box = feedbackMailbox(settings);
    const HttpsOptions trust = httpsOptionsFromEnvironment();
    ImapAccount account;
    account.server = box.server;
    account.port = box.port;
    account.security = box.security;
    account.login = box.login;
    account.password = settings.password;
    account.bearer = bearer;
    account.caFile = trust.caFile;
    account.caPath = trust.caPath;
    account.timeoutSeconds =
        settings.timeoutSeconds > 0 ? settings.timeoutSeconds : kDefaultTimeoutSeconds;
    return account;
}

ClassifyOptions feedbackClassifyOptions(const store::SessionSettings& settings) {
    std::string address(store::trimSpaces(settings.extensions.value("unsubscribeMailto")));
    if (address.starts_with("mailto:")) {
        address.erase(0, 7);
    }
    return {address.substr(0, address.find('?'))};
}

bool understood(const FeedbackReport& report) {
    return report.kind == FeedbackKind::AutoReply ||
           (report.kind != FeedbackKind::Other && !report.recipients.empty());
}

MailboxFetch fetchReturnedMail(ImapMailbox& mailbox, const FeedbackMailbox& box,
                               const ClassifyOptions& options,
                               const std::function<void(std::size_t, std::size_t)>& progress) {
    MailboxFetch fetch;
    fetch.result = mailbox.open(box.folder);
    if (!fetch.result.ok()) {
        return fetch;
    }
    // Handled messages leave the folder or are marked as seen; what a
    // person is left to read stays unread.
    std::vector<std::uint64_t> uids;
    fetch.result = mailbox.search(box.doneFolder.empty() ? "UNSEEN UNDELETED" : "UNDELETED", uids);
    if (!fetch.result.ok()) {
        return fetch;
    }
    for (std::size_t i = 0; i < uids.size(); ++i) {
        std::string bytes;
        const MailboxResult read = mailbox.fetch(uids[i], bytes);
        if (read.problem == MailboxProblem::Unreadable) {
            fetch.unreadable.push_back(uids[i]);
        } else if (!read.ok()) {
            fetch.result = read;
            return fetch;
        } else {
            fetch.messages.push_back(FetchedMessage{
                uids[i], ReturnedMessage{box.folder + ";UID=" + std::to_string(uids[i]),
                                         classifyMessage(bytes, options)}});
        }
        if (progress) {
            progress(i + 1, uids.size());
        }
    }
    return fetch;
}

MailboxResult markHandled(ImapMailbox& mailbox, const FeedbackMailbox& box,
                          const std::vector<FetchedMessage>& fetched, std::size_t& handled,
                          const std::set<std::string>& alsoHandled) {
    handled = 0;
    std::vector<std::uint64_t> uids;
    for (const FetchedMessage& message : fetched) {
        if (understood(message.message.report) || alsoHandled.contains(message.message.source)) {
            uids.push_back(message.uid);
        }
    }
    if (uids.empty()) {
        return {};
    }
    MailboxResult result =
        box.doneFolder.empty() ? mailbox.markSeen(uids) : mailbox.moveTo(uids, box.doneFolder);
    if (result.ok()) {
        handled = uids.size();
    }
    return result;
}

std::string fetchedText(const FeedbackMailbox& box, const MailboxFetch& fetched) {
    std::string line = "Read " + std::to_string(fetched.messages.size()) + " messages from \"" +
                       store::printableText(box.folder) + "\".";
    if (!fetched.unreadable.empty()) {
        line += " " + std::to_string(fetched.unreadable.size()) +
                " did not arrive whole and were left as they are.";
    }
    return line;
}

std::string handledText(const FeedbackMailbox& box, std::size_t handled) {
    const std::string messages =
        std::to_string(handled) + (handled == 1 ? " message" : " messages");
    if (box.doneFolder.empty()) {
        return "Marked " + messages + " as seen.";
    }
    return "Moved " + messages + " to \"" + store::printableText(box.doneFolder) + "\".";
}

std::string notMarkedText(const MailboxResult& result) {
    return "The changes were saved, but the handled messages stay as they were in the mailbox: " +
           result.reason + " The next fetch reads them again and applies nothing twice.";
}

} // namespace velmora::delivery
