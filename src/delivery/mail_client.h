#pragma once

#include "platform/launcher.h"
#include "store/session.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// False for an address a mail client cannot be given whole: one holding a
// NUL or another control character, or a comma (it would split the list).
bool passesWholeToMailClient(std::string_view address);
// Says how many addresses `gatherMailtrayRecipients` left out.
std::string leftOutOfHandoffText(std::int32_t count);

// Rebuilds the send list from the live Mailtray entries, stamps every entry's
// contact as contacted (counting `contactedToday`) and returns the address
// list: the addresses joined by "," without blanks. An entry whose address
// cannot be passed whole is left out and not stamped; `leftOut`, when given,
// receives how many were.
std::string gatherMailtrayRecipients(store::Session& session, std::string_view today,
                                     std::int32_t* leftOut = nullptr);

// "mailto:" + from + "?bcc=" + list, with every character that could end or
// change the bcc value (or the address before it) percent-encoded; plain
// addresses and the commas between them stay as they are.
std::string mailtoLink(std::string_view fromAddress, std::string_view addressList);

// Splits a command-line template into arguments as a shell would read its
// words: blanks separate, double quotes group (a doubled quote inside quotes
// is one quote character), nothing is expanded.
std::vector<std::string> splitCommandTemplate(std::string_view commandTemplate);

// The custom client's arguments: the template split first, then "%from%" and
// then "%mailtray%" replaced inside each argument, so no address can become
// an argument or a command of its own.
std::vector<std::string> customClientArguments(std::string_view commandTemplate,
                                               std::string_view fromAddress,
                                               std::string_view addressList);

enum class HandoffResult { Started, NothingToStart, CouldNotStart };

// Gathers and stamps, then opens the mailto link (also for an empty list).
HandoffResult deliverByDefaultClient(store::Session& session, platform::Launcher& launcher,
                                     std::string_view today, std::int32_t* leftOut = nullptr);
// Gathers and stamps, then starts the custom client when the list is not empty.
HandoffResult deliverByCustomClient(store::Session& session, platform::Launcher& launcher,
                                    std::string_view today, std::int32_t* leftOut = nullptr);

// True when the delivery method hands the Mailtray to a mail client.
bool deliversByMailClient(const store::SessionSettings& settings);
// The hand-off the delivery method names (the default or the custom
// client), as the main window and `mailtray handoff` both run it; nothing is
// stamped and NothingToStart comes back when the method names no client.
HandoffResult handOffToMailClient(store::Session& session, platform::Launcher& launcher,
                                  std::string_view today, std::int32_t* leftOut = nullptr);
// What the user is told when the client of `settings` could not start.
std::string mailClientFailedText(const store::SessionSettings& settings);

} // namespace velmora::delivery
