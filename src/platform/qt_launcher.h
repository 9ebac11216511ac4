#pragma once

#include "platform/launcher.h"

namespace velmora::platform {

// Launcher on Qt's desktop services and detached processes.
class QtLauncher final : public Launcher {
public:
    bool openDocument(const std::string& pathOrLink) override;
    bool startProgram(const std::string& program,
                      const std::vector<std::string>& arguments) override;
};

} // namespace velmora::platform
