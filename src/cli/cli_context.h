#pragma once

#include "platform/prompter.h"
#include "store/clock.h"
#include "store/session.h"
#include "store/session_commands.h"

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>

struct MessageDraft;

// Exit codes of the tool: 0 success, 1 refused or failed, 2 usage.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Message boxes become lines on stderr; questions take the answer the
// command's flags chose.
class CliPrompter final : public Prompter {
public:
    explicit CliPrompter(std::ostream& err) : err_(err) {}
    PromptAnswer message(const std::string& title, const std::string& text,
                         PromptButtons buttons) override;
    std::optional<std::string> openFileName(const std::string&, const std::string&,
                                            const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> saveFileName(const std::string&, const std::string&,
                                            const std::string&) override {
        return std::nullopt;
    }
    PromptAnswer answerToQuestions = PromptAnswer::No;
    int messagesShown = 0;

private:
    std::ostream& err_;
};

// What every command gets: its streams, the clock and a prompter. The exit
// code a command sets is what the tool returns.
struct CliContext {
    std::istream& in; // standard input (for "password=-")
    std::ostream& out;
    std::ostream& err;
    const Clock& clock;
    CliPrompter prompter;
    SessionHooks hooks; // no windows to refresh
    int exitCode = kExitOk;

    CliContext(std::istream& i, std::ostream& o, std::ostream& e, const Clock& c)
        : in(i), out(o), err(e), clock(c), prompter(e) {}
    void fail(const std::string& message);
    void printJson(const nlohmann::json& value);
};

// Loads a session for a command; false (with the message on stderr and the
// exit code set) when it cannot be used.
bool openSessionForCommand(CliContext& context, Session& session, const std::string& path);
// Reads an email draft file for a command; false (reported, exit code set)
// when it cannot be used.
bool openDraftForCommand(CliContext& context, const std::string& path, MessageDraft& draft);
// Saves a changed session back to its file; false after reporting.
bool saveSessionForCommand(CliContext& context, Session& session, const std::string& path);

// Each command family adds its subcommands here.
void registerSessionCommands(CLI::App& app, CliContext& context);
void registerContactsCommands(CLI::App& app, CliContext& context);
void registerContactFileCommands(CLI::App& app, CliContext& context);
void registerMailtrayCommands(CLI::App& app, CliContext& context);
void registerDraftCommands(CLI::App& app, CliContext& context);
void registerMessageCommands(CLI::App& app, CliContext& context);
void registerListCommands(CLI::App& app, CliContext& context);
void registerSendCommands(CLI::App& app, CliContext& context);
void registerRunsCommands(CLI::App& app, CliContext& context);
void registerSettingsCommands(CLI::App& app, CliContext& context);

// Runs the tool with its arguments; returns the exit code.
int runMailtray(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                const Clock& clock);
// The same with standard input given.
int runMailtray(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                std::ostream& err, const Clock& clock);
