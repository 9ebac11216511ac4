#include "python_helpers.h"

#include "delivery/oauth/oauth_provider.h"
#include "support/test_support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::delivery_testing {

std::string python3() {
    const char* path = std::getenv("VELMORA_PYTHON3");
    return path != nullptr && *path != '\0' ? path : "/usr/bin/python3";
}

std::string scriptPath(const std::string& name) {
    return std::string(VELMORA_DELIVERY_TEST_DIR) + "/" + name;
}

namespace {

// The descriptor the server reads its guard pipe on.
constexpr int kGuardFd = 3;

// Starts python with the script and arguments, its stdout on a pipe. With
// `guardFd` >= 0 that descriptor becomes the child's kGuardFd.
pid_t spawnPython(const std::string& script, const std::vector<std::string>& args, int& outFd,
                  int guardFd = -1) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    if (guardFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, guardFd, kGuardFd);
    }
    std::vector<std::string> words{python3(), scriptPath(script)};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }
    outFd = pipeFds[0];
    return pid;
}

} // namespace

std::string runPythonScript(const std::string& script, const std::vector<std::string>& args) {
    int fd = -1;
    const pid_t pid = spawnPython(script, args, fd);
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << python3();
        return {};
    }
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << script << " failed";
    return out;
}

SmtpTestServer::SmtpTestServer(const std::string& storeDir, const std::vector<std::string>& args,
                               const std::string& script) {
    // The guard pipe: the server holds its read end, only this process its
    // write end (close-on-exec, so no other child inherits it). However this
    // process ends, the kernel closes the write end and the server stops.
    int guard[2];
    if (::pipe2(guard, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot make the test SMTP server's guard pipe";
        return;
    }
    std::vector<std::string> all{"--dir", storeDir, "--guard-fd", std::to_string(kGuardFd)};
    all.insert(all.end(), args.begin(), args.end());
    int fd = -1;
    pid_ = spawnPython(script, all, fd, guard[0]);
    ::close(guard[0]);
    guardFd_ = guard[1];
    if (pid_ < 0) {
        ADD_FAILURE() << "cannot start the test SMTP server";
        return;
    }
    // The server prints its port once it listens.
    std::string line;
    while (line.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) {
            break;
        }
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        ADD_FAILURE() << "the test SMTP server did not start: \"" << line << "\"";
    }
}

SmtpTestServer::~SmtpTestServer() {
    if (guardFd_ >= 0) {
        ::close(guardFd_);
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::vector<nlohmann::json> serverEnvelopes(const std::string& storeDir) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(storeDir)) {
        if (entry.path().extension() == ".json") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end()); // NNN: the order the server took them
    std::vector<nlohmann::json> envelopes;
    for (const std::filesystem::path& file : files) {
        envelopes.push_back(nlohmann::json::parse(testing_support::readFileBytes(file.string())));
    }
    return envelopes;
}

OAuthTestServers::OAuthTestServers(const std::string& login) {
    runPythonScript("make_test_certificates.py", {certs.path()});
    std::ofstream(dir.file("valid-tokens")).close();
    auth.emplace(dir.path(),
                 std::vector<std::string>{"--cert", certs.file("server.pem"), "--key",
                                          certs.file("server.key"), "--login", login},
                 "fake_authorization_server.py");
    smtp.emplace(mail.path(), std::vector<std::string>{"--oauth-user", login, "--oauth-tokens",
                                                       dir.file("valid-tokens")});
    trust.emplace("SSL_CERT_FILE", certs.file("ca.pem"));
}

std::string OAuthTestServers::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(auth->port()) + path;
}

void OAuthTestServers::configure(store::SessionSettings& settings) const {
    settings.smtpServer = "127.0.0.1";
    settings.smtpPort = smtp->port();
    settings.timeoutSeconds = 10;
    settings.extensions.set("smtpSecurity", "none");
    settings.extensions.set(delivery::kOAuthProviderKey, "custom");
    settings.extensions.set(delivery::kOAuthClientIdKey, "test-client");
    settings.extensions.set(delivery::kOAuthAuthorizeUrlKey, url("/authorize"));
    settings.extensions.set(delivery::kOAuthTokenUrlKey, url("/token"));
    settings.extensions.set(delivery::kOAuthDeviceUrlKey, url("/device"));
    settings.extensions.set(delivery::kOAuthScopeKey, "https://mail.example/smtp");
}

void OAuthTestServers::expireTokens() const {
    std::ofstream(dir.file("valid-tokens")).close();
}

std::string OAuthTestServers::requests() const {
    return testing_support::readFileBytes(dir.file("requests"));
}

} // namespace velmora::delivery_testing
