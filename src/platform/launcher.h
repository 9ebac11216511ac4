#pragma once

#include <string>
#include <vector>

namespace velmora::platform {

// Hands documents and links to the desktop and starts other programs; the
// GUI answers with the desktop's services, tests with fakes.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Opens a local file with its default program, or a link ("mailto:",
    // "http:") with its handler. False when the desktop refused.
    virtual bool openDocument(const std::string& pathOrLink) = 0;
    // Starts a program without waiting for it. False when it cannot start.
    virtual bool startProgram(const std::string& program,
                              const std::vector<std::string>& arguments) = 0;
};

} // namespace velmora::platform
