#pragma once

#include "cli/json_stream.h"
#include "store/session.h"

#include <nlohmann/json.hpp>

namespace velmora::cli {

// Field names are those of the records, so scripts read what the program keeps.
nlohmann::json contactToJson(std::int32_t slot, const store::Contact& contact);
nlohmann::json settingsToJson(const store::SessionSettings& settings, bool withPassword);
nlohmann::json sessionToJson(const store::Session& session, bool withPassword);

// The same documents written record by record, byte for byte what dumping
// the values above prints.
void writeContactJson(JsonStreamWriter& out, std::int32_t slot, const store::Contact& contact);
void writeSessionJson(JsonStreamWriter& out, const store::Session& session, bool withPassword);

} // namespace velmora::cli
