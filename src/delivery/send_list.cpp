#include "delivery/send_list.h"

bool addRecipient(Session& session, std::int32_t slot, std::string_view email) {
    const std::string_view address = trimSpaces(email);
    if (address.empty()) {
        return false;
    }
    Contact entry;
    entry.id = slot;
    entry.email = address;
    session.sendList.append(std::move(entry));
    return true;
}
