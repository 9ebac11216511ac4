#include "contacts/unsubscribe.h"

#include "store/text.h"

#include <unordered_map>

namespace velmora::contacts {

namespace {

std::string lowerTrimmed(std::string_view text) {
    std::string out(store::trimSpaces(text));
    while (!out.empty() && (out.back() == '\r' || out.back() == '\t')) {
        out.pop_back();
    }
    return store::toLowerAscii(out);
}

} // namespace

UnsubscribeResult unsubscribeAddresses(store::Session& session,
                                       const std::vector<std::string>& addresses) {
    // One pass over the contacts, whatever the number of addresses.
    std::unordered_map<std::string, bool> wanted; // address -> matched
    for (const std::string& address : addresses) {
        const std::string key = lowerTrimmed(address);
        if (!key.empty()) {
            wanted.emplace(key, false);
        }
    }
    for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
        const store::Contact& contact = session.contact(slot);
        if (contact.isDeleted()) {
            continue;
        }
        const auto found = wanted.find(lowerTrimmed(contact.email.view()));
        if (found == wanted.end()) {
            continue;
        }
        found->second = true;
        if (contact.status == code(store::ContactStatus::DoNotContact)) {
            continue;
        }
        session.modifyContact(slot, [](store::Contact& c) {
            c.previousStatus = c.status;
            c.status = code(store::ContactStatus::DoNotContact);
        });
    }
    UnsubscribeResult result;
    for (const auto& [address, matched] : wanted) {
        ++(matched ? result.unsubscribed : result.unknown);
    }
    return result;
}

std::vector<std::string> addressesFromLines(std::string_view text) {
    std::vector<std::string> addresses;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        const std::size_t open = line.find('<');
        const std::size_t close = line.find('>', open == std::string_view::npos ? 0 : open);
        if (open != std::string_view::npos && close != std::string_view::npos) {
            line = line.substr(open + 1, close - open - 1);
        }
        std::string address = lowerTrimmed(line);
        if (!address.empty()) {
            addresses.push_back(std::move(address));
        }
        start = end + 1;
    }
    return addresses;
}

std::string unsubscribeSummary(const UnsubscribeResult& result) {
    return "Unsubscribed " + std::to_string(result.unsubscribed) + ", unknown " +
           std::to_string(result.unknown) + ".";
}

} // namespace velmora::contacts
