#pragma once

#include <cstdint>
#include <vector>

namespace velmora::contacts {

// What the contact dialogs and the Mailtray window need of the main window's
// views; the main window implements it, tests use a fake.
class ViewAccess {
public:
    virtual ~ViewAccess() = default;
    // Slots of the selected rows of the list on the tab shown now, in list order.
    virtual std::vector<std::int32_t> selectedRows() const = 0;
    // Slots of every row of the All Entries list as it is shown now.
    virtual std::vector<std::int32_t> filteredRows() const = 0;
    // The number of the filter tree's selected item, 0 when none.
    virtual std::int32_t selectedTreeItemNumber() const = 0;
    // Rebuild the tree and the five lists (dropping any filter), and the status line.
    virtual void refreshViews() = 0;
    virtual void updateStatusLine() = 0;
};

} // namespace velmora::contacts
