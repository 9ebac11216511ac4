#pragma once

#include "delivery/message/message_draft.h"
#include "delivery/message/spam_score.h"
#include "delivery/run/send_run.h"
#include "store/session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::compose {

// The compose window's "Check Message" and "Send Test..." commands: the
// window reads its controls and shows what these return.

inline constexpr const char* kCheckMessageTitle = "Check Message";
inline constexpr const char* kSendTestTitle = "Send Test";

// The report of the check over the recipients the "To" list chooses
// (`filteredRows` for the filtered list), the spam score from `spamFilter`:
// the lines `mailtray check` prints. Fills the session's send list.
std::vector<std::string> checkMessageReport(store::Session& session,
                                            const delivery::MessageDraft& draft,
                                            const std::vector<std::int32_t>& filteredRows,
                                            const delivery::SendRunEnvironment& environment,
                                            const delivery::SpamFilter& spamFilter);

// Whose fields a test send carries: the first recipient the "To" list
// chooses ({} when it chooses nobody).
delivery::PlannedRecipient testSendContact(store::Session& session,
                                           const delivery::MessageDraft& draft,
                                           const std::vector<std::int32_t>& filteredRows);

// The question for the address: "Send a test of this message, as
// ADDRESS will get it, to:" ("Send a test of this message to:" for nobody).
std::string sendTestPrompt(const delivery::PlannedRecipient& as);

} // namespace velmora::compose
