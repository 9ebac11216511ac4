#pragma once

#include "delivery/run/run_journal.h"
#include "delivery/run/run_pacing.h"
#include "delivery/run/send_run.h"
#include "delivery/smtp/smtp_dialogue.h"
#include "store/extension_settings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velmora::delivery {

// The pace and retry settings of a run (the session's extension settings).
struct RunPolicy {
    std::int64_t deferredRetries = 3;
    std::int64_t ratePerMinute = 0;
    std::int64_t ratePerHour = 0;
    std::int64_t maxPauseMinutes = 30;
    std::int64_t messagesPerConnection = 1;
    // Connections delivering at once, under the one limiter of the run.
    std::int64_t connections = 1;
};
inline constexpr std::int64_t kMaxConnections = 20;
RunPolicy runPolicy(const store::ExtensionSettings& extensions);

// What a run makes of one session's outcome.
enum class Verdict {
    Delivered,
    Deferred,        // 4xx about this recipient or message: try again later
    Rejected,        // 5xx about this recipient or message
    FailedRecipient, // no connection could be made: this recipient failed, the run goes on
    SlowDown,        // 421, or 451/454 that say "too many" or "rate": pause the run
    StopRun,         // a failure every following session would meet as well
    Cancelled,
};
Verdict classifyOutcome(const SmtpOutcome& outcome);
// A 4xx text that asks to slow down ("too many ...", "rate limit ...").
bool asksToSlowDown(std::string_view replyText);

// Whom a run sends to and where it keeps its journal.
struct DeliveryPlan {
    std::vector<PlannedRecipient> recipients;
    // Per recipient: the final outcome an earlier part of this run recorded
    // (a resumed run sends only to those without one).
    std::vector<std::optional<DeliveryOutcome>> settled;
    std::string journalFolder; // a new journal goes here; "" : the run keeps none
    RunHeader header;
    std::string resumeJournal; // a resumed run appends to this journal instead
    // A retry that takes over every recipient its run had left closes that
    // run's journal (so it is not offered for resuming) once its own is written.
    std::string closesJournal;
    bool forced = false;              // a resume that sends a changed draft
    std::int32_t lastStampNumber = 0; // a resumed run numbers its stamps on from here
    bool logDialogue = false;         // a run to one typed address logs its dialogue
    // Called once every outcome is on disk and the session holds its stamps,
    // before the journal says the run ended: the command-line tool saves the
    // session here, so that a run marked ended always has its stamps saved.
    std::function<void()> beforeEnd = {};
};

// The plan of a new run over `session.sendList` (gatherRecipients filled
// it), journaled beside the session's file unless it was never saved.
DeliveryPlan newRunPlan(const store::Session& session, const MessageDraft& draft,
                        const std::string& draftPath);

// The recipients of `run` whose outcome is in `outcomes` (nothing in the
// set: not attempted), as a new run that retries it; never one a later run
// delivered to (`run` as findLinkedRun reads it).
DeliveryPlan retryPlan(const store::Session& session, const RunRecord& run,
                       const MessageDraft& draft,
                       const std::set<std::optional<DeliveryOutcome>>& outcomes,
                       const std::string& draftPath);

enum class ResumeCheck {
    Ready,
    DraftChanged, // the draft's content is not what the run sent: refuse unless forced
};
// Continues `run`: the recipients without a final outcome that no later run
// delivered to (`run` as newestUnfinishedRun reads it). The stamps the
// journal holds for deliveries but that never reached a saved session are
// applied to `session` now (the contact at that slot still has the address).
ResumeCheck resumePlan(store::Session& session, const RunRecord& run, const MessageDraft& draft,
                       bool force, DeliveryPlan& plan);

// Marks the session as holding `runId`'s stamps up to `stampNumber` (see
// kRunStampsKey): saved with them, in the same write.
void noteStampsSaved(store::Session& session, const std::string& runId, std::int32_t stampNumber);

inline constexpr const char* kDraftChangedText =
    "The draft changed since the interrupted run started; it was not resumed. Use --force to "
    "send the changed draft to the recipients left.";

inline constexpr const char* kDraftChangedForWindowText =
    "The draft or its attachments changed since the interrupted run started; it was not "
    "resumed.";

// The newest interrupted run of the session (none for an untitled session).
std::optional<RunRecord> interruptedRun(const store::Session& session);
// Reads the draft the run sends (its file, or the copy it kept), in the
// run's format. False with `error`, for the user, when it cannot.
bool loadRunDraft(const RunRecord& run, MessageDraft& draft, std::string& error);
// loadRunDraft, then resumePlan; the window's way to resume.
bool prepareResume(store::Session& session, const RunRecord& run, MessageDraft& draft,
                   DeliveryPlan& plan, std::string& error);

// "A sending of \"SUBJECT\" was interrupted after N of M recipients. Resume it now?"
std::string resumeQuestion(const RunRecord& run);

// The progress label at the end: "Finished.", or for a run that stopped
// early "Stopped early: N of M recipients not attempted."
std::string runEndLabel(const SendRunSummary& summary);
// The counts of a run under way: the final outcomes so far (`settled`) and
// `waiting` recipients deferred until a later try; the others are not
// attempted (yet). No count is ever negative.
RunTally runTally(const SendRunSummary& settled, std::int32_t waiting);
// "Delivered 3, deferred 1, rejected 0, failed 0, not attempted 12"
std::string tallyText(const RunTally& tally);
// "Pace: 42.0 per minute, about 3 min left." ("" before a pace is known)
std::string paceText(const RunTally& tally);

// Sends again, as a new run, to the recipients of run `runId` of this
// session that did not get the message (deferred, failed, not attempted).
SendRunSummary retryNotDelivered(store::Session& session, const MessageDraft& draft,
                                 const std::string& runId, const SendRunEnvironment& environment,
                                 RunObserver& observer);

// The run: each recipient in turn, deferred ones again after their
// back-off, at the pace the limiter allows, pausing when the server asks
// to slow down, each outcome in the journal before the run goes on.
SendRunSummary runDelivery(store::Session& session, const MessageDraft& draft,
                           const DeliveryPlan& plan, const SendRunEnvironment& environment,
                           RunObserver& observer);

// A preview or a test send: one message, its dialogue logged, under a label
// of its own. It goes through the run above, checks and outcomes alike, but
// keeps no journal, stamps nobody, tries a deferral once only and does not
// wait out a server's request to slow down (that ends it as a failure).
struct SingleSend {
    std::string label;          // the progress label while it goes out
    std::string addressProblem; // why it cannot go to its address ("": it can)
    // Whose fields it carries: a contact's (and its list headers) when
    // `listFields`, else those a typed address gets.
    PlannedRecipient fields;
    bool listFields = false;
    // Changes to that recipient's message (another address, a subject prefix).
    std::function<void(OutgoingMessage&)> adjust = {};
};
SendRunSummary sendSingle(const store::Session& session, const MessageDraft& draft,
                          const SingleSend& single, const SendRunEnvironment& environment,
                          RunObserver& observer);

} // namespace velmora::delivery
