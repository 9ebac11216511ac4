#include "cli/cli_context.h"
#include "cli/send_options.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/relay_pool.h"
#include "delivery/run/delivery_run.h"
#include "delivery/run/send_later.h"
#include "delivery/run/send_run.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <set>

namespace velmora::cli {

namespace {

// The run went through its list, but not every recipient got the message.
constexpr int kExitNotAllDelivered = 3;
// Terminal pace lines: at most one in this time.
constexpr std::int64_t kPaceLineEveryMs = 30'000;

struct SendOptions {
    std::string sessionPath;
    std::string draftPath;
    std::string recipients;
    std::string format;
    bool preview = false;
    std::string mimeTypes = delivery::kSystemMimeTypesPath;
    bool resume = false;
    bool force = false;
    std::string retryRun;
    std::vector<std::string> outcomes;
    std::string testAddress;
    std::string asContact;
    std::string at;
    std::string scheduledId;
    std::string scheduledDigest;
};

int exitCodeOf(const delivery::SendRunSummary& summary) {
    if (summary.stoppedEarly) {
        return kExitFailed;
    }
    return summary.delivered == summary.recipients ? kExitOk : kExitNotAllDelivered;
}

// Set by the SIGINT handler; a signal handler can reach nothing else.
volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void onInterrupt(int) {
    interruptRequested = 1;
}

// While a run works, Ctrl+C is its Cancel button: the run stops between two
// reads, and what was delivered so far is still stamped and saved.
class InterruptAsCancel {
public:
    InterruptAsCancel() {
        interruptRequested = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~InterruptAsCancel() {
        if (installed_) {
            ::sigaction(SIGINT, &previous_, nullptr);
        }
    }
    InterruptAsCancel(const InterruptAsCancel&) = delete;
    InterruptAsCancel& operator=(const InterruptAsCancel&) = delete;
    bool requested() const { return interruptRequested != 0; }

private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

// The terminal as progress window: each label change and each log line on
// a line of its own, shown within a fraction of a second. Ctrl+C cancels.
class PrintingObserver final : public delivery::RunObserver {
public:
    explicit PrintingObserver(std::ostream& out) : out_(out) {}
    ~PrintingObserver() override { out_.flush(); }
    PrintingObserver(const PrintingObserver&) = delete;
    PrintingObserver& operator=(const PrintingObserver&) = delete;
    void logLine(const std::string& text) override { print(text); }
    void pumpEvents() override { flushSoon(); }
    // "Finished." right after the log's own "Finished." is not printed twice.
    void progress(const std::string& label) override {
        if (label != label_) {
            label_ = label;
            if (label != lastLine_) {
                print(label);
            }
        }
    }
    bool cancelRequested() override {
        flushSoon();
        return interrupt_.requested();
    }
    void tallyChanged(const delivery::RunTally& tally) override {
        if (lastPaceMs_ < 0) {
            lastPaceMs_ = tally.nowMs; // the first line comes once a pace is known
        } else if (tally.nowMs - lastPaceMs_ >= kPaceLineEveryMs) {
            lastPaceMs_ = tally.nowMs;
            if (const std::string pace = paceText(tally); !pace.empty()) {
                print(pace);
            }
            if (const std::string relays = relayTallyText(tally); !relays.empty()) {
                print(relays);
            }
        }
    }

private:
    // Nothing a server (or an imported address) holds reaches the terminal raw.
    void print(const std::string& line) {
        out_ << store::printableText(line) << '\n';
        lastLine_ = line;
        pending_ = true;
        flushSoon();
    }
    // A fast run prints three lines a message: one write each would cost
    // more than sending the message. Lines wait at most kFlushEvery; the
    // run asks for events and Cancel often while it waits.
    void flushSoon() {
        const auto now = std::chrono::steady_clock::now();
        if (pending_ && now - flushedAt_ >= kFlushEvery) {
            out_.flush();
            flushedAt_ = now;
            pending_ = false;
        }
    }
    static constexpr std::chrono::milliseconds kFlushEvery{50};

    std::ostream& out_;
    InterruptAsCancel interrupt_;
    std::string label_ = delivery::kConnectingLabel;
    std::string lastLine_;
    std::int64_t lastPaceMs_ = -1;
    bool pending_ = false;
    std::chrono::steady_clock::time_point flushedAt_{};
};

std::optional<std::set<std::optional<delivery::DeliveryOutcome>>>
outcomesNamed(const std::vector<std::string>& names) {
    std::set<std::optional<delivery::DeliveryOutcome>> outcomes;
    if (names.empty()) {
        return std::set<std::optional<delivery::DeliveryOutcome>>{
            delivery::DeliveryOutcome::Deferred, delivery::DeliveryOutcome::Failed};
    }
    for (const std::string& name : names) {
        outcomes.insert(delivery::outcomeNamed(name));
    }
    return outcomes;
}

// A cancelled run is not resumed; the way to reach the rest of the newest
// one is a retry. "" when there is none.
std::string cancelledRunHint(const std::string& folder) {
    const std::vector<delivery::RunRecord> runs = delivery::readRunJournals(folder);
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        if (!it->cancelled || !it->closedBy.empty()) {
            continue;
        }
        delivery::RunRecord run = *it;
        delivery::linkToLaterRuns(run, runs);
        if (std::any_of(run.recipients.begin(), run.recipients.end(),
                        [](const delivery::JournalRecipient& r) { return r.open(); })) {
            return " Run " + run.id + " was cancelled: --retry " + run.id +
                   " --outcome notAttempted --outcome deferred --outcome failed sends to those "
                   "it did not reach.";
        }
    }
    return "";
}

// Fills `plan` for --resume or --retry; false after reporting why not.
bool journaledPlan(CliContext& context, const SendOptions& o, store::Session& session,
                   delivery::MessageDraft& draft, delivery::DeliveryPlan& plan) {
    const std::string folder = delivery::journalFolder(o.sessionPath);
    if (o.resume) {
        const std::optional<delivery::RunRecord> run = delivery::newestUnfinishedRun(
            folder, session.settings().extensions.value(delivery::kRunStampsKey));
        if (!run) {
            context.fail("The session has no interrupted run to resume." +
                         cancelledRunHint(folder));
            return false;
        }
        if (run->damaged()) {
            context.fail(delivery::damagedJournalText(*run));
            return false;
        }
        if (o.format.empty()) {
            draft.format = run->format; // as the run sent it
        }
        if (resumePlan(session, *run, draft, o.force, plan) ==
            delivery::ResumeCheck::DraftChanged) {
            context.fail(delivery::kDraftChangedText);
            return false;
        }
        context.out << "Resuming run " << run->id << ": " << run->withFinalOutcome() << " of "
                    << run->recipients.size() << " recipients done." << std::endl;
        return true;
    }
    if (const std::optional<delivery::RunRecord> run =
            delivery::findLinkedRun(folder, o.retryRun)) {
        if (run->damaged()) {
            context.fail(delivery::damagedJournalText(*run));
            return false;
        }
        plan = retryPlan(session, *run, draft, *outcomesNamed(o.outcomes), o.draftPath);
        return true;
    }
    context.fail("The session has no run \"" + o.retryRun + "\" (see 'mailtray runs list').");
    return false;
}

// Hands the run to a systemd user timer instead of sending now.
void scheduleForLater(CliContext& context, const SendOptions& o,
                      const delivery::MessageDraft& draft) {
    const std::optional<delivery::ScheduleTime> when = delivery::parseScheduleTime(o.at);
    if (!when || !isLaterThan(*when, context.clock.now())) {
        context.fail(delivery::kNotLaterText);
        return;
    }
    unsigned char bytes[2] = {};
    if (context.randomBytes) {
        context.randomBytes(bytes, sizeof bytes);
    } else {
        delivery::systemRandomBytes(bytes, sizeof bytes);
    }
    std::string random;
    for (unsigned char byte : bytes) {
        store::appendHex(random, byte, store::HexDigits::Lower);
    }
    const delivery::ScheduledSend send = delivery::newScheduledSend(
        o.sessionPath, o.draftPath, o.recipients, draft, *when, context.clock.now(), random);
    std::string error;
    if (!delivery::scheduleSend(send, thisProgram(), scheduleFolder(), error)) {
        context.fail(error);
        return;
    }
    context.out << store::printableText(delivery::scheduledText(send)) << '\n';
}

} // namespace

void registerSendCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<SendOptions>();
    auto* send = app.add_subcommand(
        "send", "Send a draft over SMTP with the session's settings (messagesPerConnection "
                "messages per connection) and stamp the contacts it was delivered to");
    send->add_option("SESSION", o->sessionPath, "The session file")->required();
    send->add_option("DRAFT", o->draftPath, "The email draft file")->required();
    send->add_option("--recipients", o->recipients,
                     "single:ADDR, mailtray, customers, prospects, subscribers or entire")
        ->check(recipientsOptionProblem, "RECIPIENTS");
    send->add_option("--format", o->format, "The text part's format (default: the session's)")
        ->check(CLI::IsMember({"html", "plain"}));
    send->add_flag("--preview", o->preview,
                   "Send one copy to the From field's address instead (stamps nothing)");
    addLockWaitOption(*send, context);
    send->add_option("--mime-types", o->mimeTypes,
                     "The list of content types by extension (default /etc/mime.types)");
    auto* resume = send->add_flag(
        "--resume", o->resume,
        "Continue the newest interrupted run: stamp what it delivered, send to the rest");
    send->add_flag("--force", o->force, "With --resume: send the draft even though it changed");
    auto* retry =
        send->add_option("--retry", o->retryRun,
                         "Send again, as a new run, to recipients of this run (see 'runs list')");
    send->add_option("--outcome", o->outcomes,
                     "With --retry: the outcomes to send again to (default deferred and failed; "
                     "notAttempted for those the run never reached)")
        ->check(CLI::IsMember({"deferred", "failed", "rejected", "notAttempted"}));
    resume->excludes(retry);
    auto* test = send->add_option(
        "--test", o->testAddress,
        "Send one test message to this address, \"[Test] \" before its subject, with the fields "
        "of the first recipient (stamps nobody, no journal)");
    send->add_option("--as", o->asContact,
                     "With --test: the fields of the contact with this address instead")
        ->needs(test);
    test->excludes(resume)->excludes(retry);
    auto* at = send->add_option(
        "--at", o->at,
        "Send later: hand the run to a systemd user timer for this local time (\"YYYY-MM-DD "
        "HH:MM\"); see 'schedule list'");
    at->excludes(resume)->excludes(retry)->excludes(test);
    // What the timer's command carries: refused when the draft changed since.
    auto* scheduled = send->add_option("--scheduled", o->scheduledId)->group("");
    send->add_option("--scheduled-digest", o->scheduledDigest)->group("")->needs(scheduled);
    scheduled->excludes(at)->excludes(resume)->excludes(retry)->excludes(test);
    send->callback([&context, o] {
        const bool journaled = o->resume || !o->retryRun.empty();
        const auto usage = [&context](const std::string& text) {
            context.err << text << "\n"
                        << "Run 'mailtray send --help' for usage.\n";
            context.exitCode = kExitUsage;
        };
        const bool testSend = !o->testAddress.empty();
        if (!o->preview && !journaled && !testSend && o->recipients.empty()) {
            usage("--recipients is required unless --preview, --test, --resume or --retry is "
                  "given.");
            return;
        }
        if ((!o->at.empty() || !o->scheduledId.empty()) && (o->preview || o->recipients.empty())) {
            usage("--at sends a run: give --recipients, not --preview.");
            return;
        }
        if (testSend && o->preview) {
            usage("--test and --preview each send one message: give one of them.");
            return;
        }
        if (testSend && store::hasControlCharacter(o->testAddress)) {
            usage(store::controlCharacterAddressText(o->testAddress));
            return;
        }
        if (journaled && (o->preview || !o->recipients.empty())) {
            usage("--resume and --retry take their recipients from the run's journal.");
            return;
        }
        if ((o->force && !o->resume) || (!o->outcomes.empty() && o->retryRun.empty())) {
            usage("--force goes with --resume, --outcome with --retry.");
            return;
        }
        store::Session session;
        delivery::MessageDraft draft;
        if (!openSessionForCommand(context, session, o->sessionPath,
                                   o->preview || testSend ? SessionUse::Read
                                                          : SessionUse::Change) ||
            !openDraftForCommand(context, o->draftPath, draft)) {
            return;
        }
        if (!delivery::smtpServerConfigured(session.settings())) {
            context.fail(delivery::kServerNotSetText);
            return;
        }
        draft.format = session.settings().editorFormat;
        if (!o->format.empty()) {
            draft.format = o->format == "html" ? code(store::EditorFormat::Html)
                                               : code(store::EditorFormat::PlainText);
        }
        const delivery::MimeTypesFile types(o->mimeTypes);
        delivery::SendRunEnvironment environment{context.clock, types, delivery::tcpConnections(),
                                                 delivery::localHostName()};
        environment.randomBytes = context.randomBytes;
        // Signed in with OAuth: the token is renewed here when it ends soon,
        // and by the sessions when the server refuses it.
        store::SessionSettings tokenSettings = session.settings();
        delivery::SessionAccessTokens tokens(tokenSettings, context.passwords,
                                             [&context] { return secondsNow(context.clock); });
        if (delivery::usesOAuth(session.settings())) {
            std::string error;
            if (tokens.current(error).empty()) {
                context.fail(error);
                return;
            }
            environment.tokens = &tokens;
        }
        // The relays with an account of their own renew theirs as they go.
        delivery::RelaySignIns relaySignIns(session.settings(), context.passwords,
                                            [&context] { return secondsNow(context.clock); });
        environment.relaySignIns = &relaySignIns;
        PrintingObserver observer(context.out);

        if (testSend) {
            chooseRecipients(draft, o->recipients.empty() ? "mailtray" : o->recipients);
            gatherRecipients(session, draft, {});
            delivery::PlannedRecipient as = delivery::firstRecipientOf(session);
            if (!o->asContact.empty()) {
                as = {delivery::contactSlotWithAddress(session, o->asContact),
                      std::string(store::trimSpaces(o->asContact))};
                if (as.slot == 0) {
                    context.fail("No contact has the address \"" +
                                 store::printableText(o->asContact) + "\".");
                    return;
                }
            }
            printSendWarnings(
                context, session, draft,
                {as.address.empty() ? delivery::PlannedRecipient{-1, o->testAddress} : as}, true,
                o->mimeTypes);
            const delivery::SendRunSummary summary =
                sendTest(session, draft, as, o->testAddress, environment, observer);
            context.out << summaryText(summary) << std::endl;
            context.exitCode = exitCodeOf(summary);
            return;
        }

        if (o->preview) {
            if (store::trimSpaces(draft.fromText).empty()) {
                context.fail(delivery::kPreviewNeedsFromText);
                return;
            }
            printSendWarnings(context, session, draft,
                              {{-1, delivery::previewRecipient(draft.fromText)}}, false,
                              o->mimeTypes);
            const delivery::SendRunSummary summary =
                sendPreview(session, draft, environment, observer);
            context.out << summaryText(summary) << std::endl;
            context.exitCode = exitCodeOf(summary);
            return;
        }

        delivery::DeliveryPlan plan;
        if (journaled) {
            if (!journaledPlan(context, *o, session, draft, plan)) {
                return;
            }
        } else {
            chooseRecipients(draft, o->recipients);
            if (!o->at.empty()) {
                scheduleForLater(context, *o, draft);
                return;
            }
            gatherRecipients(session, draft, {});
            plan = newRunPlan(session, draft, o->draftPath);
            if (!o->scheduledId.empty()) {
                // The timer fired: whatever happens now, it is no longer waiting.
                delivery::forgetScheduledSend(scheduleFolder(), o->scheduledId);
                if (plan.header.draftDigest != o->scheduledDigest) {
                    context.fail(delivery::kScheduledDraftChangedText);
                    return;
                }
                plan.header.scheduled = o->scheduledId;
            }
        }
        printSendWarnings(context, session, draft, plan.recipients, !plan.logDialogue,
                          o->mimeTypes);
        // The journal knows the session by the path it was named with.
        plan.journalFolder =
            plan.resumeJournal.empty() ? delivery::journalFolder(o->sessionPath) : "";
        // The stamps of what was delivered are kept even when the run
        // stopped; saved before the journal says the run ended.
        bool saved = true;
        plan.beforeEnd = [&] {
            store::SessionSettings settings = session.settings();
            const bool renewed = relaySignIns.keepRenewed(settings);
            if (tokens.changed()) {
                delivery::copyOAuthTokens(tokenSettings, settings);
            }
            if (renewed || tokens.changed()) {
                session.setSettings(std::move(settings));
            }
            saved = !session.hasUnsavedChanges() ||
                    saveSessionForCommand(context, session, o->sessionPath);
        };
        const delivery::SendRunSummary summary =
            runDelivery(session, draft, plan, environment, observer);
        if (plan.logDialogue) {
            context.out << summaryText(summary) << std::endl; // a list run logged it
        }
        context.exitCode = saved ? exitCodeOf(summary) : kExitFailed;
    });
}

} // namespace velmora::cli
