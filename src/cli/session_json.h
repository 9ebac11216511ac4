#pragma once

#include "store/session.h"

#include <nlohmann/json.hpp>

// Field names are those of the records, so scripts read what the program keeps.
nlohmann::json contactToJson(std::int32_t slot, const Contact& contact);
nlohmann::json settingsToJson(const SessionSettings& settings, bool withPassword);
nlohmann::json sessionToJson(const Session& session, bool withPassword);
