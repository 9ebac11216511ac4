#include "delivery/run/run_journal.h"

#include "delivery/run/json_line.h"
#include "store/file_reading.h"
#include "store/text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace velmora::delivery {

namespace {

constexpr std::string_view kJournalExtension = ".jsonl";
constexpr std::int64_t kJournalVersion = 1;

std::string systemError() {
    return store::systemErrorText(errno);
}

std::string twoDigits(int value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

std::string runIdFor(const store::LocalDateTime& t) {
    return std::to_string(t.year) + twoDigits(t.month) + twoDigits(t.day) + "-" +
           twoDigits(t.hour) + twoDigits(t.minute) + twoDigits(t.second);
}

// Makes the new directory entry itself durable.
void syncDirectory(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

class Sha256 {
public:
    Sha256() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, EVP_sha256(), nullptr); }
    ~Sha256() { EVP_MD_CTX_free(context_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    // Each field with its length first, so that no two drafts hash alike by
    // moving bytes from one field to the next.
    void field(std::string_view bytes) {
        const std::string length = std::to_string(bytes.size()) + ":";
        update(length);
        update(bytes);
    }
    void update(std::string_view bytes) { EVP_DigestUpdate(context_, bytes.data(), bytes.size()); }
    std::string hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(context_, digest, &size);
        return store::toHex({reinterpret_cast<const char*>(digest), size});
    }

private:
    EVP_MD_CTX* context_;
};

void applyLine(const JsonObject& line, RunRecord& record, bool& sawHeader) {
    const std::string type = line.text("type");
    if (type == "run") {
        sawHeader = true;
        record.id = line.text("id");
        record.started = line.text("started");
        record.draftPath = line.text("draft");
        record.format = static_cast<std::int32_t>(line.integer("format", 1));
        record.draftDigest = line.text("draftSha256");
        record.subject = line.text("subject");
        record.retryOf = line.text("retryOf");
        record.scheduled = line.text("scheduled");
        record.planned = static_cast<std::int32_t>(line.integer("recipients"));
        return;
    }
    if (type == "recipient") {
        const std::int64_t index = line.integer("n");
        // The planned list comes in order; anything else is not ours.
        if (index != static_cast<std::int64_t>(record.recipients.size()) + 1) {
            return;
        }
        JournalRecipient recipient;
        recipient.index = static_cast<std::int32_t>(index);
        recipient.slot = static_cast<std::int32_t>(line.integer("slot", -1));
        recipient.address = line.text("address");
        record.recipients.push_back(std::move(recipient));
        return;
    }
    if (type == "attempt") {
        const std::int64_t index = line.integer("n");
        const std::optional<DeliveryOutcome> outcome = outcomeNamed(line.text("outcome"));
        if (index < 1 || index > static_cast<std::int64_t>(record.recipients.size()) || !outcome) {
            return;
        }
        JournalRecipient& recipient = record.recipients[static_cast<std::size_t>(index - 1)];
        JournalAttempt attempt;
        attempt.outcome = *outcome;
        attempt.code = line.text("code");
        attempt.text = line.text("text");
        attempt.at = line.text("at");
        attempt.final = line.boolean("final");
        attempt.queuedAgain = line.boolean("queuedAgain");
        attempt.stamp = line.text("stamp");
        attempt.stampNumber = static_cast<std::int32_t>(line.integer("stampNumber"));
        attempt.messageId = line.text("messageId");
        attempt.relay = line.text("relay");
        recipient.attempts.push_back(std::move(attempt));
        return;
    }
    if (type == "resume") {
        record.finished = false;
        record.stoppedEarly = false;
        record.cancelled = false;
        record.endedAt.clear();
        return;
    }
    if (type == "end") {
        record.finished = line.boolean("finished");
        record.stoppedEarly = line.boolean("stoppedEarly");
        record.cancelled = line.boolean("cancelled"); // absent before runs were told apart
        record.endedAt = line.text("at");
        return;
    }
    if (type == "closed") {
        record.closedBy = line.text("by");
    }
}

} // namespace

std::string_view outcomeName(DeliveryOutcome outcome) {
    switch (outcome) {
    case DeliveryOutcome::Delivered:
        return "delivered";
    case DeliveryOutcome::Deferred:
        return "deferred";
    case DeliveryOutcome::Rejected:
        return "rejected";
    case DeliveryOutcome::Failed:
        return "failed";
    case DeliveryOutcome::Cancelled:
        return "cancelled";
    }
    return "failed";
}

std::optional<DeliveryOutcome> outcomeNamed(std::string_view name) {
    for (const DeliveryOutcome outcome :
         {DeliveryOutcome::Delivered, DeliveryOutcome::Deferred, DeliveryOutcome::Rejected,
          DeliveryOutcome::Failed, DeliveryOutcome::Cancelled}) {
        if (outcomeName(outcome) == name) {
            return outcome;
        }
    }
    return std::nullopt;
}

std::optional<DeliveryOutcome> JournalRecipient::outcome() const {
    for (auto it = attempts.rbegin(); it != attempts.rend(); ++it) {
        if (it->outcome != DeliveryOutcome::Cancelled) {
            return it->queuedAgain && !it->final ? std::nullopt
                                                 : std::optional<DeliveryOutcome>(it->outcome);
        }
    }
    return std::nullopt;
}

RunCounts RunRecord::counts() const {
    RunCounts counts;
    for (const JournalRecipient& recipient : recipients) {
        const std::optional<DeliveryOutcome> outcome = recipient.outcome();
        if (!outcome) {
            ++counts.notAttempted;
            continue;
        }
        switch (*outcome) {
        case DeliveryOutcome::Delivered:
            ++counts.delivered;
            break;
        case DeliveryOutcome::Deferred:
            ++counts.deferred;
            break;
        case DeliveryOutcome::Rejected:
            ++counts.rejected;
            break;
        case DeliveryOutcome::Failed:
        case DeliveryOutcome::Cancelled:
            ++counts.failed;
            break;
        }
    }
    return counts;
}

std::int32_t RunRecord::withFinalOutcome() const {
    return static_cast<std::int32_t>(
        std::count_if(recipients.begin(), recipients.end(),
                      [](const JournalRecipient& r) { return r.hasFinalOutcome(); }));
}

std::int32_t RunRecord::lastStampNumber() const {
    std::int32_t last = 0;
    for (const JournalRecipient& recipient : recipients) {
        for (const JournalAttempt& attempt : recipient.attempts) {
            last = std::max(last, attempt.stampNumber);
        }
    }
    return last;
}

bool RunRecord::open() const {
    if (finished || cancelled || !closedBy.empty()) {
        return false;
    }
    return damaged() || std::any_of(recipients.begin(), recipients.end(),
                                    [](const JournalRecipient& r) { return r.open(); });
}

std::string damagedJournalText(const RunRecord& run) {
    return "The journal of run " + run.id + " is damaged: its recipient list stops at " +
           std::to_string(run.recipients.size()) + " of " + std::to_string(run.planned) +
           " recipients. It cannot be resumed or retried.";
}

std::string runStampsMarker(const std::string& runId, std::int32_t stampNumber) {
    return runId + ":" + std::to_string(stampNumber);
}

std::vector<UnsavedStamp> unsavedStamps(const RunRecord& run, std::string_view marker) {
    const std::size_t colon = marker.rfind(':');
    const std::string_view markedRun =
        marker.substr(0, colon == std::string_view::npos ? 0 : colon);
    std::int64_t saved = 0;
    if (markedRun == run.id) {
        const std::string_view number = marker.substr(colon + 1);
        std::from_chars(number.data(), number.data() + number.size(), saved);
    } else if (!markedRun.empty() && markedRun > std::string_view(run.id)) {
        return {}; // a later run's stamps were saved, so this run's were too
    }
    std::vector<UnsavedStamp> stamps;
    for (const JournalRecipient& recipient : run.recipients) {
        for (const JournalAttempt& attempt : recipient.attempts) {
            if (!attempt.stamp.empty() && attempt.stampNumber > saved) {
                stamps.push_back({&recipient, &attempt});
            }
        }
    }
    return stamps;
}

std::string draftCopyPath(const std::string& journalPath) {
    const std::size_t dot = journalPath.rfind(kJournalExtension);
    return (dot == std::string::npos ? journalPath : journalPath.substr(0, dot)) + ".eml";
}

std::string journalFolder(const std::string& sessionPath) {
    return sessionPath + ".runs";
}

std::string isoLocalTime(const store::LocalDateTime& t) {
    const int offset = t.utcOffsetMinutes;
    const int magnitude = offset < 0 ? -offset : offset;
    return std::to_string(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day) + "T" +
           twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second) +
           (offset < 0 ? "-" : "+") + twoDigits(magnitude / 60) + ":" + twoDigits(magnitude % 60);
}

std::optional<std::int64_t> isoTimeSeconds(std::string_view text) {
    // "YYYY-MM-DDTHH:MM:SS+HH:MM"
    if (text.size() != 25 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || (text[19] != '+' && text[19] != '-') ||
        text[22] != ':') {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) -> std::optional<std::int64_t> {
        std::int64_t value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return std::nullopt;
            }
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    const auto offsetHours = number(20, 2), offsetMinutes = number(23, 2);
    if (!year || !month || !day || !hour || !minute || !second || !offsetHours || !offsetMinutes ||
        *month < 1 || *month > 12 || *day < 1 || *day > 31) {
        return std::nullopt;
    }
    // Days from 1970-01-01 to the date (the proleptic Gregorian calendar).
    const std::int64_t y = *year - (*month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = era * 146097 + dayOfEra - 719468;
    const std::int64_t offset = (*offsetHours * 60 + *offsetMinutes) * 60;
    return days * 86400 + *hour * 3600 + *minute * 60 + *second -
           (text[19] == '-' ? -offset : offset);
}

std::map<std::string, std::int64_t> acceptedSince(const std::vector<RunRecord>& runs,
                                                  std::int64_t sinceSeconds,
                                                  const std::string& mainRelayId) {
    std::map<std::string, std::int64_t> accepted;
    for (const RunRecord& run : runs) {
        for (const JournalRecipient& recipient : run.recipients) {
            for (const JournalAttempt& attempt : recipient.attempts) {
                if (attempt.outcome != DeliveryOutcome::Delivered) {
                    continue;
                }
                const std::optional<std::int64_t> at = isoTimeSeconds(attempt.at);
                if (at && *at >= sinceSeconds) {
                    ++accepted[attempt.relay.empty() ? mainRelayId : attempt.relay];
                }
            }
        }
    }
    return accepted;
}

bool readRunJournal(const std::string& path, RunRecord& record, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Cannot read \"" + path + "\".";
        return false;
    }
    record = RunRecord{};
    record.path = path;
    bool sawHeader = false;
    std::string line;
    while (std::getline(in, line)) {
        const bool complete = !in.eof(); // the last line of a crash has no line feed
        const std::optional<JsonObject> object = parseJsonLine(line);
        if (!object || !complete) {
            // Only a line cut short at the end is expected; it is never acted on.
            record.tornTail = record.tornTail || !complete;
            continue;
        }
        applyLine(*object, record, sawHeader);
    }
    if (!sawHeader) {
        error = "\"" + path + "\" is not a delivery journal.";
        return false;
    }
    if (record.draftPath.empty()) {
        record.draftPath = draftCopyPath(path);
    }
    return true;
}

namespace {

std::string addressKey(std::string_view address) {
    return store::toLowerAscii(store::trimSpaces(address));
}

// `later` retries `run`, directly or through retries of it.
bool retries(const RunRecord& later, const RunRecord& run,
             const std::map<std::string, const RunRecord*>& byId) {
    const RunRecord* at = &later;
    for (std::size_t hops = 0; at != nullptr && hops <= byId.size(); ++hops) {
        if (at->retryOf.empty()) {
            return false;
        }
        if (at->retryOf == run.id) {
            return true;
        }
        const auto next = byId.find(at->retryOf);
        at = next == byId.end() ? nullptr : next->second;
    }
    return false;
}

} // namespace

void linkToLaterRuns(RunRecord& run, const std::vector<RunRecord>& runs) {
    std::map<std::string, const RunRecord*> byId;
    for (const RunRecord& other : runs) {
        byId.emplace(other.id, &other);
    }
    std::unordered_map<std::string, std::string> deliveredBy; // address -> the earliest such run
    for (const RunRecord& later : runs) {
        if (later.id <= run.id ||
            (later.draftDigest != run.draftDigest && !retries(later, run, byId))) {
            continue;
        }
        for (const JournalRecipient& recipient : later.recipients) {
            const bool got = std::any_of(
                recipient.attempts.begin(), recipient.attempts.end(),
                [](const JournalAttempt& a) { return a.outcome == DeliveryOutcome::Delivered; });
            if (got) {
                deliveredBy.emplace(addressKey(recipient.address), later.id);
            }
        }
    }
    if (deliveredBy.empty()) {
        return;
    }
    for (JournalRecipient& recipient : run.recipients) {
        const auto found = deliveredBy.find(addressKey(recipient.address));
        if (found != deliveredBy.end()) {
            recipient.deliveredBy = found->second;
        }
    }
}

std::vector<RunRecord> readRunJournals(const std::string& folder) {
    std::vector<RunRecord> runs;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(ec) || !name.ends_with(kJournalExtension)) {
            continue;
        }
        RunRecord record;
        std::string error;
        if (readRunJournal(entry.path().string(), record, error)) {
            runs.push_back(std::move(record));
        }
    }
    std::sort(runs.begin(), runs.end(),
              [](const RunRecord& a, const RunRecord& b) { return a.id < b.id; });
    return runs;
}

std::optional<RunRecord> findRunJournal(const std::string& folder, const std::string& id) {
    // An id is a file name part; anything with a separator names no journal
    // of this folder and must not reach outside it.
    const bool nameable = !id.empty() && id.find('/') == std::string::npos && id != "." &&
                          id != ".." && id.find('\0') == std::string::npos;
    if (nameable) {
        RunRecord record;
        std::string error;
        if (readRunJournal(folder + "/" + id + std::string(kJournalExtension), record, error) &&
            record.id == id) {
            return record;
        }
    }
    for (RunRecord& run : readRunJournals(folder)) {
        if (run.id == id) {
            return std::move(run);
        }
    }
    return std::nullopt;
}

std::optional<RunRecord> findLinkedRun(const std::string& folder, const std::string& id) {
    const std::vector<RunRecord> runs = readRunJournals(folder);
    for (const RunRecord& run : runs) {
        if (run.id == id) {
            RunRecord linked = run;
            linkToLaterRuns(linked, runs);
            return linked;
        }
    }
    return std::nullopt;
}

std::optional<RunRecord> newestUnfinishedRun(const std::string& folder,
                                             std::string_view savedStamps) {
    const std::vector<RunRecord> runs = readRunJournals(folder);
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        if (it->finished || it->cancelled || !it->closedBy.empty()) {
            continue;
        }
        RunRecord linked = *it;
        linkToLaterRuns(linked, runs);
        if (linked.open() ||
            (linked.endedAt.empty() && !unsavedStamps(linked, savedStamps).empty())) {
            return linked;
        }
    }
    return std::nullopt;
}

std::string draftDigest(const MessageDraft& draft) {
    Sha256 sha;
    sha.field(draft.fromText);
    sha.field(draft.subject);
    sha.field(draft.body);
    sha.field(std::to_string(draft.format));
    for (const std::string& path : draft.attachmentList()) {
        sha.field(path);
        std::ifstream in(path, std::ios::binary);
        std::string block(64 * 1024, '\0');
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) ||
               in.gcount() > 0) {
            sha.update(std::string_view(block.data(), static_cast<std::size_t>(in.gcount())));
        }
        sha.field(in.bad() ? "unreadable" : "");
    }
    return sha.hex();
}

RunJournal::RunJournal(int fd, std::string path, std::string id, const store::Clock& clock)
    : fd_(fd), path_(std::move(path)), id_(std::move(id)), clock_(clock) {}

RunJournal::~RunJournal() {
    if (unsynced()) {
        sync();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::unique_ptr<RunJournal> RunJournal::start(const std::string& folder, const RunHeader& header,
                                              const std::vector<PlannedRecipient>& recipients,
                                              const store::Clock& clock, std::string& error) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "Cannot create the journal folder \"" + folder + "\": " + systemError() + ".";
        return nullptr;
    }
    const store::LocalDateTime started = clock.now();
    const std::string base = runIdFor(started);
    std::string id;
    std::string path;
    int fd = -1;
    for (int attempt = 1; attempt < 1000 && fd < 0; ++attempt) {
        id = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        path = folder + "/" + id + std::string(kJournalExtension);
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        error = "Cannot create the journal \"" + path + "\": " + systemError() + ".";
        return nullptr;
    }
    std::unique_ptr<RunJournal> journal(new RunJournal(fd, path, id, clock));
    JsonLineWriter line;
    line.add("type", "run")
        .add("version", kJournalVersion)
        .add("id", id)
        .add("started", isoLocalTime(started))
        .add("draft", header.draftPath)
        .add("draftSha256", header.draftDigest)
        .add("format", header.format)
        .add("subject", header.subject)
        .add("recipients", static_cast<std::int64_t>(recipients.size()));
    if (!header.retryOf.empty()) {
        line.add("retryOf", header.retryOf);
    }
    if (!header.scheduled.empty()) {
        line.add("scheduled", header.scheduled);
    }
    std::string block = line.line();
    std::int32_t index = 0;
    for (const PlannedRecipient& recipient : recipients) {
        block += JsonLineWriter()
                     .add("type", "recipient")
                     .add("n", ++index)
                     .add("slot", recipient.slot)
                     .add("address", recipient.address)
                     .line();
        if (block.size() >= 256 * 1024) {
            journal->write(block);
            block.clear();
        }
    }
    journal->write(block);
    journal->sync();
    syncDirectory(folder);
    if (!journal->healthy()) {
        error = journal->error();
        return nullptr;
    }
    return journal;
}

std::unique_ptr<RunJournal> RunJournal::reopen(const std::string& path, const store::Clock& clock,
                                               std::string& error) {
    RunRecord record;
    if (!readRunJournal(path, record, error)) {
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        error = "Cannot open the journal \"" + path + "\": " + systemError() + ".";
        return nullptr;
    }
    std::unique_ptr<RunJournal> journal(new RunJournal(fd, path, record.id, clock));
    if (record.tornTail) {
        // Ends the torn line so that the next record starts on a line of its own.
        journal->write("\n");
    }
    return journal;
}

void RunJournal::write(const std::string& bytes) {
    if (!healthy() || bytes.empty()) {
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = "Cannot write the delivery journal \"" + path_ + "\": " + systemError() + ".";
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    if (unsyncedSince_ < 0) {
        unsyncedSince_ = now();
    }
}

void RunJournal::sync() {
    if (!healthy()) {
        return;
    }
    if (::fdatasync(fd_) != 0) {
        error_ = "Cannot save the delivery journal \"" + path_ + "\": " + systemError() + ".";
        return;
    }
    unsyncedSince_ = -1;
}

void RunJournal::tick() {
    if (unsynced() && now() - unsyncedSince_ >= kSyncBatchMs) {
        sync();
    }
}

bool RunJournal::close(const std::string& path, const std::string& byRun, const store::Clock& clock,
                       std::string& error) {
    std::unique_ptr<RunJournal> journal = reopen(path, clock, error);
    if (!journal) {
        return false;
    }
    journal->write(JsonLineWriter()
                       .add("type", "closed")
                       .add("at", isoLocalTime(clock.now()))
                       .add("by", byRun)
                       .line());
    journal->sync();
    if (!journal->healthy()) {
        error = journal->error();
        return false;
    }
    return true;
}

void RunJournal::resumed(const std::string& digest, bool forced) {
    write(JsonLineWriter()
              .add("type", "resume")
              .add("at", isoLocalTime(clock_.now()))
              .add("draftSha256", digest)
              .add("forced", forced)
              .line());
    sync();
}

void RunJournal::attempt(std::int32_t index, const JournalAttempt& attempt) {
    JsonLineWriter line;
    line.add("type", "attempt")
        .add("n", index)
        .add("outcome", outcomeName(attempt.outcome))
        .add("code", attempt.code)
        .add("text", attempt.text)
        .add("at", attempt.at.empty() ? isoLocalTime(clock_.now()) : attempt.at)
        .add("final", attempt.final);
    if (!attempt.stamp.empty()) {
        line.add("stamp", attempt.stamp).add("stampNumber", attempt.stampNumber);
    }
    if (!attempt.messageId.empty()) {
        line.add("messageId", attempt.messageId);
    }
    if (!attempt.relay.empty()) {
        line.add("relay", attempt.relay);
    }
    if (attempt.queuedAgain) {
        line.add("queuedAgain", true);
    }
    write(line.line());
    tick();
}

void RunJournal::end(bool finished, bool stoppedEarly, bool cancelled) {
    write(JsonLineWriter()
              .add("type", "end")
              .add("at", isoLocalTime(clock_.now()))
              .add("finished", finished)
              .add("stoppedEarly", stoppedEarly)
              .add("cancelled", cancelled)
              .line());
    sync();
}

} // namespace velmora::delivery
