#pragma once

#include "cli/cli_context.h"
#include "delivery/message/message_draft.h"
#include "delivery/run/run_journal.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli {

// What the send and check commands share about choosing recipients and
// checking a message.

inline constexpr std::string_view kSinglePrefix = "single:";

// "single:ADDR", "mailtray", "customers", "prospects", "subscribers" or "entire".
std::optional<delivery::RecipientChoice> recipientChoiceNamed(std::string_view name);
// The --recipients option's check: "" when `value` is acceptable.
std::string recipientsOptionProblem(const std::string& value);
// Sets the draft's recipient choice (and typed address) from a name that
// recipientChoiceNamed knows.
void chooseRecipients(delivery::MessageDraft& draft, std::string_view name);

// The send commands' check before a send: its warnings on stderr, one
// "Warning: ..." line each; the errors are left to the run, which stops on
// them with the same words.
void printSendWarnings(CliContext& context, const store::Session& session,
                       const delivery::MessageDraft& draft,
                       const std::vector<delivery::PlannedRecipient>& recipients, bool listRun,
                       const std::string& mimeTypesPath);

// Where the scheduled sends are kept: $XDG_STATE_HOME (else
// ~/.local/state) + "/velmora-mailtray/scheduled".
std::string scheduleFolder();
// This program's path, for the command a timer starts.
std::string thisProgram();

} // namespace velmora::cli
