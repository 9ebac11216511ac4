#include "contacts/contact_maintenance.h"

#include "store/text.h"
#include "store/untrusted_text.h"

#include <array>

namespace velmora::contacts {

namespace {

const char* const kConfirmBoth =
    "Are you sure you want to set all the selected items to the new group and status settings?";
const char* const kConfirmStatus =
    "Are you sure you want to set all the selected items to the new status settings?";
const char* const kConfirmGroup =
    "Are you sure you want to move all the selected items to the new group settings?";

std::string joinedField(const store::Session& session, const SlotList& selected,
                        store::CompactString store::Contact::*field) {
    std::string text;
    for (std::size_t i = 0; i < selected.size() && i < 5; ++i) {
        if (i > 0 && !text.empty()) {
            text += ";  ";
        }
        text += (session.contact(selected[i]).*field).view();
    }
    if (selected.size() > 5) {
        text += "...";
    }
    return text;
}

} // namespace

std::optional<ContactEditDisplay> contactEditDisplay(const store::Session& session,
                                                     const SlotList& selected) {
    if (selected.empty()) {
        return std::nullopt;
    }
    ContactEditDisplay d;
    d.documentGeneration = session.documentGeneration();
    if (selected.size() == 1) {
        const store::Contact& c = session.contact(selected.front());
        d.title = "Edit Contact";
        d.email = c.email.str();
        d.name = c.name.str();
        d.address = c.address.str();
        d.telephone = c.telephone.str();
        d.company = c.company.str();
        d.notes = c.notes.str();
        d.groupPosition = c.groupIndex - 1;
        if (!store::statusCaption(c.status).empty()) {
            d.status = c.status;
        }
        return d;
    }
    d.multi = true;
    d.title = "Edit Contacts";
    d.email = joinedField(session, selected, &store::Contact::email);
    d.name = joinedField(session, selected, &store::Contact::name);
    d.address = joinedField(session, selected, &store::Contact::address);
    d.telephone = joinedField(session, selected, &store::Contact::telephone);
    d.company = joinedField(session, selected, &store::Contact::company);
    return d;
}

void applyContactEdits(store::Session& session, const ContactEditDisplay& opened,
                       std::int32_t openedSlot, const SlotList& selectedNow,
                       const ContactEditInput& input, platform::Prompter& prompter) {
    if (opened.documentGeneration != session.documentGeneration()) {
        return;
    }
    if (!opened.multi) {
        // Deleted meanwhile (or removed as a duplicate): as with nothing
        // selected, nothing changes; Apply must not bring it back.
        if (!session.hasContact(openedSlot) || session.contact(openedSlot).isDeleted()) {
            return;
        }
        if (store::hasControlCharacter(input.email)) {
            prompter.message("Error", store::controlCharacterAddressText(input.email) +
                                          " Nothing was changed.");
            return;
        }
        session.modifyContact(openedSlot, [&](store::Contact& c) {
            c.email = input.email;
            c.name = input.name;
            c.telephone = input.telephone;
            c.company = input.company;
            c.notes = input.notes;
            c.address = input.address;
            c.groupIndex = input.groupPosition + 1;
            c.previousStatus = c.status;
            c.status = input.status.value_or(code(store::ContactStatus::Subscribers));
        });
        return;
    }
    if (selectedNow.empty()) {
        return;
    }
    const bool groupChosen = input.groupPosition >= 0;
    const bool statusChosen = input.status.has_value();
    bool applyGroup = true;
    bool applyStatus = true;
    if (groupChosen && statusChosen) {
        if (prompter.message("Confirm", kConfirmBoth, platform::PromptButtons::YesNo) !=
            platform::PromptAnswer::Yes) {
            applyGroup = false;
            applyStatus = false;
        }
    } else {
        if (statusChosen &&
            prompter.message("Confirm", kConfirmStatus, platform::PromptButtons::YesNo) !=
                platform::PromptAnswer::Yes) {
            applyStatus = false;
        }
        if (groupChosen &&
            prompter.message("Confirm", kConfirmGroup, platform::PromptButtons::YesNo) !=
                platform::PromptAnswer::Yes) {
            applyGroup = false;
        }
    }
    const bool appendNotes = !store::trimSpaces(input.notes).empty();
    for (const std::int32_t slot : selectedNow) {
        if (!session.hasContact(slot)) {
            continue;
        }
        session.modifyContact(slot, [&](store::Contact& c) {
            if (appendNotes) {
                c.notes = c.notes.empty() ? input.notes : c.notes.str() + "\n" + input.notes;
            }
            if (groupChosen && applyGroup) {
                c.groupIndex = input.groupPosition + 1;
            }
            if (statusChosen && applyStatus) {
                c.previousStatus = c.status;
                c.status = *input.status;
            }
        });
    }
}

void deleteSelectedEntries(store::Session& session, const SlotList& selected) {
    for (const std::int32_t slot : selected) {
        if (session.hasContact(slot)) {
            session.deleteContact(slot);
        }
    }
}

SlotList liveSelection(const store::Session& session, const SlotList& selected) {
    SlotList live;
    for (const std::int32_t slot : selected) {
        if (session.hasContact(slot) && !session.contact(slot).isDeleted()) {
            live.push_back(slot);
        }
    }
    return live;
}

std::string applySelectionTag(store::Session& session, const SlotList& selected,
                              std::int32_t tagPosition) {
    std::string caption;
    for (const std::int32_t slot : selected) {
        if (session.hasContact(slot)) {
            session.modifyContact(slot, [&](store::Contact& c) { c.tag = tagPosition; });
            caption = store::tagCaption(tagPosition);
        }
    }
    return "The selected entries have been tagged as \"" + caption + "\"";
}

std::string applySelectionGroup(store::Session& session, const SlotList& selected,
                                std::int32_t groupPosition) {
    for (const std::int32_t slot : selected) {
        if (session.hasContact(slot)) {
            session.modifyContact(slot,
                                  [&](store::Contact& c) { c.groupIndex = groupPosition + 1; });
        }
    }
    const std::string name =
        session.hasGroup(groupPosition + 1) ? session.group(groupPosition + 1).name : "";
    return "The selected entries have been moved to Campaign Group \"" + name + "\"";
}

std::string applySelectionStatus(store::Session& session, const SlotList& selected,
                                 std::int32_t statusPosition) {
    if (statusPosition < 0 || statusPosition >= 4) {
        return "The selected entries have been assigned the status \"\"";
    }
    const std::int32_t status = kStatusDropDownCodes[statusPosition];
    std::string caption;
    for (const std::int32_t slot : selected) {
        if (session.hasContact(slot)) {
            session.modifyContact(slot, [&](store::Contact& c) { c.status = status; });
            caption = store::statusCaption(status);
        }
    }
    return "The selected entries have been assigned the status \"" + caption + "\"";
}

} // namespace velmora::contacts
