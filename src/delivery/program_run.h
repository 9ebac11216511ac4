#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// What became of a helper program the core runs and waits for (the spam
// filter, systemd-run, systemctl).
struct ProgramRun {
    bool found = true;     // false: no such program on PATH
    bool finished = false; // it ran to its end (see exitCode)
    int exitCode = -1;
    std::string output;      // what it wrote to stdout
    std::string errorOutput; // and to stderr
    std::string error;       // why it did not run or finish, in the system's words
};

// Runs `arguments` (the first looked up on PATH) with `input` as its stdin
// and waits for it, at most `limit`: one that takes longer is killed.
ProgramRun runProgram(const std::vector<std::string>& arguments, std::string_view input,
                      std::chrono::seconds limit);

} // namespace velmora::delivery
