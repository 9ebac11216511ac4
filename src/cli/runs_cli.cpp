#include "cli/cli_context.h"
#include "delivery/run_journal.h"

#include <memory>
#include <sys/stat.h>

namespace velmora::cli {

namespace {

struct RunsOptions {
    std::string session;
    std::string run;
};

nlohmann::json countsToJson(const delivery::RunCounts& counts) {
    return {{"delivered", counts.delivered},
            {"deferred", counts.deferred},
            {"rejected", counts.rejected},
            {"failed", counts.failed},
            {"notAttempted", counts.notAttempted}};
}

nlohmann::json runToJson(const delivery::RunRecord& run) {
    nlohmann::json json = {{"id", run.id},
                           {"started", run.started},
                           {"finished", run.finished},
                           {"stoppedEarly", run.stoppedEarly},
                           {"subject", run.subject},
                           {"draft", run.draftPath},
                           {"recipients", run.recipients.size()},
                           {"counts", countsToJson(run.counts())}};
    if (!run.retryOf.empty()) {
        json["retryOf"] = run.retryOf;
    }
    return json;
}

nlohmann::json recipientToJson(const delivery::JournalRecipient& recipient) {
    nlohmann::json attempts = nlohmann::json::array();
    for (const delivery::JournalAttempt& attempt : recipient.attempts) {
        nlohmann::json item = {{"outcome", outcomeName(attempt.outcome)},
                               {"code", attempt.code},
                               {"text", attempt.text},
                               {"at", attempt.at}};
        if (!attempt.stamp.empty()) {
            item["stamp"] = attempt.stamp;
        }
        attempts.push_back(std::move(item));
    }
    const std::optional<delivery::DeliveryOutcome> outcome = recipient.outcome();
    return {{"n", recipient.index},
            {"slot", recipient.slot},
            {"address", recipient.address},
            {"outcome", outcome ? std::string(outcomeName(*outcome)) : "not attempted"},
            {"final", recipient.hasFinalOutcome()},
            {"attempts", std::move(attempts)}};
}

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
        for (const delivery::RunRecord& run :
             delivery::readRunJournals(delivery::journalFolder(o->session))) {
            if (run.id != o->run) {
                continue;
            }
            nlohmann::json json = runToJson(run);
            json["ended"] = run.endedAt;
            json["draftSha256"] = run.draftDigest;
            json["journal"] = run.path;
            nlohmann::json recipients = nlohmann::json::array();
            for (const delivery::JournalRecipient& recipient : run.recipients) {
                recipients.push_back(recipientToJson(recipient));
            }
            json["recipients"] = std::move(recipients);
            context.printJson(json);
            return;
        }
        context.fail("The session has no run \"" + o->run + "\" (see 'mailtray runs list').");
    });
}

} // namespace velmora::cli
