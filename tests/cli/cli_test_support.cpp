#include "cli/cli_test_support.h"

#include "cli/cli_context.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <sstream>
#include <utility>
#include <vector>

namespace velmora::testing_support {

store::LocalDateTime cliTestTime() {
    return {2026, 12, 7, 9, 30, 0, 1, 60, 1796632200000};
}

store::LocalDateTime RunDayClock::now() const {
    store::LocalDateTime t = store::SystemClock().now();
    t.year = 2026;
    t.month = 12;
    t.day = 7;
    return t;
}

CliRun runCliWithClock(const std::vector<std::string>& args, const store::Clock& clock,
                       std::istream& in, store::PasswordStore* passwords,
                       delivery::RandomBytes randomBytes) {
    std::vector<const char*> argv{"mailtray"};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    run.exitCode = cli::runMailtray(static_cast<int>(argv.size()), argv.data(), in, out, err, clock,
                                    passwords, std::move(randomBytes));
    run.out = out.str();
    run.err = err.str();
    return run;
}

CliRun runCli(const std::vector<std::string>& args, const store::LocalDateTime& time,
              store::PasswordStore* passwords) {
    store::FixedClock clock(time);
    return runCliWithClock(args, clock, std::cin, passwords, countingRandomBytes());
}

CliRun runCliWithInput(const std::vector<std::string>& args, const std::string& input) {
    std::istringstream in(input);
    store::FixedClock clock(cliTestTime());
    return runCliWithClock(args, clock, in);
}

std::vector<int> timesContactedIn(const std::string& sessionPath) {
    std::vector<int> times;
    // Kept in a variable: a range over a temporary's member outlives it.
    const store::SessionReadResult read = store::readSessionFile(sessionPath);
    for (const store::Contact& c : read.session.contacts()) {
        times.push_back(c.timesContacted);
    }
    return times;
}

} // namespace velmora::testing_support
