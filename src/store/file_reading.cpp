#include "store/file_reading.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::store {

namespace {

FileStamp stampFrom(const struct stat& info) {
    FileStamp stamp;
    stamp.device = static_cast<std::uint64_t>(info.st_dev);
    stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    stamp.size = static_cast<std::int64_t>(info.st_size);
    stamp.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                                static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    return stamp;
}

// A pipe passed by its descriptor's name (/dev/fd/N, /proc/self/fd/N) links
// to "pipe:[inode]"; a named FIFO links nowhere like that.
bool namesAnonymousPipe(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    return length > 5 &&
           std::string_view(target, static_cast<std::size_t>(length)).starts_with("pipe:");
}

std::string sizeText(std::uint64_t bytes) {
    if (bytes % (1024 * 1024) == 0) {
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    }
    return std::to_string(bytes) + " bytes";
}

} // namespace

std::string systemErrorText(int code) {
    return std::strerror(code != 0 ? code : EIO);
}

std::optional<FileStamp> fileStampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return stampFrom(info);
}

ReadableFile::~ReadableFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ReadableFile::fail(const std::string& reason) {
    error_ = reason;
    return false;
}

bool ReadableFile::open(const std::string& path, PipePolicy policy) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        const int code = errno;
        // A socket cannot be opened at all; say what it is, not the errno.
        struct stat info {};
        if (code == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            return fail(kNotRegularFileReason);
        }
        return fail(systemErrorText(code));
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        return fail(systemErrorText(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return fail(systemErrorText(EISDIR));
    }
    pipe_ =
        S_ISFIFO(info.st_mode) && policy == PipePolicy::ReadAnonymous && namesAnonymousPipe(path);
    if (!S_ISREG(info.st_mode) && !pipe_) {
        return fail(kNotRegularFileReason);
    }
    // Reads block again from here on: a pipe is read to its end.
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return fail(systemErrorText(errno));
    }
    stamp_ = stampFrom(info);
    return true;
}

std::FILE* ReadableFile::stream() {
    if (stream_ == nullptr && fd_ >= 0) {
        stream_ = ::fdopen(fd_, "rb");
    }
    return stream_;
}

bool ReadableFile::readAll(std::string& bytes, std::uint64_t maxBytes) {
    bytes.clear();
    if (!pipe_ && static_cast<std::uint64_t>(stamp_.size) > maxBytes) {
        return fail("is larger than " + sizeText(maxBytes));
    }
    if (!pipe_) {
        bytes.reserve(static_cast<std::size_t>(stamp_.size));
    }
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(fd_, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(systemErrorText(errno));
        }
        if (got == 0) {
            return true;
        }
        if (bytes.size() + static_cast<std::uint64_t>(got) > maxBytes) {
            bytes.clear();
            bytes.shrink_to_fit();
            return fail("is larger than " + sizeText(maxBytes));
        }
        bytes.append(block, static_cast<std::size_t>(got));
    }
}

bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                     std::string& error) {
    ReadableFile file;
    if (!file.open(path) || !file.readAll(bytes, maxBytes)) {
        error = file.error();
        return false;
    }
    return true;
}

} // namespace velmora::store
