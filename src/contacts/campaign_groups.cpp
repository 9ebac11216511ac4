#include "contacts/campaign_groups.h"

#include "store/text.h"
#include "views/contact_views.h"

#include <algorithm>

namespace velmora::contacts {

std::int32_t addGroupFromDialog(store::Session& session, const std::string& name,
                                const std::string& description) {
    if (store::trimSpaces(name).empty()) {
        return 0;
    }
    return session.addCampaignGroup(-1, name, description);
}

bool removeSelectedGroup(store::Session& session, std::int32_t selectedItemNumber,
                         platform::Prompter& prompter) {
    if (selectedItemNumber <= views::kGroupItemBase) {
        return false;
    }
    const std::int32_t group = selectedItemNumber - views::kGroupItemBase;
    if (!session.hasGroup(group)) {
        return false;
    }
    const auto live = std::count_if(
        session.contacts().begin(), session.contacts().end(),
        [group](const store::Contact& c) { return !c.isDeleted() && c.groupIndex == group; });
    if (live > 0) {
        prompter.message("Information", "The selected group currently contains " +
                                            std::to_string(live) +
                                            " entries. You cannot delete a non-empty group.");
        return false;
    }
    if (prompter.message("Confirm", "Are you sure you want to delete this campaign group?",
                         platform::PromptButtons::YesNoCancel) != platform::PromptAnswer::Yes) {
        return false;
    }
    session.removeCampaignGroup(group);
    return true;
}

} // namespace velmora::contacts
