#include "cli/cli_test_support.h"

#include "cli/cli_context.h"

#include <sstream>
#include <vector>

namespace testing_support {

LocalDateTime cliTestTime() {
    LocalDateTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 7;
    t.hour = 9;
    t.minute = 30;
    t.weekday = 1;
    t.utcOffsetMinutes = 60;
    t.millisecondsSinceEpoch = 1796632200000;
    return t;
}

CliRun runCli(std::initializer_list<std::string> args) {
    std::vector<const char*> argv{"mailtray"};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    FixedClock clock(cliTestTime());
    CliRun run;
    run.exitCode = runMailtray(static_cast<int>(argv.size()), argv.data(), out, err, clock);
    run.out = out.str();
    run.err = err.str();
    return run;
}

} // namespace testing_support
