#pragma once

#include "delivery/message/message_draft.h"
#include "store/clock.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// Sending later: a send handed to a systemd user timer, which starts the
// command-line tool at its time.

// A minute of local time, as "YYYY-MM-DD HH:MM" names it.
struct ScheduleTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};
// Nothing for any other form or a day the calendar does not have.
std::optional<ScheduleTime> parseScheduleTime(std::string_view text);
std::string scheduleTimeText(const ScheduleTime& at);
// Whether `at` lies after the minute `now` is in.
bool isLaterThan(const ScheduleTime& at, const store::LocalDateTime& now);

// One scheduled send, as the schedule folder keeps it (one file per send).
struct ScheduledSend {
    std::string id;
    std::string unit; // the systemd unit, which names the session and the send
    std::string at;   // "YYYY-MM-DD HH:MM", local time
    std::string sessionPath;
    std::string draftPath;
    std::string recipients; // the --recipients value
    std::string format;     // "html" or "plain", as the send will be made
    std::string digest;     // of the draft when it was scheduled
};

// "20261207-093000-" and four hex digits from `random`.
std::string newScheduleId(const store::LocalDateTime& now, std::string_view randomHex);
// "velmora-send-" + the session file's name (letters, digits, "-" and "_"
// kept) + "-" + the id.
std::string scheduledUnitName(std::string_view sessionPath, std::string_view id);
// Where the scheduled sends are kept: $XDG_STATE_HOME (else
// ~/.local/state) + "/velmora-mailtray/scheduled".
std::string scheduleFolderFromEnvironment();

// The send that starts `draftPath` (as `draft`, read from it in the format
// it goes out in) to `recipients` (a --recipients value) at `at`: its id,
// its unit and the draft's digest. The paths are made absolute, since the
// timer's command runs from another folder.
ScheduledSend newScheduledSend(const std::string& sessionPath, const std::string& draftPath,
                               std::string recipients, const MessageDraft& draft,
                               const ScheduleTime& at, const store::LocalDateTime& now,
                               std::string_view randomHex);

// The systemd-run command that schedules `send`; `program` is this tool.
std::vector<std::string> systemdRunArguments(const ScheduledSend& send, const std::string& program);
// The command that removes its timer.
std::vector<std::string> cancelArguments(const ScheduledSend& send);

bool saveScheduledSend(const std::string& folder, const ScheduledSend& send, std::string& error);
// Every send the folder keeps, sorted by time.
std::vector<ScheduledSend> readScheduledSends(const std::string& folder);
std::optional<ScheduledSend> findScheduledSend(const std::string& folder, std::string_view id);
void forgetScheduledSend(const std::string& folder, std::string_view id);

// Hands `send` to systemd-run and keeps its file; false with the reason for
// the user when nothing was scheduled.
bool scheduleSend(const ScheduledSend& send, const std::string& program, const std::string& folder,
                  std::string& error);

// "Scheduled ID for AT: DRAFT to RECIPIENTS (systemd timer UNIT)."
std::string scheduledText(const ScheduledSend& send);
inline constexpr const char* kScheduledDraftChangedText =
    "The draft changed since this send was scheduled; nothing was sent.";
inline constexpr const char* kNotLaterText =
    "The time to send must lie in the future (local time, \"YYYY-MM-DD HH:MM\").";

} // namespace velmora::delivery
