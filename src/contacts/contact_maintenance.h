#pragma once

#include "platform/prompter.h"
#include "store/session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::contacts {

using SlotList = std::vector<std::int32_t>;

// What the Edit dialog shows when it opens for the selected rows.
struct ContactEditDisplay : store::ContactTexts {
    bool multi = false;
    std::string title;                    // "Edit Contact" or "Edit Contacts"
    std::int32_t groupPosition = -1;      // drop-down entry, -1 for none
    std::optional<std::int32_t> status;   // the status choice set, if any
    std::uint64_t documentGeneration = 0; // of the session when the dialog opened
};

// Nothing opens for an empty selection. Several rows show the first five
// values of each of the five fields joined by ";  " (and "..." after a sixth).
std::optional<ContactEditDisplay> contactEditDisplay(const store::Session& session,
                                                     const SlotList& selected);

// What the Edit dialog holds when Apply is pressed.
struct ContactEditInput : store::ContactTexts {
    std::int32_t groupPosition = -1;    // -1: no entry selected
    std::optional<std::int32_t> status; // the status choice set, if any
};

// Applies the Edit dialog. A dialog opened for one contact edits that
// contact (its fields show nothing else); one opened for several applies the
// several-contacts rules to the rows selected now, so the joined display
// texts are never written into a contact whatever the selection became.
// After New Session or Open Session the dialog's contacts are gone, so Apply
// changes nothing. Multi-edit asks its questions through `prompter`.
void applyContactEdits(store::Session& session, const ContactEditDisplay& opened,
                       std::int32_t openedSlot, const SlotList& selectedNow,
                       const ContactEditInput& input, platform::Prompter& prompter);

void deleteSelectedEntries(store::Session& session, const SlotList& selected);

// The rows a selection dialog lists: the selected contacts that are not Deleted.
SlotList liveSelection(const store::Session& session, const SlotList& selected);

// The three selection dialogs' Apply: write the field for every selected
// contact and return the "Information" message to show.
std::string applySelectionTag(store::Session& session, const SlotList& selected,
                              std::int32_t tagPosition);
std::string applySelectionGroup(store::Session& session, const SlotList& selected,
                                std::int32_t groupPosition);
std::string applySelectionStatus(store::Session& session, const SlotList& selected,
                                 std::int32_t statusPosition);

// The entries of the status drop-down, in order, as codes.
inline constexpr std::int32_t kStatusDropDownCodes[] = {0, 1, 2, -1};

} // namespace velmora::contacts
