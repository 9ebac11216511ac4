#include "delivery/message/message_draft.h"

#include "store/text.h"

namespace velmora::delivery {

std::vector<std::string> MessageDraft::attachmentList() const {
    std::vector<std::string> list;
    for (const std::string* slot : {&attachment1, &attachment2}) {
        if (!slot->empty()) {
            list.push_back(*slot);
        }
    }
    return list;
}

SenderParts parseSender(std::string_view fromText) {
    const std::string_view text = store::trimSpaces(fromText);
    SenderParts parts;
    const std::size_t open = text.find('<');
    if (open == std::string_view::npos) {
        parts.senderAddress = std::string(text);
        return parts;
    }
    parts.senderName = std::string(store::trimSpaces(text.substr(0, open)));
    std::string_view rest = text.substr(open + 1);
    rest = rest.substr(0, rest.find('<'));
    for (char c : store::trimSpaces(rest)) {
        if (c != '<' && c != '>') {
            parts.senderAddress.push_back(c);
        }
    }
    return parts;
}

OutgoingMessage outgoingMessage(const MessageDraft& draft, std::string recipient,
                                std::int32_t format) {
    SenderParts sender = parseSender(draft.fromText);
    OutgoingMessage message;
    message.senderName = std::move(sender.senderName);
    message.senderAddress = std::move(sender.senderAddress);
    message.recipient = std::move(recipient);
    message.subject = draft.subject;
    message.body = draft.body;
    message.format = format;
    message.attachments = draft.attachmentList();
    return message;
}

} // namespace velmora::delivery
