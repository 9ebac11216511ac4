#include "cli/cli_context.h"

#include "cli/session_temporaries.h"
#include "delivery/keyring_password.h"
#include "delivery/relay_pool.h"
#include "store/session_file.h"
#include "store/untrusted_text.h"

#include <cmath>
#include <cstdlib>
#include <ostream>

namespace velmora::cli {

namespace {

// The statuses in tab order, then "all"; tabNames() and statusNames() are
// built from this one table.
struct TabName {
    const char* name;
    views::ViewTab tab;
};
constexpr TabName kTabNames[] = {
    {"subscribers", views::ViewTab::Subscribers}, {"prospects", views::ViewTab::Prospects},
    {"customers", views::ViewTab::Customers},     {"do-not-contact", views::ViewTab::DoNotContact},
    {"all", views::ViewTab::AllEntries},
};

} // namespace

platform::PromptAnswer CliPrompter::message(const std::string& title, const std::string& text,
                                            platform::PromptButtons buttons) {
    ++messagesShown;
    if (buttons == platform::PromptButtons::Ok) {
        err_ << store::printableLines(text) << '\n';
        (void)title;
        return platform::PromptAnswer::Ok;
    }
    return answerToQuestions;
}

void CliContext::fail(const std::string& message) {
    // Failures name files and values from outside.
    err << store::printableLines(message) << '\n';
    exitCode = kExitFailed;
}

void CliContext::printJson(const nlohmann::json& value) {
    out << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

bool lockSessionForCommand(CliContext& context, const std::string& path) {
    const std::string lockPath = store::SessionLock::lockPathFor(path);
    for (const store::SessionLock& held : context.locks) {
        if (store::SessionLock::lockPathFor(held.sessionPath()) == lockPath) {
            return true;
        }
    }
    store::SessionLock lock;
    if (lock.acquire(path, context.lockWaitSeconds) != store::SessionLock::Outcome::Acquired) {
        context.fail(lock.message());
        return false;
    }
    context.locks.push_back(std::move(lock));
    // Whatever a killed save left beside the session is no longer anyone's.
    removeSessionTemporaries(path);
    return true;
}

void addLockWaitOption(CLI::App& command, CliContext& context) {
    command
        .add_option("--wait", context.lockWaitSeconds,
                    "Wait up to SECONDS for another program using the session file")
        ->check(
            [](const std::string& text) {
                char* end = nullptr;
                const double seconds = std::strtod(text.c_str(), &end);
                const bool valid =
                    end != text.c_str() && *end == '\0' && std::isfinite(seconds) && seconds >= 0;
                if (!valid) {
                    return "not a number of seconds: " + text;
                }
                // Far beyond any real wait, and the deadline would overflow.
                return seconds <= store::SessionLock::kLongestWaitSeconds
                           ? std::string()
                           : "more than a week (" +
                                 std::to_string(store::SessionLock::kLongestWaitSeconds) +
                                 " seconds): " + text;
            },
            "SECONDS")
        ->option_text("SECONDS");
}

bool openSessionForCommand(CliContext& context, store::Session& session, const std::string& path,
                           SessionUse use) {
    if (use == SessionUse::Change && !lockSessionForCommand(context, path)) {
        return false;
    }
    if (use == SessionUse::Read) {
        removeUnheldSessionTemporaries(path);
    }
    return useSessionForCommand(context, session, path, store::readSessionFile(path));
}

bool useSessionForCommand(CliContext& context, store::Session& session, const std::string& path,
                          store::SessionReadResult&& read) {
    switch (read.status) {
    case store::SessionReadStatus::CannotOpen:
        context.fail(store::cannotOpenSessionText(path, read.reason));
        return false;
    case store::SessionReadStatus::HeaderMismatch:
        context.fail(store::headerMismatchText(path));
        return false;
    case store::SessionReadStatus::Damaged:
        // Writing it back would make the loss permanent: refuse.
        context.fail(store::damagedSessionText(path));
        return false;
    case store::SessionReadStatus::Loaded:
        break;
    }
    session.replaceDocument(std::move(read.session));
    // Only a delivery needs the password: the others go on after the warning.
    if (delivery::keepsPasswordInKeyring(session.settings()) &&
        session.settings().password.empty()) {
        if (context.passwords == nullptr) {
            context.err << delivery::kNoKeyringInThisBuildText << '\n';
        } else if (const auto problem =
                       delivery::fetchKeyringPassword(session, *context.passwords)) {
            context.err << *problem << '\n';
        }
    }
    if (context.passwords != nullptr && delivery::relaysUseKeyring(session.settings())) {
        for (const std::string& problem :
             delivery::fetchRelayPasswords(session, *context.passwords)) {
            context.err << problem << '\n';
        }
    }
    return true;
}

bool saveSessionForCommand(CliContext& context, store::Session& session, const std::string& path) {
    if (!lockSessionForCommand(context, path)) {
        return false;
    }
    if (!saveSession(session, path, context.hooks, context.prompter)) {
        context.exitCode = kExitFailed;
        return false;
    }
    return true;
}

const std::map<std::string, views::ViewTab>& tabNames() {
    static const std::map<std::string, views::ViewTab> names = [] {
        std::map<std::string, views::ViewTab> all;
        for (const TabName& entry : kTabNames) {
            all.emplace(entry.name, entry.tab);
        }
        return all;
    }();
    return names;
}

std::vector<std::string> tabNameList() {
    std::vector<std::string> names;
    for (const auto& [name, tab] : tabNames()) {
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> statusNames() {
    std::vector<std::string> names;
    for (const TabName& entry : kTabNames) {
        if (entry.tab != views::ViewTab::AllEntries) {
            names.emplace_back(entry.name);
        }
    }
    return names;
}

} // namespace velmora::cli
