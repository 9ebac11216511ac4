#pragma once

#include "delivery/delivery_texts.h"
#include "delivery/message/message_draft.h"
#include "delivery/message/personal_fields.h"
#include "delivery/random_source.h"
#include "delivery/run/run_journal.h"
#include "delivery/run_observer.h"
#include "delivery/smtp/connection.h"
#include "platform/content_types.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/session.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

class AccessTokens;
class RelaySignIns;

// A fresh, unconnected connection for each SMTP session of a run.
using ConnectionFactory = std::function<std::unique_ptr<Connection>()>;
// TCP connections: what the program and the command-line tool use.
ConnectionFactory tcpConnections();

// What a run's sessions are built with besides the session and the draft.
struct SendRunEnvironment {
    const store::Clock& clock;                  // time-outs, the Date header, the contacts' stamp
    const platform::ContentTypes& contentTypes; // attachment types
    ConnectionFactory openConnection;
    // Our name for HELO/EHLO (localHostName()) unless the session's heloName
    // says otherwise; empty: the connection's local address.
    std::string hostName;
    // The Message-IDs and boundaries; empty: the system's random source.
    RandomBytes randomBytes = {};
    // Waits while a run has nothing to do (a back-off, the rate limit); a
    // real sleep when empty. Tests advance their clock instead.
    std::function<void(int milliseconds)> sleep = {};
    // The session's OAuth tokens, when it signs in with them (usesOAuth).
    AccessTokens* tokens = nullptr;
    // The tokens of the relays with a sign-in of their own (relay_pool.h).
    RelaySignIns* relaySignIns = nullptr;
};

// A run needs a server and a port (the Compose command refuses without them).
bool smtpServerConfigured(const store::SessionSettings& settings);
inline constexpr const char* kServerNotSetText =
    "You must enter a server address and port in the server settings window before you can "
    "compose and send emails.";

// Fills `session.sendList` with the recipients of the draft's
// `recipientChoice`, in slot order. `filteredRows` are the contact slots of
// the All Entries list as it is shown (used by FilteredResults only).
void gatherRecipients(store::Session& session, const MessageDraft& draft,
                      const std::vector<std::int32_t>& filteredRows);

struct SendRunSummary {
    std::int32_t recipients = 0; // entries of the send list (1 for a preview)
    std::int32_t delivered = 0;
    std::int32_t deferred = 0; // still deferred when the run ended
    std::int32_t rejected = 0;
    std::int32_t failed = 0;
    bool cancelled = false;
    // The run left its list before the end: cancelled, or a failure that
    // every following session would meet as well.
    bool stoppedEarly = false;
    std::string runId; // the run's journal ("" when it kept none)
};

// Recipients of the list that the run never tried.
std::int32_t notAttempted(const SendRunSummary& summary);
// "Delivered N, rejected M, failed K.", with ", deferred D" after the first
// count when some stayed deferred and ", not attempted L" before the full
// stop when the run stopped early: the last line of a list run's log.
std::string summaryText(const SendRunSummary& summary);

// What stops a run or preview before its first session, nothing being sent:
// an unknown personal field in the subject, body or an attachment path, an
// attachment that cannot be read to its end, a sender address whose domain
// cannot be written in ASCII. The first of problemsBeforeSending, then
// " Nothing was sent."
std::optional<std::string> checkBeforeSending(const MessageDraft& draft);
// All of them, each a sentence of its own. An attachment path with personal
// fields is left to personalAttachmentProblems.
std::vector<std::string> problemsBeforeSending(const MessageDraft& draft);

// An attachment path with personal fields ("invoices/{{company}}.pdf") for
// one recipient: the fields filled as plain text, an empty value replaced by
// its fallback. Nothing (and `problem` says why, when given) when a value
// holds "/" or is "." or "..": a field names a file, never another folder.
std::optional<std::string>
personalAttachmentPath(std::string_view path, const PersonalValues& values, std::string* problem);
// Every personal attachment of every recipient that cannot be read, as
// "For ADDRESS: Attachment "PATH" cannot be read - reason.", checked before
// anything is sent. `listRun` as in recipientMessage.
std::vector<std::string> personalAttachmentProblems(const store::Session& session,
                                                    const MessageDraft& draft,
                                                    const std::vector<PlannedRecipient>& recipients,
                                                    bool listRun);
// "N personal attachments cannot be read. Nothing was sent."
std::string missingPersonalAttachmentsText(std::size_t count);

// The contact a typed address belongs to: the lowest slot that is not
// Deleted with that address (trimmed, any case); 0 when none has it.
std::int32_t contactSlotWithAddress(const store::Session& session, std::string_view address);

// The values of the personal fields for a recipient: those of contact
// `slot` when there is one (the address as given), else only the address;
// the unsubscribe address from the settings.
PersonalValues recipientValues(const store::Session& session, std::int32_t slot,
                               std::string_view address);

// The List-Unsubscribe value of a send run's message to `recipient`:
// "<mailto:ADDRESS?subject=unsubscribe>" (ADDRESS the unsubscribeMailto
// setting, else the Reply-To setting, else the sender), after
// "<URL>, " when the unsubscribeUrl setting is set.
std::string listUnsubscribeValue(const store::Session& session, std::string_view senderAddress,
                                 std::string_view recipient);
// The List-Id of a send run's messages: the sender's address as a dotted
// name ("ann@example.org" gives "ann.example.org"), letters, digits and "-"
// kept; "" when the sender has no domain.
std::string listIdFor(std::string_view senderAddress);
// The unsubscribeUrl setting with "{{email}}" replaced by the recipient's
// percent-encoded address; "" when the setting is empty.
std::string unsubscribeUrlFor(const store::Session& session, std::string_view recipient);

// The message of `draft` to one recipient: the personal fields filled
// (HTML-escaped in an HTML body) and the text alternative as the settings say.
OutgoingMessage personalMessage(const store::Session& session, const MessageDraft& draft,
                                const PersonalValues& values);
// What a run sends to one recipient: the fields of contact `contactSlot`
// in a list run (of the contact with the address for a typed one), and in
// a list run the List-Id and List-Unsubscribe headers.
OutgoingMessage recipientMessage(const store::Session& session, const MessageDraft& draft,
                                 std::int32_t contactSlot, const std::string& address,
                                 bool listRun);

// The send run: gathers the recipients, then runDelivery checks the draft
// (checkBeforeSending) and delivers through RunConnection with the settings' server and login, up
// to messagesPerConnection messages over one connection. Each contact whose message was delivered
// is stamped as contacted today. A run to one typed address logs its dialogue; a list run logs each
// address and its result, and ends with the summary line. Cancel (through the observer), a time-out
// and a failure before the sender was named, a refused sender, 421 and 530 stop the run; a refusal
// of the recipient or the message, and a connection that cannot be made, fail that recipient only.
SendRunSummary sendToRecipients(store::Session& session, const MessageDraft& draft,
                                const std::vector<std::int32_t>& filteredRows,
                                const SendRunEnvironment& environment, RunObserver& observer);

// The address a preview goes to: the From field's address.
std::string previewRecipient(std::string_view fromText);
// Sends the message once to the sender's own address, logging the dialogue
// (sendSingle: a run of one). Stamps no contact and leaves the send list alone.
SendRunSummary sendPreview(const store::Session& session, const MessageDraft& draft,
                           const SendRunEnvironment& environment, RunObserver& observer);

// "[Test] " before the subject of a test send.
inline constexpr const char* kTestSubjectPrefix = "[Test] ";
std::string testSubject(std::string_view subject);
// The first entry of the send list ({} when it is empty): whose fields a
// test send carries unless another contact is chosen.
PlannedRecipient firstRecipientOf(const store::Session& session);
// A test send: the message contact `as` would get (its fields and list
// headers; a blank `as` gives the fields a typed `address` gets), once to
// `address`, "[Test] " before its subject, logging the dialogue. It stamps
// nobody, keeps no journal and checks as a run does first.
SendRunSummary sendTest(const store::Session& session, const MessageDraft& draft,
                        const PlannedRecipient& as, const std::string& address,
                        const SendRunEnvironment& environment, RunObserver& observer);

// The progress window's label texts.
std::string sendingLabel(std::int32_t index, std::int32_t count, std::string_view address);
std::string previewLabel(std::string_view address);
std::string testLabel(std::string_view address);

// The "Send Email" menu item's question; true when the user said Yes.
bool confirmSendEmail(platform::Prompter& prompter);

enum class PreviewCheck {
    Send,      // the user said Yes
    NeedsFrom, // the From field is blank: the user was told; focus the From field
    Declined,  // the user said No
};
// The "Send Preview" command's check of the From field and its question.
PreviewCheck confirmPreview(platform::Prompter& prompter, std::string_view fromText);

inline constexpr const char* kSendEmailQuestion =
    "Are you sure you want to send this message to the selected recipients now?";
inline constexpr const char* kPreviewNeedsFromText =
    "Please enter your email address in the 'From' field. A preview of this email will be sent "
    "to the sender address only.";
std::string previewQuestion(std::string_view fromText);

} // namespace velmora::delivery
