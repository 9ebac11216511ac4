#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace velmora::delivery {

// The pace of a send run: a rate limiter, the back-off of deferred
// recipients and the pauses a "slow down" reply asks for. Pure arithmetic
// on millisecond times, so that a test can drive it with a fixed clock.

// Spaces the starts of messages evenly so that no window of one minute
// holds more than `perMinute` starts and no window of one hour more than
// `perHour` (0: no limit). The spacing is kept between every two starts,
// never caught up after a slow stretch: a burst is never possible.
class RateLimiter {
public:
    RateLimiter(std::int64_t perMinute, std::int64_t perHour);

    bool limited() const { return intervalMs_ > 0; }
    std::int64_t intervalMs() const { return intervalMs_; }
    // How long to wait from `nowMs` before the next message may start.
    std::int64_t delayMs(std::int64_t nowMs) const;
    // A message started at `nowMs`.
    void started(std::int64_t nowMs);
    // Messages per hour at this pace (0: not limited).
    double messagesPerHour() const;

private:
    std::int64_t intervalMs_ = 0;
    std::optional<std::int64_t> lastStartMs_;
};

// Deferred recipients wait 60 s after their first deferral, then twice as
// long after each further one; `retries` more tries in all (0: one try).
class DeferralBackoff {
public:
    static constexpr std::int64_t kFirstDelayMs = 60'000;
    explicit DeferralBackoff(std::int64_t retries) : retries_(retries < 0 ? 0 : retries) {}
    // After the `deferrals`-th deferral of a recipient: the wait before the
    // next try, or nothing when the recipient has had its tries.
    std::optional<std::int64_t> delayAfter(std::int64_t deferrals) const;

private:
    std::int64_t retries_;
};

// The run's pauses on "421" and "too many" replies: 1, 2, 4 ... minutes,
// at most `maxPauseMinutes` in all over the run. Once that is spent, the
// run stops.
class PauseBudget {
public:
    explicit PauseBudget(std::int64_t maxPauseMinutes);
    // The next pause, shortened to what is left of the budget; nothing when
    // the budget is spent.
    std::optional<std::int64_t> nextPauseMs();
    // A message went through: the next pause starts again at one minute
    // (the budget spent stays spent).
    void succeeded() { nextMs_ = kFirstPauseMs; }
    std::int64_t spentMs() const { return spentMs_; }

private:
    static constexpr std::int64_t kFirstPauseMs = 60'000;
    std::int64_t budgetMs_;
    std::int64_t spentMs_ = 0;
    std::int64_t nextMs_ = kFirstPauseMs;
};

// What a run still has to send, for the estimate of the time it needs.
struct PendingWork {
    std::int64_t ready = 0;                 // messages that may go as soon as the run can
    std::vector<std::int64_t> deferredAtMs; // deferred messages: the time each may go again
    std::int64_t busyUntilMs = 0;           // the end of a wait or pause under way (0: none)
};

// The pace of a run and an estimate of the time it still needs.
class PaceMeter {
public:
    // A message starts, and ends.
    void started(std::int64_t nowMs);
    void finishedOne(std::int64_t nowMs);
    // Messages per minute from the first start to `nowMs`: the waits and
    // pauses count, as the user lives them (0 before the first message ended).
    double perMinute(std::int64_t nowMs) const;
    // Milliseconds left for `work` from `nowMs`: each message takes what one
    // took to send so far, or the limiter's spacing when that is longer, and
    // no message goes before the wait under way or its deferral ends.
    // Nothing while neither a message's time nor a wait is known.
    std::optional<std::int64_t> remainingMs(std::int64_t nowMs, const PendingWork& work,
                                            std::int64_t limiterIntervalMs) const;

private:
    std::optional<std::int64_t> firstStartMs_;
    std::optional<std::int64_t> startMs_; // of the message under way
    std::int64_t sendingMs_ = 0;          // the time the finished messages took, waits left out
    std::int64_t done_ = 0;
};

} // namespace velmora::delivery
