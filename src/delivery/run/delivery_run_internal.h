#pragma once

// The run engine's own declarations, shared by the files that make it up
// (delivery_run.cpp, pool_run.cpp, run_texts.cpp); nothing outside this
// folder includes it.

#include "delivery/relay_pool.h"
#include "delivery/run/connection_workers.h"
#include "delivery/run/delivery_run.h"
#include "delivery/run/relay_dispatch.h"
#include "delivery/run/run_session.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::delivery {

inline constexpr int kWaitSliceMs = 50;
// Waits shorter than this get no label of their own (the limiter's usual
// spacing would double every line of a terminal run).
inline constexpr std::int64_t kLabelledWaitMs = 5'000;
inline constexpr std::int64_t kTallyEveryMs = 1'000;
// A held connection is let go before a longer wait: servers drop idle ones
// after a few minutes, and holding one through a back-off gains nothing.
inline constexpr std::int64_t kHoldThroughWaitMs = 10'000;

// "45 s", "3 min", "2 h 05 min"
std::string durationText(std::int64_t ms);
// A reply as the log shows it: "421 4.7.0 ...", or the reason without one.
std::string replyOf(const SmtpOutcome& outcome);

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
inline RunPolicy singleSendPolicy() {
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
    // The recipient a free lane sends next: the one whose envelope its
    // connection already sent, else the next ready one, else a deferred one
    // that is due. Nothing when none is.
    std::optional<std::size_t> takeNext(std::size_t lane, std::int64_t nowMs);
    // Gives the lane's connection the job's message, and shows it as sent to.
    void handOut(std::size_t lane, WorkerJob job);
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
                const std::string& stamp = "", bool queuedAgain = false);
    // Puts the recipient back at the head of the queue after an attempt that
    // says nothing about it (its server or relay held back or failed): the
    // journal counts it as not attempted until a later attempt says more.
    void queueAgain(std::size_t index, DeliveryOutcome outcome, const SmtpOutcome& smtp) {
        record(index, outcome, smtp, false, "", true);
        ready_.push_front(index);
    }
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
    std::vector<std::size_t> laneRelay_;    // the relay of each connection
    std::vector<std::int64_t> laneStartMs_; // when each connection started its message
    std::string relayOfRecord_;             // the relay the outcome being recorded came from
    std::int64_t poolStartMs_ = 0;
};

} // namespace velmora::delivery
