#include "store/session_lock.h"

#include "store/file_names.h"
#include "store/file_reading.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace velmora::store {

namespace {

long longestName(const std::string& directory) {
    const long limit = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    return limit > 0 ? limit : 255;
}

std::string thisHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

// "N", or "N on HOST" when the holder runs on another machine (a shared
// folder).
std::string holderOf(int fd) {
    char text[512] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got <= 0) {
        return "unknown";
    }
    std::string content(text, static_cast<std::size_t>(got));
    const auto newline = content.find('\n');
    if (newline != std::string::npos) {
        content.erase(newline);
    }
    const auto space = content.find(' ');
    const std::string pid = content.substr(0, space);
    const std::string host = space == std::string::npos ? std::string() : content.substr(space + 1);
    if (pid.empty()) {
        return "unknown";
    }
    if (!host.empty() && host != thisHostName()) {
        return pid + " on " + host;
    }
    return pid;
}

} // namespace

std::string resolvedSavePath(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target - 1);
        if (length <= 0) {
            return current;
        }
        std::string next(target, static_cast<std::size_t>(length));
        if (next.front() != '/') {
            next = directoryOf(current) + "/" + next;
        }
        current = next;
    }
    return current;
}

std::string sessionInUseText(const std::string& path, const std::string& holder) {
    return "Session file \"" + path + "\" is in use by another Velmora Mailtray (process " +
           holder + ").";
}

std::string SessionLock::lockPathFor(const std::string& sessionPath) {
    const std::string target = resolvedSavePath(sessionPath);
    const std::string directory = directoryOf(target);
    const std::string name = nameOf(target);
    std::string lockName = "." + name + ".lock";
    if (static_cast<long>(lockName.size()) > longestName(directory)) {
        // A name that leaves no room: one derived from it, as unique.
        lockName = ".mt" + hashedName(name) + ".lock";
    }
    return directory + "/" + lockName;
}

SessionLock::SessionLock(SessionLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lockPath_(std::move(other.lockPath_)),
      sessionPath_(std::move(other.sessionPath_)), message_(std::move(other.message_)) {}

SessionLock& SessionLock::operator=(SessionLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        lockPath_ = std::move(other.lockPath_);
        sessionPath_ = std::move(other.sessionPath_);
        message_ = std::move(other.message_);
    }
    return *this;
}

SessionLock::~SessionLock() {
    release();
}

void SessionLock::release() {
    if (fd_ >= 0) {
        // Removed while still held: a program waiting on this inode notices
        // the name now leads elsewhere and tries again.
        ::unlink(lockPath_.c_str());
        ::close(fd_);
        fd_ = -1;
    }
}

SessionLock::Outcome SessionLock::acquire(const std::string& sessionPath, double waitSeconds) {
    release();
    sessionPath_ = sessionPath;
    lockPath_ = lockPathFor(sessionPath);
    message_.clear();
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(
                waitSeconds > 0 ? std::min(waitSeconds, static_cast<double>(kLongestWaitSeconds))
                                : 0.0));
    for (;;) {
        const int fd =
            ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
        if (fd < 0) {
            message_ =
                "Cannot lock session file \"" + sessionPath + "\" - " + systemErrorText(errno);
            return Outcome::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // The holder before us may have removed the name after we opened
            // it: our lock must be on the file the name leads to now.
            struct stat opened {};
            struct stat named {};
            if (::fstat(fd, &opened) == 0 && ::stat(lockPath_.c_str(), &named) == 0 &&
                opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
                const std::string holder = std::to_string(::getpid()) + " " + thisHostName() + "\n";
                if (::ftruncate(fd, 0) == 0) {
                    (void)::pwrite(fd, holder.data(), holder.size(), 0);
                }
                fd_ = fd;
                return Outcome::Acquired;
            }
            ::close(fd);
            continue;
        }
        const int code = errno;
        if (code != EWOULDBLOCK && code != EINTR) {
            ::close(fd);
            message_ =
                "Cannot lock session file \"" + sessionPath + "\" - " + systemErrorText(code);
            return Outcome::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // The holder writes its name right after taking the lock.
            std::string holder = holderOf(fd);
            for (int retry = 0; retry < 5 && holder == "unknown"; ++retry) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                holder = holderOf(fd);
            }
            message_ = sessionInUseText(sessionPath, holder);
            ::close(fd);
            return Outcome::InUse;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace velmora::store
