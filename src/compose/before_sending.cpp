#include "compose/before_sending.h"

#include "delivery/message/draft_file.h"
#include "delivery/run/send_check.h"
#include "delivery/run/send_later.h"

#include <ctime>
#include <filesystem>
#include <system_error>

namespace velmora::compose {

std::vector<std::string> checkMessageReport(store::Session& session,
                                            const delivery::MessageDraft& draft,
                                            const std::vector<std::int32_t>& filteredRows,
                                            const delivery::SendRunEnvironment& environment,
                                            const delivery::SpamFilter& spamFilter) {
    delivery::MessageCheckRequest request;
    request.recipients = delivery::chosenRecipients(session, draft, filteredRows);
    request.listRun = draft.recipientChoice != code(delivery::RecipientChoice::SingleRecipient);
    request.spamFilter = spamFilter;
    delivery::MessageEnvironment messageEnvironment{
        environment.clock, environment.contentTypes, {}};
    messageEnvironment.randomBytes = environment.randomBytes;
    return delivery::messageCheckLines(
        delivery::checkMessage(session, draft, request, messageEnvironment));
}

delivery::PlannedRecipient testSendContact(store::Session& session,
                                           const delivery::MessageDraft& draft,
                                           const std::vector<std::int32_t>& filteredRows) {
    delivery::gatherRecipients(session, draft, filteredRows);
    return delivery::firstRecipientOf(session);
}

std::string sendTestPrompt(const delivery::PlannedRecipient& as) {
    if (as.address.empty()) {
        return "Send a test of this message to:";
    }
    return "Send a test of this message, as " + as.address + " will get it, to:";
}

std::string suggestedSendLaterTime(const store::LocalDateTime& now) {
    std::tm t{};
    t.tm_year = now.year - 1900;
    t.tm_mon = now.month - 1;
    t.tm_mday = now.day;
    t.tm_hour = now.hour + 1;
    t.tm_isdst = -1;
    std::mktime(&t); // carries the hour into the next day, month and year
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &t);
    return text;
}

std::optional<std::string> recipientsOptionFor(const delivery::MessageDraft& draft) {
    using R = delivery::RecipientChoice;
    switch (static_cast<R>(draft.recipientChoice)) {
    case R::SingleRecipient:
        return "single:" + draft.singleRecipient;
    case R::Mailtray:
        return "mailtray";
    case R::FilteredResults:
        return std::nullopt;
    case R::AllCustomers:
        return "customers";
    case R::AllProspects:
        return "prospects";
    case R::AllSubscribers:
        return "subscribers";
    case R::EntireList:
        return "entire";
    }
    return std::nullopt;
}

SendLaterResult sendLater(const store::Session& session, const delivery::MessageDraft& draft,
                          const SendLaterRequest& request) {
    const std::optional<delivery::ScheduleTime> at = delivery::parseScheduleTime(request.atText);
    if (!at || !delivery::isLaterThan(*at, request.now)) {
        return {false, delivery::kNotLaterText};
    }
    if (session.isUntitled() || session.hasUnsavedChanges()) {
        return {false, kSaveBeforeSendLaterText};
    }
    const std::optional<std::string> recipients = recipientsOptionFor(draft);
    if (!recipients) {
        return {false, kFilteredCannotWaitText};
    }
    std::error_code code;
    std::filesystem::create_directories(request.folder, code);
    const std::string draftPath =
        request.folder + "/" + delivery::newScheduleId(request.now, request.randomHex) + ".eml";
    std::string error;
    if (!delivery::writeDraftFile(draft, draftPath, error)) {
        return {false, delivery::cannotSaveDraftText(draftPath, error)};
    }
    // The digest of the draft as the timer's command will read it.
    delivery::MessageDraft stored = delivery::readDraftFile(draftPath).draft;
    stored.format = draft.format;
    const delivery::ScheduledSend send =
        delivery::newScheduledSend(session.sessionFileName, draftPath, *recipients, stored, *at,
                                   request.now, request.randomHex);
    if (!delivery::scheduleSend(send, request.program, request.folder, error)) {
        std::filesystem::remove(draftPath, code);
        return {false, error};
    }
    return {true, delivery::scheduledText(send)};
}

} // namespace velmora::compose
