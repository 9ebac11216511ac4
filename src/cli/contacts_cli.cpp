#include "cli/cli_context.h"
#include "contacts/contact_adding.h"
#include "contacts/duplicates.h"
#include "store/text_encoding.h"
#include "store/untrusted_text.h"

#include <memory>

namespace velmora::cli {

namespace {

struct ContactsOptions {
    std::string session;
    std::string textFile;
    std::int32_t group = 1;
    std::string status = "subscribers";
    bool dryRun = false;
};

} // namespace

void registerContactsCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<ContactsOptions>();

    auto* importCommand =
        app.add_subcommand("import-addresses", "Add the addresses of a text file as new contacts");
    importCommand->add_option("SESSION", o->session, "The session file")->required();
    importCommand
        ->add_option("TEXTFILE", o->textFile, "One or more comma-separated addresses per line")
        ->required();
    importCommand->add_option("--group", o->group, "Campaign group slot (default 1)");
    importCommand->add_option("--status", o->status, "Initial status (default subscribers)")
        ->check(CLI::IsMember(statusNames()));
    importCommand->add_flag("--dry-run", o->dryRun, "Report what would be added; change no file");
    addLockWaitOption(*importCommand, context);
    importCommand->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session,
                                   o->dryRun ? SessionUse::Read : SessionUse::Change)) {
            return;
        }
        if (!session.hasGroup(o->group)) {
            context.fail("The session has no campaign group " + std::to_string(o->group) + ".");
            return;
        }
        std::string bytes;
        std::string error;
        if (!contacts::readAddressListFile(o->textFile, bytes, error)) {
            context.fail(contacts::importFailedText(o->textFile, error));
            return;
        }
        const contacts::AddListResult result = contacts::addEmailList(
            session, contacts::importedAddressText(store::textFromFileBytes(bytes)), o->group,
            views::tabStatus(tabNames().at(o->status)), formatContactDate(context.clock.now()));
        if (!o->dryRun && result.added > 0 &&
            !saveSessionForCommand(context, session, o->session)) {
            return;
        }
        context.out << contacts::addListResultText(result);
    });

    auto* dedupe =
        app.add_subcommand("dedupe", "Remove Duplicates: keep the first of each address");
    dedupe->add_option("SESSION", o->session, "The session file")->required();
    dedupe->add_flag("--dry-run", o->dryRun, "Report what would be removed; change no file");
    addLockWaitOption(*dedupe, context);
    dedupe->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session,
                                   o->dryRun ? SessionUse::Read : SessionUse::Change)) {
            return;
        }
        const contacts::DuplicatesResult result = contacts::removeDuplicates(session);
        if (!o->dryRun && result.removed > 0 &&
            !saveSessionForCommand(context, session, o->session)) {
            return;
        }
        for (const std::string& line : result.lines) {
            context.out << store::printableText(line) << '\n';
        }
    });
}

} // namespace velmora::cli
