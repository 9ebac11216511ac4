#include "cli/cli_context.h"
#include "store/untrusted_text.h"

#include <iostream>

namespace velmora::cli {

int runMailtray(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                const store::Clock& clock, store::PasswordStore* passwords,
                delivery::RandomBytes randomBytes) {
    return runMailtray(argc, argv, std::cin, out, err, clock, passwords, std::move(randomBytes));
}

int runMailtray(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                std::ostream& err, const store::Clock& clock, store::PasswordStore* passwords,
                delivery::RandomBytes randomBytes) {
    CliContext context(in, out, err, clock);
    context.passwords = passwords;
    context.randomBytes = std::move(randomBytes);
    CLI::App app{"mailtray: script the contact lists, the Mailtray and deliveries of "
                 "Velmora Mailtray session files"};
    app.name("mailtray");
    app.require_subcommand(1);
    registerSessionCommands(app, context);
    registerContactsCommands(app, context);
    registerContactFileCommands(app, context);
    registerMailtrayCommands(app, context);
    registerDraftCommands(app, context);
    registerMessageCommands(app, context);
    registerListCommands(app, context);
    registerSendCommands(app, context);
    registerCheckCommands(app, context);
    registerScheduleCommands(app, context);
    registerRunsCommands(app, context);
    registerSettingsCommands(app, context);
    registerOAuthCommands(app, context);
    registerUnsubscribeCommands(app, context);
    registerFeedbackCommands(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        out << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp& e) {
        out << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        err << store::printableLines(e.what()) << '\n' << "Run 'mailtray --help' for usage.\n";
        return kExitUsage;
    }
    return context.exitCode;
}

} // namespace velmora::cli
