// The run's pace on an injected clock: the limiter never lets a window hold
// more starts than its limit, and the back-offs follow their schedules.
#include "delivery/run/run_pacing.h"

#include <deque>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace velmora::delivery {

namespace {

// The most starts any half-open window of `windowMs` holds.
std::int64_t busiestWindow(const std::vector<std::int64_t>& starts, std::int64_t windowMs) {
    std::deque<std::int64_t> window;
    std::int64_t most = 0;
    for (const std::int64_t start : starts) {
        window.push_back(start);
        while (window.front() <= start - windowMs) {
            window.pop_front();
        }
        most = std::max<std::int64_t>(most, static_cast<std::int64_t>(window.size()));
    }
    return most;
}

// A run of `messages` sends whose sessions take random times (some far
// longer than the spacing, some instant), each waiting for the limiter.
std::vector<std::int64_t> simulate(RateLimiter& limiter, int messages, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::int64_t> sessionMs(0, 9000);
    std::bernoulli_distribution instant(0.5);
    std::int64_t now = 1'000'000;
    std::vector<std::int64_t> starts;
    for (int i = 0; i < messages; ++i) {
        now += limiter.delayMs(now);
        EXPECT_EQ(limiter.delayMs(now), 0);
        limiter.started(now);
        starts.push_back(now);
        now += instant(random) ? 0 : sessionMs(random);
    }
    return starts;
}

TEST(RateLimiter, NoWindowEverHoldsMoreThanItsLimit) {
    struct Case {
        std::int64_t perMinute;
        std::int64_t perHour;
    };
    for (const Case c : {Case{30, 0}, Case{7, 0}, Case{0, 100}, Case{50, 600}, Case{1, 1},
                         Case{60000, 0}, Case{3, 3000}}) {
        RateLimiter limiter(c.perMinute, c.perHour);
        const std::vector<std::int64_t> starts = simulate(limiter, 400, 7);
        if (c.perMinute > 0) {
            EXPECT_LE(busiestWindow(starts, 60'000), c.perMinute) << c.perMinute << "/min";
            // The limit is reached, not undercut: a steady run fills it.
            EXPECT_GE(busiestWindow(starts, 60'000), std::min<std::int64_t>(c.perMinute, 2));
        }
        if (c.perHour > 0) {
            EXPECT_LE(busiestWindow(starts, 3'600'000), c.perHour) << c.perHour << "/h";
        }
    }
}

TEST(RateLimiter, IsSmoothAndNeverCatchesUpAfterASlowStretch) {
    RateLimiter limiter(6, 0); // one start every 10 s
    EXPECT_EQ(limiter.delayMs(0), 0);
    limiter.started(0);
    EXPECT_EQ(limiter.delayMs(4'000), 6'000);
    // A session that took five minutes earns no burst afterwards.
    limiter.started(10'000);
    EXPECT_EQ(limiter.delayMs(310'000), 0);
    limiter.started(310'000);
    EXPECT_EQ(limiter.delayMs(310'001), 9'999);
    EXPECT_DOUBLE_EQ(limiter.messagesPerHour(), 360.0);
}

TEST(RateLimiter, ZeroMeansNoLimit) {
    RateLimiter limiter(0, 0);
    limiter.started(5);
    EXPECT_FALSE(limiter.limited());
    EXPECT_EQ(limiter.delayMs(5), 0);
}

TEST(DeferralBackoff, DoublesFromOneMinuteForTheAllowedRetries) {
    struct Case {
        std::int64_t retries;
        std::int64_t deferrals;
        std::optional<std::int64_t> delay;
    };
    const Case cases[] = {
        {3, 1, 60'000},  {3, 2, 120'000},
        {3, 3, 240'000}, {3, 4, {}},
        {0, 1, {}},      {1, 1, 60'000},
        {1, 2, {}},      {100, 100, 60'000LL << 20}, // capped, no overflow
        {-1, 1, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeferralBackoff(c.retries).delayAfter(c.deferrals), c.delay)
            << c.retries << " retries, deferral " << c.deferrals;
    }
}

TEST(PauseBudget, DoublesUntilTheBudgetIsSpentInAll) {
    PauseBudget budget(30);
    std::vector<std::int64_t> minutes;
    while (const std::optional<std::int64_t> pause = budget.nextPauseMs()) {
        minutes.push_back(*pause / 60'000);
    }
    EXPECT_EQ(minutes, (std::vector<std::int64_t>{1, 2, 4, 8, 15}));
    EXPECT_EQ(budget.spentMs(), 30 * 60'000);

    PauseBudget none(0);
    EXPECT_FALSE(none.nextPauseMs());
}

TEST(PauseBudget, ASuccessRestartsTheStepButNotTheBudget) {
    PauseBudget budget(5);
    EXPECT_EQ(budget.nextPauseMs(), 60'000);
    EXPECT_EQ(budget.nextPauseMs(), 120'000);
    budget.succeeded();
    EXPECT_EQ(budget.nextPauseMs(), 60'000);
    EXPECT_EQ(budget.nextPauseMs(), 60'000); // what is left of five minutes
    EXPECT_FALSE(budget.nextPauseMs());
}

TEST(PaceMeter, EstimatesFromThePaceOrTheLimiterWhicheverIsSlower) {
    PaceMeter meter;
    EXPECT_FALSE(meter.remainingMs(0, {10, {}, 0}, 0));
    EXPECT_EQ(meter.remainingMs(0, {10, {}, 0}, 2'000), 20'000);
    meter.started(0);
    meter.finishedOne(500);
    meter.started(500);
    meter.finishedOne(1'000);
    EXPECT_DOUBLE_EQ(meter.perMinute(1'000), 120.0);
    EXPECT_EQ(meter.remainingMs(1'000, {10, {}, 0}, 0), 5'000);
    EXPECT_EQ(meter.remainingMs(1'000, {10, {}, 0}, 3'000), 30'000);
}

TEST(PaceMeter, ThePaceCountsThePausesAndTheTimeLeftTheWaits) {
    PaceMeter meter;
    // Ten messages of 150 ms, then a pause of a minute at the server's request.
    for (int i = 0; i < 10; ++i) {
        meter.started(i * 150);
        meter.finishedOne(i * 150 + 150);
    }
    EXPECT_DOUBLE_EQ(meter.perMinute(60'000), 10.0);
    // One ready message waits for the pause to end; a deferred one is due at 120 s.
    EXPECT_EQ(meter.remainingMs(1'500, {1, {}, 60'000}, 0), 58'650);
    EXPECT_EQ(meter.remainingMs(1'500, {1, {120'000}, 60'000}, 0), 118'650);
    // Before any message ended, a known wait is still a time left.
    EXPECT_EQ(PaceMeter().remainingMs(0, {0, {60'000}, 0}, 0), 60'000);
}

} // namespace

} // namespace velmora::delivery
