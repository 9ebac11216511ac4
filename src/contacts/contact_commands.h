#pragma once

#include "contacts/view_access.h"
#include "platform/prompter.h"
#include "store/session.h"

// Commands of the main window that need no window of their own.

// Delete Entries: asks first (also when nothing is selected), then marks the
// rows selected at that moment Deleted. True when the user answered Yes.
bool deleteEntriesCommand(Session& session, ViewAccess& views, Prompter& prompter);

// Remove Campaign Group for the filter tree's selected item. True when a
// group was removed.
bool removeCampaignGroupCommand(Session& session, ViewAccess& views, Prompter& prompter);
