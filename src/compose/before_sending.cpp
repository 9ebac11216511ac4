#include "compose/before_sending.h"

#include "delivery/run/send_check.h"

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

} // namespace velmora::compose
