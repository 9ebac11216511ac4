#include "support/test_support.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmora::testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        ADD_FAILURE() << "cannot write " << path;
    }
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, dir_.file("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, dir_.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    pid_ = pid;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

int ChildProcess::wait() {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ChildProcess::out() const {
    return readFileBytes(dir_.file("out"));
}

std::string ChildProcess::err() const {
    return readFileBytes(dir_.file("err"));
}

bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& condition,
               std::chrono::milliseconds interval) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
    return true;
}

std::string mailtrayProgram() {
#ifdef VELMORA_MAILTRAY_PROGRAM
    return VELMORA_MAILTRAY_PROGRAM;
#else
    ADD_FAILURE() << "this test binary was built without the mailtray program's path";
    return "/nonexistent/mailtray";
#endif
}

std::string dataPath(std::string_view name) {
    const char* root = std::getenv("VELMORA_TEST_DATA");
    return std::string(root != nullptr ? root : "tests/data") + "/" + std::string(name);
}

Bytes& Bytes::i32(std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        bytes_.push_back(static_cast<char>((u >> shift) & 0xFF));
    }
    return *this;
}

Bytes& Bytes::str(std::string_view text) {
    i32(static_cast<std::int32_t>(text.size()));
    bytes_.append(text);
    return *this;
}

Bytes& Bytes::raw(std::string_view bytes) {
    bytes_.append(bytes);
    return *this;
}

platform::PromptAnswer FakePrompter::message(const std::string& title, const std::string& text,
                                             platform::PromptButtons buttons) {
    shown.push_back({title, text, buttons});
    if (buttons == platform::PromptButtons::Ok) {
        return platform::PromptAnswer::Ok;
    }
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return platform::PromptAnswer::Cancel;
    }
    const platform::PromptAnswer answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

std::optional<std::string> FakePrompter::openFileName(const std::string& title,
                                                      const std::string& filter,
                                                      const std::string& initialPath) {
    fileRequests.push_back({title, filter, initialPath});
    if (files.empty()) {
        return std::nullopt;
    }
    auto file = files.front();
    files.erase(files.begin());
    return file;
}

std::optional<std::string> FakePrompter::saveFileName(const std::string& title,
                                                      const std::string& filter,
                                                      const std::string& initialPath) {
    return openFileName(title, filter, initialPath);
}

std::function<void(unsigned char*, std::size_t)> countingRandomBytes() {
    auto next = std::make_shared<unsigned char>(0);
    return [next](unsigned char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = (*next)++;
        }
    };
}

} // namespace velmora::testing_support
