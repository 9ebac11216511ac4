#pragma once

#include <string>
#include <vector>

namespace velmora::platform {

// Where File > Recent Sessions keeps its list: the desktop's settings folder
// in the program (QtRecentSessionStore), memory in tests.
class RecentSessionStore {
public:
    virtual ~RecentSessionStore() = default;
    virtual std::vector<std::string> load() const = 0;
    virtual void save(const std::vector<std::string>& paths) = 0;
};

} // namespace velmora::platform
