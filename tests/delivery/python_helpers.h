#pragma once

#include "store/records.h"
#include "support/test_support.h"

#include <nlohmann/json.hpp>
#include <optional>
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

// The fake OAuth provider (HTTPS from a throw-away authority, which
// SSL_CERT_FILE trusts while this lives) that signs `login` in, and the test
// SMTP server that takes only the provider's current tokens for `login`;
// both on 127.0.0.1.
struct OAuthTestServers {
    explicit OAuthTestServers(const std::string& login = "ann@example.org");
    testing_support::TempDir certs;
    testing_support::TempDir dir;  // valid-tokens, requests, refuse-refresh
    testing_support::TempDir mail; // the messages the SMTP server took
    std::optional<SmtpTestServer> auth;
    std::optional<SmtpTestServer> smtp;
    std::optional<testing_support::ScopedEnvironment> trust;

    std::string url(const std::string& path) const;
    // Sends through the SMTP server, signing in with the provider as "custom".
    void configure(store::SessionSettings& settings) const;
    // Every token issued so far stops working, as if it had expired early.
    void expireTokens() const;
    std::string requests() const; // the grant of each token request, a line each
};

} // namespace velmora::delivery_testing
