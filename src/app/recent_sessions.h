#pragma once

#include "platform/recent_session_store.h"

#include <string>
#include <vector>

namespace velmora::app {

// File > Recent Sessions: the last session files opened or saved, newest
// first. The list lives in the desktop's settings folder, behind
// platform::RecentSessionStore so that the rules stay testable without it.

inline constexpr std::size_t kRecentSessionLimit = 8;

// `paths` with `path` moved (or added) to the front, without duplicates or
// empty entries, cut to the limit.
std::vector<std::string> withRecentSession(const std::vector<std::string>& paths,
                                           const std::string& path);
// `paths` without those `exists` denies (moved or deleted files), without
// duplicates or empty entries, cut to the limit.
std::vector<std::string> existingRecentSessions(const std::vector<std::string>& paths,
                                                bool (*exists)(const std::string& path));

} // namespace velmora::app
