#pragma once

#include "cli/json_stream.h"
#include "delivery/run/run_journal.h"

#include <nlohmann/json.hpp>

namespace velmora::cli {

// A run as `runs list` shows it: no recipients, their count and outcomes.
nlohmann::json runToJson(const delivery::RunRecord& run);
// A run as `runs show` shows it, every recipient with each attempt.
nlohmann::json runDetailToJson(const delivery::RunRecord& run);
// The same document written recipient by recipient, byte for byte what
// dumping `runDetailToJson` prints: a run of a million recipients needs no
// second copy of itself as JSON.
void writeRunDetailJson(JsonStreamWriter& out, const delivery::RunRecord& run);

} // namespace velmora::cli
