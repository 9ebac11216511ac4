#include "delivery/run/send_later.h"

#include "delivery/program_run.h"
#include "delivery/run/json_line.h"
#include "delivery/run/run_journal.h"
#include "store/atomic_file.h"
#include "store/file_names.h"
#include "store/file_reading.h"
#include "store/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace velmora::delivery {

namespace {

constexpr auto kSystemdTimeLimit = std::chrono::seconds(30);
constexpr const char* kScheduleExtension = ".json";

bool isLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// The digits of `text` from `at`, exactly `count` of them.
std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::string twoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string pathOf(const std::string& folder, std::string_view id) {
    return folder + "/" + std::string(id) + kScheduleExtension;
}

// An id names a file: only the characters newScheduleId writes.
bool isScheduleId(std::string_view id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
    });
}

} // namespace

std::optional<ScheduleTime> parseScheduleTime(std::string_view text) {
    text = store::trimSpaces(text);
    if (text.size() != 16 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':') {
        return std::nullopt;
    }
    const auto year = digitsAt(text, 0, 4);
    const auto month = digitsAt(text, 5, 2);
    const auto day = digitsAt(text, 8, 2);
    const auto hour = digitsAt(text, 11, 2);
    const auto minute = digitsAt(text, 14, 2);
    if (!year || !month || !day || !hour || !minute || *month < 1 || *month > 12 || *day < 1 ||
        *day > daysIn(*year, *month) || *hour > 23 || *minute > 59) {
        return std::nullopt;
    }
    return ScheduleTime{*year, *month, *day, *hour, *minute};
}

std::string scheduleTimeText(const ScheduleTime& at) {
    return std::to_string(at.year) + "-" + twoDigits(at.month) + "-" + twoDigits(at.day) + " " +
           twoDigits(at.hour) + ":" + twoDigits(at.minute);
}

bool isLaterThan(const ScheduleTime& at, const store::LocalDateTime& now) {
    const auto key = [](int y, int mo, int d, int h, int mi) {
        return ((((static_cast<long long>(y) * 13 + mo) * 32 + d) * 24 + h) * 60) + mi;
    };
    return key(at.year, at.month, at.day, at.hour, at.minute) >
           key(now.year, now.month, now.day, now.hour, now.minute);
}

std::string newScheduleId(const store::LocalDateTime& now, std::string_view randomHex) {
    return std::to_string(now.year) + twoDigits(now.month) + twoDigits(now.day) + "-" +
           twoDigits(now.hour) + twoDigits(now.minute) + twoDigits(now.second) + "-" +
           std::string(randomHex.substr(0, 4));
}

std::string scheduledUnitName(std::string_view sessionPath, std::string_view id) {
    std::string name(store::fileNamePart(std::string(sessionPath)));
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    std::string kept;
    for (char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_') {
            kept.push_back(c);
        }
    }
    return "velmora-send-" + (kept.empty() ? std::string("session") : kept) + "-" + std::string(id);
}

std::vector<std::string> systemdRunArguments(const ScheduledSend& send,
                                             const std::string& program) {
    const std::optional<ScheduleTime> at = parseScheduleTime(send.at);
    const std::string calendar = at ? scheduleTimeText(*at) + ":00" : send.at;
    return {"systemd-run", "--user", "--unit=" + send.unit, "--on-calendar=" + calendar,
            // The default accuracy is a minute; a send should not wait for it.
            "--timer-property=AccuracySec=1s",
            "--description=Velmora Mailtray: scheduled send " + send.id, "--", program, "send",
            send.sessionPath, send.draftPath, "--recipients", send.recipients, "--format",
            send.format, "--scheduled", send.id, "--scheduled-digest", send.digest};
}

std::vector<std::string> cancelArguments(const ScheduledSend& send) {
    return {"systemctl", "--user", "stop", send.unit + ".timer"};
}

bool saveScheduledSend(const std::string& folder, const ScheduledSend& send, std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) {
        error = "Cannot create the folder \"" + folder + "\": " + code.message() + ".";
        return false;
    }
    JsonLineWriter line;
    line.add("id", send.id)
        .add("unit", send.unit)
        .add("at", send.at)
        .add("session", send.sessionPath)
        .add("draft", send.draftPath)
        .add("recipients", send.recipients)
        .add("format", send.format)
        .add("draftSha256", send.digest);
    return store::writeFileAtomically(pathOf(folder, send.id), line.line(), error);
}

std::vector<ScheduledSend> readScheduledSends(const std::string& folder) {
    std::vector<ScheduledSend> sends;
    std::error_code code;
    for (const auto& entry : std::filesystem::directory_iterator(folder, code)) {
        if (entry.path().extension() != kScheduleExtension) {
            continue;
        }
        std::string bytes;
        std::string error;
        if (!store::readRegularFile(entry.path().string(), 64 * 1024, bytes, error)) {
            continue;
        }
        const std::optional<JsonObject> line = parseJsonLine(bytes);
        if (!line) {
            continue;
        }
        sends.push_back({line->text("id"), line->text("unit"), line->text("at"),
                         line->text("session"), line->text("draft"), line->text("recipients"),
                         line->text("format"), line->text("draftSha256")});
    }
    std::sort(sends.begin(), sends.end(), [](const ScheduledSend& a, const ScheduledSend& b) {
        return a.at != b.at ? a.at < b.at : a.id < b.id;
    });
    return sends;
}

std::optional<ScheduledSend> findScheduledSend(const std::string& folder, std::string_view id) {
    if (!isScheduleId(id)) {
        return std::nullopt;
    }
    for (ScheduledSend& send : readScheduledSends(folder)) {
        if (send.id == id) {
            return std::move(send);
        }
    }
    return std::nullopt;
}

void forgetScheduledSend(const std::string& folder, std::string_view id) {
    if (isScheduleId(id)) {
        std::error_code code;
        std::filesystem::remove(pathOf(folder, id), code);
    }
}

std::string scheduleFolderFromEnvironment() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = state != nullptr && *state == '/'
                                 ? std::string(state)
                                 : std::string(home != nullptr ? home : "") + "/.local/state";
    return base + "/velmora-mailtray/scheduled";
}

ScheduledSend newScheduledSend(const std::string& sessionPath, const std::string& draftPath,
                               std::string recipients, const MessageDraft& draft,
                               const ScheduleTime& at, const store::LocalDateTime& now,
                               std::string_view randomHex) {
    ScheduledSend send;
    send.id = newScheduleId(now, randomHex);
    std::error_code ignored;
    send.sessionPath = std::filesystem::absolute(sessionPath, ignored).string();
    send.draftPath = std::filesystem::absolute(draftPath, ignored).string();
    send.unit = scheduledUnitName(send.sessionPath, send.id);
    send.at = scheduleTimeText(at);
    send.recipients = std::move(recipients);
    send.format = draft.format == code(store::EditorFormat::Html) ? "html" : "plain";
    send.digest = draftDigest(draft);
    return send;
}

bool scheduleSend(const ScheduledSend& send, const std::string& program, const std::string& folder,
                  std::string& error) {
    // Kept first: a timer that fires finds its file and removes it.
    if (!saveScheduledSend(folder, send, error)) {
        return false;
    }
    const ProgramRun run = runProgram(systemdRunArguments(send, program), "", kSystemdTimeLimit);
    if (run.finished && run.exitCode == 0) {
        return true;
    }
    forgetScheduledSend(folder, send.id);
    if (!run.found) {
        error = "systemd-run is not installed, so nothing was scheduled.";
        return false;
    }
    std::string said(store::trimSpaces(run.errorOutput.substr(0, run.errorOutput.find('\n'))));
    if (said.empty()) {
        said = run.error.empty() ? "exit code " + std::to_string(run.exitCode) : run.error;
    }
    error =
        "No systemd user manager took the send, so nothing was scheduled (systemd-run: " + said +
        ").";
    return false;
}

std::string scheduledText(const ScheduledSend& send) {
    return "Scheduled " + send.id + " for " + send.at + ": \"" + send.draftPath + "\" to " +
           send.recipients + " (systemd timer " + send.unit + ").";
}

} // namespace velmora::delivery
