#pragma once

#include <string>
#include <vector>

// Opening links and documents with the desktop's default handler, and
// starting programs without waiting for them.
class Launcher {
public:
    virtual ~Launcher() = default;
    // False when no handler could be started.
    virtual bool openUrl(const std::string& url) = 0;
    // Starts `program` with exactly these arguments (no shell), detached.
    virtual bool startDetached(const std::string& program,
                               const std::vector<std::string>& arguments) = 0;
};
