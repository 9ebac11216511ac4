#pragma once

#include <cstdint>
#include <optional>

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

// Estimates the time a run still needs from the pace of its messages so
// far (and the rate limiter's spacing when that is slower).
class PaceMeter {
public:
    void started(std::int64_t nowMs);
    void finishedOne(std::int64_t nowMs);
    // Messages per minute over the run so far (0 before the first one).
    double perMinute() const;
    // Milliseconds left for `remaining` messages, nothing before a pace is known.
    std::optional<std::int64_t> remainingMs(std::int64_t remaining,
                                            std::int64_t limiterIntervalMs) const;

private:
    std::optional<std::int64_t> startMs_;
    std::int64_t lastMs_ = 0;
    std::int64_t done_ = 0;
};

} // namespace velmora::delivery
