#pragma once

#include "store/clock.h"

#include <initializer_list>
#include <string>

namespace testing_support {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the mailtray command in-process with a clock fixed at 07 Dec 2026 09:30.
CliRun runCli(std::initializer_list<std::string> args);
LocalDateTime cliTestTime();

} // namespace testing_support
