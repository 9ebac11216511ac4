#pragma once

#include "delivery/send_run.h"
#include "delivery/smtp_session.h"

namespace velmora::delivery {

// The sessions of a send run (defined with the run's other rules in send_run.cpp).

// What every session of a run shares; the message is each recipient's.
SmtpSessionRequest runRequest(const store::Session& session, const SendRunEnvironment& environment,
                              bool logDialogue);
// One recipient's session: its personal message (with the list headers in a
// list run) through `request`'s server. An address no server could take is
// Rejected, an attachment that cannot be read Failed, without a session.
SmtpOutcome sendToOneRecipient(const store::Session& session, const MessageDraft& draft,
                               SmtpSessionRequest& request, std::int32_t contactSlot,
                               const std::string& address, bool listRun,
                               const SendRunEnvironment& environment, RunObserver& observer);

} // namespace velmora::delivery
