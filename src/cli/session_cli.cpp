#include "cli/cli_context.h"
#include "cli/session_json.h"
#include "store/session_file.h"

#include <memory>
#include <sys/stat.h>

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
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
        Session session;
        newSession(session, context.hooks);
        saveSessionForCommand(context, session, o->path);
    });

    auto* show = group->add_subcommand("show", "Print a session as JSON");
    show->add_option("FILE", o->path, "The session file")->required();
    show->add_flag("--with-password", o->withPassword, "Show the SMTP password in clear");
    show->callback([&context, o] {
        Session session;
        if (openSessionForCommand(context, session, o->path)) {
            context.printJson(sessionToJson(session, o->withPassword));
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
        SessionReadResult read = readSessionFile(o->path);
        if (read.status == SessionReadStatus::Damaged && o->rescue) {
            context.err << damagedSessionText(o->path) << '\n';
            Session session;
            session.replaceDocument(std::move(read.session));
            saveSessionForCommand(context, session, o->outPath);
            return;
        }
        Session session;
        if (openSessionForCommand(context, session, o->path)) {
            saveSessionForCommand(context, session, o->outPath);
        }
    });
}
