#include "app/file_commands.h"

#include "store/file_names.h"

#include <sys/stat.h>

namespace velmora::app {

namespace {

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

std::string withSessionExtension(const std::string& path) {
    if (store::lastPathPart(path).find('.') != std::string_view::npos) {
        return path;
    }
    return path + ".qmz";
}

std::string openSessionTitle(const store::Session& session, const OpenSessionFile& file) {
    return store::sessionWindowTitle(session.sessionFileName) +
           (file.readOnly ? " (read-only)" : "");
}

std::string changedBehindOurBackText(const std::string& path) {
    return "The session file \"" + path +
           "\" was changed by another program since it was opened. Replace it with this "
           "session?";
}

namespace {

bool sameLock(const store::SessionLock& lock, const std::string& path) {
    return lock.held() && store::SessionLock::lockPathFor(lock.sessionPath()) ==
                              store::SessionLock::lockPathFor(path);
}

// Saves to `path` under its lock: the one held when it is this session's
// file, else a new one, which the session keeps once the save succeeded.
bool saveUnderLock(FileCommandContext& context, const std::string& path) {
    OpenSessionFile* file = context.file;
    if (file == nullptr) {
        return saveSession(context.session, path, context.hooks, context.prompter);
    }
    store::SessionLock taken;
    const bool ours = sameLock(file->lock, path);
    if (!ours) {
        if (taken.acquire(path) != store::SessionLock::Outcome::Acquired) {
            context.prompter.message("Error", taken.message());
            return false;
        }
    } else if (file->stamp) {
        // Another program (one that takes no lock) may have saved it since.
        const std::optional<store::FileStamp> now = store::fileStampOf(path);
        if (now && *now != *file->stamp &&
            context.prompter.message("Confirm", changedBehindOurBackText(path),
                                     platform::PromptButtons::YesNo) !=
                platform::PromptAnswer::Yes) {
            return false;
        }
    }
    store::FileStamp written;
    if (!saveSession(context.session, path, context.hooks, context.prompter, &written)) {
        return false;
    }
    if (!ours) {
        file->lock = std::move(taken);
    }
    file->stamp = written;
    file->readOnly = false;
    return true;
}

} // namespace

bool saveSessionCommand(FileCommandContext& context) {
    if (context.session.isUntitled() || (context.file != nullptr && context.file->readOnly)) {
        return saveSessionAsCommand(context);
    }
    return saveUnderLock(context, context.session.sessionFileName);
}

bool saveSessionAsCommand(FileCommandContext& context) {
    const std::string initial = context.session.isUntitled()
                                    ? context.profileDirectory + "untitled.qmz"
                                    : context.session.sessionFileName;
    const auto chosen = context.prompter.saveFileName(kSaveSessionTitle, kSessionFilter, initial);
    if (!chosen || chosen->empty()) {
        return false;
    }
    const std::string path = withSessionExtension(*chosen);
    // The requester confirmed replacing the name it was given, not the one
    // with the extension added.
    if (path != *chosen && fileExists(path)) {
        const platform::PromptAnswer answer =
            context.prompter.message("Confirm", "\"" + path + "\" already exists. Replace it?",
                                     platform::PromptButtons::YesNo);
        if (answer != platform::PromptAnswer::Yes) {
            return false;
        }
    }
    return saveUnderLock(context, path);
}

bool mayDiscardSession(FileCommandContext& context) {
    if (!context.session.hasUnsavedChanges()) {
        return true;
    }
    switch (context.prompter.message("Confirm", kUnsavedChangesText,
                                     platform::PromptButtons::YesNoCancel)) {
    case platform::PromptAnswer::Yes:
        return saveSessionCommand(context);
    case platform::PromptAnswer::No:
        return true;
    default:
        return false;
    }
}

void newSessionCommand(FileCommandContext& context) {
    if (mayDiscardSession(context)) {
        newSession(context.session, context.hooks);
        if (context.file != nullptr) {
            context.file->clear();
        }
    }
}

namespace {

// Every open goes through here (Open Session.., a file named on the command
// line, Recent Sessions). True when a session was loaded, even in part.
bool openChosenSession(FileCommandContext& context, const std::string& path) {
    OpenSessionFile* file = context.file;
    if (file == nullptr) {
        return loadSession(context.session, path, context.hooks, context.prompter) !=
               store::LoadOutcome::Refused;
    }
    // Locked before reading, so that nothing changes between the read and
    // our next save. A file another program holds opens read-only.
    store::SessionLock taken;
    bool readOnly = false;
    if (!sameLock(file->lock, path) &&
        taken.acquire(path) != store::SessionLock::Outcome::Acquired) {
        readOnly = true;
    }
    store::FileStamp stamp;
    switch (loadSession(context.session, path, context.hooks, context.prompter, &stamp)) {
    case store::LoadOutcome::Refused:
        return false;
    case store::LoadOutcome::Damaged:
        file->clear(); // untitled now: its first save goes through Save As
        return true;
    case store::LoadOutcome::Loaded:
        break;
    }
    if (taken.held()) {
        file->lock = std::move(taken);
    } else if (readOnly) {
        file->lock.release();
        context.prompter.message("Information", taken.message());
    }
    file->stamp = stamp;
    file->readOnly = readOnly;
    return true;
}

} // namespace

void openSessionCommand(FileCommandContext& context) {
    if (!mayDiscardSession(context)) {
        return;
    }
    const auto chosen = context.prompter.openFileName(kOpenSessionTitle, kSessionFilter,
                                                      context.profileDirectory + "*.qmz");
    if (chosen && !chosen->empty()) {
        openChosenSession(context, *chosen);
    }
}

bool openSessionFileCommand(FileCommandContext& context, const std::string& path) {
    if (path.empty() || !mayDiscardSession(context)) {
        return false;
    }
    return openChosenSession(context, path);
}

} // namespace velmora::app
