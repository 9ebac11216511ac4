#pragma once

namespace velmora::app {

// The "Loading..." bar: its value plus a step, at most 100.
constexpr int advancedStartupProgress(int value, int step) {
    const int next = value + step;
    return next > 100 ? 100 : next;
}

} // namespace velmora::app
