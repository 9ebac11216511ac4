#include "delivery/run/send_list.h"

#include "store/text.h"

namespace velmora::delivery {

bool addRecipient(store::Session& session, std::int32_t slot, std::string_view email) {
    const std::string_view address = store::trimSpaces(email);
    if (address.empty()) {
        return false;
    }
    store::Contact entry;
    entry.id = slot;
    entry.email = address;
    session.sendList.append(std::move(entry));
    return true;
}

} // namespace velmora::delivery
