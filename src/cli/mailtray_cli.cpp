#include "cli/cli_context.h"
#include "cli/posix_launcher.h"
#include "contacts/mailtray.h"
#include "delivery/mail_client.h"
#include "store/untrusted_text.h"

#include <memory>

namespace velmora::cli {

namespace {

struct QueueOptions {
    std::string session;
    std::string out;
    bool markContacted = false;
};

const char* const kNoMethodText = "You must select a delivery method from the server settings "
                                  "window before you can compose and send emails.";

} // namespace

void registerMailtrayCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<QueueOptions>();

    auto* queue = app.add_subcommand("queue", "Fill, export and empty the Mailtray");
    queue->require_subcommand(1);

    auto* addAll = queue->add_subcommand(
        "add-all", "Add Filtered over the unfiltered list: every live contact not yet queued");
    addAll->add_option("SESSION", o->session, "The session file")->required();
    addLockWaitOption(*addAll, context);
    addAll->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        std::vector<std::int32_t> all;
        for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
            if (!session.contact(slot).isDeleted()) {
                all.push_back(slot);
            }
        }
        const std::int32_t added = contacts::addContactsToMailtray(session, all);
        if (added > 0 && !saveSessionForCommand(context, session, o->session)) {
            return;
        }
        context.out << "Added " << added << ", Mailtray holds " << session.mailtrayCount() << ".\n";
    });

    auto* exportCmd = queue->add_subcommand(
        "export", "Save to File..: the Mailtray's addresses, one per line (CR LF)");
    exportCmd->add_option("SESSION", o->session, "The session file")->required();
    addLockWaitOption(*exportCmd, context);
    exportCmd->add_option("OUT", o->out, "The text file (\".txt\" is appended if missing)")
        ->required();
    exportCmd->add_flag("--mark-contacted", o->markContacted,
                        "Answer Yes to marking the entries as contacted");
    exportCmd->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session,
                                   o->markContacted ? SessionUse::Change : SessionUse::Read)) {
            return;
        }
        const std::string path = contacts::mailtrayExportPath(o->out);
        std::string error;
        if (!contacts::saveMailtrayToFile(session, path, error)) {
            context.fail("Cannot save \"" + path + "\" - " + error);
            return;
        }
        if (o->markContacted) {
            contacts::markMailtrayContacted(session, formatContactDate(context.clock.now()));
            if (!saveSessionForCommand(context, session, o->session)) {
                return;
            }
        }
        context.out << path << '\n';
    });

    auto* clear = queue->add_subcommand("clear", "Empty the Mailtray (contacts stay as they are)");
    clear->add_option("SESSION", o->session, "The session file")->required();
    addLockWaitOption(*clear, context);
    clear->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        if (session.mailtrayCount() > 0) {
            session.clearMailtray();
            saveSessionForCommand(context, session, o->session);
        }
    });

    auto* handoff = app.add_subcommand(
        "handoff", "Hand the Mailtray to the default or the custom mail client and stamp it");
    handoff->add_option("SESSION", o->session, "The session file")->required();
    addLockWaitOption(*handoff, context);
    handoff->callback([&context, o] {
        store::Session session;
        if (!openSessionForCommand(context, session, o->session, SessionUse::Change)) {
            return;
        }
        const std::int32_t method = session.settings().deliveryMethod;
        if (method == code(store::DeliveryMethod::SmtpServer)) {
            context.fail("The delivery method is \"SMTP Server\": use 'mailtray send'.");
            return;
        }
        if (!delivery::deliversByMailClient(session.settings())) {
            context.fail(kNoMethodText);
            return;
        }
        PosixLauncher launcher;
        std::int32_t leftOut = 0;
        const delivery::HandoffResult result = delivery::handOffToMailClient(
            session, launcher, formatContactDate(context.clock.now()), &leftOut);
        if (leftOut > 0) {
            context.err << store::printableLines(delivery::leftOutOfHandoffText(leftOut)) << '\n';
        }
        // The contacts are stamped at the hand-over, whatever the client does.
        if (!saveSessionForCommand(context, session, o->session)) {
            return;
        }
        switch (result) {
        case delivery::HandoffResult::Started:
            context.out << "Handed " << session.sendList.count()
                        << " addresses to the mail client.\n";
            break;
        case delivery::HandoffResult::NothingToStart:
            context.out << "The Mailtray holds no address; no mail client was started.\n";
            break;
        case delivery::HandoffResult::CouldNotStart:
            context.fail(delivery::mailClientFailedText(session.settings()));
            break;
        }
    });
}

} // namespace velmora::cli
