#pragma once

#include "delivery/message/message_builder.h"
#include "delivery/message/spam_score.h"
#include "delivery/run/run_journal.h"
#include "delivery/run/send_run.h"
#include "store/session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::delivery {

// How much a finding of the check weighs: an error stops a send (nothing
// goes out), a warning is shown and the send goes on, a note only informs.
enum class CheckLevel { Error, Warning, Note };

struct CheckFinding {
    CheckLevel level = CheckLevel::Warning;
    // What was checked, for scripts: "blocked", "personalAttachment",
    // "listUnsubscribe", "senderDomain", "misleadingLink", "httpLink",
    // "imageWithoutAlt", "size", "relaySize", "missingField", "doNotContact",
    // "refusedAddress", "duplicate", "noRecipients".
    std::string kind;
    std::string text;
    friend bool operator==(const CheckFinding&, const CheckFinding&) = default;
};

// What the check asks besides the session and the draft.
struct MessageCheckRequest {
    std::vector<PlannedRecipient> recipients;
    // A list run (each recipient a contact of the list, with List-Id and
    // List-Unsubscribe) rather than one typed address.
    bool listRun = true;
    // The relay's announced SIZE, when known (see announcedSizeLimit).
    std::optional<std::uint64_t> relaySizeLimit;
    // Scores the first recipient's message; empty: no spam score (the send
    // commands, which would wait seconds for it).
    SpamFilter spamFilter;
};

struct MessageCheck {
    std::vector<CheckFinding> findings;
    std::optional<SpamScore> spam; // when a spam filter was given
    // The first recipient's message as built ("" when it could not be).
    std::string firstRecipient;
    std::uint64_t messageBytes = 0;
    bool hasErrors() const;
};

// A message bigger than this is refused or cut by many providers.
inline constexpr std::uint64_t kLargeMessageBytes = 10ull * 1024 * 1024;
// The contacts named in a finding about many of them.
inline constexpr std::size_t kContactsNamed = 3;

// Checks the message and its recipients before a send: the errors of
// problemsBeforeSending and personalAttachmentProblems, and as warnings the
// list headers, the sender's domain against the relay login's, misleading
// and "http:" links, images without alternative text, the size against
// kLargeMessageBytes and the relay's limit, fields some recipients lack,
// recipients with the status Do Not Contact or an address no server takes,
// and addresses that come twice. The message is built for the first
// recipient (the sender's own address when there is none) as a run builds it.
MessageCheck checkMessage(const store::Session& session, const MessageDraft& draft,
                          const MessageCheckRequest& request,
                          const MessageEnvironment& environment);

// The report as lines: the spam score first (when asked for), then errors,
// warnings and notes, each with its level ("Error: ", "Warning: ",
// "Note: "); "No problems found." when there are no errors or warnings.
std::vector<std::string> messageCheckLines(const MessageCheck& check);
// The warnings alone, as the send commands show them first (the errors are
// the run's to report: it stops on them in the same words).
std::vector<std::string> checkWarningLines(const MessageCheck& check);

// The recipients a send of `draft` addresses (its recipient choice;
// `filteredRows` for the filtered list), as a run takes them from the send
// list, which this fills.
std::vector<PlannedRecipient> chosenRecipients(store::Session& session, const MessageDraft& draft,
                                               const std::vector<std::int32_t>& filteredRows);
// The warning lines of the check over those recipients, without a spam
// score: what the progress window logs before a run starts.
std::vector<std::string> runWarnings(store::Session& session, const MessageDraft& draft,
                                     const std::vector<std::int32_t>& filteredRows,
                                     const SendRunEnvironment& environment);

// The SIZE limit an EHLO reply announced ("SIZE 35882577"); nothing for no
// SIZE keyword or "SIZE" without a number or with 0 (no fixed limit).
std::optional<std::uint64_t> announcedSizeLimit(const std::vector<std::string>& capabilities);

} // namespace velmora::delivery
