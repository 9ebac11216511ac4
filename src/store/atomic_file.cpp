#include "store/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string systemReason(int code) {
    return std::strerror(code);
}

} // namespace

AtomicFile::AtomicFile(std::string targetPath) : target_(std::move(targetPath)) {
    // Saving through a symbolic link replaces the file it points to, not the link.
    struct stat link {};
    if (::lstat(target_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(target_.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
        }
    }
}

AtomicFile::~AtomicFile() {
    abandon();
}

bool AtomicFile::fail(const std::string& reason) {
    error_ = reason;
    abandon();
    return false;
}

bool AtomicFile::open() {
    abandon();
    if (target_.empty()) {
        error_ = systemReason(ENOENT);
        return false;
    }
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        error_ = systemReason(EISDIR);
        return false;
    }
    std::string pattern = target_ + ".tmp-XXXXXX";
    const int fd = ::mkstemp(pattern.data()); // created 0600
    if (fd < 0) {
        error_ = systemReason(errno);
        return false;
    }
    tempPath_ = pattern;
    if (::stat(target_.c_str(), &existing) == 0) {
        // Keep the replaced file's owner and mode; ownership may be refused
        // for an ordinary user, which leaves the file ours, as a new one.
        (void)::fchown(fd, existing.st_uid, existing.st_gid);
        if (::fchmod(fd, existing.st_mode & 07777) != 0) {
            const int code = errno;
            ::close(fd);
            return fail(systemReason(code));
        }
    }
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int code = errno;
        ::close(fd);
        return fail(systemReason(code));
    }
    return true;
}

bool AtomicFile::commit() {
    if (stream_ == nullptr) {
        return fail(error_.empty() ? systemReason(EBADF) : error_);
    }
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
        return fail(systemReason(errno != 0 ? errno : EIO));
    }
    if (::fsync(::fileno(stream_)) != 0) {
        return fail(systemReason(errno));
    }
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0) {
        return fail(systemReason(errno));
    }
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        return fail(systemReason(errno));
    }
    tempPath_.clear();
    // Make the rename itself durable; a failure here loses nothing.
    const int dir = ::open(directoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY);
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
        error = systemReason(errno != 0 ? errno : EIO);
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}
