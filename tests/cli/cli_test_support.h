#pragma once

#include "delivery/random_source.h"
#include "store/clock.h"
#include "store/password_store.h"

#include <iostream>
#include <string>
#include <vector>

namespace velmora::testing_support {

// Real time for time-outs and journals, Monday 07 Dec 2026 for the stamps.
class RunDayClock final : public store::Clock {
public:
    store::LocalDateTime now() const override;
};

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Monday 07 Dec 2026 09:30, one hour east of UTC.
store::LocalDateTime cliTestTime();
// Runs the mailtray command in-process with a clock fixed at `time`.
CliRun runCli(const std::vector<std::string>& args,
              const store::LocalDateTime& time = cliTestTime(),
              store::PasswordStore* passwords = nullptr);
// The same with a clock of the caller's, and optionally standard input, a
// password store and a random source (system random when empty).
CliRun runCliWithClock(const std::vector<std::string>& args, const store::Clock& clock,
                       std::istream& in = std::cin, store::PasswordStore* passwords = nullptr,
                       delivery::RandomBytes randomBytes = {});
// The same with `input` as standard input.
CliRun runCliWithInput(const std::vector<std::string>& args, const std::string& input);

// Each contact's times-contacted count in the session file, in slot order.
std::vector<int> timesContactedIn(const std::string& sessionPath);

} // namespace velmora::testing_support
