#include "delivery/run/delivery_run.h"

#include "delivery/message/draft_file.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/relay_pool.h"
#include "delivery/run/connection_workers.h"
#include "delivery/run/relay_dispatch.h"
#include "delivery/run/run_session.h"
#include "delivery/smtp/smtp_request.h"
#include "delivery/smtp/smtp_session.h"
#include "store/text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <thread>

namespace velmora::delivery {

namespace {

constexpr int kWaitSliceMs = 50;
// Waits shorter than this get no label of their own (the limiter's usual
// spacing would double every line of a terminal run).
constexpr std::int64_t kLabelledWaitMs = 5'000;
constexpr std::int64_t kTallyEveryMs = 1'000;
// A held connection is let go before a longer wait: servers drop idle ones
// after a few minutes, and holding one through a back-off gains nothing.
constexpr std::int64_t kHoldThroughWaitMs = 10'000;

bool isLetter(char c) {
    c = store::toLowerAscii(c);
    return c >= 'a' && c <= 'z';
}

// "45 s", "3 min", "2 h 05 min"
std::string durationText(std::int64_t ms) {
    const std::int64_t seconds = (ms + 999) / 1000;
    if (seconds < 120) {
        return std::to_string(seconds) + " s";
    }
    const std::int64_t minutes = (seconds + 59) / 60;
    if (minutes < 120) {
        return std::to_string(minutes) + " min";
    }
    const std::int64_t rest = minutes % 60;
    return std::to_string(minutes / 60) + " h " + (rest < 10 ? "0" : "") + std::to_string(rest) +
           " min";
}

std::string replyOf(const SmtpOutcome& outcome) {
    return outcome.replyCode.empty() ? outcome.reason : outcome.replyCode + " " + outcome.replyText;
}

// Passes everything on to the run's observer; keeps the journal synced
// while sessions wait on the network, and notes the lines a session logs
// so that the run does not repeat them.
class RunCourse final : public RunObserver {
public:
    RunCourse(RunObserver& inner, RunJournal* journal) : inner_(inner), journal_(journal) {}
    void logLine(const std::string& text) override {
        logged_.push_back(text);
        inner_.logLine(text);
    }
    void progress(const std::string& label) override { inner_.progress(label); }
    bool cancelRequested() override { return inner_.cancelRequested(); }
    void pumpEvents() override {
        if (journal_ != nullptr) {
            journal_->tick();
        }
        inner_.pumpEvents();
    }
    void progressRange(int maximum) override { inner_.progressRange(maximum); }
    void advanceProgress() override { inner_.advanceProgress(); }
    void sendingChanged(bool sending) override { inner_.sendingChanged(sending); }
    void tallyChanged(const RunTally& tally) override { inner_.tallyChanged(tally); }

    void sessionStarts() { logged_.clear(); }
    bool loggedInSession(const std::string& line) const {
        return std::find(logged_.begin(), logged_.end(), line) != logged_.end();
    }

private:
    RunObserver& inner_;
    RunJournal* journal_;
    std::vector<std::string> logged_;
};

// A single send waits for nobody: no rate, no retries, one message per connection.
RunPolicy singleSendPolicy() {
    RunPolicy policy;
    policy.deferredRetries = 0;
    return policy;
}

struct Deferred {
    std::int64_t readyAtMs = 0;
    std::size_t index = 0;
};

class Run {
public:
    // `stamps`: the session whose contacts a delivery stamps (nullptr: nobody's);
    // `single`: a preview or a test send.
    Run(const store::Session& session, store::Session* stamps, const MessageDraft& draft,
        const DeliveryPlan& plan, const SingleSend* single, const SendRunEnvironment& environment,
        RunObserver& observer)
        : session_(session), stamps_(stamps), single_(single), plan_(plan),
          environment_(environment), outer_(observer),
          policy_(single != nullptr ? singleSendPolicy()
                                    : runPolicy(session.settings().extensions)),
          limiter_(policy_.ratePerMinute, policy_.ratePerHour), backoff_(policy_.deferredRetries),
          pauses_(policy_.maxPauseMinutes), deferrals_(plan.recipients.size(), 0), draft_(draft) {}

    SendRunSummary run();

private:
    std::int64_t now() const { return environment_.clock.now().millisecondsSinceEpoch; }
    // Whose fields a message carries: the contact's in a list run (list
    // headers too), else those of the contact with the typed address.
    bool listFields() const {
        return single_ != nullptr ? single_->listFields : !plan_.logDialogue;
    }
    OutgoingMessage messageFor(const PlannedRecipient& recipient) const;
    // The progress label at the end; a single send only ever says it finished.
    std::string endLabel() const {
        return single_ != nullptr ? std::string(kFinishedLabel) : runEndLabel(summary_);
    }
    // Ends a run that sent nothing: its checks refused it.
    SendRunSummary refused(const std::string& label) {
        summary_.stoppedEarly = true;
        outer_.progress(label);
        outer_.sendingChanged(false);
        return summary_;
    }
    bool openJournal();
    // A list run's return addresses; off for a run to one typed address, a
    // single send and a run without a journal to name it.
    ReturnPath returnPathOfRun() const {
        const bool listRun = single_ == nullptr && !plan_.logDialogue;
        return listRun && journal_ ? returnPath(session_.settings().extensions, journal_->id())
                                   : ReturnPath{};
    }
    bool waitUntil(std::int64_t untilMs, const std::string& label);
    void sleep(std::int64_t ms) const;
    void record(std::size_t index, DeliveryOutcome outcome, const SmtpOutcome& smtp, bool final,
                const std::string& stamp = "");
    void settle(std::size_t index, DeliveryOutcome outcome);
    // Shows the counts, pace and time left (at most once a second unless
    // forced); `busyUntilMs` is the end of a wait under way.
    void tally(bool force, std::int64_t busyUntilMs = 0);
    void log(const std::string& line) {
        if (!plan_.logDialogue) {
            course_->logLine(line);
        }
    }
    // Why the session failed, unless the session said it already: a run
    // that logs its dialogue shows the replies, but not the reasons drawn
    // from them ("The server offers no encryption, ...").
    void logFailure(const SmtpOutcome& outcome) {
        if (!outcome.reason.empty() && !course_->loggedInSession(outcome.reason)) {
            course_->logLine("Failed: " + outcome.reason);
        }
    }
    // Handles one outcome; false when the run stops.
    bool handle(std::size_t index, const SmtpOutcome& outcome);
    void stop() { summary_.stoppedEarly = true; }
    // The run over one connection, a recipient at a time.
    void sendOneAtATime();
    // The run over several connections at once (the `connections` setting).
    void sendInParallel();
    void driveConnections();
    // The deferred count, the journal's end and the summary.
    void finish();
    // Gives idle connections their next recipients, as far as the pause and
    // the limiter allow.
    void dispatch();
    // Puts the recipients promised to connections back at the head of the queue.
    void handBackReserved();
    // When the next recipient may go, for a run that has nothing under way.
    std::int64_t nextStartMs(std::string& label);

    // The run over a pool of relays (relay_pool.h): each relay with its own
    // connections, limiter and pauses, the recipients spread by weight.
    void sendOverPool();
    void dispatchToPool();
    bool handleFromRelay(std::size_t relay, std::size_t index, const SmtpOutcome& outcome);
    std::int64_t nextPoolStartMs(std::string& label);
    // The daily caps' allowances, from what the session's journals recorded.
    std::vector<RelayLimits> poolLimits();

    const store::Session& session_;
    store::Session* stamps_;
    const SingleSend* single_;
    const DeliveryPlan& plan_;
    const SendRunEnvironment& environment_;
    RunObserver& outer_;
    RunPolicy policy_;
    RateLimiter limiter_;
    DeferralBackoff backoff_;
    PauseBudget pauses_;
    PaceMeter pace_;
    std::vector<std::int64_t> deferrals_;
    const MessageDraft& draft_;
    std::unique_ptr<RunJournal> journal_;
    std::unique_ptr<RunCourse> course_;
    std::unique_ptr<RunConnection> sender_;
    std::deque<std::size_t> ready_;
    std::vector<Deferred> deferred_;
    // The recipients taken from the queues and being sent to.
    std::vector<std::size_t> inHand_;
    std::unique_ptr<ConnectionWorkers> workers_;
    // Per connection: the recipient it sends to next, whose envelope went
    // ahead with the message under way.
    std::vector<std::optional<std::size_t>> reserved_;
    std::int64_t pausedUntilMs_ = 0; // all connections wait for the server until then
    SendRunSummary summary_;
    std::int64_t lastTallyMs_ = -1;
    std::int32_t stampNumber_ = 0;
    std::vector<Relay> pool_;
    std::unique_ptr<RelayDispatch> relays_;
    std::vector<std::size_t> laneRelay_; // the relay of each connection
    std::string relayOfRecord_;          // the relay the outcome being recorded came from
    std::int64_t poolStartMs_ = 0;
};

bool Run::openJournal() {
    std::string error;
    if (!plan_.resumeJournal.empty()) {
        journal_ = RunJournal::reopen(plan_.resumeJournal, environment_.clock, error);
        if (journal_) {
            journal_->resumed(draftDigest(draft_), plan_.forced);
        }
    } else if (!plan_.journalFolder.empty()) {
        journal_ = RunJournal::start(plan_.journalFolder, plan_.header, plan_.recipients,
                                     environment_.clock, error);
        if (journal_ && journal_->healthy() && !plan_.closesJournal.empty()) {
            // Left open, the old run would still be offered for resuming; a
            // resume of it skips whom this run delivers to all the same.
            std::string ignored;
            RunJournal::close(plan_.closesJournal, journal_->id(), environment_.clock, ignored);
        }
        if (journal_ && plan_.header.draftPath.empty()) {
            // A message composed in the window exists nowhere else; without
            // the copy the run could not be resumed. Not worth stopping for.
            std::string ignored;
            writeDraftFile(draft_, draftCopyPath(journal_->path()), ignored);
        }
    } else {
        return true;
    }
    if (!journal_ || !journal_->healthy()) {
        outer_.logLine((journal_ ? journal_->error() : error) +
                       " Nothing was sent: without the journal a later run could not tell who "
                       "already got the message.");
        return false;
    }
    summary_.runId = journal_->id();
    return true;
}

void Run::sleep(std::int64_t ms) const {
    if (environment_.sleep) {
        environment_.sleep(static_cast<int>(ms));
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

bool Run::waitUntil(std::int64_t untilMs, const std::string& label) {
    if (untilMs - now() >= kLabelledWaitMs && !label.empty()) {
        course_->progress(label);
    }
    // What the window shows through the wait is up to date.
    tally(true, untilMs);
    if (untilMs - now() >= kHoldThroughWaitMs) {
        if (sender_) {
            sender_->release();
        }
        if (workers_) {
            workers_->releaseIdle();
        }
    }
    while (true) {
        course_->pumpEvents();
        if (course_->cancelRequested()) {
            return false;
        }
        const std::int64_t left = untilMs - now();
        if (left <= 0) {
            return true;
        }
        sleep(std::min<std::int64_t>(left, kWaitSliceMs));
        tally(false, untilMs); // the time left counts down
    }
}

void Run::record(std::size_t index, DeliveryOutcome outcome, const SmtpOutcome& smtp, bool final,
                 const std::string& stamp) {
    if (!journal_) {
        return;
    }
    JournalAttempt attempt;
    attempt.outcome = outcome;
    attempt.code = smtp.replyCode;
    attempt.text = smtp.replyCode.empty() ? smtp.reason : smtp.replyText;
    attempt.final = final;
    attempt.stamp = stamp;
    attempt.stampNumber = stamp.empty() ? 0 : stampNumber_;
    attempt.relay = relayOfRecord_;
    if (smtp.messageWritten || outcome == DeliveryOutcome::Delivered) {
        const std::string& id = smtp.messageId;
        attempt.messageId = id.size() >= 2 && id.front() == '<' && id.back() == '>'
                                ? id.substr(1, id.size() - 2)
                                : id;
    }
    journal_->attempt(static_cast<std::int32_t>(index + 1), attempt);
}

void Run::settle(std::size_t index, DeliveryOutcome outcome) {
    (void)index;
    switch (outcome) {
    case DeliveryOutcome::Delivered:
        ++summary_.delivered;
        break;
    case DeliveryOutcome::Deferred:
        ++summary_.deferred;
        break;
    case DeliveryOutcome::Rejected:
        ++summary_.rejected;
        break;
    case DeliveryOutcome::Failed:
    case DeliveryOutcome::Cancelled:
        ++summary_.failed;
        break;
    }
    course_->advanceProgress();
}

void Run::tally(bool force, std::int64_t busyUntilMs) {
    if (single_ != nullptr) {
        return; // one message: its dialogue says it all
    }
    const std::int64_t t = now();
    if (!force && lastTallyMs_ >= 0 && t - lastTallyMs_ < kTallyEveryMs) {
        return;
    }
    lastTallyMs_ = t;
    PendingWork work;
    work.ready = static_cast<std::int64_t>(ready_.size());
    work.busyUntilMs = busyUntilMs;
    for (const Deferred& entry : deferred_) {
        work.deferredAtMs.push_back(entry.readyAtMs);
    }
    auto waiting = static_cast<std::int32_t>(deferred_.size());
    for (const std::size_t index : inHand_) {
        ++work.ready;
        // Taken from the deferred ones, it is still deferred until its next try.
        if (deferrals_[index] > 0) {
            ++waiting;
        }
    }
    for (const std::optional<std::size_t>& index : reserved_) {
        work.ready += index ? 1 : 0;
    }
    RunTally counts = runTally(summary_, waiting);
    counts.perMinute = pace_.perMinute(t);
    counts.remainingMs = pace_.remainingMs(t, work, limiter_.intervalMs());
    counts.nowMs = t;
    if (relays_) {
        const double minutes =
            static_cast<double>(std::max<std::int64_t>(1, t - poolStartMs_)) / 60'000.0;
        for (std::size_t relay = 0; relay < pool_.size(); ++relay) {
            RelayTally part;
            part.label = relayLabel(pool_[relay]);
            part.sent = static_cast<std::int32_t>(relays_->handedOut(relay));
            part.delivered = static_cast<std::int32_t>(relays_->delivered(relay));
            part.perMinute = static_cast<double>(part.delivered) / minutes;
            part.setAside = relays_->pausedOrAside(relay, t);
            counts.relays.push_back(std::move(part));
        }
    }
    course_->tallyChanged(counts);
}

bool Run::handle(std::size_t index, const SmtpOutcome& outcome) {
    const PlannedRecipient& recipient = plan_.recipients[index];
    Verdict verdict = classifyOutcome(outcome);
    if (verdict == Verdict::SlowDown && single_ != nullptr) {
        verdict = Verdict::StopRun; // nobody waits minutes for a preview
    }
    switch (verdict) {
    case Verdict::Delivered: {
        std::string stamp;
        if (stamps_ != nullptr && recipient.slot > 0 && stamps_->hasContact(recipient.slot)) {
            // The day of the delivery: a long run may pass midnight.
            stamp = formatContactDate(environment_.clock.now());
            stamps_->markContacted(recipient.slot, stamp);
            ++stampNumber_;
        }
        record(index, DeliveryOutcome::Delivered, outcome, true, stamp);
        settle(index, DeliveryOutcome::Delivered);
        pauses_.succeeded();
        log("Delivered.");
        return true;
    }
    case Verdict::Rejected:
        record(index, DeliveryOutcome::Rejected, outcome, true);
        settle(index, DeliveryOutcome::Rejected);
        log("Rejected: " + replyOf(outcome));
        return true;
    case Verdict::FailedRecipient:
        record(index, DeliveryOutcome::Failed, outcome, true);
        settle(index, DeliveryOutcome::Failed);
        logFailure(outcome);
        return true;
    case Verdict::Deferred: {
        const std::optional<std::int64_t> delay = backoff_.delayAfter(++deferrals_[index]);
        record(index, DeliveryOutcome::Deferred, outcome, !delay);
        if (delay) {
            deferred_.push_back({now() + *delay, index});
            log("Deferred: " + replyOf(outcome) + " (next try in " + durationText(*delay) + ")");
        } else {
            settle(index, DeliveryOutcome::Deferred);
            log("Deferred: " + replyOf(outcome));
        }
        return true;
    }
    case Verdict::SlowDown: {
        // Not the recipient's fault: it goes first again after the pause.
        record(index, DeliveryOutcome::Deferred, outcome, false);
        ready_.push_front(index);
        if (workers_ && now() < pausedUntilMs_) {
            // Another connection heard it first: one pause for all of them.
            return true;
        }
        const std::optional<std::int64_t> pause = pauses_.nextPauseMs();
        if (!pause) {
            course_->logLine("Failed: the server still asks to slow down (" + replyOf(outcome) +
                             ") after " + durationText(pauses_.spentMs()) +
                             " of pauses; the run stopped.");
            ++summary_.failed;
            stop();
            return false;
        }
        course_->logLine("The server asks to slow down (" + replyOf(outcome) + "): pausing for " +
                         durationText(*pause) + ".");
        if (workers_) {
            // Every connection stops starting messages; the run waits once
            // those under way have answered.
            pausedUntilMs_ = now() + *pause;
            return true;
        }
        if (!waitUntil(now() + *pause,
                       "Paused for " + durationText(*pause) + " at the server's request")) {
            course_->logLine(kCancelledText);
            summary_.cancelled = true;
            stop();
            return false;
        }
        return true;
    }
    case Verdict::StopRun:
        record(index, DeliveryOutcome::Failed, outcome, false);
        ++summary_.failed;
        logFailure(outcome);
        stop();
        return false;
    case Verdict::Cancelled:
        record(index, DeliveryOutcome::Cancelled, outcome, false);
        summary_.cancelled = true;
        stop();
        return false;
    }
    return true;
}

SendRunSummary Run::run() {
    summary_.recipients = static_cast<std::int32_t>(plan_.recipients.size());
    if (single_ != nullptr) {
        outer_.progressRange(1);
    }
    // The one check of the draft per run: a draft refused here never started
    // a run, so the label says it finished.
    if (const std::optional<std::string> problem = checkBeforeSending(draft_)) {
        outer_.logLine(*problem); // nothing was sent, so no journal either
        return refused(kFinishedLabel);
    }
    if (single_ != nullptr && !single_->addressProblem.empty()) {
        outer_.logLine(single_->addressProblem);
        summary_.failed = 1;
        return refused(kFinishedLabel);
    }
    // Every recipient's own files before the first message: a run that
    // stopped halfway for one missing invoice would leave the list split.
    if (const std::vector<std::string> missing =
            personalAttachmentProblems(session_, draft_, plan_.recipients, listFields());
        !missing.empty()) {
        outer_.logLine(missingPersonalAttachmentsText(missing.size()));
        for (const std::string& line : missing) {
            outer_.logLine(line);
        }
        return refused(endLabel());
    }
    if (!openJournal()) {
        return refused(endLabel());
    }
    course_ = std::make_unique<RunCourse>(outer_, journal_.get());
    if (single_ == nullptr) {
        course_->progressRange(summary_.recipients);
    }
    for (std::size_t i = 0; i < plan_.recipients.size(); ++i) {
        if (i < plan_.settled.size() && plan_.settled[i]) {
            settle(i, *plan_.settled[i]);
        } else {
            ready_.push_back(i);
        }
    }
    pool_ = relayPool(session_.settings());
    const bool onePlainServer =
        pool_.size() == 1 && pool_.front().number == 1 && pool_.front().dailyCap == 0;
    if (!onePlainServer && !plan_.logDialogue && single_ == nullptr) {
        sendOverPool();
    } else if (policy_.connections > 1 && !plan_.logDialogue) {
        sendInParallel();
    } else {
        sendOneAtATime();
    }
    finish();
    return summary_;
}

void Run::sendOneAtATime() {
    sender_ =
        std::make_unique<RunConnection>(runRequest(session_, environment_, plan_.logDialogue),
                                        environment_, *course_, policy_.messagesPerConnection);
    sender_->setReturnPath(returnPathOfRun());
    while (!ready_.empty() || !deferred_.empty()) {
        course_->pumpEvents();
        if (course_->cancelRequested()) {
            course_->logLine(kCancelledText);
            summary_.cancelled = true;
            stop();
            break;
        }
        if (journal_ && !journal_->healthy()) {
            course_->logLine(journal_->error() + " The run stopped.");
            stop();
            break;
        }
        std::size_t index = 0;
        if (!ready_.empty()) {
            index = ready_.front();
            ready_.pop_front();
        } else {
            const auto next = std::min_element(
                deferred_.begin(), deferred_.end(),
                [](const Deferred& a, const Deferred& b) { return a.readyAtMs < b.readyAtMs; });
            const Deferred chosen = *next;
            const std::string label = "Waiting " + durationText(chosen.readyAtMs - now()) +
                                      " to try " + std::to_string(deferred_.size()) +
                                      " deferred recipient" + (deferred_.size() == 1 ? "" : "s") +
                                      " again";
            if (!waitUntil(chosen.readyAtMs, label)) {
                course_->logLine(kCancelledText);
                summary_.cancelled = true;
                stop();
                break;
            }
            deferred_.erase(next);
            index = chosen.index;
        }
        inHand_.assign(1, index);
        const std::int64_t wait = limiter_.delayMs(now());
        if (wait > 0 && !waitUntil(now() + wait, "Waiting " + durationText(wait) +
                                                     " for the sending rate limit")) {
            if (deferrals_[index] > 0) {
                deferred_.push_back({now(), index}); // it stays deferred
            } else {
                ready_.push_front(index);
            }
            inHand_.clear();
            course_->logLine(kCancelledText);
            summary_.cancelled = true;
            stop();
            break;
        }
        const std::string& address = plan_.recipients[index].address;
        course_->progress(single_ != nullptr ? single_->label
                                             : sendingLabel(static_cast<std::int32_t>(index + 1),
                                                            summary_.recipients, address));
        course_->sendingChanged(true);
        if (single_ == nullptr) {
            course_->logLine(address);
        }
        course_->pumpEvents();
        course_->sessionStarts();
        limiter_.started(now());
        pace_.started(now());
        // Unpaced, the next recipient follows at once: its envelope may go
        // out with this message's end of data.
        std::optional<std::string> next;
        if (!limiter_.limited() && !ready_.empty()) {
            next = plan_.recipients[ready_.front()].address;
        }
        const SmtpOutcome outcome = sender_->send(messageFor(plan_.recipients[index]), next);
        if (outcome.result != SmtpResult::Cancelled) {
            pace_.finishedOne(now());
        }
        inHand_.clear();
        const bool goesOn = handle(index, outcome);
        tally(!goesOn);
        if (!goesOn) {
            break;
        }
    }
    sender_->release();
}

void Run::finish() {
    // Deferred recipients the run did not come back to keep that outcome.
    summary_.deferred += static_cast<std::int32_t>(deferred_.size());
    deferred_.clear();
    tally(true);
    if (journal_) {
        journal_->flush();
        // Whenever the session is saved now, its stamps go with this mark.
        if (stamps_ != nullptr && stampNumber_ > plan_.lastStampNumber) {
            noteStampsSaved(*stamps_, journal_->id(), stampNumber_);
        }
    }
    if (plan_.beforeEnd) {
        plan_.beforeEnd();
    }
    if (journal_) {
        journal_->end(!summary_.stoppedEarly, summary_.stoppedEarly, summary_.cancelled);
    }
    if (!plan_.logDialogue) {
        course_->logLine(summaryText(summary_));
    }
    course_->progress(endLabel());
    course_->sendingChanged(false);
}

OutgoingMessage Run::messageFor(const PlannedRecipient& recipient) const {
    OutgoingMessage message =
        recipientMessage(session_, draft_, recipient.slot, recipient.address, listFields());
    if (single_ != nullptr && single_->adjust) {
        single_->adjust(message);
    }
    return message;
}

void Run::handBackReserved() {
    for (std::size_t lane = reserved_.size(); lane-- > 0;) {
        if (reserved_[lane]) {
            ready_.push_front(*reserved_[lane]);
            reserved_[lane].reset();
            if (relays_) { // it counted towards its relay's share and cap
                relays_->handedBack(laneRelay_[lane]);
                relays_->finished(laneRelay_[lane], false);
            }
        }
    }
}

void Run::dispatch() {
    for (std::size_t lane = 0; lane < workers_->size(); ++lane) {
        if (workers_->busy(lane)) {
            continue;
        }
        if (now() < pausedUntilMs_ || limiter_.delayMs(now()) > 0) {
            return;
        }
        std::optional<std::size_t> index;
        if (reserved_[lane]) {
            index = reserved_[lane];
            reserved_[lane].reset();
        } else if (!ready_.empty()) {
            index = ready_.front();
            ready_.pop_front();
        } else {
            const auto due = std::min_element(
                deferred_.begin(), deferred_.end(),
                [](const Deferred& a, const Deferred& b) { return a.readyAtMs < b.readyAtMs; });
            if (due == deferred_.end() || due->readyAtMs > now()) {
                // Nothing for this lane; a later lane may still hold the
                // recipient whose envelope its connection already sent.
                continue;
            }
            index = due->index;
            deferred_.erase(due);
        }
        limiter_.started(now());
        pace_.started(now());
        WorkerJob job;
        job.index = *index;
        // Unpaced, this connection's next recipient is known now: its
        // envelope may go out with this message's end of data.
        if (!limiter_.limited() && !ready_.empty()) {
            reserved_[lane] = ready_.front();
            ready_.pop_front();
            job.nextRecipient = plan_.recipients[*reserved_[lane]].address;
        }
        const PlannedRecipient& recipient = plan_.recipients[*index];
        course_->progress(sendingLabel(static_cast<std::int32_t>(*index + 1), summary_.recipients,
                                       recipient.address));
        course_->sendingChanged(true);
        job.message = messageFor(recipient);
        inHand_.push_back(*index);
        workers_->send(lane, std::move(job));
    }
}

std::int64_t Run::nextStartMs(std::string& label) {
    const std::int64_t t = now();
    if (t < pausedUntilMs_) {
        label = "Paused for " + durationText(pausedUntilMs_ - t) + " at the server's request";
        return pausedUntilMs_;
    }
    if (!ready_.empty()) {
        const std::int64_t wait = limiter_.delayMs(t);
        label = "Waiting " + durationText(wait) + " for the sending rate limit";
        return t + wait;
    }
    const auto next = std::min_element(
        deferred_.begin(), deferred_.end(),
        [](const Deferred& a, const Deferred& b) { return a.readyAtMs < b.readyAtMs; });
    const std::int64_t at = std::max(next->readyAtMs, t + limiter_.delayMs(t));
    label = "Waiting " + durationText(at - t) + " to try " + std::to_string(deferred_.size()) +
            " deferred recipient" + (deferred_.size() == 1 ? "" : "s") + " again";
    return at;
}

// The loop of every run over connections at once: one relay or a pool.
void Run::driveConnections() {
    const bool pool = relays_ != nullptr;
    bool stopping = false;
    while (true) {
        course_->pumpEvents();
        if (!stopping && course_->cancelRequested()) {
            course_->logLine(kCancelledText);
            summary_.cancelled = true;
            stop();
            stopping = true;
            workers_->cancel();
        }
        if (!stopping && journal_ && !journal_->healthy()) {
            course_->logLine(journal_->error() + " The run stopped.");
            stop();
            stopping = true;
        }
        if (!stopping) {
            pool ? dispatchToPool() : dispatch();
        }
        if (workers_->busyCount() == 0) {
            handBackReserved();
            if (stopping || (ready_.empty() && deferred_.empty())) {
                break;
            }
            if (pool && !relays_->anyUsable(now())) {
                course_->logLine(kNoRelayLeftText);
                stop();
                break;
            }
            std::string label;
            const std::int64_t until = pool ? nextPoolStartMs(label) : nextStartMs(label);
            if (!waitUntil(until, label)) {
                course_->logLine(kCancelledText);
                summary_.cancelled = true;
                stop();
                break;
            }
            continue;
        }
        // Wake for the next report, or when the limiter lets the next one go.
        std::int64_t waitMs = kWaitSliceMs;
        if (!pool && !stopping && limiter_.limited()) {
            waitMs = std::clamp<std::int64_t>(limiter_.delayMs(now()), 1, kWaitSliceMs);
        }
        std::optional<WorkerReport> report = workers_->nextReport(static_cast<int>(waitMs));
        if (!report) {
            tally(false);
            continue;
        }
        std::erase(inHand_, report->index);
        const std::size_t relay = pool ? laneRelay_[report->worker] : 0;
        course_->logLine(plan_.recipients[report->index].address +
                         (pool ? " (" + relayLabel(pool_[relay]) + ")" : std::string()));
        course_->sessionStarts();
        for (const std::string& line : report->logLines) {
            course_->logLine(line);
        }
        if (report->outcome.result != SmtpResult::Cancelled) {
            pace_.finishedOne(now());
        }
        // A stop lets the messages under way end as they will: their outcomes
        // are journaled like any other.
        if (!(pool ? handleFromRelay(relay, report->index, report->outcome)
                   : handle(report->index, report->outcome))) {
            stopping = true;
        }
        tally(stopping);
    }
    workers_.reset();
    reserved_.clear();
}

void Run::sendInParallel() {
    workers_ = std::make_unique<ConnectionWorkers>(
        static_cast<std::size_t>(policy_.connections),
        runRequest(session_, environment_, plan_.logDialogue), environment_,
        policy_.messagesPerConnection, returnPathOfRun());
    reserved_.assign(workers_->size(), std::nullopt);
    driveConnections();
}

std::vector<RelayLimits> Run::poolLimits() {
    bool capped = false;
    for (const Relay& relay : pool_) {
        capped = capped || relay.dailyCap > 0;
    }
    std::map<std::string, std::int64_t> accepted;
    if (capped && !session_.isUntitled()) {
        // The journals' times are local with their offset; the same clock
        // reading in that form gives the comparable "now".
        const std::int64_t nowSeconds =
            isoTimeSeconds(isoLocalTime(environment_.clock.now())).value_or(0);
        accepted =
            acceptedSince(readRunJournals(journalFolder(session_.sessionFileName)),
                          nowSeconds - 24 * 3600, relayId(relaySettings(session_.settings(), 1)));
    }
    std::vector<RelayLimits> limits;
    for (const Relay& relay : pool_) {
        const RunPolicy policy = runPolicy(relay.settings.extensions);
        RelayLimits limit;
        limit.weight = relay.weight;
        limit.ratePerMinute = policy.ratePerMinute;
        limit.ratePerHour = policy.ratePerHour;
        limit.maxPauseMinutes = policy_.maxPauseMinutes;
        if (relay.dailyCap > 0) {
            const auto found = accepted.find(relay.id);
            limit.allowance = std::max<std::int64_t>(
                0, relay.dailyCap - (found == accepted.end() ? 0 : found->second));
            if (*limit.allowance == 0) {
                course_->logLine("The daily cap of " + relayLabel(relay) + " (" +
                                 std::to_string(relay.dailyCap) +
                                 ") is reached: it sends nothing in this run.");
            }
        }
        limits.push_back(limit);
    }
    return limits;
}

void Run::sendOverPool() {
    if (pool_.empty()) {
        course_->logLine(kNoRelayText);
        stop();
        return;
    }
    relays_ = std::make_unique<RelayDispatch>(poolLimits());
    poolStartMs_ = now();
    std::vector<SmtpSessionRequest> lanes;
    for (std::size_t relay = 0; relay < pool_.size(); ++relay) {
        const store::SessionSettings& settings = pool_[relay].settings;
        SmtpSessionRequest request = smtpRequestFor(settings, environment_.hostName);
        if (AccessTokens* tokens = relayTokens(session_.settings(), pool_[relay].number,
                                               environment_.tokens, environment_.relaySignIns);
            tokens != nullptr && usesOAuth(settings)) {
            signInWithTokens(request, settings, *tokens);
        }
        request.pipelining = true;
        for (std::int64_t i = 0; i < runPolicy(settings.extensions).connections; ++i) {
            lanes.push_back(request);
            laneRelay_.push_back(relay);
        }
    }
    workers_ = std::make_unique<ConnectionWorkers>(
        std::move(lanes), environment_, policy_.messagesPerConnection, returnPathOfRun());
    reserved_.assign(workers_->size(), std::nullopt);
    driveConnections();
}

void Run::dispatchToPool() {
    while (true) {
        const std::int64_t t = now();
        // A connection whose server already holds its next envelope sends
        // that message first: it counts towards its relay's share already.
        std::optional<std::size_t> lane;
        std::optional<std::size_t> relay;
        for (std::size_t l = 0; l < workers_->size() && !lane; ++l) {
            if (reserved_[l] && !workers_->busy(l) && !relays_->pausedOrAside(laneRelay_[l], t) &&
                relays_->delayMs(laneRelay_[l], t) == 0) {
                lane = l;
                relay = laneRelay_[l];
            }
        }
        if (!lane) {
            // Else the relay whose turn it is takes the recipient, on an
            // idle connection of its own.
            relay = relays_->turn(t);
            if (!relay || relays_->delayMs(*relay, t) > 0) {
                return;
            }
            for (std::size_t l = 0; l < workers_->size() && !lane; ++l) {
                if (laneRelay_[l] == *relay && !workers_->busy(l) && !reserved_[l]) {
                    lane = l;
                }
            }
        }
        if (!lane) {
            return;
        }
        std::optional<std::size_t> index = reserved_[*lane];
        const bool counted = index.has_value();
        reserved_[*lane].reset();
        if (!index && !ready_.empty()) {
            index = ready_.front();
            ready_.pop_front();
        } else if (!index) {
            const auto due = std::min_element(
                deferred_.begin(), deferred_.end(),
                [](const Deferred& a, const Deferred& b) { return a.readyAtMs < b.readyAtMs; });
            if (due == deferred_.end() || due->readyAtMs > t) {
                return;
            }
            index = due->index;
            deferred_.erase(due);
        }
        if (!counted) {
            relays_->started(*relay, t);
        }
        pace_.started(t);
        WorkerJob job;
        job.index = *index;
        // Unpaced: the next recipient's envelope may go out with this
        // message's end of data. It counts towards the relay's share and cap
        // from now on, so the spread by weight and the cap still hold.
        if (!ready_.empty() && relays_->mayTakeAhead(*relay, t)) {
            reserved_[*lane] = ready_.front();
            ready_.pop_front();
            relays_->started(*relay, t);
            job.nextRecipient = plan_.recipients[*reserved_[*lane]].address;
        }
        const PlannedRecipient& recipient = plan_.recipients[*index];
        course_->progress(sendingLabel(static_cast<std::int32_t>(*index + 1), summary_.recipients,
                                       recipient.address));
        course_->sendingChanged(true);
        job.message = messageFor(recipient);
        inHand_.push_back(*index);
        workers_->send(*lane, std::move(job));
    }
}

bool Run::handleFromRelay(std::size_t relay, std::size_t index, const SmtpOutcome& outcome) {
    const Relay& from = pool_[relay];
    relayOfRecord_ = from.id;
    const Verdict verdict = classifyOutcome(outcome);
    // Unreachable, a refused login or sender, a broken greeting: the relay
    // is at fault, not the recipient, who goes to another relay.
    const bool relayFailed = verdict == Verdict::StopRun || outcome.unreachable;
    if (relayFailed && outcome.messageWritten) {
        // The message may have arrived: sent again elsewhere it could arrive
        // twice, so it fails here; the relay is set aside all the same.
        relays_->finished(relay, false);
        record(index, DeliveryOutcome::Failed, outcome, true);
        relayOfRecord_.clear();
        settle(index, DeliveryOutcome::Failed);
        logFailure(outcome);
        course_->logLine(relayLabel(from) + " is set aside for " +
                         durationText(relays_->setAside(relay, now())) +
                         "; its recipients go to the other relays.");
        return true;
    }
    if (relayFailed || verdict == Verdict::SlowDown) {
        relays_->finished(relay, false);
        relays_->handedBack(relay);
        record(index,
               verdict == Verdict::SlowDown ? DeliveryOutcome::Deferred : DeliveryOutcome::Failed,
               outcome, false);
        relayOfRecord_.clear();
        ready_.push_front(index);
        if (relayFailed) {
            const std::int64_t backoff = relays_->setAside(relay, now());
            logFailure(outcome);
            course_->logLine(relayLabel(from) + " is set aside for " + durationText(backoff) +
                             "; its recipients go to the other relays.");
            return true;
        }
        const bool alreadyPaused = relays_->pausedOrAside(relay, now());
        const std::optional<std::int64_t> pause = relays_->slowDown(relay, now());
        if (!pause) {
            course_->logLine(relayLabel(from) + " still asks to slow down (" + replyOf(outcome) +
                             "): it takes no more recipients in this run.");
        } else if (!alreadyPaused) {
            course_->logLine(relayLabel(from) + " asks to slow down (" + replyOf(outcome) +
                             "): pausing it for " + durationText(*pause) + ".");
        }
        return true;
    }
    relays_->finished(relay, verdict == Verdict::Delivered);
    if (verdict == Verdict::Delivered) {
        relays_->succeeded(relay);
    }
    const bool goesOn = handle(index, outcome);
    relayOfRecord_.clear();
    return goesOn;
}

std::int64_t Run::nextPoolStartMs(std::string& label) {
    const std::int64_t t = now();
    const bool due =
        !ready_.empty() || std::any_of(deferred_.begin(), deferred_.end(),
                                       [&](const Deferred& d) { return d.readyAtMs <= t; });
    if (due) {
        if (const std::optional<std::size_t> relay = relays_->turn(t)) {
            const std::int64_t wait = std::max<std::int64_t>(1, relays_->delayMs(*relay, t));
            label = "Waiting " + durationText(wait) + " for the sending rate limit";
            return t + wait;
        }
        const std::int64_t until = relays_->nextReturnMs(t).value_or(t + kWaitSliceMs);
        label = "Waiting " + durationText(until - t) + " for a relay to take recipients again";
        return until;
    }
    const auto next = std::min_element(
        deferred_.begin(), deferred_.end(),
        [](const Deferred& a, const Deferred& b) { return a.readyAtMs < b.readyAtMs; });
    label = "Waiting " + durationText(next->readyAtMs - t) + " to try " +
            std::to_string(deferred_.size()) + " deferred recipient" +
            (deferred_.size() == 1 ? "" : "s") + " again";
    return next->readyAtMs;
}

} // namespace

void noteStampsSaved(store::Session& session, const std::string& runId, std::int32_t stampNumber) {
    store::SessionSettings settings = session.settings();
    settings.extensions.set(kRunStampsKey, runStampsMarker(runId, stampNumber));
    session.setSettings(std::move(settings));
}

RunPolicy runPolicy(const store::ExtensionSettings& extensions) {
    RunPolicy policy;
    policy.deferredRetries = extensions.integer("deferredRetries");
    policy.ratePerMinute = extensions.integer("ratePerMinute");
    policy.ratePerHour = extensions.integer("ratePerHour");
    policy.maxPauseMinutes = extensions.integer("maxPauseMinutes");
    policy.messagesPerConnection =
        std::max<std::int64_t>(1, extensions.integer("messagesPerConnection"));
    policy.connections =
        std::clamp<std::int64_t>(extensions.integer("connections"), 1, kMaxConnections);
    return policy;
}

bool asksToSlowDown(std::string_view replyText) {
    const std::string text = store::toLowerAscii(replyText);
    if (text.find("too many") != std::string::npos) {
        return true;
    }
    // "rate" as a word of its own ("rate limit", "sending rate"), not "separate".
    for (std::size_t at = text.find("rate"); at != std::string::npos;
         at = text.find("rate", at + 1)) {
        const bool startsWord = at == 0 || !isLetter(text[at - 1]);
        const bool endsWord =
            at + 4 >= text.size() || !isLetter(text[at + 4]) || text.compare(at, 5, "rated") == 0;
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

Verdict classifyOutcome(const SmtpOutcome& outcome) {
    const bool temporary = outcome.replyCode.size() == 3 && outcome.replyCode[0] == '4';
    // A 4xx to MAIL FROM, whatever its words, is the server holding back
    // this client for now ("450 4.7.1 Error: too much mail from ...").
    const bool slowDown = outcome.replyCode == "421" || (temporary && outcome.senderRefused) ||
                          ((outcome.replyCode == "451" || outcome.replyCode == "454") &&
                           asksToSlowDown(outcome.replyText));
    switch (outcome.result) {
    case SmtpResult::Delivered:
        return Verdict::Delivered;
    case SmtpResult::Cancelled:
        return Verdict::Cancelled;
    case SmtpResult::Rejected:
        if (slowDown) {
            return Verdict::SlowDown;
        }
        return temporary ? Verdict::Deferred : Verdict::Rejected;
    case SmtpResult::Failed:
        if (slowDown) {
            return Verdict::SlowDown;
        }
        if (outcome.connectionLost && outcome.reusedConnection) {
            // A connection that served earlier messages ended: this message
            // may or may not have arrived; the rest go over a new connection.
            return Verdict::FailedRecipient;
        }
        return outcome.connectionOpened ? Verdict::StopRun : Verdict::FailedRecipient;
    }
    return Verdict::StopRun;
}

namespace {

// A new run's journal: beside the session's file (none for an untitled
// session), its header naming the draft it sends.
void journalNewRun(DeliveryPlan& plan, const store::Session& session, const MessageDraft& draft,
                   const std::string& draftPath) {
    if (!session.isUntitled()) {
        plan.journalFolder = journalFolder(session.sessionFileName);
    }
    plan.header.draftPath = draftPath;
    plan.header.draftDigest = draftDigest(draft);
    plan.header.format = draft.format;
    plan.header.subject = std::string(store::trimSpaces(draft.subject));
}

} // namespace

DeliveryPlan newRunPlan(const store::Session& session, const MessageDraft& draft,
                        const std::string& draftPath) {
    DeliveryPlan plan;
    for (std::int32_t i = 1; i <= session.sendList.count(); ++i) {
        const store::Contact& entry = session.sendList.at(i);
        plan.recipients.push_back({entry.id, std::string(entry.email.view())});
    }
    journalNewRun(plan, session, draft, draftPath);
    plan.logDialogue = draft.recipientChoice == code(RecipientChoice::SingleRecipient);
    return plan;
}

DeliveryPlan retryPlan(const store::Session& session, const RunRecord& run,
                       const MessageDraft& draft,
                       const std::set<std::optional<DeliveryOutcome>>& outcomes,
                       const std::string& draftPath) {
    DeliveryPlan plan;
    bool coversTheRest = true;
    for (const JournalRecipient& recipient : run.recipients) {
        if (recipient.deliveredBy.empty() && outcomes.contains(recipient.outcome())) {
            plan.recipients.push_back({recipient.slot, recipient.address});
        } else if (recipient.open()) {
            coversTheRest = false;
        }
    }
    if (coversTheRest && !run.finished && run.closedBy.empty()) {
        plan.closesJournal = run.path;
    }
    journalNewRun(plan, session, draft, draftPath);
    plan.header.retryOf = run.id;
    return plan;
}

ResumeCheck resumePlan(store::Session& session, const RunRecord& run, const MessageDraft& draft,
                       bool force, DeliveryPlan& plan) {
    if (!force && draftDigest(draft) != run.draftDigest) {
        return ResumeCheck::DraftChanged;
    }
    plan = DeliveryPlan{};
    plan.resumeJournal = run.path;
    plan.forced = force;
    plan.header.draftDigest = run.draftDigest;
    plan.header.subject = run.subject;
    plan.lastStampNumber = run.lastStampNumber();
    for (const JournalRecipient& recipient : run.recipients) {
        plan.recipients.push_back({recipient.slot, recipient.address});
        if (recipient.hasFinalOutcome()) {
            plan.settled.push_back(recipient.outcome());
        } else if (!recipient.deliveredBy.empty()) {
            plan.settled.push_back(DeliveryOutcome::Delivered); // by a later run
        } else {
            plan.settled.push_back(std::nullopt);
        }
    }
    const std::vector<UnsavedStamp> stamps =
        unsavedStamps(run, session.settings().extensions.value(kRunStampsKey));
    for (const UnsavedStamp& stamp : stamps) {
        const std::int32_t slot = stamp.recipient->slot;
        if (!session.hasContact(slot)) {
            continue;
        }
        // Only the contact the message went to: the slot may hold another by now.
        const store::Contact& contact = session.contact(slot);
        if (!contact.isDeleted() &&
            store::equalIgnoringCase(store::trimSpaces(contact.email.view()),
                                     stamp.recipient->address)) {
            session.markContacted(slot, stamp.attempt->stamp);
        }
    }
    if (!stamps.empty()) {
        noteStampsSaved(session, run.id, plan.lastStampNumber);
    }
    return ResumeCheck::Ready;
}

std::optional<RunRecord> interruptedRun(const store::Session& session) {
    if (session.isUntitled()) {
        return std::nullopt;
    }
    std::optional<RunRecord> run = newestUnfinishedRun(
        journalFolder(session.sessionFileName), session.settings().extensions.value(kRunStampsKey));
    if (run && run->damaged()) {
        return std::nullopt; // nothing to offer: whom it was for is not known
    }
    return run;
}

bool loadRunDraft(const RunRecord& run, MessageDraft& draft, std::string& error) {
    DraftReadResult read = readDraftFile(run.draftPath);
    if (read.status != DraftReadStatus::Loaded) {
        error = "The draft of the interrupted run cannot be read (\"" + run.draftPath +
                "\"); it was not resumed.";
        return false;
    }
    draft = std::move(read.draft);
    draft.format = run.format;
    return true;
}

bool prepareResume(store::Session& session, const RunRecord& run, MessageDraft& draft,
                   DeliveryPlan& plan, std::string& error) {
    if (!loadRunDraft(run, draft, error)) {
        return false;
    }
    if (resumePlan(session, run, draft, false, plan) == ResumeCheck::DraftChanged) {
        error = kDraftChangedForWindowText;
        return false;
    }
    return true;
}

std::string resumeQuestion(const RunRecord& run) {
    return "A sending of \"" + run.subject + "\" was interrupted after " +
           std::to_string(run.withFinalOutcome()) + " of " + std::to_string(run.recipients.size()) +
           " recipients. Resume it now?";
}

std::string runEndLabel(const SendRunSummary& summary) {
    if (!summary.stoppedEarly) {
        return kFinishedLabel;
    }
    return "Stopped early: " + std::to_string(notAttempted(summary)) + " of " +
           std::to_string(summary.recipients) + " recipients not attempted.";
}

RunTally runTally(const SendRunSummary& settled, std::int32_t waiting) {
    SendRunSummary counted = settled;
    counted.deferred += std::max(0, waiting);
    RunTally tally;
    tally.delivered = counted.delivered;
    tally.rejected = counted.rejected;
    tally.failed = counted.failed;
    tally.deferred = counted.deferred;
    tally.notAttempted = notAttempted(counted);
    return tally;
}

std::string tallyText(const RunTally& tally) {
    return "Delivered " + std::to_string(tally.delivered) + ", deferred " +
           std::to_string(tally.deferred) + ", rejected " + std::to_string(tally.rejected) +
           ", failed " + std::to_string(tally.failed) + ", not attempted " +
           std::to_string(tally.notAttempted);
}

std::string relayTallyText(const RunTally& tally) {
    std::string text;
    for (const RelayTally& relay : tally.relays) {
        char pace[32];
        std::snprintf(pace, sizeof pace, "%.1f", relay.perMinute);
        text += (text.empty() ? "" : "\n") + relay.label + ": " + std::to_string(relay.delivered) +
                " of " + std::to_string(relay.sent) + " delivered, " + pace + " per minute" +
                (relay.setAside ? ", waiting" : "");
    }
    return text;
}

std::string paceText(const RunTally& tally) {
    if (tally.perMinute <= 0.0) {
        return "";
    }
    char pace[32];
    std::snprintf(pace, sizeof pace, "%.1f", tally.perMinute);
    std::string text = "Pace: " + std::string(pace) + " per minute";
    if (tally.remainingMs && *tally.remainingMs > 0) {
        text += ", about " + durationText(*tally.remainingMs) + " left";
    }
    return text + ".";
}

SendRunSummary retryNotDelivered(store::Session& session, const MessageDraft& draft,
                                 const std::string& runId, const SendRunEnvironment& environment,
                                 RunObserver& observer) {
    std::optional<RunRecord> run;
    if (!session.isUntitled()) {
        run = findLinkedRun(journalFolder(session.sessionFileName), runId);
    }
    if (!run || run->damaged()) {
        observer.logLine(run ? damagedJournalText(*run) : "The run's journal cannot be found.");
        observer.progress(kFinishedLabel);
        observer.sendingChanged(false);
        return {};
    }
    const DeliveryPlan plan = retryPlan(
        session, *run, draft, {DeliveryOutcome::Deferred, DeliveryOutcome::Failed, std::nullopt},
        run->draftPath);
    return runDelivery(session, draft, plan, environment, observer);
}

SendRunSummary runDelivery(store::Session& session, const MessageDraft& draft,
                           const DeliveryPlan& plan, const SendRunEnvironment& environment,
                           RunObserver& observer) {
    return Run(session, &session, draft, plan, nullptr, environment, observer).run();
}

SendRunSummary sendSingle(const store::Session& session, const MessageDraft& draft,
                          const SingleSend& single, const SendRunEnvironment& environment,
                          RunObserver& observer) {
    DeliveryPlan plan;
    plan.recipients = {single.fields};
    plan.logDialogue = true;
    return Run(session, nullptr, draft, plan, &single, environment, observer).run();
}

} // namespace velmora::delivery
