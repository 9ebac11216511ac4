#include "app/recent_sessions.h"

#include <algorithm>

namespace velmora::app {

namespace {

void appendOnce(std::vector<std::string>& list, const std::string& path) {
    if (!path.empty() && list.size() < kRecentSessionLimit &&
        std::find(list.begin(), list.end(), path) == list.end()) {
        list.push_back(path);
    }
}

} // namespace

std::vector<std::string> withRecentSession(const std::vector<std::string>& paths,
                                           const std::string& path) {
    std::vector<std::string> result;
    appendOnce(result, path);
    for (const std::string& entry : paths) {
        appendOnce(result, entry);
    }
    return result;
}

std::vector<std::string> existingRecentSessions(const std::vector<std::string>& paths,
                                                bool (*exists)(const std::string& path)) {
    std::vector<std::string> result;
    for (const std::string& entry : paths) {
        if (!entry.empty() && exists(entry)) {
            appendOnce(result, entry);
        }
    }
    return result;
}

} // namespace velmora::app
