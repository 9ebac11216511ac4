#pragma once

#include <cstdio>
#include <string>

namespace velmora::store {

// Writes a file so that the target is either the old file or the complete new
// one: the bytes go to a hidden temporary file beside the target, which is
// flushed, synced and renamed over it. A new file is readable by its owner
// only (a session holds the SMTP password); replacing a file keeps its
// permissions. A symbolic link is written through. A target that is a
// character device or a FIFO is written directly, as a copy would, and never
// replaced; a directory, a socket or a block device is refused.
class AtomicFile {
public:
    explicit AtomicFile(std::string targetPath);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile(); // abandons an uncommitted temporary file

    // The file will hold a secret: a replaced file that others could read
    // keeps only its owner's permissions. Call before `open()`.
    void keepPrivate() { keepPrivate_ = true; }
    // After `open()`: whether that took permissions away from the old file.
    bool madePrivate() const { return madePrivate_; }

    // Creates the temporary file (and removes stale ones an earlier, killed
    // save of this file left); false with `error()` set when it cannot.
    bool open();
    std::FILE* stream() const { return stream_; }
    // Flushes, syncs and renames over the target. False with `error()` set
    // when any step fails; the target is then untouched.
    bool commit();
    void abandon();
    // The reason of the last failure, as the system words it.
    const std::string& error() const { return error_; }
    // The path written: the target with symbolic links followed.
    const std::string& target() const { return target_; }

    // The temporary file names a save of `targetPath` uses, without the
    // random part: a hidden name, or a shorter one derived from it when the
    // file's own name leaves no room.
    static std::string temporaryPrefix(const std::string& targetPath);
    // Removes temporary files of earlier saves of `targetPath` older than a
    // minute; returns how many.
    static int removeStaleTemporaries(const std::string& targetPath);

private:
    bool fail(const std::string& reason);
    bool openDirect();

    std::string target_;
    std::string tempPath_;
    std::FILE* stream_ = nullptr;
    bool direct_ = false;
    bool keepPrivate_ = false;
    bool madePrivate_ = false;
    std::string error_;
};

// Writes `bytes` to `path` atomically; on failure returns false and sets
// `error` to the reason.
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

} // namespace velmora::store
