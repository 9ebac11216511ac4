#pragma once

#include "delivery/run/run_pacing.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmora::delivery {

// What a run over a pool of relays decides per relay: whose turn the next
// recipient is (by weight), each relay's own limiter and pauses, its daily
// cap, and setting aside a relay that fails. Pure arithmetic on millisecond
// times, like the run's pacing.

struct RelayLimits {
    std::int64_t weight = 1;
    std::int64_t ratePerMinute = 0;
    std::int64_t ratePerHour = 0;
    std::int64_t maxPauseMinutes = 30;
    // Deliveries the relay may still accept today; nothing: no cap.
    std::optional<std::int64_t> allowance;
};

// What the run knows of one relay's connections at a moment.
struct RelayLanes {
    bool idle = false; // one of them is free to start a message
    // Else: when the latest of them started the message it is on.
    std::int64_t busySinceMs = 0;
};

class RelayDispatch {
public:
    // A relay whose connections are all busy is waited for at least this
    // long before another relay takes its turn: one that keeps up gets its
    // share by weight exactly, whatever the jitter of its connections.
    static constexpr std::int64_t kKeepUpGraceMs = 250;

    // A relay set aside waits this long before it is tried again, twice as
    // long after each further failure.
    static constexpr std::int64_t kFirstSetAsideMs = 60'000;

    explicit RelayDispatch(const std::vector<RelayLimits>& relays);

    std::size_t size() const { return relays_.size(); }
    // The relay whose turn the next recipient is: of those that may take
    // one (not set aside, not paused, under their cap), the one whose
    // share of the recipients handed out so far is lowest for its weight
    // (the lower number on a tie). Nothing when none may.
    std::optional<std::size_t> turn(std::int64_t nowMs) const;
    // The relay that takes the next recipient now: the one whose turn it is
    // when it can start a message now (an idle connection, its limiter
    // allowing). When it cannot, the next by share that can, so that the
    // slowest relay does not set the pace of the run: at once when the
    // turn relay's limiter holds it back, and when its connections are all
    // busy, once they have been for kKeepUpGraceMs or twice the taker's
    // usual message time, whichever is longer. Nothing: the run waits.
    std::optional<std::size_t> taker(std::int64_t nowMs,
                                     const std::vector<RelayLanes>& lanes) const;
    // How long until a relay that may take recipients has its limiter
    // allow the next one; nothing when none may take any now.
    std::optional<std::int64_t> soonestStartMs(std::int64_t nowMs) const;
    // Whether the relay could still take a recipient at some point of the
    // run: not set aside and not at its cap. When no relay can, the run stops.
    bool usable(std::size_t relay, std::int64_t nowMs) const;
    bool anyUsable(std::int64_t nowMs) const;
    // Whether the relay may take the next recipient ahead, for the envelope
    // its connection sends with this message's end of data: it is free to
    // take one, unpaced, and one more keeps it within its share by weight
    // (or it took this recipient in the place of a relay that lags,
    // `outOfTurn`: the share no longer holds it back).
    bool mayTakeAhead(std::size_t relay, std::int64_t nowMs, bool outOfTurn = false) const;
    // How long the relay's limiter holds its next message back.
    std::int64_t delayMs(std::size_t relay, std::int64_t nowMs) const;
    bool limited(std::size_t relay) const { return relays_[relay].limiter.limited(); }
    // The earliest time after `nowMs` at which a pause or a setting aside
    // ends; nothing when none is under way.
    std::optional<std::int64_t> nextReturnMs(std::int64_t nowMs) const;

    // A message goes to the relay now: it counts towards its share and its
    // cap until its outcome is known.
    void started(std::size_t relay, std::int64_t nowMs);
    // The message's outcome: delivered (counts against the cap) or not
    // (its place under the cap is free again).
    void finished(std::size_t relay, bool delivered);
    // A message of the relay took `ms` from its start to its outcome: its
    // usual message time follows.
    void took(std::size_t relay, std::int64_t ms);
    // A message that never reached the relay is no part of its share.
    void handedBack(std::size_t relay);
    // The relay asks to slow down: the length of its pause, or nothing when
    // its pauses are spent (it is then set aside).
    std::optional<std::int64_t> slowDown(std::size_t relay, std::int64_t nowMs);
    // A message went through: the relay's next pause starts short again.
    void succeeded(std::size_t relay);
    // The relay cannot be reached or refuses the login: set aside, the
    // length of its back-off returned.
    std::int64_t setAside(std::size_t relay, std::int64_t nowMs);
    bool pausedOrAside(std::size_t relay, std::int64_t nowMs) const;

    std::int64_t handedOut(std::size_t relay) const { return relays_[relay].handedOut; }
    std::int64_t delivered(std::size_t relay) const { return relays_[relay].delivered; }

private:
    struct State {
        std::int64_t weight;
        RateLimiter limiter;
        PauseBudget pauses;
        std::optional<std::int64_t> allowance;
        std::int64_t handedOut = 0;
        std::int64_t inFlight = 0;
        std::int64_t delivered = 0;
        std::int64_t usualMs = 0; // a moving average of its message times; 0: none yet
        std::int64_t pausedUntilMs = 0;
        std::int64_t asideUntilMs = 0;
        std::int64_t nextAsideMs = kFirstSetAsideMs;
        bool spent = false; // its pauses are spent: it stays aside for the run
    };
    bool underCap(const State& state) const;
    bool mayTake(std::size_t relay, std::int64_t nowMs) const {
        return usable(relay, nowMs) && !pausedOrAside(relay, nowMs);
    }
    // Whether `a`'s share for its weight is lower than `b`'s.
    bool lowerShare(std::size_t a, std::size_t b) const {
        return relays_[a].handedOut * relays_[b].weight < relays_[b].handedOut * relays_[a].weight;
    }
    std::vector<State> relays_;
};

} // namespace velmora::delivery
