#include "cli/cli_context.h"
#include "cli/session_json.h"
#include "store/session_file.h"

#include <memory>
#include <sys/stat.h>

namespace velmora::cli {

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::int64_t fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

// Contacts by status (codes no status has count as "other"), groups, the
// Mailtray and the file's size in bytes.
nlohmann::json sessionStatsJson(const store::Session& session, std::int64_t fileBytes) {
    std::int64_t subscribers = 0, prospects = 0, customers = 0, doNotContact = 0, deleted = 0,
                 other = 0;
    for (const store::Contact& c : session.contacts()) {
        switch (static_cast<store::ContactStatus>(c.status)) {
        case store::ContactStatus::Subscribers:
            ++subscribers;
            break;
        case store::ContactStatus::Prospects:
            ++prospects;
            break;
        case store::ContactStatus::Customers:
            ++customers;
            break;
        case store::ContactStatus::DoNotContact:
            ++doNotContact;
            break;
        case store::ContactStatus::Deleted:
            ++deleted;
            break;
        default:
            ++other;
        }
    }
    return {{"contacts",
             {{"total", session.contactCount()},
              {"live", session.liveContactCount()},
              {"subscribers", subscribers},
              {"prospects", prospects},
              {"customers", customers},
              {"doNotContact", doNotContact},
              {"deleted", deleted},
              {"other", other}}},
            {"groups", session.groupCount()},
            {"mailtray", session.mailtrayCount()},
            {"fileBytes", fileBytes}};
}

} // namespace

struct SessionOptions {
    std::string path;
    std::string outPath;
    bool force = false;
    bool withPassword = false;
    bool rescue = false;
};

void registerSessionCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<SessionOptions>();
    CLI::App* group = app.add_subcommand("session", "Create, show and copy session files");
    group->require_subcommand(1);

    auto* create = group->add_subcommand("new", "Write a new, empty session file");
    create->add_option("FILE", o->path, "The session file to write")->required();
    create->add_flag("--force", o->force, "Replace an existing file");
    addLockWaitOption(*create, context);
    create->callback([&context, o] {
        if (!lockSessionForCommand(context, o->path)) {
            return;
        }
        if (exists(o->path) && !o->force) {
            context.fail("\"" + o->path + "\" already exists; use --force to replace it.");
            return;
        }
        store::Session session;
        newSession(session, context.hooks);
        saveSessionForCommand(context, session, o->path);
    });

    auto* show = group->add_subcommand("show", "Print a session as JSON");
    show->add_option("FILE", o->path, "The session file")->required();
    show->add_flag("--with-password", o->withPassword, "Show the SMTP password in clear");
    show->callback([&context, o] {
        store::Session session;
        if (openSessionForCommand(context, session, o->path)) {
            // Record by record: a million contacts never sit in memory twice.
            JsonStreamWriter out(context.out);
            writeSessionJson(out, session, o->withPassword);
            out.finish();
        }
    });

    auto* copy = group->add_subcommand("copy", "Load a session and save it under another name");
    copy->add_option("IN", o->path, "The session file to read")->required();
    copy->add_option("OUT", o->outPath, "The session file to write")->required();
    copy->add_flag("--rescue", o->rescue,
                   "Copy what a damaged session file still holds instead of refusing");
    addLockWaitOption(*copy, context);
    copy->callback([&context, o] {
        if (!lockSessionForCommand(context, o->outPath)) {
            return;
        }
        store::SessionReadResult read = store::readSessionFile(o->path);
        if (read.status == store::SessionReadStatus::Damaged && o->rescue) {
            context.err << store::damagedSessionText(o->path) << '\n';
            store::Session session;
            session.replaceDocument(std::move(read.session));
            saveSessionForCommand(context, session, o->outPath);
            return;
        }
        store::Session session;
        if (useSessionForCommand(context, session, o->path, std::move(read))) {
            saveSessionForCommand(context, session, o->outPath);
        }
    });

    auto* stats = group->add_subcommand("stats", "Print a session's counts as JSON");
    stats->add_option("FILE", o->path, "The session file")->required();
    stats->callback([&context, o] {
        store::Session session;
        if (openSessionForCommand(context, session, o->path)) {
            context.printJson(sessionStatsJson(session, fileSize(o->path)));
        }
    });
}

} // namespace velmora::cli
