#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::delivery_testing {

// Debian's python3 (the one with aiosmtpd), from VELMORA_PYTHON3.
std::string python3();
// A script of this folder.
std::string scriptPath(const std::string& name);

// Runs a Python script to its end; returns what it printed on stdout.
// Fails the test when it cannot run or exits with an error.
std::string runPythonScript(const std::string& script, const std::vector<std::string>& args);

// The test SMTP server, started on a free port and stopped when the object
// goes, or when this process ends without destroying it (an abort, a crash).
class SmtpTestServer {
public:
    // `args` go to smtp_test_server.py (or another server script of this
    // folder that prints its port first) after "--dir".
    SmtpTestServer(const std::string& storeDir, const std::vector<std::string>& args = {},
                   const std::string& script = "smtp_test_server.py");
    ~SmtpTestServer();
    SmtpTestServer(const SmtpTestServer&) = delete;
    SmtpTestServer& operator=(const SmtpTestServer&) = delete;

    int port() const { return port_; }
    bool running() const { return port_ > 0; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    int guardFd_ = -1;
};

// The envelopes the test server stored in `storeDir`, one NNN.json per
// message it took, in the order it took them.
std::vector<nlohmann::json> serverEnvelopes(const std::string& storeDir);

} // namespace velmora::delivery_testing
