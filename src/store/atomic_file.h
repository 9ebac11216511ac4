#pragma once

#include <cstdio>
#include <string>

// Writes a file so that the target is either the old file or the complete new
// one: the bytes go to a temporary file beside the target, which is flushed,
// synced and renamed over it. A new file is readable by its owner only (a
// session holds the SMTP password); replacing a file keeps its permissions.
class AtomicFile {
public:
    explicit AtomicFile(std::string targetPath);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile(); // abandons an uncommitted temporary file

    // Creates the temporary file; false with `error()` set when it cannot.
    bool open();
    std::FILE* stream() const { return stream_; }
    // Flushes, syncs and renames over the target. False with `error()` set
    // when any step fails; the target is then untouched.
    bool commit();
    void abandon();
    // The reason of the last failure, as the system words it.
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& reason);

    std::string target_;
    std::string tempPath_;
    std::FILE* stream_ = nullptr;
    std::string error_;
};

// Writes `bytes` to `path` atomically; on failure returns false and sets
// `error` to the reason.
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
