#include "contacts/contact_commands.h"

#include "contacts/campaign_groups.h"
#include "contacts/contact_maintenance.h"

bool deleteEntriesCommand(Session& session, ViewAccess& views, Prompter& prompter) {
    if (prompter.message("Confirm Delete",
                         "Are you sure you want to permanently delete the selected entries?",
                         PromptButtons::YesNoDefaultNo) != PromptAnswer::Yes) {
        return false;
    }
    deleteSelectedEntries(session, views.selectedRows());
    views.refreshViews();
    views.updateStatusLine();
    return true;
}

bool removeCampaignGroupCommand(Session& session, ViewAccess& views, Prompter& prompter) {
    if (!removeSelectedGroup(session, views.selectedTreeItemNumber(), prompter)) {
        return false;
    }
    views.refreshViews();
    return true;
}
