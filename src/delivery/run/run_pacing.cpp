#include "delivery/run/run_pacing.h"

#include <algorithm>

namespace velmora::delivery {

namespace {

// The smallest spacing that keeps `limit` starts within every `windowMs`:
// with starts at least window/limit apart, a half-open window of that
// length holds at most `limit` of them.
std::int64_t spacing(std::int64_t limit, std::int64_t windowMs) {
    return limit > 0 ? (windowMs + limit - 1) / limit : 0;
}

} // namespace

RateLimiter::RateLimiter(std::int64_t perMinute, std::int64_t perHour)
    : intervalMs_(std::max(spacing(perMinute, 60'000), spacing(perHour, 3'600'000))) {}

std::int64_t RateLimiter::delayMs(std::int64_t nowMs) const {
    if (!limited() || !lastStartMs_) {
        return 0;
    }
    return std::max<std::int64_t>(0, *lastStartMs_ + intervalMs_ - nowMs);
}

void RateLimiter::started(std::int64_t nowMs) {
    lastStartMs_ = nowMs;
}

double RateLimiter::messagesPerHour() const {
    return limited() ? 3'600'000.0 / static_cast<double>(intervalMs_) : 0.0;
}

std::optional<std::int64_t> DeferralBackoff::delayAfter(std::int64_t deferrals) const {
    if (deferrals < 1 || deferrals > retries_) {
        return std::nullopt;
    }
    // Capped doubling: 100 retries must not overflow.
    const std::int64_t shift = std::min<std::int64_t>(deferrals - 1, 20);
    return kFirstDelayMs << shift;
}

PauseBudget::PauseBudget(std::int64_t maxPauseMinutes)
    : budgetMs_(std::max<std::int64_t>(0, maxPauseMinutes) * 60'000) {}

std::optional<std::int64_t> PauseBudget::nextPauseMs() {
    const std::int64_t left = budgetMs_ - spentMs_;
    if (left <= 0) {
        return std::nullopt;
    }
    const std::int64_t pause = std::min(nextMs_, left);
    spentMs_ += pause;
    nextMs_ = std::min<std::int64_t>(nextMs_ * 2, budgetMs_);
    return pause;
}

void PaceMeter::started(std::int64_t nowMs) {
    if (!firstStartMs_) {
        firstStartMs_ = nowMs;
    }
    startMs_ = nowMs;
}

void PaceMeter::finishedOne(std::int64_t nowMs) {
    if (!startMs_) {
        started(nowMs);
    }
    sendingMs_ += std::max<std::int64_t>(0, nowMs - *startMs_);
    startMs_.reset();
    ++done_;
}

double PaceMeter::perMinute(std::int64_t nowMs) const {
    if (!firstStartMs_ || done_ == 0) {
        return 0.0;
    }
    const std::int64_t elapsed = std::max<std::int64_t>(1, nowMs - *firstStartMs_);
    return static_cast<double>(done_) * 60'000.0 / static_cast<double>(elapsed);
}

std::optional<std::int64_t> PaceMeter::remainingMs(std::int64_t nowMs, const PendingWork& work,
                                                   std::int64_t limiterIntervalMs) const {
    const std::int64_t perMessage = done_ > 0 ? sendingMs_ / done_ : 0;
    const std::int64_t each = std::max(perMessage, limiterIntervalMs);
    const bool waits = work.busyUntilMs > nowMs || !work.deferredAtMs.empty();
    if (done_ == 0 && each == 0 && !waits) {
        return std::nullopt;
    }
    // The messages in the order the run takes them: the ready ones first,
    // then each deferred one no sooner than its time.
    std::int64_t at = std::max(nowMs, work.busyUntilMs) + work.ready * each;
    std::vector<std::int64_t> deferred = work.deferredAtMs;
    std::sort(deferred.begin(), deferred.end());
    for (const std::int64_t due : deferred) {
        at = std::max(at, due) + each;
    }
    return at - nowMs;
}

} // namespace velmora::delivery
