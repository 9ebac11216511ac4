#include "cli/run_json.h"

namespace velmora::cli {

namespace {

nlohmann::json countsToJson(const delivery::RunCounts& counts) {
    return {{"delivered", counts.delivered},
            {"deferred", counts.deferred},
            {"rejected", counts.rejected},
            {"failed", counts.failed},
            {"notAttempted", counts.notAttempted}};
}

nlohmann::json recipientToJson(const delivery::JournalRecipient& recipient) {
    nlohmann::json attempts = nlohmann::json::array();
    for (const delivery::JournalAttempt& attempt : recipient.attempts) {
        nlohmann::json item = {{"outcome", outcomeName(attempt.outcome)},
                               {"code", attempt.code},
                               {"text", attempt.text},
                               {"at", attempt.at}};
        if (!attempt.stamp.empty()) {
            item["stamp"] = attempt.stamp;
        }
        if (!attempt.relay.empty()) {
            item["relay"] = attempt.relay;
        }
        if (attempt.queuedAgain) {
            item["queuedAgain"] = true;
        }
        attempts.push_back(std::move(item));
    }
    const std::optional<delivery::DeliveryOutcome> outcome = recipient.outcome();
    return {{"n", recipient.index},
            {"slot", recipient.slot},
            {"address", recipient.address},
            {"outcome", outcome ? std::string(outcomeName(*outcome)) : "not attempted"},
            {"final", recipient.hasFinalOutcome()},
            {"attempts", std::move(attempts)}};
}

// Everything `runs show` prints but the recipients.
nlohmann::json runDetailWithoutRecipients(const delivery::RunRecord& run) {
    nlohmann::json json = runToJson(run);
    json["ended"] = run.endedAt;
    json["draftSha256"] = run.draftDigest;
    json["journal"] = run.path;
    return json;
}

constexpr const char* kRecipientsKey = "recipients";

} // namespace

nlohmann::json runToJson(const delivery::RunRecord& run) {
    nlohmann::json json = {{"id", run.id},
                           {"started", run.started},
                           {"finished", run.finished},
                           {"stoppedEarly", run.stoppedEarly},
                           {"cancelled", run.cancelled},
                           {"damaged", run.damaged()},
                           {"subject", run.subject},
                           {"draft", run.draftPath},
                           {"recipients", run.recipients.size()},
                           {"counts", countsToJson(run.counts())}};
    if (!run.scheduled.empty()) {
        json["scheduled"] = run.scheduled;
    }
    if (!run.retryOf.empty()) {
        json["retryOf"] = run.retryOf;
    }
    if (!run.closedBy.empty()) {
        json["closedBy"] = run.closedBy;
    }
    return json;
}

nlohmann::json runDetailToJson(const delivery::RunRecord& run) {
    nlohmann::json json = runDetailWithoutRecipients(run);
    nlohmann::json recipients = nlohmann::json::array();
    for (const delivery::JournalRecipient& recipient : run.recipients) {
        recipients.push_back(recipientToJson(recipient));
    }
    json[kRecipientsKey] = std::move(recipients);
    return json;
}

void writeRunDetailJson(JsonStreamWriter& out, const delivery::RunRecord& run) {
    nlohmann::json head = runDetailWithoutRecipients(run);
    head.erase(kRecipientsKey);
    // nlohmann keeps keys sorted: the recipients go where their key sorts.
    out.beginObject();
    bool recipientsWritten = false;
    const auto writeRecipients = [&] {
        out.key(kRecipientsKey);
        out.beginArray();
        for (const delivery::JournalRecipient& recipient : run.recipients) {
            out.value(recipientToJson(recipient));
        }
        out.endArray();
        recipientsWritten = true;
    };
    for (auto item = head.begin(); item != head.end(); ++item) {
        if (!recipientsWritten && item.key() > kRecipientsKey) {
            writeRecipients();
        }
        out.key(item.key());
        out.value(*item);
    }
    if (!recipientsWritten) {
        writeRecipients();
    }
    out.endObject();
}

} // namespace velmora::cli
