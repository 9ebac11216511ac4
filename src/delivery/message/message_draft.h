#pragma once

#include "store/codes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// Which recipients a send run addresses; the values are the order of the
// compose window's "To" list.
enum class RecipientChoice : std::int32_t {
    SingleRecipient = 0,
    Mailtray = 1,
    FilteredResults = 2,
    AllCustomers = 3,
    AllProspects = 4,
    AllSubscribers = 5,
    EntireList = 6,
};

constexpr std::int32_t code(RecipientChoice value) {
    return static_cast<std::int32_t>(value);
}

// The message being composed: what the compose window holds, what a send run
// reads and what a draft file keeps (a draft keeps only the From text, the
// subject, the two attachment paths and the body).
struct MessageDraft {
    std::string fromText;
    std::int32_t recipientChoice = code(RecipientChoice::Mailtray);
    std::string singleRecipient;
    std::string subject;
    std::string body;
    std::int32_t format = code(store::EditorFormat::Html);
    std::string attachment1; // full path, "" for an empty slot
    std::string attachment2;
    float attachment1SizeKb = 0.0f;
    float attachment2SizeKb = 0.0f;

    // The attachments a message carries: slot 1, then slot 2, empty slots skipped.
    std::vector<std::string> attachmentList() const;
    friend bool operator==(const MessageDraft&, const MessageDraft&) = default;
};

struct SenderParts {
    std::string senderName;
    std::string senderAddress;
    friend bool operator==(const SenderParts&, const SenderParts&) = default;
};

// Splits a From text such as "Ann Lee <ann@example.org>" or a bare address.
SenderParts parseSender(std::string_view fromText);

// Everything one message to one recipient is built from.
struct OutgoingMessage {
    std::string senderName;
    std::string senderAddress;
    // MAIL FROM, where bounces go: "" is senderAddress. A list run with a
    // bounce address gives each recipient's message one of its own.
    std::string envelopeSender;
    std::string recipient;
    std::string subject;
    std::string body;
    std::int32_t format = code(store::EditorFormat::Html);
    std::vector<std::string> attachments;
    // An HTML body goes out with a text/plain rendering beside it.
    bool textAlternative = true;
    // The List-Unsubscribe header's value ("" for none: previews and typed
    // addresses), and whether it offers one-click unsubscribe (RFC 8058).
    std::string listUnsubscribe;
    bool oneClickUnsubscribe = false;
    // The List-Id header's identifier ("" for none); a list run names its
    // list, since filters take List-Unsubscribe without it for a forgery.
    std::string listId;
    // The Message-ID ("<...@...>"); "" makes a new one. A run chooses it
    // beforehand so that its journal can match what comes back.
    std::string messageId;
};

// The address MAIL FROM gives for `message`.
inline const std::string& envelopeSenderOf(const OutgoingMessage& message) {
    return message.envelopeSender.empty() ? message.senderAddress : message.envelopeSender;
}

// The message of `draft` to `recipient`, written in `format`.
OutgoingMessage outgoingMessage(const MessageDraft& draft, std::string recipient,
                                std::int32_t format);

} // namespace velmora::delivery
