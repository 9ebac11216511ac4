#include "contacts/campaign_groups.h"

#include "views/contact_views.h"

#include <algorithm>

std::int32_t addGroupFromDialog(Session& session, const std::string& name,
                                const std::string& description) {
    if (trimSpaces(name).empty()) {
        return 0;
    }
    return session.addCampaignGroup(-1, name, description);
}

bool removeSelectedGroup(Session& session, std::int32_t selectedItemNumber, Prompter& prompter) {
    if (selectedItemNumber <= kGroupItemBase) {
        return false;
    }
    const std::int32_t group = selectedItemNumber - kGroupItemBase;
    if (!session.hasGroup(group)) {
        return false;
    }
    const auto live = std::count_if(
        session.contacts().begin(), session.contacts().end(),
        [group](const Contact& c) { return !c.isDeleted() && c.groupIndex == group; });
    if (live > 0) {
        prompter.message("Information", "The selected group currently contains " +
                                            std::to_string(live) +
                                            " entries. You cannot delete a non-empty group.");
        return false;
    }
    if (prompter.message("Confirm", "Are you sure you want to delete this campaign group?",
                         PromptButtons::YesNoCancel) != PromptAnswer::Yes) {
        return false;
    }
    session.removeCampaignGroup(group);
    return true;
}
