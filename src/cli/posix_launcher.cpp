#include "cli/posix_launcher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::cli {

namespace {

// Forks a child that starts the program in a new session and exits at once,
// so the program is adopted by init and never waited for. The grandchild's
// start is reported back through a close-on-exec pipe.
bool spawnDetached(const std::string& program, const std::vector<std::string>& arguments,
                   bool searchPath) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        pid_t grandchild = 0;
        const int rc =
            searchPath ? ::posix_spawnp(&grandchild, argv[0], nullptr, &attr, argv.data(), environ)
                       : ::posix_spawn(&grandchild, argv[0], nullptr, &attr, argv.data(), environ);
        const char ok = rc == 0 ? 1 : 0;
        (void)!::write(report[1], &ok, 1);
        ::_exit(0);
    }
    ::close(report[1]);
    char ok = 0;
    const bool reported = ::read(report[0], &ok, 1) == 1;
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return reported && ok == 1;
}

} // namespace

bool PosixLauncher::openDocument(const std::string& url) {
    return spawnDetached("xdg-open", {url}, true);
}

bool PosixLauncher::startProgram(const std::string& program,
                                 const std::vector<std::string>& arguments) {
    if (program.empty()) {
        return false;
    }
    return spawnDetached(program, arguments, program.find('/') == std::string::npos);
}

} // namespace velmora::cli
