#pragma once

#include "store/session_commands.h"

#include <cstdint>
#include <vector>

namespace velmora::contacts {

// The one window-callback interface: what the session commands need of the
// window (`SessionHooks`: refresh, title, status line) and what the contact
// dialogs and the Mailtray window read of its views. The main window
// implements it, tests use a fake.
class ViewAccess : public store::SessionHooks {
public:
    // Slots of the selected rows of the list on the tab shown now, in list order.
    virtual std::vector<std::int32_t> selectedRows() const = 0;
    // Slots of every row of the All Entries list as it is shown now.
    virtual std::vector<std::int32_t> filteredRows() const = 0;
    // The number of the filter tree's selected item, 0 when none.
    virtual std::int32_t selectedTreeItemNumber() const = 0;
};

} // namespace velmora::contacts
