#include "app/file_commands.h"

#include <sys/stat.h>

namespace {

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

std::string withSessionExtension(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    if (name.find('.') != std::string::npos) {
        return path;
    }
    return path + ".qmz";
}

bool saveSessionCommand(FileCommandContext& context) {
    if (context.session.isUntitled()) {
        return saveSessionAsCommand(context);
    }
    return saveSession(context.session, context.session.sessionFileName, context.hooks,
                       context.prompter);
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
        const PromptAnswer answer = context.prompter.message(
            "Confirm", "\"" + path + "\" already exists. Replace it?", PromptButtons::YesNo);
        if (answer != PromptAnswer::Yes) {
            return false;
        }
    }
    return saveSession(context.session, path, context.hooks, context.prompter);
}

bool mayDiscardSession(FileCommandContext& context) {
    if (!context.session.hasUnsavedChanges()) {
        return true;
    }
    switch (context.prompter.message("Confirm", kUnsavedChangesText, PromptButtons::YesNoCancel)) {
    case PromptAnswer::Yes:
        return saveSessionCommand(context);
    case PromptAnswer::No:
        return true;
    default:
        return false;
    }
}

void newSessionCommand(FileCommandContext& context) {
    if (mayDiscardSession(context)) {
        newSession(context.session, context.hooks);
    }
}

namespace {

bool openChosenSession(FileCommandContext& context, const std::string& path) {
    return loadSession(context.session, path, context.hooks, context.prompter) !=
           LoadOutcome::Refused;
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
