#pragma once

#include "store/file_reading.h"
#include "store/session.h"

#include <string>
#include <string_view>

namespace velmora::store {

inline constexpr std::string_view kSessionMagic = "QMZ101";
inline constexpr std::string_view kExtensionMagic = "QMZX";

enum class SessionReadStatus {
    Loaded,         // the whole file was read
    CannotOpen,     // the file could not be opened or read
    HeaderMismatch, // not a session file
    Damaged,        // a session file that ends early; what it holds was read
};

struct SessionReadResult {
    SessionReadStatus status = SessionReadStatus::CannotOpen;
    std::string reason; // the system's words when the file could not be read
    Session session;    // what was read, named after the path unless damaged
    FileStamp stamp;    // the file as it was read
};

// A session read from a pipe is held in memory whole; its counts bound a
// file, not a pipe.
inline constexpr std::uint64_t kMaxPipedSessionBytes = 1024ull * 1024 * 1024;

// Reads a session file into a fresh Session; the caller's session is never
// touched, so a foreign or broken file cannot destroy unsaved work.
SessionReadResult readSessionFile(const std::string& path);
SessionReadResult readSessionBytes(std::string_view bytes);

// The bytes of the session file for `session`.
std::string encodeSession(const Session& session);
// Writes the session file atomically; on failure `error` holds the reason
// and any existing file at `path` is left whole.
// `written`, when given, receives the stamp of the file as saved. A file
// that holds the SMTP password is readable by its owner only; `madePrivate`,
// when given, says whether this write took that right from others.
bool writeSessionFile(const Session& session, const std::string& path, std::string& error,
                      FileStamp* written = nullptr, bool* madePrivate = nullptr);
// Whether the file written for these settings holds the SMTP password.
bool fileHoldsPassword(const SessionSettings& settings);

} // namespace velmora::store
