#include "cli/cli_context.h"
#include "cli/send_options.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/run/delivery_run.h"
#include "delivery/run/send_check.h"
#include "delivery/run/send_run.h"
#include "delivery/smtp/smtp_request.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <memory>
#include <ostream>

namespace velmora::cli {

namespace {

struct CheckOptions {
    std::string sessionPath;
    std::string draftPath;
    std::string recipients = "mailtray";
    std::string format;
    std::string mimeTypes = delivery::kSystemMimeTypesPath;
    std::uint64_t relaySize = 0;
    bool json = false;
    bool noSpamScore = false;
    bool askRelay = false;
};

// The probe's dialogue is not the report: nothing of it is printed.
class SilentObserver final : public delivery::RunObserver {
public:
    void logLine(const std::string&) override {}
    bool cancelRequested() override { return false; }
};

// The SIZE the relay announces, asked as 'test-connection' asks; nothing
// when it names none or cannot be reached.
std::optional<std::uint64_t> askRelaySize(CliContext& context, const store::Session& session) {
    if (!delivery::smtpServerConfigured(session.settings())) {
        return std::nullopt;
    }
    delivery::TcpConnection connection;
    SilentObserver observer;
    // Only the time-outs read this clock: real time, whatever the context's says.
    const store::SystemClock clock;
    store::SessionSettings tokenSettings = session.settings();
    delivery::SessionAccessTokens tokens(tokenSettings, context.passwords,
                                         [&context] { return secondsNow(context.clock); });
    const delivery::SmtpSessionReport report = testSmtpConnection(
        session.settings(), delivery::localHostName(), connection, observer, clock, &tokens);
    return delivery::announcedSizeLimit(report.capabilities);
}

const char* levelName(delivery::CheckLevel level) {
    switch (level) {
    case delivery::CheckLevel::Error:
        return "error";
    case delivery::CheckLevel::Warning:
        return "warning";
    case delivery::CheckLevel::Note:
        return "note";
    }
    return "";
}

nlohmann::json checkToJson(const delivery::MessageCheck& check, std::size_t recipients) {
    nlohmann::json findings = nlohmann::json::array();
    for (const delivery::CheckFinding& finding : check.findings) {
        findings.push_back(
            {{"level", levelName(finding.level)}, {"kind", finding.kind}, {"text", finding.text}});
    }
    nlohmann::json out{{"recipients", recipients},
                       {"firstRecipient", check.firstRecipient},
                       {"messageBytes", check.messageBytes},
                       {"findings", findings}};
    if (check.spam) {
        const delivery::SpamScore& spam = *check.spam;
        nlohmann::json rules = nlohmann::json::array();
        for (const delivery::SpamRule& rule : spam.rules) {
            rules.push_back(
                {{"points", rule.points}, {"name", rule.name}, {"description", rule.description}});
        }
        out["spam"] = {
            {"installed", spam.installed}, {"scored", spam.scored}, {"score", spam.points},
            {"threshold", spam.threshold}, {"rules", rules},        {"error", spam.error}};
    }
    return out;
}

} // namespace

std::optional<delivery::RecipientChoice> recipientChoiceNamed(std::string_view name) {
    if (name.starts_with(kSinglePrefix)) {
        return delivery::RecipientChoice::SingleRecipient;
    }
    if (name == "mailtray") {
        return delivery::RecipientChoice::Mailtray;
    }
    if (name == "customers") {
        return delivery::RecipientChoice::AllCustomers;
    }
    if (name == "prospects") {
        return delivery::RecipientChoice::AllProspects;
    }
    if (name == "subscribers") {
        return delivery::RecipientChoice::AllSubscribers;
    }
    if (name == "entire") {
        return delivery::RecipientChoice::EntireList;
    }
    return std::nullopt;
}

std::string recipientsOptionProblem(const std::string& value) {
    if (!recipientChoiceNamed(value)) {
        return "not a recipient choice: " + store::printableText(value);
    }
    const std::string_view single = std::string_view(value).substr(
        value.starts_with(kSinglePrefix) ? kSinglePrefix.size() : value.size());
    return store::hasControlCharacter(single) ? store::controlCharacterAddressText(single)
                                              : std::string();
}

void chooseRecipients(delivery::MessageDraft& draft, std::string_view name) {
    const delivery::RecipientChoice choice = *recipientChoiceNamed(name);
    draft.recipientChoice = code(choice);
    if (choice == delivery::RecipientChoice::SingleRecipient) {
        draft.singleRecipient = std::string(name.substr(kSinglePrefix.size()));
    }
}

void printSendWarnings(CliContext& context, const store::Session& session,
                       const delivery::MessageDraft& draft,
                       const std::vector<delivery::PlannedRecipient>& recipients, bool listRun,
                       const std::string& mimeTypesPath) {
    const delivery::MimeTypesFile types(mimeTypesPath);
    const delivery::MessageEnvironment environment{context.clock, types, {}};
    delivery::MessageCheckRequest request;
    request.recipients = recipients;
    request.listRun = listRun;
    const delivery::MessageCheck check =
        delivery::checkMessage(session, draft, request, environment);
    for (const std::string& line : delivery::checkWarningLines(check)) {
        context.err << store::printableText(line) << '\n';
    }
}

void registerCheckCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<CheckOptions>();
    auto* check = app.add_subcommand(
        "check", "Check a draft and its recipients before sending: spam score, list headers, "
                 "links, images, size, personal fields, attachments and recipients");
    check->add_option("SESSION", o->sessionPath, "The session file")->required();
    check->add_option("DRAFT", o->draftPath, "The email draft file")->required();
    check
        ->add_option("--recipients", o->recipients,
                     "single:ADDR, mailtray (default), customers, prospects, subscribers or "
                     "entire")
        ->check(recipientsOptionProblem, "RECIPIENTS");
    check->add_option("--format", o->format, "The text part's format (default: the session's)")
        ->check(CLI::IsMember({"html", "plain"}));
    check->add_option("--mime-types", o->mimeTypes,
                      "The list of content types by extension (default /etc/mime.types)");
    check->add_option("--relay-size", o->relaySize,
                      "The relay's message size limit in bytes, as its EHLO announces it (SIZE)");
    check->add_flag("--ask-relay", o->askRelay,
                    "Connect to the relay (as 'test-connection' does) to learn its SIZE limit");
    check->add_flag("--no-spam-score", o->noSpamScore, "Do not run SpamAssassin");
    check->add_flag("--json", o->json, "Print the report as JSON");
    check->callback([&context, o] {
        store::Session session;
        delivery::MessageDraft draft;
        if (!openSessionForCommand(context, session, o->sessionPath) ||
            !openDraftForCommand(context, o->draftPath, draft)) {
            return;
        }
        draft.format = session.settings().editorFormat;
        if (!o->format.empty()) {
            draft.format = o->format == "html" ? code(store::EditorFormat::Html)
                                               : code(store::EditorFormat::PlainText);
        }
        chooseRecipients(draft, o->recipients);
        delivery::MessageCheckRequest request;
        request.recipients = delivery::chosenRecipients(session, draft, {});
        request.listRun = draft.recipientChoice != code(delivery::RecipientChoice::SingleRecipient);
        if (o->relaySize > 0) {
            request.relaySizeLimit = o->relaySize;
        } else if (o->askRelay) {
            request.relaySizeLimit = askRelaySize(context, session);
        }
        if (!o->noSpamScore) {
            request.spamFilter = delivery::spamAssassinScore;
        }
        const delivery::MimeTypesFile types(o->mimeTypes);
        delivery::MessageEnvironment environment{context.clock, types, {}};
        environment.randomBytes = context.randomBytes;
        const delivery::MessageCheck result =
            delivery::checkMessage(session, draft, request, environment);
        if (o->json) {
            context.printJson(checkToJson(result, request.recipients.size()));
        } else {
            for (const std::string& line : delivery::messageCheckLines(result)) {
                context.out << store::printableText(line) << '\n';
            }
        }
        // Errors stop a send; warnings are for the user to weigh.
        context.exitCode = result.hasErrors() ? kExitFailed : kExitOk;
    });
}

} // namespace velmora::cli
