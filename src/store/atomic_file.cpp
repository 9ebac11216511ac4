#include "store/atomic_file.h"

#include "store/file_names.h"
#include "store/file_reading.h"
#include "store/session_lock.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::store {

namespace {

constexpr std::size_t kRandomPart = 6; // mkstemp's XXXXXX
constexpr std::time_t kStaleSeconds = 60;

bool isRandomPart(std::string_view text) {
    if (text.size() != kRandomPart) {
        return false;
    }
    for (const char c : text) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

// fsync of a device or a FIFO may be refused; that is no failed write.
bool syncFailed(int fd, bool direct) {
    if (::fsync(fd) == 0) {
        return false;
    }
    return !(direct && (errno == EINVAL || errno == EROFS || errno == ENOTSUP));
}

} // namespace

AtomicFile::AtomicFile(std::string targetPath) : target_(resolvedSavePath(targetPath)) {}

AtomicFile::~AtomicFile() {
    abandon();
}

bool AtomicFile::fail(const std::string& reason) {
    error_ = reason;
    abandon();
    return false;
}

std::string AtomicFile::temporaryPrefix(const std::string& targetPath) {
    const std::string directory = directoryOf(targetPath);
    const std::string name = nameOf(targetPath);
    std::string prefix = "." + name + ".mtsave-";
    const long limit = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    if (prefix.size() + kRandomPart > static_cast<std::size_t>(limit > 0 ? limit : 255)) {
        prefix = ".mtsave-" + hashedName(name) + "-";
    }
    return directory + "/" + prefix;
}

int AtomicFile::removeStaleTemporaries(const std::string& targetPath) {
    const std::string directory = directoryOf(targetPath);
    const std::string name = nameOf(targetPath);
    // Ours now, and the visible name earlier builds used.
    const std::string prefixes[] = {nameOf(temporaryPrefix(targetPath)), name + ".tmp-"};
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return 0;
    }
    int removed = 0;
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        bool matches = false;
        for (const std::string& prefix : prefixes) {
            if (entryName.size() == prefix.size() + kRandomPart && entryName.starts_with(prefix) &&
                isRandomPart(entryName.substr(prefix.size()))) {
                matches = true;
            }
        }
        if (!matches) {
            continue;
        }
        const std::string path = directory + "/" + std::string(entryName);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            now - info.st_mtim.tv_sec > kStaleSeconds && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

bool AtomicFile::openDirect() {
    // Without blocking: a FIFO nobody reads would wait forever.
    const int fd = ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error_ =
            errno == ENXIO ? std::string("no program is reading from it") : systemErrorText(errno);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error_ = systemErrorText(errno);
        ::close(fd);
        return false;
    }
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        error_ = systemErrorText(errno);
        ::close(fd);
        return false;
    }
    direct_ = true;
    return true;
}

bool AtomicFile::open() {
    abandon();
    direct_ = false;
    madePrivate_ = false;
    if (target_.empty()) {
        error_ = systemErrorText(ENOENT);
        return false;
    }
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            error_ = systemErrorText(EISDIR);
            return false;
        }
        if (S_ISSOCK(existing.st_mode)) {
            error_ = "is a socket, not a file";
            return false;
        }
        if (S_ISBLK(existing.st_mode)) {
            error_ = "is a block device, not a file";
            return false;
        }
        if (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode)) {
            // Replacing the node would turn a device into a plain file.
            return openDirect();
        }
    }
    removeStaleTemporaries(target_);
    std::string pattern = temporaryPrefix(target_) + "XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC); // created 0600
    if (fd < 0) {
        error_ = systemErrorText(errno);
        return false;
    }
    tempPath_ = pattern;
    if (exists) {
        // Keep the replaced file's owner and mode; ownership may be refused
        // for an ordinary user, which leaves the file ours, as a new one.
        (void)::fchown(fd, existing.st_uid, existing.st_gid);
        mode_t mode = existing.st_mode & 07777;
        if (keepPrivate_ && (mode & 077) != 0) {
            mode &= ~static_cast<mode_t>(077);
            madePrivate_ = true;
        }
        if (::fchmod(fd, mode) != 0) {
            const int code = errno;
            ::close(fd);
            return fail(systemErrorText(code));
        }
    }
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int code = errno;
        ::close(fd);
        return fail(systemErrorText(code));
    }
    return true;
}

bool AtomicFile::commit() {
    if (stream_ == nullptr) {
        return fail(error_.empty() ? systemErrorText(EBADF) : error_);
    }
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
        return fail(systemErrorText(errno));
    }
    if (syncFailed(::fileno(stream_), direct_)) {
        return fail(systemErrorText(errno));
    }
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0) {
        return fail(systemErrorText(errno));
    }
    if (direct_) {
        return true;
    }
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        return fail(systemErrorText(errno));
    }
    tempPath_.clear();
    // Make the rename itself durable; a failure here loses nothing.
    const int dir = ::open(directoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

void AtomicFile::abandon() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    AtomicFile file(path);
    if (!file.open()) {
        error = file.error();
        return false;
    }
    if (!bytes.empty() &&
        std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size()) {
        error = systemErrorText(errno);
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

} // namespace velmora::store
