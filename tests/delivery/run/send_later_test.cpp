// Sending later: `mailtray send --at` with a stand-in systemd-run and
// systemctl on PATH that record their arguments, the command the timer
// starts, the digest refusal and `schedule list|cancel`.
#include "../python_helpers.h"
#include "cli/cli_context.h"
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "delivery/run/run_journal.h"
#include "delivery/run/send_later.h"
#include "store/session_file.h"
#include "store/text.h"
#include "support/test_support.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace velmora::delivery {

using testing_support::readFileBytes;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;
using testing_support::writeFileBytes;

TEST(SendLater, TheTimeIsAMinuteOfARealDay) {
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {"2026-12-24 09:30", true},  {" 2028-02-29 23:59 ", true},
        {"2026-02-29 10:00", false}, {"2026-12-24 24:00", false},
        {"2026-12-24 9:30", false},  {"2026-13-01 10:00", false},
        {"2026-12-24T09:30", false}, {"", false},
    };
    for (const auto& c : cases) {
        const std::optional<ScheduleTime> at = parseScheduleTime(c.text);
        EXPECT_EQ(at.has_value(), c.valid) << c.text;
        if (at) {
            EXPECT_EQ(scheduleTimeText(*at), store::trimSpaces(c.text));
        }
    }
    const store::LocalDateTime now{2026, 12, 24, 9, 30, 59};
    EXPECT_FALSE(isLaterThan(*parseScheduleTime("2026-12-24 09:30"), now));
    EXPECT_TRUE(isLaterThan(*parseScheduleTime("2026-12-24 09:31"), now));
    EXPECT_FALSE(isLaterThan(*parseScheduleTime("2025-12-25 10:00"), now));
    EXPECT_EQ(scheduledUnitName("/home/ann/My list.qmz", "20261207-093000-0a1b"),
              "velmora-send-Mylist-20261207-093000-0a1b");
}

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct LaterCase {
    TempDir dir;
    std::string bin = dir.file("bin");
    std::string sessionPath = dir.file("list.qmz");
    std::string draftPath = dir.file("offer.eml");
    ScopedEnvironment path{"PATH", dir.file("bin") + ":" + std::getenv("PATH")};
    ScopedEnvironment state{"XDG_STATE_HOME", dir.file("state")};

    explicit LaterCase(int port) {
        std::filesystem::create_directories(bin);
        // Each stand-in writes its arguments, one a line, beside itself.
        standIn("systemd-run", "printf '%s\\n' \"$@\" > \"$0.args\"");
        standIn("systemctl", "printf '%s\\n' \"$@\" > \"$0.args\"");
        store::Session session;
        store::SessionSettings settings;
        settings.smtpServer = "127.0.0.1";
        settings.smtpPort = port;
        settings.timeoutSeconds = 5;
        settings.extensions.set("smtpSecurity", "none");
        session.setSettings(settings);
        store::NewContact fields;
        fields.email = "a@example.net";
        session.addMailtrayEntry(session.contact(session.createContact(fields, "01/01/2026")));
        std::string error;
        EXPECT_TRUE(writeSessionFile(session, sessionPath, error)) << error;
        writeDraft("Winter offer");
    }
    void standIn(const std::string& name, const std::string& body) {
        const std::string file = bin + "/" + name;
        writeFileBytes(file, "#!/bin/sh\n" + body + "\n");
        ::chmod(file.c_str(), 0755);
    }
    void writeDraft(const std::string& subject) {
        MessageDraft draft;
        draft.fromText = "ann@example.org";
        draft.subject = subject;
        draft.body = "<p>Hello</p>";
        std::string error;
        EXPECT_TRUE(writeDraftFile(draft, draftPath, error)) << error;
    }
    testing_support::CliRun cli(const std::vector<std::string>& args) {
        return testing_support::runCliWithClock(args, testing_support::RunDayClock());
    }
    testing_support::CliRun schedule() {
        return cli({"send", sessionPath, draftPath, "--recipients", "mailtray", "--at",
                    "2030-01-02 09:30"});
    }
    // The command the timer would start, as systemd-run was given it.
    std::vector<std::string> timerCommand() const {
        const std::vector<std::string> args = linesOf(readFileBytes(bin + "/systemd-run.args"));
        const auto dashes = std::find(args.begin(), args.end(), "--");
        return {dashes + 2, args.end()}; // after "--" and the program
    }
};

} // namespace

TEST(SendLater, ATimerStartsTheRunUnlessTheDraftChanged) {
    TempDir store;
    delivery_testing::SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    LaterCase c(server.port());

    testing_support::CliRun run = c.schedule();
    ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err;
    const std::vector<ScheduledSend> sends =
        readScheduledSends(c.dir.file("state") + "/velmora-mailtray/scheduled");
    ASSERT_EQ(sends.size(), 1u);
    const ScheduledSend& send = sends[0];
    EXPECT_EQ(run.out, scheduledText(send) + "\n");
    const std::vector<std::string> args = linesOf(readFileBytes(c.bin + "/systemd-run.args"));
    ASSERT_GE(args.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(args.begin(), args.begin() + 4),
              (std::vector<std::string>{"--user", "--unit=velmora-send-list-" + send.id,
                                        "--on-calendar=2030-01-02 09:30:00",
                                        "--timer-property=AccuracySec=1s"}));
    EXPECT_EQ(c.timerCommand(),
              (std::vector<std::string>{"send", c.sessionPath, c.draftPath, "--recipients",
                                        "mailtray", "--format", "html", "--scheduled", send.id,
                                        "--scheduled-digest", send.digest}));
    run = c.cli({"schedule", "list"});
    EXPECT_EQ(run.out, send.id + "  2030-01-02 09:30  " + c.sessionPath + "  " + c.draftPath +
                           "  mailtray\n");

    // The timer fires: the run goes out and its journal says it was scheduled.
    run = c.cli(c.timerCommand());
    ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err << run.out;
    EXPECT_TRUE(std::filesystem::exists(store.file("001.eml")));
    const std::vector<RunRecord> runs = readRunJournals(journalFolder(c.sessionPath));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].scheduled, send.id);
    EXPECT_EQ(c.cli({"schedule", "list"}).out, "No sends are scheduled.\n");

    // A draft changed after scheduling is not sent.
    ASSERT_EQ(c.schedule().exitCode, cli::kExitOk);
    const std::vector<std::string> second = c.timerCommand();
    c.writeDraft("Winter offer, changed");
    run = c.cli(second);
    EXPECT_EQ(run.exitCode, cli::kExitFailed);
    EXPECT_NE(run.err.find(kScheduledDraftChangedText), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(store.file("002.eml")));
}

TEST(SendLater, CancelStopsTheTimerAndNoUserManagerSchedulesNothing) {
    LaterCase c(2525);
    ASSERT_EQ(c.schedule().exitCode, cli::kExitOk);
    const ScheduledSend send =
        readScheduledSends(c.dir.file("state") + "/velmora-mailtray/scheduled").at(0);
    testing_support::CliRun run = c.cli({"schedule", "cancel", send.id});
    EXPECT_EQ(run.out, "Cancelled " + send.id + ".\n") << run.err;
    EXPECT_EQ(linesOf(readFileBytes(c.bin + "/systemctl.args")),
              (std::vector<std::string>{"--user", "stop", send.unit + ".timer"}));
    EXPECT_EQ(c.cli({"schedule", "list"}).out, "No sends are scheduled.\n");
    EXPECT_EQ(c.cli({"schedule", "cancel", send.id}).exitCode, cli::kExitFailed);

    c.standIn("systemd-run", "echo 'Failed to connect to bus: No medium found' >&2; exit 1");
    run = c.schedule();
    EXPECT_EQ(run.exitCode, cli::kExitFailed);
    EXPECT_NE(run.err.find("No systemd user manager took the send, so nothing was scheduled "
                           "(systemd-run: Failed to connect to bus: No medium found)."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(c.cli({"schedule", "list"}).out, "No sends are scheduled.\n");

    run = c.cli({"send", c.sessionPath, c.draftPath, "--recipients", "mailtray", "--at",
                 "2020-01-02 09:30"});
    EXPECT_EQ(run.exitCode, cli::kExitFailed);
    EXPECT_NE(run.err.find(kNotLaterText), std::string::npos);
}

} // namespace velmora::delivery
