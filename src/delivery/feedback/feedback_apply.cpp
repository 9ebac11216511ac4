#include "delivery/feedback/feedback_apply.h"

#include "delivery/return_path.h"
#include "delivery/run/json_line.h"
#include "delivery/run/run_journal.h"
#include "store/codes.h"
#include "store/file_reading.h"
#include "store/text.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::delivery {

namespace {

struct LedgerEntry {
    std::int64_t number = 0; // 1-based line of the ledger: the entry's name
    JsonObject fields;
};

std::vector<LedgerEntry> readLedger(const std::string& sessionPath) {
    std::vector<LedgerEntry> entries;
    std::ifstream in(feedbackLedgerPath(sessionPath), std::ios::binary);
    std::string line;
    std::int64_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (std::optional<JsonObject> object = parseJsonLine(line)) {
            entries.push_back(LedgerEntry{number, std::move(*object)});
        }
    }
    return entries;
}

std::string lower(std::string_view text) {
    return store::toLowerAscii(store::trimSpaces(text));
}

// The contacts by address (not Deleted), first slot wins.
std::map<std::string, std::int32_t> contactsByAddress(const store::Session& session) {
    std::map<std::string, std::int32_t> slots;
    for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
        const store::Contact& contact = session.contact(slot);
        if (!contact.isDeleted()) {
            slots.emplace(lower(contact.email.view()), slot);
        }
    }
    return slots;
}

// Each contact's deliveries, by the local time of the attempt.
using Deliveries = std::map<std::int32_t, std::set<std::string>>;

// The delivery a soft bounce recorded at `at` is about, where the report did
// not say: the contact's latest one by then; `at` itself when none is known.
std::string bouncedDelivery(const Deliveries& deliveries, std::int32_t slot,
                            const std::string& at) {
    const auto it = deliveries.find(slot);
    if (it == deliveries.end()) {
        return at;
    }
    auto after = it->second.upper_bound(at);
    return after == it->second.begin() ? at : *std::prev(after);
}

// The soft bounce of the message sent at `sentAt` is how many in a row: a
// later delivery to the contact that did not bounce itself breaks the row.
std::int64_t softBouncesInARow(const Deliveries& deliveries, std::int32_t slot,
                               const std::vector<std::string>& earlierSentAt,
                               const std::string& sentAt) {
    std::string brokenAt;
    if (const auto it = deliveries.find(slot); it != deliveries.end()) {
        for (const std::string& delivered : it->second) {
            const bool bounced = delivered == sentAt ||
                                 std::find(earlierSentAt.begin(), earlierSentAt.end(), delivered) !=
                                     earlierSentAt.end();
            if (delivered < sentAt && !bounced) {
                brokenAt = delivered;
            }
        }
    }
    return 1 + std::count_if(earlierSentAt.begin(), earlierSentAt.end(),
                             [&](const std::string& earlier) { return earlier > brokenAt; });
}

std::string withNote(const std::string& notes, const std::string& note) {
    return notes.empty() ? note : notes + "\n" + note;
}

} // namespace

std::string feedbackFolder(const std::string& sessionPath) {
    return sessionPath + ".feedback";
}

std::string feedbackLedgerPath(const std::string& sessionPath) {
    return feedbackFolder(sessionPath) + "/ledger.jsonl";
}

std::string bouncedNote(const std::string& date, const std::string& reason) {
    return "Bounced " + date + (reason.empty() ? std::string() : ": " + reason);
}

std::string complainedNote(const std::string& date) {
    return "Complained " + date;
}

FeedbackOutcome applyFeedback(store::Session& session, const std::string& sessionPath,
                              const std::vector<ReturnedMessage>& messages,
                              const store::LocalDateTime& now, bool dryRun) {
    FeedbackOutcome outcome;
    const std::vector<LedgerEntry> ledger = readLedger(sessionPath);
    std::set<std::int64_t> undone;
    for (const LedgerEntry& entry : ledger) {
        if (entry.fields.text("type") == "undo") {
            undone.insert(entry.fields.integer("of"));
        }
    }
    // The Message-IDs the runs sent, for reports that quote or answer them,
    // and when each contact was delivered to.
    std::map<std::string, std::int32_t> slotByMessageId;
    std::map<std::string, std::string> sentAtByMessageId;
    Deliveries deliveries;
    // The return addresses the runs sent from, by their token, when the
    // session has a key: a token not made with it names nobody.
    struct ReturnedTo {
        std::int32_t slot = -1; // -1: two contacts share the token
        std::string sentAt;
    };
    std::map<std::string, ReturnedTo> byToken;
    const std::string bounceKey = session.settings().extensions.value(kBounceKeyKey);
    for (const RunRecord& run : readRunJournals(journalFolder(sessionPath))) {
        for (const JournalRecipient& recipient : run.recipients) {
            if (!bounceKey.empty() && recipient.slot > 0 && !recipient.attempts.empty()) {
                const ReturnedTo sent{recipient.slot, recipient.attempts.back().at};
                const auto [it, added] =
                    byToken.emplace(returnToken(bounceKey, run.id, recipient.address), sent);
                if (!added && it->second.slot != recipient.slot) {
                    it->second.slot = -1;
                }
            }
            for (const JournalAttempt& attempt : recipient.attempts) {
                if (recipient.slot <= 0) {
                    continue;
                }
                if (!attempt.messageId.empty()) {
                    slotByMessageId[attempt.messageId] = recipient.slot;
                    sentAtByMessageId[attempt.messageId] = attempt.at;
                }
                if (attempt.outcome == DeliveryOutcome::Delivered) {
                    deliveries[recipient.slot].insert(attempt.at);
                }
            }
        }
    }
    // What was applied before (the same report about the same address is
    // not applied twice) and each contact's soft bounces since its last change.
    std::set<std::string> applied;
    std::map<std::int32_t, std::vector<std::string>> softSentAt;
    for (const LedgerEntry& entry : ledger) {
        const std::string type = entry.fields.text("type");
        if (type == "undo" || undone.contains(entry.number)) {
            continue;
        }
        applied.insert(entry.fields.text("report") + "\n" + lower(entry.fields.text("address")));
        const auto slot = static_cast<std::int32_t>(entry.fields.integer("slot", -1));
        if (type == "soft") {
            std::string sent = entry.fields.text("sent");
            softSentAt[slot].push_back(
                sent.empty() ? bouncedDelivery(deliveries, slot, entry.fields.text("at")) : sent);
        } else if (type == "change") {
            softSentAt.erase(slot);
        }
    }
    const std::map<std::string, std::int32_t> byAddress = contactsByAddress(session);
    const std::int64_t softLimit = session.settings().extensions.integer(kSoftBounceLimitKey);
    const std::string date = store::formatContactDate(now);
    const std::string at = isoLocalTime(now);

    for (const ReturnedMessage& message : messages) {
        // The contact whose return address the report came back to.
        const ReturnedTo* returned = nullptr;
        if (message.report.kind == FeedbackKind::Bounce ||
            message.report.kind == FeedbackKind::Complaint) {
            for (const std::string& address : message.report.returnedTo) {
                const auto it = byToken.find(returnTokenIn(address));
                if (it != byToken.end() && it->second.slot > 0 &&
                    it->second.slot <= session.contactCount() &&
                    !session.contact(it->second.slot).isDeleted()) {
                    returned = &it->second;
                    break;
                }
            }
        }
        FeedbackReport report = message.report;
        if (returned != nullptr && report.recipients.empty()) {
            // A bounce that names nobody is about the one it came back for.
            FeedbackRecipient about = report.kind == FeedbackKind::Bounce
                                          ? report.unnamed
                                          : FeedbackRecipient{{}, {}, true, {}};
            about.address = std::string(session.contact(returned->slot).email.view());
            report.recipients.push_back(std::move(about));
            outcome.foundByReturnAddress.insert(message.source);
        }
        outcome.counts.add(report);
        const std::string reportKey = report.messageId.empty() ? message.source : report.messageId;
        const auto idMatch = report.originalMessageId.empty()
                                 ? slotByMessageId.end()
                                 : slotByMessageId.find(report.originalMessageId);
        for (const FeedbackRecipient& recipient : report.recipients) {
            FeedbackRow row{message.source,     report.kind, recipient.address, -1,
                            recipient.reason(), ""};
            const auto byName = byAddress.find(lower(recipient.address));
            // The return address, then the message we sent, name the contact
            // for sure when the report is about one recipient (a forwarded
            // address bounces under another name).
            const bool byReturnAddress = returned != nullptr && report.recipients.size() == 1;
            if (byReturnAddress) {
                row.slot = returned->slot;
            } else if (idMatch != slotByMessageId.end() && report.recipients.size() == 1 &&
                       idMatch->second <= session.contactCount() &&
                       !session.contact(idMatch->second).isDeleted()) {
                row.slot = idMatch->second;
            } else if (byName != byAddress.end()) {
                row.slot = byName->second;
            }
            if (report.kind == FeedbackKind::AutoReply || report.kind == FeedbackKind::Other) {
                row.action = "none";
            } else if (row.slot < 0) {
                row.action = "no contact";
            } else if (applied.contains(reportKey + "\n" + lower(recipient.address))) {
                row.action = "already applied";
            } else {
                applied.insert(reportKey + "\n" + lower(recipient.address));
                const store::Contact& contact = session.contact(row.slot);
                const bool soft = report.kind == FeedbackKind::Bounce && !recipient.hard;
                std::string note;
                if (report.kind == FeedbackKind::Bounce && recipient.hard) {
                    note = bouncedNote(date, recipient.reason());
                } else if (report.kind == FeedbackKind::Complaint) {
                    note = complainedNote(date);
                }
                JsonLineWriter line;
                line.add("type", soft ? "soft" : "change")
                    .add("at", at)
                    .add("source", message.source)
                    .add("report", reportKey)
                    .add("kind", feedbackKindName(report.kind))
                    .add("address", recipient.address)
                    .add("slot", row.slot)
                    .add("status", recipient.status);
                bool setDoNotContact = !soft;
                if (soft) {
                    // When the bounced message went out: the run that sent the
                    // message it quotes, else the contact's latest delivery.
                    const auto sent = sentAtByMessageId.find(report.originalMessageId);
                    const std::string sentAt = byReturnAddress ? returned->sentAt
                                               : sent != sentAtByMessageId.end() &&
                                                       idMatch != slotByMessageId.end() &&
                                                       idMatch->second == row.slot
                                                   ? sent->second
                                                   : bouncedDelivery(deliveries, row.slot, at);
                    line.add("sent", sentAt);
                    std::vector<std::string>& earlier = softSentAt[row.slot];
                    const std::int64_t count =
                        softBouncesInARow(deliveries, row.slot, earlier, sentAt);
                    earlier.push_back(sentAt);
                    row.action =
                        "soft bounce " + std::to_string(count) + " of " + std::to_string(softLimit);
                    setDoNotContact = count >= softLimit;
                    if (setDoNotContact) {
                        note = bouncedNote(date, recipient.reason());
                    }
                }
                if (setDoNotContact && contact.status != code(store::ContactStatus::DoNotContact)) {
                    line.add("oldStatus", contact.status)
                        .add("oldPreviousStatus", contact.previousStatus)
                        .add("newStatus", code(store::ContactStatus::DoNotContact));
                    row.action =
                        row.action.empty() ? "Do Not Contact" : row.action + ", Do Not Contact";
                    ++outcome.contactsChanged;
                } else if (setDoNotContact && row.action.empty()) {
                    row.action = "Do Not Contact already";
                }
                if (!note.empty()) {
                    line.add("note", note);
                }
                outcome.ledgerLines.push_back(line.line());
                if (!dryRun && (setDoNotContact || !note.empty())) {
                    session.modifyContact(row.slot, [&](store::Contact& c) {
                        if (setDoNotContact &&
                            c.status != code(store::ContactStatus::DoNotContact)) {
                            c.previousStatus = c.status;
                            c.status = code(store::ContactStatus::DoNotContact);
                        }
                        if (!note.empty()) {
                            c.notes = withNote(c.notes.str(), note);
                        }
                    });
                }
            }
            outcome.rows.push_back(std::move(row));
        }
        if (report.recipients.empty()) {
            outcome.rows.push_back(
                FeedbackRow{message.source, report.kind, report.from, -1, "",
                            report.kind == FeedbackKind::AutoReply ? "counted" : "not understood"});
        }
    }
    return outcome;
}

bool recordFeedbackChanges(const std::string& sessionPath, const FeedbackOutcome& outcome,
                           const std::function<bool()>& save, const store::LocalDateTime& now,
                           std::string& error) {
    // The ledger goes first: a change it does not hold could not be undone.
    const std::int64_t first = feedbackLedgerLineCount(sessionPath) + 1;
    std::string reason;
    if (!appendFeedbackLedger(sessionPath, outcome.ledgerLines, reason)) {
        error = "Cannot write \"" + feedbackLedgerPath(sessionPath) + "\" - " + reason +
                ". Nothing was changed.";
        return false;
    }
    if (!save()) {
        appendFeedbackLedger(sessionPath,
                             withdrawnLedgerLines(first, outcome.ledgerLines.size(), now), reason);
        error = kFeedbackNotSavedText;
        return false;
    }
    return true;
}

bool applyAndRecordFeedback(store::Session& session, const std::string& sessionPath,
                            const std::vector<ReturnedMessage>& messages,
                            const store::LocalDateTime& now, const std::function<bool()>& save,
                            FeedbackOutcome& outcome, std::string& error) {
    // The dry run names the contacts the changes touch.
    std::vector<std::pair<std::int32_t, store::Contact>> before;
    for (const FeedbackRow& row : applyFeedback(session, sessionPath, messages, now, true).rows) {
        if (row.slot >= 0 && session.hasContact(row.slot) &&
            std::none_of(before.begin(), before.end(),
                         [&](const auto& kept) { return kept.first == row.slot; })) {
            before.emplace_back(row.slot, session.contact(row.slot));
        }
    }
    outcome = applyFeedback(session, sessionPath, messages, now, false);
    if (recordFeedbackChanges(sessionPath, outcome, save, now, error)) {
        return true;
    }
    for (const auto& kept : before) {
        session.modifyContact(kept.first, [&kept](store::Contact& c) { c = kept.second; });
    }
    return false;
}

bool appendFeedbackLedger(const std::string& sessionPath, const std::vector<std::string>& lines,
                          std::string& error) {
    if (lines.empty()) {
        return true;
    }
    const std::string folder = feedbackFolder(sessionPath);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = store::systemErrorText(errno);
        return false;
    }
    const std::string path = feedbackLedgerPath(sessionPath);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = store::systemErrorText(errno);
        return false;
    }
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = store::systemErrorText(errno);
            ::close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced) {
        error = store::systemErrorText(errno);
    }
    ::close(fd);
    return synced;
}

std::int64_t feedbackLedgerLineCount(const std::string& sessionPath) {
    std::ifstream in(feedbackLedgerPath(sessionPath), std::ios::binary);
    std::int64_t lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines;
}

std::vector<std::string> withdrawnLedgerLines(std::int64_t first, std::size_t count,
                                              const store::LocalDateTime& now) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        lines.push_back(JsonLineWriter()
                            .add("type", "undo")
                            .add("at", isoLocalTime(now))
                            .add("of", first + static_cast<std::int64_t>(i))
                            .add("unsaved", true)
                            .line());
    }
    return lines;
}

UndoOutcome undoFeedback(store::Session& session, const std::string& sessionPath,
                         const std::string& sinceDate, const store::LocalDateTime& now) {
    UndoOutcome outcome;
    const std::vector<LedgerEntry> ledger = readLedger(sessionPath);
    std::set<std::int64_t> undone;
    for (const LedgerEntry& entry : ledger) {
        if (entry.fields.text("type") == "undo") {
            undone.insert(entry.fields.integer("of"));
        }
    }
    const std::string at = isoLocalTime(now);
    for (auto it = ledger.rbegin(); it != ledger.rend(); ++it) {
        const JsonObject& fields = it->fields;
        const std::string type = fields.text("type");
        if ((type != "change" && type != "soft") || undone.contains(it->number) ||
            fields.text("at").substr(0, 10) < sinceDate) {
            continue;
        }
        ++outcome.entriesUndone;
        outcome.ledgerLines.push_back(
            JsonLineWriter().add("type", "undo").add("at", at).add("of", it->number).line());
        const auto slot = static_cast<std::int32_t>(fields.integer("slot", -1));
        if (slot < 1 || slot > session.contactCount()) {
            continue;
        }
        const std::string note = fields.text("note");
        const bool changedStatus = fields.find("newStatus") != nullptr;
        session.modifyContact(slot, [&](store::Contact& c) {
            bool restored = false;
            if (changedStatus && c.status == fields.integer("newStatus")) {
                c.status = static_cast<std::int32_t>(fields.integer("oldStatus"));
                c.previousStatus = static_cast<std::int32_t>(fields.integer("oldPreviousStatus"));
                restored = true;
            }
            const std::string notes = c.notes.str();
            if (!note.empty()) {
                // The line apply added, wherever it now stands.
                const std::size_t pos = notes.rfind(note);
                if (pos != std::string::npos) {
                    std::string kept = notes;
                    const std::size_t from = pos > 0 && kept[pos - 1] == '\n' ? pos - 1 : pos;
                    std::size_t to = pos + note.size();
                    if (from == pos && to < kept.size() && kept[to] == '\n') {
                        ++to;
                    }
                    kept.erase(from, to - from);
                    c.notes = kept;
                    restored = true;
                }
            }
            outcome.contactsRestored += restored ? 1 : 0;
        });
    }
    return outcome;
}

} // namespace velmora::delivery
