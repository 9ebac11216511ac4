#pragma once

#include "platform/launcher.h"

namespace velmora::cli {

// The command-line tool's launcher: links go to `xdg-open` found on PATH,
// programs are started directly (never through a shell), both detached.
class PosixLauncher final : public platform::Launcher {
public:
    bool openDocument(const std::string& url) override;
    bool startProgram(const std::string& program,
                      const std::vector<std::string>& arguments) override;
};

} // namespace velmora::cli
