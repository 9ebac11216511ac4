#pragma once

#include <csignal>
#include <string>

namespace velmora::cli {

// Removes every temporary file an earlier save of the session at `path`
// left beside it, whatever its age. Only for a caller that holds the
// session's lock: then no save of it is under way. Returns how many.
int removeSessionTemporaries(const std::string& path);

// Removes the temporaries if no program holds the session's lock (a command
// that only reads takes it for that moment alone).
void removeUnheldSessionTemporaries(const std::string& path);

// While a save of the session is written, Ctrl+C, SIGTERM or SIGHUP remove
// its temporary file before the program ends by that signal, so the
// session stays as it was and nothing is left beside it. A SIGKILL cannot
// be caught: the next command on the session removes what it left.
class SaveInterruptGuard {
public:
    explicit SaveInterruptGuard(const std::string& sessionPath);
    ~SaveInterruptGuard();
    SaveInterruptGuard(const SaveInterruptGuard&) = delete;
    SaveInterruptGuard& operator=(const SaveInterruptGuard&) = delete;

private:
    struct sigaction previous_[3]{};
    bool installed_[3] = {false, false, false};
};

} // namespace velmora::cli
