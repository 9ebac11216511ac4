#include "delivery/run/relay_dispatch.h"

#include <algorithm>

namespace velmora::delivery {

RelayDispatch::RelayDispatch(const std::vector<RelayLimits>& relays) {
    for (const RelayLimits& limits : relays) {
        relays_.push_back(State{std::max<std::int64_t>(1, limits.weight),
                                RateLimiter(limits.ratePerMinute, limits.ratePerHour),
                                PauseBudget(limits.maxPauseMinutes), limits.allowance});
    }
}

bool RelayDispatch::underCap(const State& state) const {
    return !state.allowance || state.delivered + state.inFlight < *state.allowance;
}

bool RelayDispatch::usable(std::size_t relay, std::int64_t nowMs) const {
    const State& state = relays_[relay];
    return !state.spent && nowMs >= state.asideUntilMs && underCap(state);
}

bool RelayDispatch::anyUsable(std::int64_t nowMs) const {
    for (std::size_t relay = 0; relay < relays_.size(); ++relay) {
        // A relay whose back-off ends later may yet take recipients; one at
        // its cap with messages under way may get its places back.
        const State& state = relays_[relay];
        if (!state.spent && (underCap(state) || state.inFlight > 0)) {
            if (nowMs >= state.asideUntilMs || state.asideUntilMs == 0) {
                return true;
            }
        }
    }
    return false;
}

bool RelayDispatch::pausedOrAside(std::size_t relay, std::int64_t nowMs) const {
    const State& state = relays_[relay];
    return state.spent || nowMs < state.pausedUntilMs || nowMs < state.asideUntilMs;
}

std::optional<std::size_t> RelayDispatch::turn(std::int64_t nowMs) const {
    std::optional<std::size_t> best;
    for (std::size_t relay = 0; relay < relays_.size(); ++relay) {
        if (mayTake(relay, nowMs) && (!best || lowerShare(relay, *best))) {
            best = relay;
        }
    }
    return best;
}

std::optional<std::size_t> RelayDispatch::taker(std::int64_t nowMs,
                                                const std::vector<RelayLanes>& lanes) const {
    std::vector<std::size_t> order;
    for (std::size_t relay = 0; relay < relays_.size(); ++relay) {
        if (mayTake(relay, nowMs)) {
            order.push_back(relay);
        }
    }
    // By share, the lower number on a tie, as turn() chooses.
    std::stable_sort(order.begin(), order.end(),
                     [this](std::size_t a, std::size_t b) { return lowerShare(a, b); });
    const auto canStart = [&](std::size_t relay) {
        return lanes[relay].idle && delayMs(relay, nowMs) == 0;
    };
    if (order.empty() || canStart(order.front())) {
        return order.empty() ? std::nullopt : std::optional<std::size_t>(order.front());
    }
    const std::size_t turnRelay = order.front();
    // Its limiter's wait is known; a busy connection may be free in a moment.
    const bool heldBack = delayMs(turnRelay, nowMs) > 0;
    const std::int64_t waited = nowMs - lanes[turnRelay].busySinceMs;
    for (std::size_t i = 1; i < order.size(); ++i) {
        const std::size_t relay = order[i];
        const std::int64_t grace = std::max(kKeepUpGraceMs, 2 * relays_[relay].usualMs);
        if (canStart(relay) && (heldBack || waited >= grace)) {
            return relay;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> RelayDispatch::soonestStartMs(std::int64_t nowMs) const {
    std::optional<std::int64_t> soonest;
    for (std::size_t relay = 0; relay < relays_.size(); ++relay) {
        if (mayTake(relay, nowMs)) {
            const std::int64_t wait = delayMs(relay, nowMs);
            soonest = std::min(wait, soonest.value_or(wait));
        }
    }
    return soonest;
}

bool RelayDispatch::mayTakeAhead(std::size_t relay, std::int64_t nowMs, bool outOfTurn) const {
    if (!mayTake(relay, nowMs) || limited(relay)) {
        return false;
    }
    if (outOfTurn) {
        return true;
    }
    std::int64_t total = 0;
    std::int64_t weights = 0;
    for (std::size_t r = 0; r < relays_.size(); ++r) {
        if (r == relay || mayTake(r, nowMs)) {
            total += relays_[r].handedOut;
            weights += relays_[r].weight;
        }
    }
    // One more stays within its weight's share of one more, rounded up.
    const State& state = relays_[relay];
    return (state.handedOut + 1) * weights <= (total + 1) * state.weight + weights - 1;
}

std::int64_t RelayDispatch::delayMs(std::size_t relay, std::int64_t nowMs) const {
    return relays_[relay].limiter.delayMs(nowMs);
}

std::optional<std::int64_t> RelayDispatch::nextReturnMs(std::int64_t nowMs) const {
    std::optional<std::int64_t> next;
    for (const State& state : relays_) {
        for (const std::int64_t until : {state.pausedUntilMs, state.asideUntilMs}) {
            if (!state.spent && until > nowMs && (!next || until < *next)) {
                next = until;
            }
        }
    }
    return next;
}

void RelayDispatch::started(std::size_t relay, std::int64_t nowMs) {
    State& state = relays_[relay];
    ++state.handedOut;
    ++state.inFlight;
    state.limiter.started(nowMs);
}

void RelayDispatch::finished(std::size_t relay, bool delivered) {
    State& state = relays_[relay];
    state.inFlight = std::max<std::int64_t>(0, state.inFlight - 1);
    if (delivered) {
        ++state.delivered;
    }
}

void RelayDispatch::took(std::size_t relay, std::int64_t ms) {
    State& state = relays_[relay];
    state.usualMs = state.usualMs == 0 ? ms : (3 * state.usualMs + ms) / 4;
}

void RelayDispatch::handedBack(std::size_t relay) {
    State& state = relays_[relay];
    state.handedOut = std::max<std::int64_t>(0, state.handedOut - 1);
}

std::optional<std::int64_t> RelayDispatch::slowDown(std::size_t relay, std::int64_t nowMs) {
    State& state = relays_[relay];
    if (nowMs < state.pausedUntilMs) {
        // Another of its connections heard it first: one pause for all of them.
        return state.pausedUntilMs - nowMs;
    }
    const std::optional<std::int64_t> pause = state.pauses.nextPauseMs();
    if (!pause) {
        state.spent = true;
        return std::nullopt;
    }
    state.pausedUntilMs = nowMs + *pause;
    return pause;
}

void RelayDispatch::succeeded(std::size_t relay) {
    State& state = relays_[relay];
    state.pauses.succeeded();
    state.nextAsideMs = kFirstSetAsideMs;
}

std::int64_t RelayDispatch::setAside(std::size_t relay, std::int64_t nowMs) {
    State& state = relays_[relay];
    if (nowMs < state.asideUntilMs) {
        return state.asideUntilMs - nowMs; // its other connections failed as well
    }
    const std::int64_t backoff = state.nextAsideMs;
    state.asideUntilMs = nowMs + backoff;
    state.nextAsideMs = std::min<std::int64_t>(backoff * 2, 3'600'000);
    return backoff;
}

} // namespace velmora::delivery
