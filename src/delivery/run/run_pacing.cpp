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
    if (!startMs_) {
        startMs_ = nowMs;
    }
}

void PaceMeter::finishedOne(std::int64_t nowMs) {
    started(nowMs);
    lastMs_ = nowMs;
    ++done_;
}

double PaceMeter::perMinute() const {
    if (!startMs_ || done_ == 0) {
        return 0.0;
    }
    const std::int64_t elapsed = std::max<std::int64_t>(1, lastMs_ - *startMs_);
    return static_cast<double>(done_) * 60'000.0 / static_cast<double>(elapsed);
}

std::optional<std::int64_t> PaceMeter::remainingMs(std::int64_t remaining,
                                                   std::int64_t limiterIntervalMs) const {
    if (!startMs_ || done_ == 0) {
        if (limiterIntervalMs > 0) {
            return remaining * limiterIntervalMs;
        }
        return std::nullopt;
    }
    const double perMessage = static_cast<double>(std::max<std::int64_t>(0, lastMs_ - *startMs_)) /
                              static_cast<double>(done_);
    const double each = std::max(perMessage, static_cast<double>(limiterIntervalMs));
    return static_cast<std::int64_t>(each * static_cast<double>(remaining));
}

} // namespace velmora::delivery
