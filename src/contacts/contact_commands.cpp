#include "contacts/contact_commands.h"

#include "contacts/campaign_groups.h"
#include "contacts/contact_maintenance.h"

namespace velmora::contacts {

bool deleteEntriesCommand(store::Session& session, ViewAccess& views,
                          platform::Prompter& prompter) {
    if (prompter.message("Confirm Delete",
                         "Are you sure you want to permanently delete the selected entries?",
                         platform::PromptButtons::YesNoDefaultNo) != platform::PromptAnswer::Yes) {
        return false;
    }
    deleteSelectedEntries(session, views.selectedRows());
    views.refreshViews();
    views.updateStatusLine();
    return true;
}

bool removeCampaignGroupCommand(store::Session& session, ViewAccess& views,
                                platform::Prompter& prompter) {
    if (!removeSelectedGroup(session, views.selectedTreeItemNumber(), prompter)) {
        return false;
    }
    views.refreshViews();
    return true;
}

} // namespace velmora::contacts
