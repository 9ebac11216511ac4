#include "store/session_commands.h"

#include "store/file_names.h"
#include "store/session_file.h"

namespace velmora::store {

std::string sessionWindowTitle(const std::string& sessionFileName) {
    return std::string(kProductTitle) + " - " + fileNamePart(sessionFileName);
}

std::string cannotOpenSessionText(const std::string& path, const std::string& reason) {
    return "Cannot open session file \"" + path + "\" - " + reason;
}

std::string headerMismatchText(const std::string& path) {
    return "Cannot open session file \"" + path + "\" - header mismatch.";
}

std::string damagedSessionText(const std::string& path) {
    return "Session file \"" + path + "\" is damaged: only part of it could be read.";
}

std::string cannotSaveSessionText(const std::string& path, const std::string& reason) {
    return "Cannot save session file \"" + path + "\" - " + reason;
}

std::string sessionMadePrivateText(const std::string& path) {
    return "Session file \"" + path +
           "\" holds the SMTP password, so other users can no longer read it.";
}

namespace {

void showSession(Session& session, SessionHooks& hooks) {
    hooks.refreshViews();
    hooks.setWindowTitle(sessionWindowTitle(session.sessionFileName));
    hooks.updateStatusLine();
}

} // namespace

void newSession(Session& session, SessionHooks& hooks) {
    session.resetToNew();
    showSession(session, hooks);
}

LoadOutcome loadSession(Session& session, const std::string& path, SessionHooks& hooks,
                        platform::Prompter& prompter, FileStamp* stamp) {
    SessionReadResult read = readSessionFile(path);
    if (stamp != nullptr) {
        *stamp = read.stamp;
    }
    switch (read.status) {
    case SessionReadStatus::CannotOpen:
        prompter.message("Error", cannotOpenSessionText(path, read.reason));
        return LoadOutcome::Refused;
    case SessionReadStatus::HeaderMismatch:
        prompter.message("Error", headerMismatchText(path));
        return LoadOutcome::Refused;
    case SessionReadStatus::Damaged:
        read.session.sessionFileName = kUntitled;
        session.replaceDocument(std::move(read.session));
        session.markUnsaved(); // what was rescued exists in no file yet
        showSession(session, hooks);
        prompter.message("Error", damagedSessionText(path));
        return LoadOutcome::Damaged;
    case SessionReadStatus::Loaded:
        break;
    }
    session.replaceDocument(std::move(read.session));
    showSession(session, hooks);
    return LoadOutcome::Loaded;
}

bool saveSession(Session& session, const std::string& path, SessionHooks& hooks,
                 platform::Prompter& prompter, FileStamp* written) {
    std::string error;
    bool madePrivate = false;
    if (!writeSessionFile(session, path, error, written, &madePrivate)) {
        prompter.message("Error", cannotSaveSessionText(path, error));
        return false;
    }
    session.sessionFileName = path;
    session.markSaved();
    hooks.setWindowTitle(sessionWindowTitle(session.sessionFileName));
    if (madePrivate) {
        prompter.message("Information", sessionMadePrivateText(path));
    }
    return true;
}

} // namespace velmora::store
