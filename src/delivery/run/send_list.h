#pragma once

#include "store/session.h"

#include <cstdint>
#include <string_view>

namespace velmora::delivery {

// Appends a send-list entry for contact `slot` (or a value below 1 for an
// address from elsewhere) with the address trimmed; a blank address adds
// nothing. Returns true when an entry was added.
bool addRecipient(store::Session& session, std::int32_t slot, std::string_view email);

} // namespace velmora::delivery
