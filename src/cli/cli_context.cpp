#include "cli/cli_context.h"

#include "store/session_file.h"

#include <ostream>

PromptAnswer CliPrompter::message(const std::string& title, const std::string& text,
                                  PromptButtons buttons) {
    ++messagesShown;
    if (buttons == PromptButtons::Ok) {
        err_ << text << '\n';
        (void)title;
        return PromptAnswer::Ok;
    }
    return answerToQuestions;
}

void CliContext::fail(const std::string& message) {
    err << message << '\n';
    exitCode = kExitFailed;
}

void CliContext::printJson(const nlohmann::json& value) {
    out << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

bool openSessionForCommand(CliContext& context, Session& session, const std::string& path) {
    return useSessionForCommand(context, session, path, readSessionFile(path));
}

bool useSessionForCommand(CliContext& context, Session& session, const std::string& path,
                          SessionReadResult&& read) {
    switch (read.status) {
    case SessionReadStatus::CannotOpen:
        context.fail(cannotOpenSessionText(path, read.reason));
        return false;
    case SessionReadStatus::HeaderMismatch:
        context.fail(headerMismatchText(path));
        return false;
    case SessionReadStatus::Damaged:
        // Writing it back would make the loss permanent: refuse.
        context.fail(damagedSessionText(path));
        return false;
    case SessionReadStatus::Loaded:
        break;
    }
    session.replaceDocument(std::move(read.session));
    return true;
}

bool saveSessionForCommand(CliContext& context, Session& session, const std::string& path) {
    if (!saveSession(session, path, context.hooks, context.prompter)) {
        context.exitCode = kExitFailed;
        return false;
    }
    return true;
}
