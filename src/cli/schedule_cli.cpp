#include "cli/cli_context.h"
#include "cli/send_options.h"
#include "delivery/program_run.h"
#include "delivery/run/send_later.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace velmora::cli {

std::string scheduleFolder() {
    return delivery::scheduleFolderFromEnvironment();
}

std::string thisProgram() {
    char path[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "mailtray";
}

void registerScheduleCommands(CLI::App& app, CliContext& context) {
    auto id = std::make_shared<std::string>();
    auto* schedule = app.add_subcommand("schedule", "Show and cancel sends scheduled with --at");
    schedule->require_subcommand(1);

    auto* list = schedule->add_subcommand("list", "The scheduled sends, soonest first");
    list->callback([&context] {
        const std::vector<delivery::ScheduledSend> sends =
            delivery::readScheduledSends(scheduleFolder());
        if (sends.empty()) {
            context.out << "No sends are scheduled.\n";
        }
        for (const delivery::ScheduledSend& send : sends) {
            context.out << store::printableText(send.id + "  " + send.at + "  " + send.sessionPath +
                                                "  " + send.draftPath + "  " + send.recipients)
                        << '\n';
        }
    });

    auto* cancel = schedule->add_subcommand("cancel", "Remove a scheduled send and its timer");
    cancel->add_option("ID", *id, "The send's id (see 'schedule list')")->required();
    cancel->callback([&context, id] {
        const std::string folder = scheduleFolder();
        const std::optional<delivery::ScheduledSend> send =
            delivery::findScheduledSend(folder, *id);
        if (!send) {
            context.fail("No send \"" + store::printableText(*id) +
                         "\" is scheduled (see 'mailtray schedule list').");
            return;
        }
        const delivery::ProgramRun run =
            delivery::runProgram(delivery::cancelArguments(*send), "", std::chrono::seconds(30));
        if (!run.finished || run.exitCode != 0) {
            const std::string said(store::trimSpaces(
                run.errorOutput.empty() ? run.error
                                        : run.errorOutput.substr(0, run.errorOutput.find('\n'))));
            context.fail("The timer " + send->unit + " could not be stopped (" + said +
                         "); the send stays scheduled.");
            return;
        }
        delivery::forgetScheduledSend(folder, send->id);
        context.out << "Cancelled " << send->id << ".\n";
    });
}

} // namespace velmora::cli
