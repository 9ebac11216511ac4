#include "cli/cli_context.h"
#include "cli/json_stream.h"
#include "cli/run_json.h"
#include "delivery/run/run_journal.h"

#include <memory>
#include <sys/stat.h>

namespace velmora::cli {

namespace {

struct RunsOptions {
    std::string session;
    std::string run;
};

bool sessionExists(CliContext& context, const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        context.fail("Cannot find the session file \"" + path + "\".");
        return false;
    }
    return true;
}

} // namespace

void registerRunsCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<RunsOptions>();
    auto* runs = app.add_subcommand("runs", "The delivery journals of a session's send runs");
    runs->require_subcommand(1);

    auto* list = runs->add_subcommand(
        "list", "Every run as JSON: id, start, finished or not, subject, counts per outcome");
    list->add_option("SESSION", o->session, "The session file")->required();
    list->callback([&context, o] {
        if (!sessionExists(context, o->session)) {
            return;
        }
        nlohmann::json json = nlohmann::json::array();
        for (const delivery::RunRecord& run :
             delivery::readRunJournals(delivery::journalFolder(o->session))) {
            json.push_back(runToJson(run));
        }
        context.printJson(json);
    });

    auto* show = runs->add_subcommand(
        "show", "One run as JSON, with every recipient and each attempt's outcome");
    show->add_option("SESSION", o->session, "The session file")->required();
    show->add_option("RUN", o->run, "The run's id (see 'runs list')")->required();
    show->callback([&context, o] {
        if (!sessionExists(context, o->session)) {
            return;
        }
        const std::optional<delivery::RunRecord> run =
            delivery::findRunJournal(delivery::journalFolder(o->session), o->run);
        if (run) {
            JsonStreamWriter out(context.out);
            writeRunDetailJson(out, *run);
            out.finish();
            return;
        }
        context.fail("The session has no run \"" + o->run + "\" (see 'mailtray runs list').");
    });
}

} // namespace velmora::cli
