#pragma once

#include "contacts/view_access.h"
#include "platform/clipboard.h"
#include "store/clock.h"
#include "store/session.h"
#include "support/test_support.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace velmora::testing_support {

// The main window's views as the dialogs see them: a selection and a
// filtered list the test sets, and counters of the refreshes asked for.
class FakeViews final : public contacts::ViewAccess {
public:
    std::vector<std::int32_t> selected;
    std::vector<std::int32_t> filtered;
    std::int32_t treeItem = 0;
    int refreshes = 0;
    int statusLines = 0;

    std::vector<std::int32_t> selectedRows() const override { return selected; }
    std::vector<std::int32_t> filteredRows() const override { return filtered; }
    std::int32_t selectedTreeItemNumber() const override { return treeItem; }
    void refreshViews() override { ++refreshes; }
    void updateStatusLine() override { ++statusLines; }
};

inline store::LocalDateTime march5() {
    store::LocalDateTime t;
    t.year = 2026;
    t.month = 3;
    t.day = 5;
    return t;
}

// A new session (group 1) with extra groups and one contact per address,
// each named after its address.
inline void fillSession(store::Session& s, std::initializer_list<const char*> groups,
                        std::initializer_list<const char*> emails) {
    s.resetToNew();
    for (const char* g : groups) {
        s.addCampaignGroup(-1, g, "");
    }
    for (const char* e : emails) {
        store::NewContact c;
        c.email = e;
        c.name = std::string("Name of ") + e;
        s.createContact(c, "01/01/2026");
    }
}

} // namespace velmora::testing_support
