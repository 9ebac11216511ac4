#pragma once

#include "delivery/feedback/feedback_report.h"
#include "store/clock.h"
#include "store/session.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

// Turning returned mail into contact changes: hard bounces, complaints and
// unsubscribe requests set the contact to Do Not Contact; soft bounces are
// counted until softBounceLimit in a row. Every change goes into a ledger
// beside the session (SESSION.qmz.feedback/ledger.jsonl, JSON Lines) so that
// a wrong classification can be undone.
namespace velmora::delivery {

inline constexpr const char* kSoftBounceLimitKey = "softBounceLimit";

// "campaign.qmz" -> "campaign.qmz.feedback"
std::string feedbackFolder(const std::string& sessionPath);
std::string feedbackLedgerPath(const std::string& sessionPath);

struct ReturnedMessage {
    std::string source; // a file, "box.mbox:3", or a mailbox UID
    FeedbackReport report;
};

// One row of what was found and done.
struct FeedbackRow {
    std::string source;
    FeedbackKind kind = FeedbackKind::Other;
    std::string address;
    std::int32_t slot = -1; // the contact, -1 when none matched
    std::string reason;
    std::string action; // "Do Not Contact", "soft bounce 1 of 3", "already applied", ...
};

struct FeedbackOutcome {
    std::vector<FeedbackRow> rows;
    FeedbackCounts counts;
    std::int32_t contactsChanged = 0;
    std::vector<std::string> ledgerLines; // what apply writes (or would write)
    // Messages that name nobody but came back to a contact's return address.
    std::set<std::string> foundByReturnAddress;
};

// Works out and, unless `dryRun`, makes the changes in `session` (not saved).
// The caller writes `ledgerLines` with appendFeedbackLedger before saving.
FeedbackOutcome applyFeedback(store::Session& session, const std::string& sessionPath,
                              const std::vector<ReturnedMessage>& messages,
                              const store::LocalDateTime& now, bool dryRun);

// Appends lines to the ledger (folder created owner-only), synced.
bool appendFeedbackLedger(const std::string& sessionPath, const std::vector<std::string>& lines,
                          std::string& error);

// Writes the ledger lines of `outcome`, then saves the session with `save`
// (true when it saved); a change the ledger holds but the session does not
// is withdrawn from the ledger again. False with `error` in the user's words.
// Only after it returned true may the mailbox be changed.
bool recordFeedbackChanges(const std::string& sessionPath, const FeedbackOutcome& outcome,
                           const std::function<bool()>& save, const store::LocalDateTime& now,
                           std::string& error);
// For a session that stays open after a failed save (the desktop): applies
// `messages`, records them and saves with `save`; when that fails, the
// contacts are put back as they were, so that the open session holds no
// change the ledger does not. `outcome` says what was (or would have been) done.
bool applyAndRecordFeedback(store::Session& session, const std::string& sessionPath,
                            const std::vector<ReturnedMessage>& messages,
                            const store::LocalDateTime& now, const std::function<bool()>& save,
                            FeedbackOutcome& outcome, std::string& error);
inline constexpr const char* kFeedbackNotSavedText =
    "The session was not saved, so nothing was changed in it or in the mailbox.";

// How many lines the ledger holds (entries are named by their line).
std::int64_t feedbackLedgerLineCount(const std::string& sessionPath);
// Undo lines for `count` entries from line `first` on: for changes the
// session could not save after the ledger held them.
std::vector<std::string> withdrawnLedgerLines(std::int64_t first, std::size_t count,
                                              const store::LocalDateTime& now);

struct UndoOutcome {
    std::int32_t contactsRestored = 0;
    std::int32_t entriesUndone = 0;
    std::vector<std::string> ledgerLines;
};
// Undoes the ledger's changes made on or after `sinceDate` ("YYYY-MM-DD",
// empty: all), newest first. A contact changed again since keeps its status.
UndoOutcome undoFeedback(store::Session& session, const std::string& sessionPath,
                         const std::string& sinceDate, const store::LocalDateTime& now);

// The note lines: "Bounced 12/07/2026: 5.1.1 user unknown", "Complained 12/07/2026".
std::string bouncedNote(const std::string& date, const std::string& reason);
std::string complainedNote(const std::string& date);

} // namespace velmora::delivery
