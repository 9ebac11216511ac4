#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace velmora::store {

// What identifies one version of a file: a save by another program gives a
// new inode (atomic rename) or a new size or modification time.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (symbolic links followed); nothing when
// it does not exist or cannot be examined.
std::optional<FileStamp> fileStampOf(const std::string& path);

inline constexpr const char* kNotRegularFileReason = "is not a regular file";

// How a reader treats the kind of file it was given.
enum class PipePolicy {
    Refuse,       // anything but a regular file is refused
    ReadAnonymous // a pipe handed over as a path (`<(...)`) is read to its end
};

// A file opened for reading: a regular file, or an anonymous pipe when the
// policy accepts it. Closes itself.
class ReadableFile {
public:
    ReadableFile() = default;
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;
    ~ReadableFile();

    // Opens without blocking (a FIFO with no writer, a device that waits),
    // then checks the kind of file. False with `error()` naming the reason.
    bool open(const std::string& path, PipePolicy policy = PipePolicy::Refuse);
    bool isPipe() const { return pipe_; }
    const FileStamp& stamp() const { return stamp_; }
    // A stdio stream over the file; owned by this object.
    std::FILE* stream();
    // Reads everything up to `maxBytes`; a longer file is refused with a
    // reason that says so.
    bool readAll(std::string& bytes, std::uint64_t maxBytes);
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& reason);

    int fd_ = -1;
    std::FILE* stream_ = nullptr;
    bool pipe_ = false;
    FileStamp stamp_;
    std::string error_;
};

// Reads a whole regular file of at most `maxBytes`; false with `error` set
// to the reason (never "Success").
bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                     std::string& error);

// The system's words for an errno value; a zero (no reason recorded) reads
// as an input/output error rather than "Success".
std::string systemErrorText(int code);

} // namespace velmora::store
