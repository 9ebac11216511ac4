#pragma once

#include "delivery/message/message_draft.h"
#include "store/records.h"
#include "store/session.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora::compose {

// The rules behind the compose window: what its "To" list says, the body it
// starts with, the attachment slots and their label, and what an opened
// draft puts into the window. The window only wires its controls to these.

// Recipient counts, taken once when the compose window opens.
struct RecipientCounts {
    std::int32_t mailtray = 0;
    std::int32_t filteredResults = 0; // rows of the All Entries list
    std::int32_t customers = 0;
    std::int32_t prospects = 0;
    std::int32_t subscribers = 0;
    std::int32_t entireList = 0; // every contact that is not Deleted
    friend bool operator==(const RecipientCounts&, const RecipientCounts&) = default;
};
RecipientCounts countRecipients(const store::Session& session, std::size_t filteredRowCount);

// The seven entries of the "To" list, in `RecipientChoice` order:
// "Single Recipient", "Mailtray (3)", "Filtered Results (10)", ...
inline constexpr int kRecipientEntryCount = 7;
std::array<std::string, kRecipientEntryCount> recipientEntryTexts(const RecipientCounts& counts);

// The paragraph-style list's first entry in the PlainText format.
inline constexpr const char* kPlainTextEntry = "Plain Text";

// The HTML body a new compose window starts with: a small style sheet and,
// when the settings include it, the signature after three blank lines. The
// signature is HTML source and goes in unchanged.
std::string initialHtmlDocument(const store::SessionSettings& settings);
// The PlainText counterpart: three line feeds and the signature, or nothing.
std::string initialPlainText(const store::SessionSettings& settings);

// --- attachments: two slots in the draft, filled in order
inline constexpr const char* kNoFilesAttached = "No files attached.";
bool attachmentSlotsFull(const delivery::MessageDraft& draft);
// Puts `path` into the first free slot with its size; false when both are taken.
bool attachToDraft(delivery::MessageDraft& draft, const std::string& path, float sizeKb);
void clearAttachments(delivery::MessageDraft& draft);
// Exactly two decimals, whatever the locale: "2.00", "12.50".
std::string formatSizeKb(float sizeKb);
// One line per filled slot, "a.txt (2.00 kb)", joined by a line feed; "No
// files attached." when both slots are empty.
std::string attachmentLabelText(const delivery::MessageDraft& draft);

// --- drafts
// What opening a draft file does to the window's draft: From, Subject, the
// attachment paths and the body are taken from `stored`, the sizes of the
// attached files are read now through `sizeOf`; the recipients and the
// window's format stay as they are.
void takeDraftFields(delivery::MessageDraft& draft, const delivery::MessageDraft& stored,
                     float (*sizeOf)(const std::string& path));

// --- replacing the window's message
// Asked before Compose or New replaces a window whose message changed.
inline constexpr const char* kDiscardMessageText = "Discard the message you are writing?";
// Whether `now` holds something the user would lose compared with what the
// window opened with (or last saved): From, the single address, Subject, the
// body or the attachments. The "To" choice alone is not worth a question.
bool messageChanged(const delivery::MessageDraft& opened, const delivery::MessageDraft& now);

// Enabling rules remember the state they last applied and touch their
// controls only when it changes; -2 stands for nothing shown yet.
class ShownState {
public:
    // The state to apply now, or nothing when `wanted` is what is shown.
    std::optional<bool> update(bool wanted);
    void reset() { shown_ = -2; }
    int shown() const { return shown_; }

private:
    int shown_ = -2;
};

} // namespace velmora::compose
