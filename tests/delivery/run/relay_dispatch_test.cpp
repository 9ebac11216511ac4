#include "delivery/run/relay_dispatch.h"

#include <gtest/gtest.h>

namespace velmora::delivery {

namespace {

// Hands out `count` recipients at `nowMs`, each finished at once.
std::vector<std::int64_t> handOut(RelayDispatch& dispatch, int count, std::int64_t nowMs,
                                  bool delivered = true) {
    std::vector<std::int64_t> perRelay(dispatch.size(), 0);
    for (int i = 0; i < count; ++i) {
        const std::optional<std::size_t> relay = dispatch.turn(nowMs);
        if (!relay) {
            break;
        }
        dispatch.started(*relay, nowMs);
        dispatch.finished(*relay, delivered);
        ++perRelay[*relay];
    }
    return perRelay;
}

} // namespace

// Recipients follow the weights, and the share of a relay that cannot take
// any goes to the others.
TEST(RelayDispatch, RecipientsAreSpreadByWeightOverTheRelaysThatCanTakeThem) {
    struct Case {
        const char* what;
        std::vector<std::int64_t> weights;
        std::vector<std::optional<std::int64_t>> allowances;
        int recipients;
        std::vector<std::int64_t> expected;
    };
    const Case cases[] = {
        {"three to one", {3, 1}, {std::nullopt, std::nullopt}, 40, {30, 10}},
        {"even", {1, 1, 1}, {std::nullopt, std::nullopt, std::nullopt}, 9, {3, 3, 3}},
        {"a cap hands the rest on", {1, 1}, {4, std::nullopt}, 20, {4, 16}},
        {"both capped: the run stops short", {1, 1}, {2, 3}, 20, {2, 3}},
        {"a cap of none left today", {5, 1}, {0, std::nullopt}, 6, {0, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<RelayLimits> limits;
        for (std::size_t i = 0; i < c.weights.size(); ++i) {
            RelayLimits relay;
            relay.weight = c.weights[i];
            relay.allowance = c.allowances[i];
            limits.push_back(relay);
        }
        RelayDispatch dispatch(limits);
        EXPECT_EQ(handOut(dispatch, c.recipients, 0), c.expected);
    }
}

// A connection takes its next recipient ahead (its envelope goes with the
// end of data) only while that keeps its relay within its share and cap.
TEST(RelayDispatch, RecipientsTakenAheadKeepTheWeightsAndTheCap) {
    RelayLimits heavy;
    heavy.weight = 3;
    RelayLimits capped;
    capped.allowance = 2;
    RelayDispatch dispatch({heavy, RelayLimits{}, capped});
    std::vector<int> taken(3, 0);
    for (int given = 0; given < 50;) {
        const std::optional<std::size_t> relay = dispatch.turn(0);
        ASSERT_TRUE(relay);
        dispatch.started(*relay, 0);
        ++taken[*relay];
        ++given;
        if (given < 50 && dispatch.mayTakeAhead(*relay, 0)) {
            dispatch.started(*relay, 0);
            ++taken[*relay];
            ++given;
        }
    }
    EXPECT_EQ(taken, (std::vector<int>{36, 12, 2}));
}

// A message under way holds its place under the cap until it is known
// whether the relay accepted it.
TEST(RelayDispatch, AMessageUnderWayHoldsItsPlaceUnderTheCap) {
    RelayLimits capped;
    capped.allowance = 1;
    RelayDispatch dispatch({capped});
    dispatch.started(0, 0);
    EXPECT_FALSE(dispatch.turn(0));
    EXPECT_TRUE(dispatch.anyUsable(0)); // it may yet come back
    dispatch.finished(0, false);
    EXPECT_EQ(dispatch.turn(0), 0u);
    dispatch.started(0, 0);
    dispatch.finished(0, true);
    EXPECT_FALSE(dispatch.turn(0));
    EXPECT_FALSE(dispatch.anyUsable(0));
}

// A failing relay is set aside for a back-off that doubles; when every
// relay is aside at once, none is left.
TEST(RelayDispatch, AFailingRelayIsSetAsideWithBackOff) {
    RelayDispatch dispatch({RelayLimits{}, RelayLimits{}});
    EXPECT_EQ(dispatch.setAside(0, 1'000), 60'000);
    EXPECT_EQ(dispatch.setAside(0, 2'000), 59'000); // a second connection's failure
    EXPECT_EQ(handOut(dispatch, 4, 2'000), (std::vector<std::int64_t>{0, 4}));
    EXPECT_TRUE(dispatch.anyUsable(2'000));
    EXPECT_EQ(dispatch.nextReturnMs(2'000), 61'000);
    // Back again, it first catches up on its share.
    EXPECT_EQ(handOut(dispatch, 4, 61'000), (std::vector<std::int64_t>{4, 0}));
    EXPECT_EQ(dispatch.setAside(0, 70'000), 120'000);
    EXPECT_EQ(dispatch.setAside(1, 70'000), 60'000);
    EXPECT_FALSE(dispatch.anyUsable(70'000));
    EXPECT_FALSE(dispatch.turn(70'000));
    // A success makes the next back-off short again.
    dispatch.succeeded(0);
    EXPECT_EQ(dispatch.setAside(0, 200'000), 60'000);
}

// "Slow down" pauses the relay that said it; once its pauses are spent it
// takes nothing more in this run.
TEST(RelayDispatch, ARelayThatKeepsAskingToSlowDownIsPausedThenLeftOut) {
    RelayLimits shortPauses;
    shortPauses.maxPauseMinutes = 3;
    RelayDispatch dispatch({shortPauses, RelayLimits{}});
    EXPECT_EQ(dispatch.slowDown(0, 0), 60'000);
    EXPECT_EQ(dispatch.slowDown(0, 10'000), 50'000); // one pause for all its connections
    EXPECT_EQ(dispatch.turn(10'000), 1u);
    EXPECT_TRUE(dispatch.pausedOrAside(0, 10'000));
    EXPECT_EQ(dispatch.slowDown(0, 60'000), 120'000);
    EXPECT_FALSE(dispatch.slowDown(0, 180'000));
    EXPECT_FALSE(dispatch.usable(0, 10'000'000));
    EXPECT_EQ(handOut(dispatch, 3, 10'000'000), (std::vector<std::int64_t>{0, 3}));
}

// The relay whose turn it is takes the recipient when it can start one; one
// held back by its limiter hands it at once to the next by share that can,
// one whose connections are busy once they have been past the grace.
TEST(RelayDispatch, ARelayThatLagsDoesNotSetThePace) {
    struct Case {
        const char* what;
        bool turnIdle;
        std::int64_t turnBusyForMs;
        bool turnLimited;
        bool otherIdle;
        std::int64_t otherUsualMs;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {"it can start: its turn", true, 0, false, true, 0, 0},
        {"busy a moment: waited for", false, 100, false, true, 0, std::nullopt},
        {"busy past the grace: the next takes it", false, 250, false, true, 0, 1},
        {"a slower taker waits longer", false, 300, false, true, 200, std::nullopt},
        {"past twice the taker's time", false, 400, false, true, 200, 1},
        {"its limiter holds it back: the next at once", true, 0, true, true, 0, 1},
        {"the next cannot start either", false, 5'000, false, false, 0, std::nullopt},
    };
    constexpr std::int64_t kNow = 100'000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RelayLimits first;
        first.ratePerMinute = c.turnLimited ? 60 : 0;
        RelayDispatch dispatch({first, RelayLimits{}});
        // One each so far: relay 0 has the turn (the lower number on a tie).
        dispatch.started(0, kNow);
        dispatch.started(1, kNow);
        if (c.otherUsualMs > 0) {
            dispatch.took(1, c.otherUsualMs);
        }
        const std::vector<RelayLanes> lanes{{c.turnIdle, kNow - c.turnBusyForMs},
                                            {c.otherIdle, kNow}};
        EXPECT_EQ(dispatch.turn(kNow), 0u);
        EXPECT_EQ(dispatch.taker(kNow, lanes), c.expected);
    }
}

// Each relay's limiter is its own.
TEST(RelayDispatch, EachRelayKeepsItsOwnRate) {
    RelayLimits slow;
    slow.ratePerMinute = 60;
    RelayDispatch dispatch({slow, RelayLimits{}});
    dispatch.started(0, 0);
    dispatch.started(1, 0);
    EXPECT_EQ(dispatch.delayMs(0, 0), 1'000);
    EXPECT_EQ(dispatch.delayMs(1, 0), 0);
    EXPECT_TRUE(dispatch.limited(0));
    EXPECT_FALSE(dispatch.limited(1));
}

} // namespace velmora::delivery
