#include "cli/cli_context.h"
#include "delivery/message/draft_file.h"
#include "delivery/message/message_builder.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/run/send_run.h"
#include "store/file_reading.h"
#include "store/text.h"

#include <memory>
#include <ostream>
#include <sys/stat.h>

namespace velmora::cli {

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

nlohmann::json draftToJson(const delivery::MessageDraft& draft) {
    return {{"fromText", draft.fromText},
            {"subject", draft.subject},
            {"attachment1", draft.attachment1},
            {"attachment2", draft.attachment2},
            {"body", draft.body}};
}

// Writes each line with the CR LF it gets on the wire.
class StreamSink final : public delivery::LineSink {
public:
    explicit StreamSink(std::ostream& out) : out_(out) {}
    bool writeLine(std::string_view line) override {
        out_.write(line.data(), static_cast<std::streamsize>(line.size()));
        out_.write("\r\n", 2);
        return static_cast<bool>(out_);
    }

private:
    std::ostream& out_;
};

struct DraftOptions {
    std::string path;
    std::string fromText;
    std::string subject;
    std::string bodyFile;
    std::vector<std::string> attachments;
    bool force = false;
    std::string sessionPath;
    std::string to;
    std::string format;
    std::string mimeTypes = delivery::kSystemMimeTypesPath;
};

} // namespace

bool openDraftForCommand(CliContext& context, const std::string& path,
                         delivery::MessageDraft& draft) {
    delivery::DraftReadResult read = delivery::readDraftFile(path);
    switch (read.status) {
    case delivery::DraftReadStatus::CannotOpen:
        context.fail(delivery::cannotOpenDraftText(path, read.reason));
        return false;
    case delivery::DraftReadStatus::HeaderMismatch:
        context.fail(delivery::notADraftText(path));
        return false;
    case delivery::DraftReadStatus::Damaged:
        context.fail(delivery::damagedDraftText(path));
        return false;
    case delivery::DraftReadStatus::Loaded:
        break;
    }
    draft = std::move(read.draft);
    return true;
}

void registerDraftCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<DraftOptions>();
    CLI::App* group = app.add_subcommand("draft", "Write and show email draft files");
    group->require_subcommand(1);

    auto* create = group->add_subcommand("new", "Write an email draft file");
    create->add_option("DRAFT", o->path, "The draft file (\".eml\" is added when missing)")
        ->required();
    create->add_option("--from", o->fromText, "The From field, e.g. \"Ann Lee <ann@example.org>\"");
    create->add_option("--subject", o->subject, "The subject");
    create->add_option("--body-file", o->bodyFile, "A file whose bytes are the body");
    create->add_option("--attach", o->attachments, "An attachment path (at most two)");
    create->add_flag("--force", o->force, "Replace an existing file");
    create->callback([&context, o] {
        if (o->attachments.size() > 2) {
            context.fail("A draft holds at most two attachments.");
            return;
        }
        delivery::MessageDraft draft;
        draft.fromText = o->fromText;
        draft.subject = o->subject;
        if (!o->bodyFile.empty()) {
            std::string error;
            constexpr std::uint64_t kMaxBodyBytes = 256ull * 1024 * 1024;
            if (!store::readRegularFile(o->bodyFile, kMaxBodyBytes, draft.body, error)) {
                context.fail("Cannot read the body file \"" + o->bodyFile + "\" - " + error);
                return;
            }
        }
        if (!o->attachments.empty()) {
            draft.attachment1 = o->attachments[0];
        }
        if (o->attachments.size() > 1) {
            draft.attachment2 = o->attachments[1];
        }
        const std::string path = delivery::withDraftExtension(o->path);
        if (exists(path) && !o->force) {
            context.fail("\"" + path + "\" already exists; use --force to replace it.");
            return;
        }
        std::string error;
        if (!writeDraftFile(draft, path, error)) {
            context.fail(delivery::cannotSaveDraftText(path, error));
            return;
        }
        context.out << delivery::draftSavedText(path) << '\n';
    });

    auto* show = group->add_subcommand("show", "Print an email draft file as JSON");
    show->add_option("DRAFT", o->path, "The draft file")->required();
    show->callback([&context, o] {
        delivery::MessageDraft draft;
        if (openDraftForCommand(context, o->path, draft)) {
            context.printJson(draftToJson(draft));
        }
    });
}

void registerMessageCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<DraftOptions>();
    auto* message = app.add_subcommand(
        "message", "Write the bytes a delivery sends after the 354 reply, final \".\" included");
    message->add_option("SESSION", o->sessionPath, "The session file (its editor format)")
        ->required();
    message->add_option("DRAFT", o->path, "The email draft file")->required();
    message->add_option("--to", o->to, "The recipient address")->required();
    message->add_option("--format", o->format, "The text part's format (default: the session's)")
        ->check(CLI::IsMember({"html", "plain"}));
    message->add_option("--mime-types", o->mimeTypes,
                        "The list of content types by extension (default /etc/mime.types)");
    message->callback([&context, o] {
        store::Session session;
        delivery::MessageDraft draft;
        if (!openSessionForCommand(context, session, o->sessionPath) ||
            !openDraftForCommand(context, o->path, draft)) {
            return;
        }
        std::int32_t format = session.settings().editorFormat;
        if (!o->format.empty()) {
            format = o->format == "html" ? code(store::EditorFormat::Html)
                                         : code(store::EditorFormat::PlainText);
        }
        draft.format = format;
        if (const std::optional<std::string> problem = checkBeforeSending(draft)) {
            context.fail(*problem);
            return;
        }
        const delivery::MimeTypesFile types(o->mimeTypes);
        delivery::MessageEnvironment environment{context.clock, types, {}};
        environment.randomBytes = context.randomBytes;
        const std::string to(store::trimSpaces(o->to));
        delivery::OutgoingMessage message = personalMessage(
            session, draft,
            delivery::recipientValues(session, delivery::contactSlotWithAddress(session, to), to));
        StreamSink sink(context.out);
        if (!writeMessage(message, environment, sink)) {
            context.fail("The message could not be written.");
        }
    });
}

} // namespace velmora::cli
