#pragma once

#include "delivery/message/message_draft.h"
#include "store/clock.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// The delivery ledger: every send run writes one journal, a JSON Lines file
// in a folder beside the session, so that a crash, a cancelled run or a
// deferral can be resumed or retried without mailing anyone twice. It holds
// the run's header, its planned recipients and each attempt's outcome; it
// never holds the password.

// What one attempt at one recipient came to.
enum class DeliveryOutcome {
    Delivered,
    Deferred, // a 4xx: to be tried again later
    Rejected, // a 5xx
    Failed,   // no answer about this recipient: no connection, lost, a session-wide refusal
    Cancelled,
};
std::string_view outcomeName(DeliveryOutcome outcome); // "delivered", ...
std::optional<DeliveryOutcome> outcomeNamed(std::string_view name);

struct JournalAttempt {
    DeliveryOutcome outcome = DeliveryOutcome::Failed;
    std::string code; // the deciding reply's code, "" without one
    std::string text; // its text (safe to show), or the reason
    std::string at;   // local time with its offset, "2026-12-07T09:30:00+01:00"
    // The recipient needs no further attempt in this run (a resumed run
    // skips it). Deferred with retries left, a cancelled attempt and a
    // failure that stopped the run are not final.
    bool final = false;
    std::string stamp;            // delivered to a contact: the "%mm/%dd/%yyyy" it was stamped with
    std::int32_t stampNumber = 0; // 1, 2, ... for the run's stamps in order; 0 without one
    // The message's Message-ID without brackets ("" in older journals), so
    // that a bounce or a reply quoting it finds the contact.
    std::string messageId;
    // The relay the attempt went to (Relay::id); "" in older journals, whose
    // attempts all went to the main server.
    std::string relay = {};
    // The run put the recipient back in its queue (its server asked to slow
    // down, its relay failed before the message went out): the attempt says
    // nothing about the recipient, who is not attempted unless a later
    // attempt says more. False in older journals.
    bool queuedAgain = {};
};

struct JournalRecipient {
    std::int32_t index = 0; // 1-based place in the run's list
    std::int32_t slot = -1; // the contact's slot, -1 for a typed address
    std::string address;
    std::vector<JournalAttempt> attempts;

    bool hasFinalOutcome() const { return !attempts.empty() && attempts.back().final; }
    // A later run of the same draft (the same content, or a retry of this
    // run) delivered to this address; filled in when the session's runs are
    // read together, never from this run's own journal.
    std::string deliveredBy;
    // Still to be sent to: no final outcome here, and no later run delivered it.
    bool open() const { return !hasFinalOutcome() && deliveredBy.empty(); }
    // The last attempt that said something (a cancelled one does not); nothing
    // when none did or the last that did put the recipient back in the queue:
    // the recipient was not attempted.
    std::optional<DeliveryOutcome> outcome() const;
};

struct RunCounts {
    std::int32_t delivered = 0;
    std::int32_t deferred = 0;
    std::int32_t rejected = 0;
    std::int32_t failed = 0;
    std::int32_t notAttempted = 0;
};

struct RunRecord {
    std::string id;
    std::string path; // the journal file
    std::string started;
    std::string draftPath; // the draft file, or the copy the run kept beside its journal
    std::int32_t format = 1;
    std::string draftDigest;
    std::string subject;
    std::string retryOf;   // the run a retry run retries
    std::string scheduled; // the scheduled send that started it ("" when none)
    // The run went through its whole list (every recipient has a final
    // outcome); a crashed, cancelled or stopped run is unfinished.
    bool finished = false;
    std::string endedAt; // the last "end" line's time; "" when it has none (a crash)
    bool stoppedEarly = false;
    bool cancelled = false; // the user stopped it: it is not offered for resuming
    std::string closedBy;   // a retry run that took over every recipient left
    std::vector<JournalRecipient> recipients;
    std::int32_t planned = 0; // recipients the header announced
    bool tornTail = false;    // the last line was cut short (a crash while writing it)

    RunCounts counts() const;
    std::int32_t withFinalOutcome() const;
    // The whole list reached the journal. A run killed while writing it has
    // sent nothing and is not resumed.
    bool planComplete() const { return static_cast<std::int32_t>(recipients.size()) == planned; }
    // A journal cut inside its recipient list is damaged: it is listed and
    // shown with what it holds, but never resumed or retried, since whom it
    // was meant for is not known.
    bool damaged() const { return !planComplete(); }
    // Not finished, not cancelled, not closed by a retry, and someone is
    // left (a damaged journal counts as having someone left).
    bool open() const;
    // The highest stamp number the journal holds.
    std::int32_t lastStampNumber() const;
};

// The session remembers, in its extension block, which run's stamps it
// holds up to which number ("RUNID:N"). It is saved in the same atomic
// write as the stamps, so a resume knows exactly which recorded deliveries
// never reached the saved session.
inline constexpr const char* kRunStampsKey = "runStampsSaved";
std::string runStampsMarker(const std::string& runId, std::int32_t stampNumber);
struct UnsavedStamp {
    const JournalRecipient* recipient;
    const JournalAttempt* attempt;
};
// The stamps of `run` that a session with `marker` does not hold: every one
// when the marker names an older run (or none), none for a newer run.
std::vector<UnsavedStamp> unsavedStamps(const RunRecord& run, std::string_view marker);

// Where a run whose draft was never saved keeps a copy of it: the
// journal's name with ".eml".
std::string draftCopyPath(const std::string& journalPath);

// The folder of a session's journals: "campaign.qmz" -> "campaign.qmz.runs".
std::string journalFolder(const std::string& sessionPath);

// "The journal of run ID is damaged: its recipient list stops at N of M
// recipients. It cannot be resumed or retried."
std::string damagedJournalText(const RunRecord& run);

// Reads one journal. Lines it cannot read (the torn last line a crash
// leaves) are skipped. False with `error` when the file cannot be read or
// holds no run header.
bool readRunJournal(const std::string& path, RunRecord& record, std::string& error);
// Every readable journal of the folder, oldest first (run ids sort by time).
std::vector<RunRecord> readRunJournals(const std::string& folder);
// Fills in the deliveredBy of `run` from the session's `runs` (as
// readRunJournals reads them). A later run counts when it sends the same
// content or retries the run (or a retry of it).
void linkToLaterRuns(RunRecord& run, const std::vector<RunRecord>& runs);
// The run with this id. Its journal is named after it, so only that file is
// read; a journal renamed by hand is still found by reading the others.
// Alone, it knows nothing of later runs.
std::optional<RunRecord> findRunJournal(const std::string& folder, const std::string& id);
// The run with this id, read with the rest of the folder so that it knows
// what later runs delivered: what a retry plans from.
std::optional<RunRecord> findLinkedRun(const std::string& folder, const std::string& id);
// The newest open run of the folder (see RunRecord::open), damaged or not:
// the one a resume continues or, when damaged, reports. Also a run killed
// after its last outcome but before the session saved its stamps
// (`savedStamps`: the session's kRunStampsKey value): its resume sends
// nothing and only records them.
std::optional<RunRecord> newestUnfinishedRun(const std::string& folder,
                                             std::string_view savedStamps = {});

// A digest (SHA-256, hex) of what a draft sends: From, subject, body,
// format and the attachments' names and bytes. Resume refuses a draft whose
// digest changed.
std::string draftDigest(const MessageDraft& draft);

struct RunHeader {
    std::string draftPath;   // "": the run keeps a copy of the draft beside its journal
    std::int32_t format = 1; // the text part's format the run sends (EditorFormat)
    std::string draftDigest;
    std::string subject;
    std::string retryOf;
    std::string scheduled = {}; // the scheduled send (--at) this run is
};

struct PlannedRecipient {
    std::int32_t slot = -1;
    std::string address;
};

// Writes a journal. Each line goes to the file as soon as it is recorded
// (so a killed process loses none), and the file is synced to the disk in
// small batches: no outcome stays unsynced longer than kSyncBatchMs plus
// the time to the next tick(), and end() syncs at once.
class RunJournal {
public:
    static constexpr long long kSyncBatchMs = 100;

    // Creates the folder (owner only) and a new journal named after the
    // run's start time; writes the header and the planned list, synced.
    static std::unique_ptr<RunJournal> start(const std::string& folder, const RunHeader& header,
                                             const std::vector<PlannedRecipient>& recipients,
                                             const store::Clock& clock, std::string& error);
    // Opens an existing journal to append to it (resume).
    static std::unique_ptr<RunJournal> reopen(const std::string& path, const store::Clock& clock,
                                              std::string& error);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    const std::string& id() const { return id_; }
    const std::string& path() const { return path_; }

    // Opens an existing journal only to note that retry run `byRun` took
    // over every recipient it had left; false with `error` when it cannot.
    static bool close(const std::string& path, const std::string& byRun, const store::Clock& clock,
                      std::string& error);

    void resumed(const std::string& draftDigest, bool forced);
    void attempt(std::int32_t index, const JournalAttempt& attempt);
    // Syncs when the oldest unsynced line is kSyncBatchMs old.
    void tick();
    // Syncs now.
    void flush() { sync(); }
    // The run reports its end: written and synced before it does.
    void end(bool finished, bool stoppedEarly, bool cancelled = false);

    // False once a write or sync failed: the run must stop, since outcomes
    // it cannot record could be sent twice.
    bool healthy() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    bool unsynced() const { return unsyncedSince_ >= 0; }

private:
    RunJournal(int fd, std::string path, std::string id, const store::Clock& clock);
    void write(const std::string& bytes);
    void sync();
    long long now() const { return clock_.now().millisecondsSinceEpoch; }

    int fd_ = -1;
    std::string path_;
    std::string id_;
    const store::Clock& clock_;
    long long unsyncedSince_ = -1;
    std::string error_;
};

// "2026-12-07T09:30:00+01:00"
std::string isoLocalTime(const store::LocalDateTime& time);
// The seconds since 1970 (UTC) of such a time; nothing when it is not one.
std::optional<std::int64_t> isoTimeSeconds(std::string_view text);

// The deliveries each relay (by its id) accepted at `sinceSeconds` or later
// in `runs`, resumed parts included: what its daily cap has left. An
// attempt that names no relay was sent by the main server, `mainRelayId`.
std::map<std::string, std::int64_t> acceptedSince(const std::vector<RunRecord>& runs,
                                                  std::int64_t sinceSeconds,
                                                  const std::string& mainRelayId);

} // namespace velmora::delivery
