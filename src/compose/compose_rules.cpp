#include "compose/compose_rules.h"

#include "store/file_names.h"

#include <charconv>

namespace velmora::compose {

RecipientCounts countRecipients(const store::Session& session, std::size_t filteredRowCount) {
    RecipientCounts counts;
    counts.mailtray = session.mailtrayCount();
    counts.filteredResults = static_cast<std::int32_t>(filteredRowCount);
    for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
        const std::int32_t status = session.contact(slot).status;
        if (status == code(store::ContactStatus::Deleted)) {
            continue;
        }
        ++counts.entireList;
        if (status == code(store::ContactStatus::Customers)) {
            ++counts.customers;
        } else if (status == code(store::ContactStatus::Prospects)) {
            ++counts.prospects;
        } else if (status == code(store::ContactStatus::Subscribers)) {
            ++counts.subscribers;
        }
    }
    return counts;
}

std::array<std::string, kRecipientEntryCount> recipientEntryTexts(const RecipientCounts& counts) {
    const auto entry = [](const char* caption, std::int32_t count) {
        return std::string(caption) + " (" + std::to_string(count) + ")";
    };
    return {"Single Recipient",
            entry("Mailtray", counts.mailtray),
            entry("Filtered Results", counts.filteredResults),
            entry("All Customers", counts.customers),
            entry("All Prospects", counts.prospects),
            entry("All Subscribers", counts.subscribers),
            entry("Entire List", counts.entireList)};
}

std::string initialHtmlDocument(const store::SessionSettings& settings) {
    std::string document = "<html><head><STYLE type='text/css'>BODY {margin: 0px; padding: 2px;} "
                           "P {margin: 0px,0px,4px,2px; padding: 0px;}</STYLE></head><body>";
    if (settings.includeSignature == 1) {
        document += "<br/>&nbsp;<br/>&nbsp;<br/>" + settings.signature;
    }
    return document + "</body></html>";
}

std::string initialPlainText(const store::SessionSettings& settings) {
    return settings.includeSignature == 1 ? "\n\n\n" + settings.signature : std::string();
}

bool attachmentSlotsFull(const delivery::MessageDraft& draft) {
    return !draft.attachment1.empty() && !draft.attachment2.empty();
}

bool attachToDraft(delivery::MessageDraft& draft, const std::string& path, float sizeKb) {
    if (draft.attachment1.empty()) {
        draft.attachment1 = path;
        draft.attachment1SizeKb = sizeKb;
    } else if (draft.attachment2.empty()) {
        draft.attachment2 = path;
        draft.attachment2SizeKb = sizeKb;
    } else {
        return false;
    }
    return true;
}

void clearAttachments(delivery::MessageDraft& draft) {
    draft.attachment1.clear();
    draft.attachment2.clear();
    draft.attachment1SizeKb = 0.0f;
    draft.attachment2SizeKb = 0.0f;
}

std::string formatSizeKb(float sizeKb) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, sizeKb, std::chars_format::fixed, 2);
    return std::string(text, result.ptr);
}

std::string attachmentLabelText(const delivery::MessageDraft& draft) {
    const auto line = [](const std::string& path, float sizeKb) {
        return std::string(store::lastPathPart(path)) + " (" + formatSizeKb(sizeKb) + " kb)";
    };
    std::string text;
    if (!draft.attachment1.empty()) {
        text = line(draft.attachment1, draft.attachment1SizeKb);
    }
    if (!draft.attachment2.empty()) {
        // A draft file may fill the second slot alone; it is listed all the same.
        text += (text.empty() ? "" : "\n") + line(draft.attachment2, draft.attachment2SizeKb);
    }
    return text.empty() ? std::string(kNoFilesAttached) : text;
}

void takeDraftFields(delivery::MessageDraft& draft, const delivery::MessageDraft& stored,
                     float (*sizeOf)(const std::string& path)) {
    draft.fromText = stored.fromText;
    draft.subject = stored.subject;
    draft.body = stored.body;
    clearAttachments(draft);
    draft.attachment1 = stored.attachment1;
    draft.attachment2 = stored.attachment2;
    if (!draft.attachment1.empty()) {
        draft.attachment1SizeKb = sizeOf(draft.attachment1);
    }
    if (!draft.attachment2.empty()) {
        draft.attachment2SizeKb = sizeOf(draft.attachment2);
    }
}

std::optional<bool> ShownState::update(bool wanted) {
    const int state = wanted ? 1 : 0;
    if (state == shown_) {
        return std::nullopt;
    }
    shown_ = state;
    return wanted;
}

bool messageChanged(const delivery::MessageDraft& opened, const delivery::MessageDraft& now) {
    return opened.fromText != now.fromText || opened.singleRecipient != now.singleRecipient ||
           opened.subject != now.subject || opened.body != now.body ||
           opened.attachment1 != now.attachment1 || opened.attachment2 != now.attachment2;
}

} // namespace velmora::compose
