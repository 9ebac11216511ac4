#pragma once

#include "delivery/feedback/feedback_apply.h"
#include "delivery/feedback/feedback_report.h"
#include "delivery/feedback/imap_mailbox.h"
#include "store/records.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

// Reading returned mail from the feedback mailbox: what is found is
// classified and applied like files given to `feedback apply`; only after
// the session with its changes is saved are the handled messages moved to
// feedbackDoneFolder, or marked as seen when it is empty.
namespace velmora::delivery {

inline constexpr const char* kFeedbackServerKey = "feedbackServer";
inline constexpr const char* kFeedbackPortKey = "feedbackPort";
inline constexpr const char* kFeedbackSecurityKey = "feedbackSecurity";
inline constexpr const char* kFeedbackLoginKey = "feedbackLogin";
inline constexpr const char* kFeedbackFolderKey = "feedbackFolder";
inline constexpr const char* kFeedbackDoneFolderKey = "feedbackDoneFolder";

inline constexpr const char* kFeedbackServerNotSetText =
    "No feedback mailbox is set: give its server in feedbackServer.";

struct FeedbackMailbox {
    std::string server;
    int port = 0;
    MailSecurity security = MailSecurity::Tls;
    std::string login;      // feedbackLogin, else the SMTP login
    std::string folder;     // feedbackFolder, "INBOX" when empty
    std::string doneFolder; // empty: handled messages are only marked as seen
};
FeedbackMailbox feedbackMailbox(const store::SessionSettings& settings);
// The account to sign in with: the session's SMTP password, or `bearer`
// (an OAuth2 access token) when one is given; the trust store from the
// environment.
ImapAccount feedbackAccount(const store::SessionSettings& settings, const std::string& bearer);

// The session's part in classifying: mail to the address its
// List-Unsubscribe names (unsubscribeMailto) asks to unsubscribe.
ClassifyOptions feedbackClassifyOptions(const store::SessionSettings& settings);

// Whether a message was understood: an auto-reply, or a report that names
// whom it is about. Only these are moved or marked; the rest stay for a
// person to read.
bool understood(const FeedbackReport& report);

struct FetchedMessage {
    std::uint64_t uid = 0;
    ReturnedMessage message;
};

struct MailboxFetch {
    MailboxResult result;
    std::vector<FetchedMessage> messages;
    // Messages that did not arrive whole: left as they are.
    std::vector<std::uint64_t> unreadable;
};

// Opens the folder and reads every message not yet handled, without
// marking any. `progress(done, total)` after each message.
MailboxFetch fetchReturnedMail(ImapMailbox& mailbox, const FeedbackMailbox& box,
                               const ClassifyOptions& options,
                               const std::function<void(std::size_t, std::size_t)>& progress = {});

// Moves (or marks) the understood messages of `fetched`, and those whose
// source is in `alsoHandled` (found by their return address); `handled`
// says how many. Call only after the session holding their changes is saved.
MailboxResult markHandled(ImapMailbox& mailbox, const FeedbackMailbox& box,
                          const std::vector<FetchedMessage>& fetched, std::size_t& handled,
                          const std::set<std::string>& alsoHandled = {});

// "Read 4 messages from "INBOX"." and how many did not arrive whole.
std::string fetchedText(const FeedbackMailbox& box, const MailboxFetch& fetched);
inline constexpr const char* kFeedbackSessionReplacedText =
    "Another session was opened since the fetch: fetch again to apply to this one.";
inline constexpr const char* kFeedbackNeedsSessionFileText =
    "Save the session first: what returned mail changes is recorded beside its file.";

// "Moved 3 messages to "Done"." or "Marked 3 messages as seen."
std::string handledText(const FeedbackMailbox& box, std::size_t handled);
// The handled messages' changes were saved, but the mailbox was not changed.
std::string notMarkedText(const MailboxResult& result);

} // namespace velmora::delivery
