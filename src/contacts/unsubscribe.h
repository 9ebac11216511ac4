#pragma once

#include "store/session.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::contacts {

struct UnsubscribeResult {
    std::int32_t unsubscribed = 0; // addresses that matched at least one contact
    std::int32_t unknown = 0;      // addresses no contact has
};

// Sets every contact (not Deleted) with one of the addresses (trimmed, any
// case) to Do Not Contact, remembering its status as Set Status does; a
// contact that is Do Not Contact already keeps what it remembers. Each
// address counts once.
UnsubscribeResult unsubscribeAddresses(store::Session& session,
                                       const std::vector<std::string>& addresses);

// The addresses of a text, one a line: blank lines are skipped, and a line
// such as "Ann Lee <ann@example.org>" gives the address in angle brackets.
std::vector<std::string> addressesFromLines(std::string_view text);

// "Unsubscribed N, unknown M."
std::string unsubscribeSummary(const UnsubscribeResult& result);

} // namespace velmora::contacts
