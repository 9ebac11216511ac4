#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::delivery {

// One relay's part of a run over a pool of relays.
struct RelayTally {
    std::string label;     // "relay 2 (smtp.example.net)"
    std::int32_t sent = 0; // messages handed to it
    std::int32_t delivered = 0;
    double perMinute = 0.0; // its deliveries per minute since the run began
    bool setAside = false;  // paused or set aside now
};

// Where a list run stands: recipients per outcome, its pace and an estimate
// of the time it still needs.
struct RunTally {
    std::int32_t delivered = 0;
    std::int32_t deferred = 0; // waiting for a later try, or still deferred at the end
    std::int32_t rejected = 0;
    std::int32_t failed = 0;
    std::int32_t notAttempted = 0;
    double perMinute = 0.0;                  // messages per minute so far
    std::optional<std::int64_t> remainingMs; // nothing until a pace is known
    std::int64_t nowMs = 0;                  // the run's clock when this was taken
    std::vector<RelayTally> relays;          // a run over a pool of relays: each relay's part
};

// The window (or terminal) that watches a delivery. A session and a send run
// call it from their loops on the one thread; nothing here may block.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // Appends one line to the "Server Messages" log.
    virtual void logLine(const std::string& text) = 0;
    // Shows what the run is doing now (the progress window's label).
    virtual void progress(const std::string& label) { (void)label; }
    // True once the user pressed Cancel; asked between steps and while waiting.
    virtual bool cancelRequested() = 0;
    // Lets the window system handle pending events (repaint, the Cancel
    // button) without waiting; called often while waiting on the network.
    virtual void pumpEvents() {}
    // The progress bar's range becomes 0 to `maximum`, its position 0.
    virtual void progressRange(int maximum) { (void)maximum; }
    // Moves the progress bar on by one.
    virtual void advanceProgress() {}
    // True while a recipient is being sent to (the button reads "Cancel"),
    // false once the run has ended (the button reads "Close").
    virtual void sendingChanged(bool sending) { (void)sending; }
    // A list run's counts changed (at most about once a second, and at its end).
    virtual void tallyChanged(const RunTally& tally) { (void)tally; }
};

} // namespace velmora::delivery
