#include "delivery/mail_client.h"

#include "delivery/run/send_list.h"
#include "store/text.h"

namespace velmora::delivery {

namespace {

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return text;
    }
    std::size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// Characters that stand for themselves in the part of a mailto link they are in.
bool plainInLink(unsigned char c, bool inAddressList) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '@':
    case '.':
    case '-':
    case '_':
    case '~':
    case '+':
    case '!':
    case '$':
    case '\'':
    case '(':
    case ')':
    case '*':
    case ';':
    case ':':
    case '/':
    case '=':
        return true;
    case ',':
        return inAddressList;
    default:
        return false;
    }
}

void appendEncoded(std::string& out, std::string_view text, bool inAddressList) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (plainInLink(c, inAddressList)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            store::appendHex(out, c, store::HexDigits::Upper);
        }
    }
}

} // namespace

bool passesWholeToMailClient(std::string_view address) {
    // A NUL ends an argument early, a comma splits the list, a line break
    // or another control character may end the command or the link.
    for (const char ch : address) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == ',') {
            return false;
        }
    }
    return true;
}

std::string leftOutOfHandoffText(std::int32_t count) {
    if (count == 1) {
        return "1 address was left out of the hand-off and not stamped as contacted: it holds a "
               "character that cannot be passed to a mail client whole.";
    }
    return std::to_string(count) +
           " addresses were left out of the hand-off and not stamped as contacted: they hold "
           "characters that cannot be passed to a mail client whole.";
}

std::string gatherMailtrayRecipients(store::Session& session, std::string_view today,
                                     std::int32_t* leftOut) {
    session.sendList.clear();
    std::int32_t refused = 0;
    for (std::int32_t slot = 1; slot <= session.mailtrayCount(); ++slot) {
        const store::Contact& entry = session.mailtrayEntry(slot);
        if (entry.isDeleted()) {
            continue;
        }
        if (!passesWholeToMailClient(trimSpaces(entry.email))) {
            ++refused;
            continue;
        }
        addRecipient(session, entry.id, entry.email);
        // Stamped also when the address was blank; an id that names no
        // contact slot stamps nothing.
        if (entry.id > 0 && session.hasContact(entry.id)) {
            session.markContacted(entry.id, today);
            session.contactedToday = store::countedOnceMore(session.contactedToday);
        }
    }
    if (leftOut != nullptr) {
        *leftOut = refused;
    }
    std::string list;
    for (const store::Contact& recipient : session.sendList) {
        if (!list.empty()) {
            list += ',';
        }
        list += trimSpaces(recipient.email);
    }
    return list;
}

std::string mailtoLink(std::string_view fromAddress, std::string_view addressList) {
    std::string link = "mailto:";
    appendEncoded(link, fromAddress, false);
    link += "?bcc=";
    appendEncoded(link, addressList, true);
    return link;
}

std::vector<std::string> splitCommandTemplate(std::string_view text) {
    std::vector<std::string> args;
    std::string current;
    bool inWord = false;
    bool inQuotes = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            if (inQuotes && i + 1 < text.size() && text[i + 1] == '"') {
                current.push_back('"');
                ++i;
            } else {
                inQuotes = !inQuotes;
            }
            inWord = true;
        } else if (!inQuotes && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (inWord) {
                args.push_back(std::move(current));
                current.clear();
                inWord = false;
            }
        } else {
            current.push_back(c);
            inWord = true;
        }
    }
    if (inWord) {
        args.push_back(std::move(current));
    }
    return args;
}

std::vector<std::string> customClientArguments(std::string_view commandTemplate,
                                               std::string_view fromAddress,
                                               std::string_view addressList) {
    std::vector<std::string> args = splitCommandTemplate(commandTemplate);
    for (std::string& arg : args) {
        arg = replaceAll(replaceAll(std::move(arg), "%from%", fromAddress), "%mailtray%",
                         addressList);
    }
    return args;
}

HandoffResult deliverByDefaultClient(store::Session& session, platform::Launcher& launcher,
                                     std::string_view today, std::int32_t* leftOut) {
    const std::string list = gatherMailtrayRecipients(session, today, leftOut);
    return launcher.openDocument(mailtoLink(session.settings().fromAddress, list))
               ? HandoffResult::Started
               : HandoffResult::CouldNotStart;
}

HandoffResult deliverByCustomClient(store::Session& session, platform::Launcher& launcher,
                                    std::string_view today, std::int32_t* leftOut) {
    const std::string list = gatherMailtrayRecipients(session, today, leftOut);
    if (session.sendList.count() == 0) {
        return HandoffResult::NothingToStart;
    }
    const store::SessionSettings& s = session.settings();
    return launcher.startProgram(s.clientPath,
                                 customClientArguments(s.clientParameters, s.fromAddress, list))
               ? HandoffResult::Started
               : HandoffResult::CouldNotStart;
}

bool deliversByMailClient(const store::SessionSettings& settings) {
    return settings.deliveryMethod == code(store::DeliveryMethod::DefaultMailClient) ||
           settings.deliveryMethod == code(store::DeliveryMethod::CustomMailClient);
}

HandoffResult handOffToMailClient(store::Session& session, platform::Launcher& launcher,
                                  std::string_view today, std::int32_t* leftOut) {
    if (leftOut != nullptr) {
        *leftOut = 0;
    }
    switch (session.settings().deliveryMethod) {
    case code(store::DeliveryMethod::DefaultMailClient):
        return deliverByDefaultClient(session, launcher, today, leftOut);
    case code(store::DeliveryMethod::CustomMailClient):
        return deliverByCustomClient(session, launcher, today, leftOut);
    default:
        return HandoffResult::NothingToStart;
    }
}

std::string mailClientFailedText(const store::SessionSettings& settings) {
    if (settings.deliveryMethod == code(store::DeliveryMethod::CustomMailClient)) {
        return "The mail client \"" + settings.clientPath + "\" could not be started.";
    }
    return "The default mail client could not be opened.";
}

} // namespace velmora::delivery
