#pragma once

#include "delivery/random_source.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/password_store.h"
#include "store/session.h"
#include "store/session_commands.h"
#include "store/session_file.h"
#include "store/session_lock.h"
#include "views/contact_views.h"

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace velmora::delivery {
struct MessageDraft;
}

namespace velmora::cli {

// Exit codes of the tool: 0 success, 1 refused or failed, 2 usage.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Message boxes become lines on stderr; questions take the answer the
// command's flags chose.
class CliPrompter final : public platform::Prompter {
public:
    explicit CliPrompter(std::ostream& err) : err_(err) {}
    platform::PromptAnswer message(const std::string& title, const std::string& text,
                                   platform::PromptButtons buttons) override;
    std::optional<std::string> openFileName(const std::string&, const std::string&,
                                            const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> saveFileName(const std::string&, const std::string&,
                                            const std::string&) override {
        return std::nullopt;
    }
    platform::PromptAnswer answerToQuestions = platform::PromptAnswer::No;
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
    const store::Clock& clock;
    CliPrompter prompter;
    store::SessionHooks hooks; // no windows to refresh
    int exitCode = kExitOk;
    // The desktop keyring, for sessions that keep their password there;
    // null where this build has none.
    store::PasswordStore* passwords = nullptr;
    delivery::RandomBytes randomBytes; // Message-IDs and boundaries; empty: the system's
    // How long a command that changes a session waits for another program
    // to let go of it (--wait); the locks it took are held until it ends.
    double lockWaitSeconds = 0;
    std::vector<store::SessionLock> locks;

    CliContext(std::istream& i, std::ostream& o, std::ostream& e, const store::Clock& c)
        : in(i), out(o), err(e), clock(c), prompter(e) {}
    void fail(const std::string& message);
    void printJson(const nlohmann::json& value);
};

// Whether a command will change the session it opens: one that will holds
// its lock from before reading until it ends, so no other program's change
// is lost between the two.
enum class SessionUse { Read, Change };

// Loads a session for a command; false (with the message on stderr and the
// exit code set) when it cannot be used or, for a change, another program
// holds it.
bool openSessionForCommand(CliContext& context, store::Session& session, const std::string& path,
                           SessionUse use = SessionUse::Read);
// Takes the lock of the session file at `path` for this command (once);
// false after reporting who holds it.
bool lockSessionForCommand(CliContext& context, const std::string& path);
// Adds --wait SECONDS to a command that changes a session.
void addLockWaitOption(CLI::App& command, CliContext& context);
// The same for a file the command has read already (so it is parsed once).
bool useSessionForCommand(CliContext& context, store::Session& session, const std::string& path,
                          store::SessionReadResult&& read);
// Reads an email draft file for a command; false (reported, exit code set)
// when it cannot be used.
bool openDraftForCommand(CliContext& context, const std::string& path,
                         delivery::MessageDraft& draft);
// Saves a changed session back to its file (under its lock); false after
// reporting.
bool saveSessionForCommand(CliContext& context, store::Session& session, const std::string& path);

// The lists' names on the command line: the four statuses and "all" for the
// All Entries list. Every command that takes a status or a list reads them
// from here.
//
// Every list by name, "all" included (sorted, as the option's help shows them).
const std::map<std::string, views::ViewTab>& tabNames();
// The same names alone, in the same order (for an option's allowed values).
std::vector<std::string> tabNameList();
// The status names only, in tab order.
std::vector<std::string> statusNames();

// Each command family adds its subcommands here.
void registerSessionCommands(CLI::App& app, CliContext& context);
void registerContactsCommands(CLI::App& app, CliContext& context);
void registerContactFileCommands(CLI::App& app, CliContext& context);
void registerMailtrayCommands(CLI::App& app, CliContext& context);
void registerDraftCommands(CLI::App& app, CliContext& context);
void registerMessageCommands(CLI::App& app, CliContext& context);
void registerListCommands(CLI::App& app, CliContext& context);
void registerSendCommands(CLI::App& app, CliContext& context);
void registerCheckCommands(CLI::App& app, CliContext& context);
void registerScheduleCommands(CLI::App& app, CliContext& context);
void registerRunsCommands(CLI::App& app, CliContext& context);
void registerSettingsCommands(CLI::App& app, CliContext& context);
void registerUnsubscribeCommands(CLI::App& app, CliContext& context);
void registerFeedbackCommands(CLI::App& app, CliContext& context);
void registerOAuthCommands(CLI::App& app, CliContext& context);

// The clock's time as seconds since 1970 (when a sign-in's tokens end).
long long secondsNow(const store::Clock& clock);

// Runs the tool with its arguments; returns the exit code. `randomBytes`
// makes the Message-IDs and boundaries (empty: the system's source).
int runMailtray(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                const store::Clock& clock, store::PasswordStore* passwords = nullptr,
                delivery::RandomBytes randomBytes = {});
// The same with standard input given.
int runMailtray(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                std::ostream& err, const store::Clock& clock,
                store::PasswordStore* passwords = nullptr, delivery::RandomBytes randomBytes = {});

} // namespace velmora::cli
