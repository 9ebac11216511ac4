#include "delivery/program_run.h"

#include "store/file_reading.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmora::delivery {

namespace {

// What a helper writes is small or a message written back; more is not read.
constexpr std::uint64_t kMaxOutput = 256ull * 1024 * 1024;

// A file in the temporary folder, removed when done with: the program's
// input and outputs go through files, so no pipe can fill up and stall it.
class TemporaryFile {
public:
    TemporaryFile() {
        const char* folder = std::getenv("TMPDIR");
        path_ = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                "/velmora-program-XXXXXX";
        fd_ = ::mkstemp(path_.data());
    }
    ~TemporaryFile() {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

ProgramRun runProgram(const std::vector<std::string>& arguments, std::string_view input,
                      std::chrono::seconds limit) {
    ProgramRun run;
    TemporaryFile in;
    TemporaryFile out;
    TemporaryFile err;
    if (in.fd() < 0 || out.fd() < 0 || err.fd() < 0 || !writeAll(in.fd(), input) ||
        ::lseek(in.fd(), 0, SEEK_SET) != 0) {
        run.error = store::systemErrorText(errno);
        return run;
    }
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.fd(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.fd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.fd(), STDERR_FILENO);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.found = spawned != ENOENT;
        run.error = store::systemErrorText(spawned);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            run.error = store::systemErrorText(errno);
            return run;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            run.error = "it did not finish in time";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Where the C library looks for the program in the child, a missing one
    // ends it with 127.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        run.found = false;
        run.error = store::systemErrorText(ENOENT);
        return run;
    }
    run.finished = WIFEXITED(status);
    run.exitCode = run.finished ? WEXITSTATUS(status) : -1;
    std::string readError;
    store::readRegularFile(out.path(), kMaxOutput, run.output, readError);
    store::readRegularFile(err.path(), kMaxOutput, run.errorOutput, readError);
    if (!run.finished) {
        run.error = "it was stopped by signal " + std::to_string(WTERMSIG(status));
    }
    return run;
}

} // namespace velmora::delivery
