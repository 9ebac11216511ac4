#include "delivery/run/delivery_run.h"

#include "delivery/message/draft_file.h"
#include "delivery/run/delivery_run_internal.h"
#include "delivery/smtp/smtp_request.h"
#include "delivery/smtp/smtp_session.h"
#include "store/text.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace velmora::delivery {

namespace {

bool isLetter(char c) {
    c = store::toLowerAscii(c);
    return c >= 'a' && c <= 'z';
}

} // namespace

std::string replyOf(const SmtpOutcome& outcome) {
    return outcome.replyCode.empty() ? outcome.reason : outcome.replyCode + " " + outcome.replyText;
}

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
                 const std::string& stamp, bool queuedAgain) {
    if (!journal_) {
        return;
    }
    JournalAttempt attempt;
    attempt.outcome = outcome;
    attempt.code = smtp.replyCode;
    attempt.text = smtp.replyCode.empty() ? smtp.reason : smtp.replyText;
    attempt.final = final;
    attempt.queuedAgain = queuedAgain;
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
        if (workers_ && now() < pausedUntilMs_) {
            // Another connection heard it first: one pause for all of them.
            queueAgain(index, DeliveryOutcome::Deferred, outcome);
            return true;
        }
        const std::optional<std::int64_t> pause = pauses_.nextPauseMs();
        if (!pause) {
            // The run stops at this recipient, counted failed as at any
            // failure that ends a run; not final, so a resume sends to it.
            record(index, DeliveryOutcome::Failed, outcome, false);
            course_->logLine("Failed: the server still asks to slow down (" + replyOf(outcome) +
                             ") after " + durationText(pauses_.spentMs()) +
                             " of pauses; the run stopped.");
            ++summary_.failed;
            stop();
            return false;
        }
        queueAgain(index, DeliveryOutcome::Deferred, outcome);
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
        const std::optional<std::size_t> index = takeNext(lane, now());
        if (!index) {
            // Nothing for this lane; a later lane may still hold the
            // recipient whose envelope its connection already sent.
            continue;
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
        handOut(lane, std::move(job));
    }
}

std::optional<std::size_t> Run::takeNext(std::size_t lane, std::int64_t nowMs) {
    std::optional<std::size_t> index = reserved_[lane];
    reserved_[lane].reset();
    if (!index && !ready_.empty()) {
        index = ready_.front();
        ready_.pop_front();
    } else if (!index) {
        const auto due = std::min_element(
            deferred_.begin(), deferred_.end(),
            [](const Deferred& a, const Deferred& b) { return a.readyAtMs < b.readyAtMs; });
        if (due == deferred_.end() || due->readyAtMs > nowMs) {
            return std::nullopt;
        }
        index = due->index;
        deferred_.erase(due);
    }
    return index;
}

void Run::handOut(std::size_t lane, WorkerJob job) {
    const PlannedRecipient& recipient = plan_.recipients[job.index];
    course_->progress(sendingLabel(static_cast<std::int32_t>(job.index + 1), summary_.recipients,
                                   recipient.address));
    course_->sendingChanged(true);
    job.message = messageFor(recipient);
    inHand_.push_back(job.index);
    workers_->send(lane, std::move(job));
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
            if (pool) {
                relays_->took(relay, now() - laneStartMs_[report->worker]);
            }
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
