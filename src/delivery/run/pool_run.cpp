// The run over a pool of relays: each relay with its own connections,
// limiter and pauses, the recipients spread by weight (relay_dispatch.h).
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/run/delivery_run_internal.h"
#include "delivery/smtp/smtp_request.h"

#include <algorithm>
#include <map>

namespace velmora::delivery {

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
    laneStartMs_.assign(workers_->size(), 0);
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
        bool outOfTurn = false;
        if (!lane) {
            // Else the relay whose turn it is, or one in its place when it
            // lags (RelayDispatch::taker), on an idle connection of its own.
            std::vector<RelayLanes> lanes(pool_.size());
            for (std::size_t l = 0; l < workers_->size(); ++l) {
                RelayLanes& of = lanes[laneRelay_[l]];
                if (!workers_->busy(l) && !reserved_[l]) {
                    of.idle = true;
                } else {
                    of.busySinceMs = std::max(of.busySinceMs, laneStartMs_[l]);
                }
            }
            relay = relays_->taker(t, lanes);
            if (!relay) {
                return;
            }
            outOfTurn = relay != relays_->turn(t);
            for (std::size_t l = 0; l < workers_->size() && !lane; ++l) {
                if (laneRelay_[l] == *relay && !workers_->busy(l) && !reserved_[l]) {
                    lane = l;
                }
            }
        }
        if (!lane) {
            return;
        }
        const bool counted = reserved_[*lane].has_value();
        const std::optional<std::size_t> index = takeNext(*lane, t);
        if (!index) {
            return;
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
        if (!ready_.empty() && relays_->mayTakeAhead(*relay, t, outOfTurn)) {
            reserved_[*lane] = ready_.front();
            ready_.pop_front();
            relays_->started(*relay, t);
            job.nextRecipient = plan_.recipients[*reserved_[*lane]].address;
        }
        laneStartMs_[*lane] = t;
        handOut(*lane, std::move(job));
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
        queueAgain(index,
                   verdict == Verdict::SlowDown ? DeliveryOutcome::Deferred
                                                : DeliveryOutcome::Failed,
                   outcome);
        relayOfRecord_.clear();
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
        // Nothing under way and nobody started: every relay that may take
        // recipients waits for its limiter.
        if (const std::optional<std::int64_t> soonest = relays_->soonestStartMs(t)) {
            const std::int64_t wait = std::max<std::int64_t>(1, *soonest);
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

} // namespace velmora::delivery
