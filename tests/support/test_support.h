#pragma once

#include "platform/clipboard.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "store/password_store.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::testing_support {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
// Sets an environment variable for the scope, then puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) { // NOLINT(concurrency-mt-unsafe): test set-up
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, std::string_view bytes);
// Path of a file in tests/data.
std::string dataPath(std::string_view name);

// A fixed random source for Message-IDs and boundaries: bytes 0, 1, 2, ...
// counting on from call to call, so each message still differs from the last.
std::function<void(unsigned char*, std::size_t)> countingRandomBytes();

// Builds files byte by byte in the int32 / counted-string encodings.
class Bytes {
public:
    Bytes& i32(std::int32_t value);
    Bytes& str(std::string_view text); // counted string
    Bytes& raw(std::string_view bytes);
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Records every message and answers questions from a queue.
class FakePrompter final : public platform::Prompter {
public:
    struct Shown {
        std::string title;
        std::string text;
        platform::PromptButtons buttons;
    };
    platform::PromptAnswer message(const std::string& title, const std::string& text,
                                   platform::PromptButtons buttons) override;
    std::optional<std::string> openFileName(const std::string& title, const std::string& filter,
                                            const std::string& initialPath) override;
    std::optional<std::string> saveFileName(const std::string& title, const std::string& filter,
                                            const std::string& initialPath) override;

    std::vector<Shown> shown;
    std::vector<platform::PromptAnswer> answers;   // taken front first
    std::vector<std::optional<std::string>> files; // taken front first
    struct Request {
        std::string title, filter, initialPath;
    };
    std::vector<Request> fileRequests;
};

// A program started with its arguments (argv[0] is a path); stdout and
// stderr go to files read back by `wait`. A process still running when the
// object goes is killed.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    int pid() const { return pid_; }
    // Waits for the end; the exit code, or 128 + signal when killed.
    int wait();
    std::string out() const;
    std::string err() const;

private:
    TempDir dir_;
    int pid_ = -1;
};

// Asks `condition` every `interval` until it holds (true) or `timeout` has
// passed (false): for what another process or thread brings about.
bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& condition,
               std::chrono::milliseconds interval = std::chrono::milliseconds(10));

// The mailtray command built beside the tests.
std::string mailtrayProgram();

// A clipboard that holds its text in memory.
class FakeClipboard final : public platform::Clipboard {
public:
    std::string content;
    std::string text() const override { return content; }
    void setText(const std::string& text) override { content = text; }
};

// A desktop that opens no document and starts no program.
struct NoLauncher final : platform::Launcher {
    bool openDocument(const std::string&) override { return false; }
    bool startProgram(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
};

// A keyring in memory that can be made unreachable or refuse to store.
struct MemoryKeyring final : store::PasswordStore {
    std::optional<std::string> unavailableReason() override { return unavailable; }
    ReadResult read(const std::string& account) override {
        const auto found = entries.find(account);
        return found == entries.end() ? ReadResult{std::nullopt, "not found"}
                                      : ReadResult{found->second, {}};
    }
    std::optional<std::string> write(const std::string& account,
                                     const std::string& password) override {
        if (refusal) {
            return refusal;
        }
        entries[account] = password;
        return std::nullopt;
    }
    std::optional<std::string> remove(const std::string& account) override {
        entries.erase(account);
        return std::nullopt;
    }
    std::map<std::string, std::string> entries;
    std::optional<std::string> unavailable;
    std::optional<std::string> refusal;
};

} // namespace velmora::testing_support
