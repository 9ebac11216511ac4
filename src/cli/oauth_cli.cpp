#include "cli/cli_context.h"
#include "cli/posix_launcher.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/relay_pool.h"
#include "store/extension_settings.h"

#include <memory>
#include <optional>
#include <ostream>

namespace velmora::cli {

namespace {

struct OAuthOptions {
    std::string session;
    std::string provider;
    std::string browser;
    bool device = false;
    bool noBrowser = false;
    long long timeoutSeconds = 300;
    int relay = 1;
};

// The lines go to the terminal as they come: the user acts on the first one.
class PrintingFeedback final : public delivery::SignInFeedback {
public:
    explicit PrintingFeedback(std::ostream& out) : out_(out) {}
    void show(const std::string& line) override { out_ << line << std::endl; }
    bool cancelled() override { return false; } // Ctrl-C ends the tool
private:
    std::ostream& out_;
};

void addRelayOption(CLI::App& command, OAuthOptions& o) {
    command
        .add_option("--relay", o.relay,
                    "The relay of the pool whose own sign-in this is (1: the main server, the "
                    "default)")
        ->check(CLI::Range(1, store::kMaxRelays));
}

// The settings relay `number` signs in with, or nothing (reported) when it
// has no sign-in of its own.
std::optional<store::SessionSettings>
relayAccount(CliContext& context, const store::SessionSettings& settings, int number) {
    const std::string n = std::to_string(number);
    if (!delivery::relayConfigured(settings, number)) {
        context.fail(delivery::noRelayText(number));
        return std::nullopt;
    }
    if (number > 1 && !delivery::relayHasOwnSignIn(settings, number)) {
        context.fail("Relay " + n +
                     " has no sign-in of its own (with xoauth2 it signs in as the "
                     "session does): give --provider or set relay." +
                     n + ".oauthProvider first.");
        return std::nullopt;
    }
    return delivery::relaySettings(settings, number);
}

} // namespace

long long secondsNow(const store::Clock& clock) {
    return clock.now().millisecondsSinceEpoch / 1000;
}

void registerOAuthCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<OAuthOptions>();
    auto* group = app.add_subcommand(
        "oauth", "Sign in to the mail provider with OAuth instead of a password");
    group->require_subcommand(1);

    auto* login = group->add_subcommand(
        "login", "Sign in in the browser (or with a code on another device) and keep the sign-in "
                 "in the session");
    login->add_option("SESSION", o->session, "The session file")->required();
    login->add_option("--provider", o->provider, "The provider (default: the session's)")
        ->check(CLI::IsMember({"google", "microsoft", "custom"}));
    login->add_flag("--device", o->device, "Sign in with a code on another device");
    login->add_flag("--no-browser", o->noBrowser, "Only print the address to open");
    login->add_option("--browser", o->browser,
                      "Open the address with this program instead of the desktop's browser");
    login
        ->add_option("--timeout", o->timeoutSeconds,
                     "How long to wait for the sign-in, in seconds (default 300)")
        ->check(CLI::PositiveNumber);
    addRelayOption(*login, *o);
    addLockWaitOption(*login, context);
    login->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        store::SessionSettings settings = session.settings();
        if (!o->provider.empty()) {
            settings.extensions.set(o->relay == 1
                                        ? std::string(delivery::kOAuthProviderKey)
                                        : store::relayKey(o->relay, delivery::kOAuthProviderKey),
                                    o->provider);
        }
        std::optional<store::SessionSettings> account = relayAccount(context, settings, o->relay);
        if (!account) {
            return;
        }
        PosixLauncher launcher;
        delivery::SignInRequest request;
        request.device = o->device;
        request.openBrowser = !o->noBrowser;
        request.timeoutSeconds = o->timeoutSeconds;
        request.nowSeconds = secondsNow(context.clock);
        request.openUrl = [&launcher, o](const std::string& url) {
            return o->browser.empty() ? launcher.openDocument(url)
                                      : launcher.startProgram(o->browser, {url});
        };
        PrintingFeedback feedback(context.out);
        const delivery::SignInResult result =
            delivery::signIn(*account, request, feedback, context.passwords);
        if (!result.ok) {
            context.fail(result.message);
            return;
        }
        delivery::keepRelaySignIn(settings, o->relay, *account);
        session.setSettings(settings);
        if (saveSessionForCommand(context, session, o->session)) {
            context.out << result.message << '\n';
        }
    });

    auto* status =
        group->add_subcommand("status", "Say whether and as whom the session is signed in");
    status->add_option("SESSION", o->session, "The session file")->required();
    addRelayOption(*status, *o);
    status->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session)) {
            return;
        }
        const std::optional<store::SessionSettings> account =
            relayAccount(context, session.settings(), o->relay);
        if (!account) {
            return;
        }
        context.out << delivery::oauthStatusText(*account) << '\n';
        context.exitCode = delivery::signedInWithOAuth(*account) ? kExitOk : kExitFailed;
    });

    auto* logout = group->add_subcommand("logout", "Forget the session's OAuth sign-in");
    logout->add_option("SESSION", o->session, "The session file")->required();
    addRelayOption(*logout, *o);
    addLockWaitOption(*logout, context);
    logout->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        store::SessionSettings settings = session.settings();
        std::optional<store::SessionSettings> account = relayAccount(context, settings, o->relay);
        if (!account) {
            return;
        }
        delivery::signOut(*account, context.passwords);
        delivery::keepRelaySignIn(settings, o->relay, *account);
        if (settings != session.settings()) {
            session.setSettings(settings);
            if (!saveSessionForCommand(context, session, o->session)) {
                return;
            }
        }
        context.out << "Signed out.\n";
    });
}

} // namespace velmora::cli
