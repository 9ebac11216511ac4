// The texts a run shows: its progress label at the end, its counts, pace
// and per-relay lines.
#include "delivery/run/delivery_run_internal.h"

#include <cstdio>

namespace velmora::delivery {

std::string durationText(std::int64_t ms) {
    const std::int64_t seconds = (ms + 999) / 1000;
    if (seconds < 120) {
        return std::to_string(seconds) + " s";
    }
    const std::int64_t minutes = (seconds + 59) / 60;
    if (minutes < 120) {
        return std::to_string(minutes) + " min";
    }
    const std::int64_t rest = minutes % 60;
    return std::to_string(minutes / 60) + " h " + (rest < 10 ? "0" : "") + std::to_string(rest) +
           " min";
}

std::string runEndLabel(const SendRunSummary& summary) {
    if (!summary.stoppedEarly) {
        return kFinishedLabel;
    }
    return "Stopped early: " + std::to_string(notAttempted(summary)) + " of " +
           std::to_string(summary.recipients) + " recipients not attempted.";
}

RunTally runTally(const SendRunSummary& settled, std::int32_t waiting) {
    SendRunSummary counted = settled;
    counted.deferred += std::max(0, waiting);
    RunTally tally;
    tally.delivered = counted.delivered;
    tally.rejected = counted.rejected;
    tally.failed = counted.failed;
    tally.deferred = counted.deferred;
    tally.notAttempted = notAttempted(counted);
    return tally;
}

std::string tallyText(const RunTally& tally) {
    return "Delivered " + std::to_string(tally.delivered) + ", deferred " +
           std::to_string(tally.deferred) + ", rejected " + std::to_string(tally.rejected) +
           ", failed " + std::to_string(tally.failed) + ", not attempted " +
           std::to_string(tally.notAttempted);
}

std::string relayTallyText(const RunTally& tally) {
    std::string text;
    for (const RelayTally& relay : tally.relays) {
        char pace[32];
        std::snprintf(pace, sizeof pace, "%.1f", relay.perMinute);
        text += (text.empty() ? "" : "\n") + relay.label + ": " + std::to_string(relay.delivered) +
                " of " + std::to_string(relay.sent) + " delivered, " + pace + " per minute" +
                (relay.setAside ? ", waiting" : "");
    }
    return text;
}

std::string paceText(const RunTally& tally) {
    if (tally.perMinute <= 0.0) {
        return "";
    }
    char pace[32];
    std::snprintf(pace, sizeof pace, "%.1f", tally.perMinute);
    std::string text = "Pace: " + std::string(pace) + " per minute";
    if (tally.remainingMs && *tally.remainingMs > 0) {
        text += ", about " + durationText(*tally.remainingMs) + " left";
    }
    return text + ".";
}

} // namespace velmora::delivery
