#include "cli/session_temporaries.h"

#include "store/atomic_file.h"
#include "store/session_lock.h"

#include <array>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace velmora::cli {

namespace {

constexpr std::size_t kRandomPart = 6; // mkstemp's XXXXXX
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What a signal handler may read: plain buffers filled before it is set.
std::array<char, 4096> guardedDirectory{};
std::array<char, 512> guardedPrefix{};

// True for PREFIX followed by six letters or digits. Signal-safe.
bool isTemporaryName(const char* name, const char* prefix) {
    const std::size_t prefixLength = std::strlen(prefix);
    if (std::strncmp(name, prefix, prefixLength) != 0 ||
        std::strlen(name) != prefixLength + kRandomPart) {
        return false;
    }
    for (const char* c = name + prefixLength; *c != '\0'; ++c) {
        const bool alnum =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

// The folder and the name prefix of a session's temporaries.
std::pair<std::string, std::string> temporaryPlace(const std::string& path) {
    const std::string prefix = store::AtomicFile::temporaryPrefix(store::resolvedSavePath(path));
    const std::size_t slash = prefix.rfind('/');
    return {prefix.substr(0, slash), prefix.substr(slash + 1)};
}

// Reads the folder with the raw system call: opendir allocates, which a
// signal handler must not.
void removeTemporariesSignalSafe() {
    const int dir = ::open(guardedDirectory.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return;
    }
    alignas(8) std::array<char, 8192> buffer{};
    for (;;) {
        const long got = ::syscall(SYS_getdents64, dir, buffer.data(), buffer.size());
        if (got <= 0) {
            break;
        }
        for (long at = 0; at < got;) {
            // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
            unsigned short length = 0;
            std::memcpy(&length, buffer.data() + at + 16, sizeof length);
            const char* name = buffer.data() + at + 19;
            if (isTemporaryName(name, guardedPrefix.data())) {
                ::unlinkat(dir, name, 0);
            }
            at += length;
        }
    }
    ::close(dir);
}

extern "C" void onSaveInterrupted(int signal) {
    removeTemporariesSignalSafe();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

int removeSessionTemporaries(const std::string& path) {
    const auto [directory, prefix] = temporaryPlace(path);
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (isTemporaryName(entry->d_name, prefix.c_str()) &&
            ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

void removeUnheldSessionTemporaries(const std::string& path) {
    const auto [directory, prefix] = temporaryPlace(path);
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return;
    }
    bool any = false;
    while (const dirent* entry = ::readdir(dir)) {
        any = any || isTemporaryName(entry->d_name, prefix.c_str());
    }
    ::closedir(dir);
    if (!any) {
        return; // the common case: no lock file is made for nothing
    }
    store::SessionLock lock;
    if (lock.acquire(path) == store::SessionLock::Outcome::Acquired) {
        removeSessionTemporaries(path);
    }
}

SaveInterruptGuard::SaveInterruptGuard(const std::string& sessionPath) {
    const auto [directory, prefix] = temporaryPlace(sessionPath);
    if (directory.size() >= guardedDirectory.size() || prefix.size() >= guardedPrefix.size()) {
        return;
    }
    std::memcpy(guardedDirectory.data(), directory.c_str(), directory.size() + 1);
    std::memcpy(guardedPrefix.data(), prefix.c_str(), prefix.size() + 1);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue; // an ignored signal stays ignored
        }
        struct sigaction action {};
        action.sa_handler = onSaveInterrupted;
        sigemptyset(&action.sa_mask);
        installed_[i] = ::sigaction(kSignals[i], &action, &previous_[i]) == 0;
    }
}

SaveInterruptGuard::~SaveInterruptGuard() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (installed_[i]) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
    }
}

} // namespace velmora::cli
