#pragma once

#include <string>

namespace velmora::store {

// The path a save of `path` really writes: symbolic links are followed (also
// one that points to a file not yet created), so that every name of one
// file shares its lock and a save writes through the link.
std::string resolvedSavePath(const std::string& path);

// "Session file "PATH" is in use by another Velmora Mailtray (process N)."
std::string sessionInUseText(const std::string& path, const std::string& holder);

// One writer per session file: an exclusive flock on a hidden lock file
// beside the session (".NAME.lock"), which names the holder's process id and
// host for the refusal. Held until released or destroyed; the kernel drops
// it when the process ends, however it ends.
class SessionLock {
public:
    // A longer wait is taken as this one: a week is plenty, and the deadline
    // of a much longer one would overflow the clock.
    static constexpr int kLongestWaitSeconds = 7 * 24 * 3600;
    SessionLock() = default;
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;
    SessionLock(SessionLock&& other) noexcept;
    SessionLock& operator=(SessionLock&& other) noexcept;
    ~SessionLock();

    enum class Outcome {
        Acquired,
        InUse,  // another program holds it; `message()` says which
        Failed, // the lock file cannot be made; `message()` says why
    };
    // Tries to take the lock of `sessionPath`, waiting up to `waitSeconds`
    // for another holder to let go (0: refuse at once).
    Outcome acquire(const std::string& sessionPath, double waitSeconds = 0);
    void release();
    bool held() const { return fd_ >= 0; }
    // The session path the lock was asked for.
    const std::string& sessionPath() const { return sessionPath_; }
    const std::string& message() const { return message_; }

    // The lock file's path for a session file.
    static std::string lockPathFor(const std::string& sessionPath);

private:
    int fd_ = -1;
    std::string lockPath_;
    std::string sessionPath_;
    std::string message_;
};

} // namespace velmora::store
