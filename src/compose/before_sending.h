#pragma once

#include "delivery/message/message_draft.h"
#include "delivery/message/spam_score.h"
#include "delivery/run/send_run.h"
#include "store/clock.h"
#include "store/session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::compose {

// The compose window's "Check Message" and "Send Test..." commands: the
// window reads its controls and shows what these return.

inline constexpr const char* kCheckMessageTitle = "Check Message";
inline constexpr const char* kSendTestTitle = "Send Test";

// The report of the check over the recipients the "To" list chooses
// (`filteredRows` for the filtered list), the spam score from `spamFilter`:
// the lines `mailtray check` prints. Fills the session's send list.
std::vector<std::string> checkMessageReport(store::Session& session,
                                            const delivery::MessageDraft& draft,
                                            const std::vector<std::int32_t>& filteredRows,
                                            const delivery::SendRunEnvironment& environment,
                                            const delivery::SpamFilter& spamFilter);

// Whose fields a test send carries: the first recipient the "To" list
// chooses ({} when it chooses nobody).
delivery::PlannedRecipient testSendContact(store::Session& session,
                                           const delivery::MessageDraft& draft,
                                           const std::vector<std::int32_t>& filteredRows);

// The question for the address: "Send a test of this message, as
// ADDRESS will get it, to:" ("Send a test of this message to:" for nobody).
std::string sendTestPrompt(const delivery::PlannedRecipient& as);

// "Send Later...": the run `mailtray send --recipients ... --at` schedules,
// for the message the window holds.
inline constexpr const char* kSendLaterTitle = "Send Later";
inline constexpr const char* kSendLaterPrompt =
    "Send this message at (local time, YYYY-MM-DD HH:MM):";
inline constexpr const char* kSaveBeforeSendLaterText =
    "Save the session first: the send reads the session from its file when its time comes.";
// Said with every send scheduled from the desktop, which holds the session's lock while open.
inline constexpr const char* kCloseSessionBeforeSendLaterText =
    "When its time comes, the send needs the session file to itself: close the session in "
    "this program by then, or the send will not start.";
inline constexpr const char* kFilteredCannotWaitText =
    "\"Filtered Results\" cannot be sent later: they are the main window's filter of this moment. "
    "Choose a list or a single recipient in \"To\".";

// The start of the next hour after `now`: what the question offers first.
std::string suggestedSendLaterTime(const store::LocalDateTime& now);

// The --recipients value of the draft's "To" choice; nothing for the filtered results.
std::optional<std::string> recipientsOptionFor(const delivery::MessageDraft& draft);

struct SendLaterRequest {
    std::string atText;  // as the user typed it
    std::string program; // the command-line tool the timer starts
    std::string folder;  // where scheduled sends are kept
    store::LocalDateTime now;
    std::string randomHex; // four hex digits for the id
};
struct SendLaterResult {
    bool scheduled = false;
    std::string message; // scheduledText, or why nothing was scheduled
};
// Keeps a copy of the draft beside the schedule (the timer reads it, and
// refuses it when it changed) and hands the send to systemd-run. The
// session must be saved: the timer reads its file.
SendLaterResult sendLater(const store::Session& session, const delivery::MessageDraft& draft,
                          const SendLaterRequest& request);

} // namespace velmora::compose
