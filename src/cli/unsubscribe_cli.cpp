#include "cli/cli_context.h"
#include "contacts/contact_adding.h"
#include "contacts/unsubscribe.h"
#include "store/text_encoding.h"

#include <memory>

namespace velmora::cli {

namespace {

struct UnsubscribeOptions {
    std::string session;
    std::vector<std::string> addresses;
    std::string file;
};

} // namespace

void registerUnsubscribeCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<UnsubscribeOptions>();
    auto* command = app.add_subcommand("unsubscribe",
                                       "Set the contacts with these addresses to Do Not Contact");
    command->add_option("SESSION", o->session, "The session file")->required();
    auto* addresses = command->add_option("ADDRESS", o->addresses, "The addresses to unsubscribe");
    auto* file = command->add_option("--file", o->file, "A text file of addresses, one a line");
    addresses->excludes(file);
    file->excludes(addresses);
    addLockWaitOption(*command, context);
    command->callback([&context, o] {
        if (o->addresses.empty() && o->file.empty()) {
            context.err << "Give the addresses or --file FILE.\n"
                        << "Run 'mailtray unsubscribe --help' for usage.\n";
            context.exitCode = kExitUsage;
            return;
        }
        std::vector<std::string> list = o->addresses;
        if (!o->file.empty()) {
            // Read as address lists are: never blocking on a FIFO, bounded in size.
            std::string bytes;
            std::string error;
            if (!contacts::readAddressListFile(o->file, bytes, error)) {
                context.fail("Cannot read \"" + o->file + "\" - " + error + ".");
                return;
            }
            list = contacts::addressesFromLines(store::textFromFileBytes(bytes));
        }
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        const contacts::UnsubscribeResult result = contacts::unsubscribeAddresses(session, list);
        if (session.hasUnsavedChanges() && !saveSessionForCommand(context, session, o->session)) {
            return;
        }
        context.out << unsubscribeSummary(result) << '\n';
    });
}

} // namespace velmora::cli
