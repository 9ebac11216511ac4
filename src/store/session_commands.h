#pragma once

#include "platform/prompter.h"
#include "store/file_reading.h"
#include "store/session.h"

#include <string>

namespace velmora::store {

inline constexpr const char* kProductTitle = "Velmora Mailtray v1.1";

// What the main window does after the session was replaced; the command-line
// tool passes hooks that do nothing.
class SessionHooks {
public:
    virtual ~SessionHooks() = default;
    virtual void refreshViews() {}
    virtual void setWindowTitle(const std::string& title) { (void)title; }
    virtual void updateStatusLine() {}
};

// "Velmora Mailtray v1.1 - " + the file-name part of `sessionFileName`.
std::string sessionWindowTitle(const std::string& sessionFileName);

// Resets the session to an empty untitled one with the default group.
void newSession(Session& session, SessionHooks& hooks);

enum class LoadOutcome { Loaded, Damaged, Refused };
// Opens a session file. A file that cannot be read or is no session file is
// reported and the current session stays; a damaged one is loaded as far as
// it goes, reported, and left untitled so that Save cannot overwrite it.
// `stamp`, when given, receives the file as it was read.
LoadOutcome loadSession(Session& session, const std::string& path, SessionHooks& hooks,
                        platform::Prompter& prompter, FileStamp* stamp = nullptr);

// Saves atomically. A failure is reported and the old file stays whole.
// A file that now holds the password and was readable by others is made
// the owner's only, and the user is told (once: it stays so).
// `written`, when given, receives the file as saved.
bool saveSession(Session& session, const std::string& path, SessionHooks& hooks,
                 platform::Prompter& prompter, FileStamp* written = nullptr);

// The texts of the session file's messages, shared by the GUI and the CLI.
std::string cannotOpenSessionText(const std::string& path, const std::string& reason);
std::string headerMismatchText(const std::string& path);
std::string damagedSessionText(const std::string& path);
std::string cannotSaveSessionText(const std::string& path, const std::string& reason);
std::string sessionMadePrivateText(const std::string& path);

} // namespace velmora::store
