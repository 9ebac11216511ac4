#pragma once

#include "platform/prompter.h"
#include "store/session.h"
#include "store/session_commands.h"
#include "store/session_lock.h"

#include <optional>
#include <string>

namespace velmora::app {

// The desktop program's hold on the file of the open session: its lock,
// held while the session is open, and the file as last read or saved, to
// notice a change by another program before saving over it.
struct OpenSessionFile {
    store::SessionLock lock;
    std::optional<store::FileStamp> stamp;
    // Opened while another program held it: Save goes through Save As.
    bool readOnly = false;

    void clear() {
        lock.release();
        stamp.reset();
        readOnly = false;
    }
};

// The File menu's commands on the core: the window only shows what the
// prompter asks. `profileDirectory` is the user's home folder with its
// trailing separator, where the file requesters start.
struct FileCommandContext {
    store::Session& session;
    store::SessionHooks& hooks;
    platform::Prompter& prompter;
    std::string profileDirectory;
    // The hold on the session's file; without one, files are neither locked
    // nor checked.
    OpenSessionFile* file = nullptr;
};

inline constexpr const char* kSessionFilter = "Session files (*.qmz)|*.qmz|All files (*.*)|*.*";
inline constexpr const char* kOpenSessionTitle = "Open Mailtray Session...";
inline constexpr const char* kSaveSessionTitle = "Save Mailtray Session...";
inline constexpr const char* kUnsavedChangesText =
    "The current session has unsaved changes. Save them first?";

// The main window's title for the open session: " (read-only)" follows
// while it is open read-only, when Save is not possible.
std::string openSessionTitle(const store::Session& session, const OpenSessionFile& file);

// Asked before saving over a session file that another program changed.
std::string changedBehindOurBackText(const std::string& path);

// The path with ".qmz" added when its file name has no extension.
std::string withSessionExtension(const std::string& path);

// Save Session: an untitled session, or one opened read-only, goes through
// Save Session As. True when the session was written.
bool saveSessionCommand(FileCommandContext& context);
// Save Session As: asks for a path; true when the session was written.
bool saveSessionAsCommand(FileCommandContext& context);

// Before the session is discarded: with unsaved changes, asks whether to
// save them first. Yes saves (and stops when saving did not happen), No goes
// on, Cancel stops. True when the caller may discard the session.
bool mayDiscardSession(FileCommandContext& context);

// New Session and Open Session.., each after `mayDiscardSession`.
void newSessionCommand(FileCommandContext& context);
void openSessionCommand(FileCommandContext& context);
// Opens `path` as Open Session.. opens the file it is given (a file named on
// the command line, a Recent Sessions entry), after `mayDiscardSession`.
// True when a session was loaded, even in part.
bool openSessionFileCommand(FileCommandContext& context, const std::string& path);

} // namespace velmora::app
