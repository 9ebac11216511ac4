#include "cli/cli_context.h"
#include "cli/session_json.h"
#include "delivery/keyring_password.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/relay_pool.h"
#include "delivery/run/send_run.h"
#include "delivery/settings_by_name.h"
#include "delivery/smtp/smtp_request.h"
#include "store/extension_settings.h"
#include "store/untrusted_text.h"

#include <istream>
#include <memory>
#include <ostream>

namespace velmora::cli {

namespace {

struct SettingsOptions {
    std::string session;
    std::vector<std::string> assignments;
    bool withPassword = false;
    int relay = 1;
};

nlohmann::json extensionValueJson(const store::ExtensionKey& key,
                                  const store::ExtensionSettings& extensions) {
    switch (key.kind) {
    case store::ExtensionKind::Integer:
        return extensions.integer(key.name);
    case store::ExtensionKind::Boolean:
        return extensions.boolean(key.name) ? 1 : 0;
    case store::ExtensionKind::Choice:
    case store::ExtensionKind::Text:
        break;
    }
    return extensions.value(key.name);
}

// Every setting under the name `settings set` takes: the file's fields,
// every known extension key (its default when unset) and any key a newer
// build stored.
nlohmann::json allSettingsJson(const store::SessionSettings& settings, bool withPassword) {
    nlohmann::json shown = settingsToJson(settings, withPassword);
    for (const store::ExtensionKey& key : store::extensionKeys()) {
        shown[std::string(key.name)] = extensionValueJson(key, settings.extensions);
    }
    for (const auto& [name, value] : settings.extensions.entries()) {
        // The sign-in's tokens are kept there but are never shown.
        const auto relay = store::relayKeyName(name);
        if (relay && relay->field == "password") {
            // As the main password: in clear only on request.
            shown[name] = withPassword ? value : std::string("********");
        } else if (relay ? !delivery::isOAuthTokenKey(relay->field)
                         : store::findExtensionKey(name) == nullptr &&
                               !delivery::isOAuthTokenKey(name)) {
            shown[name] = value;
        }
    }
    return shown;
}

// Silent while testing: the report says it all afterwards.
class CollectingObserver final : public delivery::RunObserver {
public:
    void logLine(const std::string&) override {}
    bool cancelRequested() override { return false; }
};

// Whether a relay's password or where it is kept changed.
bool relayPasswordsChanged(const store::SessionSettings& a, const store::SessionSettings& b) {
    for (int number = 2; number <= store::kMaxRelays; ++number) {
        for (const char* field : {"password", "passwordInKeyring"}) {
            const std::string key = store::relayKey(number, field);
            if (a.extensions.value(key) != b.extensions.value(key)) {
                return true;
            }
        }
    }
    return false;
}

constexpr const char* kNoPasswordOnInputText =
    "password=- found no password on standard input (give \"password=\" to empty it).";

} // namespace

void registerSettingsCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<SettingsOptions>();
    auto* group = app.add_subcommand("settings", "Show and change a session's delivery settings");
    group->require_subcommand(1);

    auto* show = group->add_subcommand(
        "show", "Print every setting as JSON: the file's fields and the extension settings");
    show->add_option("SESSION", o->session, "The session file")->required();
    show->add_flag("--with-password", o->withPassword, "Show the SMTP password in clear");
    show->callback([&context, o] {
        store::Session session;
        if (openSessionForCommand(context, session, o->session)) {
            context.printJson(allSettingsJson(session.settings(), o->withPassword));
        }
    });

    auto* set = group->add_subcommand(
        "set", "Change settings by name (NAME=VALUE; booleans 0|1; password=- reads the "
               "password from the first line of standard input); nothing is saved on an error");
    set->add_option("SESSION", o->session, "The session file")->required();
    set->add_option("ASSIGNMENTS", o->assignments, "NAME=VALUE, one or more")->required();
    addLockWaitOption(*set, context);
    set->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        store::SessionSettings settings = session.settings();
        for (const std::string& assignment : o->assignments) {
            const std::size_t equals = assignment.find('=');
            if (equals == std::string::npos || equals == 0) {
                context.err << "\"" << assignment << "\" is not NAME=VALUE.\n";
                context.exitCode = kExitUsage;
                return;
            }
            const std::string name = assignment.substr(0, equals);
            std::string value = assignment.substr(equals + 1);
            if (name == "password" && value == "-") {
                if (!std::getline(context.in, value)) {
                    value.clear();
                }
                if (!value.empty() && value.back() == '\r') {
                    value.pop_back();
                }
                // Empty input is more likely a mistake than a wish to clear it.
                if (value.empty()) {
                    context.err << kNoPasswordOnInputText << "\nNothing was saved.\n";
                    context.exitCode = kExitUsage;
                    return;
                }
            }
            if (const auto refusal = delivery::setSettingByName(settings, name, std::move(value))) {
                context.err << refusal->message << "\nNothing was saved.\n";
                context.exitCode = kExitUsage;
                return;
            }
        }
        // A password kept in the keyring goes there, or nothing is saved
        // (the file would otherwise lose it).
        const store::SessionSettings& before = session.settings();
        const bool keep = delivery::keepsPasswordInKeyring(settings);
        if (keep || delivery::keepsPasswordInKeyring(before)) {
            if (context.passwords == nullptr) {
                if (keep != delivery::keepsPasswordInKeyring(before) ||
                    settings.password != before.password) {
                    context.fail(std::string(delivery::kNoKeyringInThisBuildText) +
                                 "\nNothing was saved.");
                    return;
                }
            } else if (const auto reason = delivery::applyKeyringChoice(settings, keep, before,
                                                                        *context.passwords)) {
                context.fail("The SMTP password could not be stored in the desktop keyring: " +
                             *reason + "\nNothing was saved.");
                return;
            }
        }
        if (delivery::relaysUseKeyring(settings) || delivery::relaysUseKeyring(before)) {
            if (context.passwords == nullptr) {
                if (relayPasswordsChanged(settings, before)) {
                    context.fail(std::string(delivery::kNoKeyringInThisBuildText) +
                                 "\nNothing was saved.");
                    return;
                }
            } else if (const std::vector<std::string> problems =
                           delivery::applyRelayKeyringChoices(settings, before, *context.passwords);
                       !problems.empty()) {
                context.fail("A relay's password could not be stored in the desktop keyring: " +
                             problems.front() + "\nNothing was saved.");
                return;
            }
        }
        if (settings == session.settings()) {
            return;
        }
        session.setSettings(settings);
        saveSessionForCommand(context, session, o->session);
    });

    auto* test = app.add_subcommand(
        "test-connection", "Connect with the session's delivery settings, with TLS and the "
                           "login, and show what the server said; sends no mail");
    test->add_option("SESSION", o->session, "The session file")->required();
    addLockWaitOption(*test, context);
    test->add_option("--relay", o->relay,
                     "The relay of the pool to test (1: the main server, the default)")
        ->check(CLI::Range(1, store::kMaxRelays));
    test->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session)) {
            return;
        }
        if (!delivery::relayConfigured(session.settings(), o->relay)) {
            context.fail(delivery::noRelayText(o->relay));
            return;
        }
        const store::SessionSettings settings =
            delivery::relaySettings(session.settings(), o->relay);
        if (!delivery::smtpServerConfigured(settings)) {
            context.fail("The session names no SMTP server and port: set smtpServer and "
                         "smtpPort first.");
            return;
        }
        delivery::TcpConnection connection;
        CollectingObserver observer;
        // Only the time-outs read this clock: real time, whatever the context's says.
        const store::SystemClock clock;
        store::SessionSettings tokenSettings = settings;
        delivery::SessionAccessTokens tokens(tokenSettings, context.passwords,
                                             [&context] { return secondsNow(context.clock); });
        const delivery::SmtpSessionReport report = testSmtpConnection(
            settings, delivery::localHostName(), connection, observer, clock, &tokens);
        for (const std::string& line : connectionTestLines(
                 delivery::smtpRequestFor(settings, delivery::localHostName()), report)) {
            context.out << store::printableText(line) << '\n';
        }
        const int result = connectionTestPassed(report) ? kExitOk : kExitFailed;
        if (tokens.changed()) {
            // Kept, or the next command renews again. The file is read anew
            // under its lock: what changed in it since is kept too.
            store::Session current;
            if (!openSessionForCommand(context, current, o->session, SessionUse::Change)) {
                context.err << "The renewed sign-in was not saved.\n";
                context.exitCode = result;
                return;
            }
            store::SessionSettings renewed = current.settings();
            delivery::keepRelaySignIn(renewed, o->relay, tokenSettings);
            current.setSettings(std::move(renewed));
            if (!saveSessionForCommand(context, current, o->session)) {
                return;
            }
        }
        context.exitCode = result;
    });
}

} // namespace velmora::cli
