#pragma once

#include "store/session.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::views {

// The five tabs of the main window, in tab order; the index is the tab's.
enum class ViewTab : int {
    Subscribers = 0,
    Prospects = 1,
    Customers = 2,
    DoNotContact = 3,
    AllEntries = 4
};
inline constexpr int kTabCount = 5;
constexpr int tabIndex(ViewTab tab) {
    return static_cast<int>(tab);
}

inline constexpr const char* kAllEntriesCaption = "All Entries";
inline constexpr const char* kAllEntriesFilteredCaption = "All Entries ( filtered )";
// The search field's first text; applying it counts as no search text.
inline constexpr const char* kSearchPlaceholder = "Search Filter...";

// Caption of a tab; the fifth one names the filter while it is applied.
std::string_view tabCaption(ViewTab tab, bool filtered = false);
// The status whose contacts a tab lists; the fifth tab has none.
std::int32_t tabStatus(ViewTab tab);

// Image numbers of the list icons, or kNoIcon.
inline constexpr int kNoIcon = -1;
int statusIconImage(std::int32_t status);
int tagIconImage(std::int32_t tag);

// Which icon a list gives its rows. The unfiltered fifth list shows the
// status icon, or the tag icon for a status code it does not know.
enum class RowIcon { Tag, Status, StatusElseTag };
// Lists built by a refresh show the notes on one line ("; " for each line
// feed); the filter's result shows them as stored.
enum class NotesDisplay { Joined, AsStored };

enum class ListColumn : int { Icon = 0, Email = 1, Name = 2, LastContacted = 3, Notes = 4 };
inline constexpr int kListColumnCount = 5;
struct ListColumnInfo {
    const char* caption;
    int width;
};
inline constexpr std::array<ListColumnInfo, kListColumnCount> kListColumns{{
    {"", 24},
    {"Email Address", 180},
    {"Contact Name", 160},
    {"Last Contacted", 86},
    {"Notes", 620},
}};

// One list: the contact slots of its rows in row order, and how they show.
struct ContactList {
    std::vector<std::int32_t> rowSlots;
    RowIcon icon = RowIcon::Tag;
    NotesDisplay notes = NotesDisplay::Joined;
};

int rowIcon(const store::Contact& contact, RowIcon icon);
std::string displayedNotes(std::string_view notes, NotesDisplay display);

// What one row shows, for the command-line tool and the tests; the window's
// model reads the same fields one cell at a time.
struct DisplayedRow {
    std::int32_t slot = 0;
    int icon = kNoIcon;
    std::string email;
    std::string name;
    std::string lastContacted;
    std::string notes;
};
DisplayedRow displayedRow(const store::Session& session, const ContactList& list, std::size_t row);

// Filter tree: headings and their items, each with its item number.
inline constexpr std::int32_t kGroupHeadingNumber = 101;
inline constexpr std::int32_t kStatusHeadingNumber = 201;
inline constexpr std::int32_t kStatusItemBase = 1000; // + status code
inline constexpr std::int32_t kGroupItemBase = 2000;  // + group slot
struct FilterTreeItem {
    int level = 0;
    std::string caption;
    std::int32_t number = 0;
    friend bool operator==(const FilterTreeItem&, const FilterTreeItem&) = default;
};
std::vector<FilterTreeItem> buildFilterTree(const store::Session& session);

// The search text a field's text stands for: trimmed of spaces and folded to
// lower case; the placeholder stands for none.
std::string searchTextFromField(std::string_view fieldText);

// A folded search text and a case-insensitive test for it in other texts,
// with nothing allocated per text.
class FoldedSearch {
public:
    explicit FoldedSearch(std::string needle);
    bool empty() const { return needle_.empty(); }
    bool foundIn(std::string_view text) const;

private:
    std::string needle_;
    std::array<bool, 256> firstBytes_{};
};

// The search and tree tests of Apply Filters, prepared once per run.
class ContactFilter {
public:
    ContactFilter(std::string_view fieldText, const std::vector<std::int32_t>& checkedNumbers);
    // Not Deleted, and passes both tests.
    bool passes(const store::Contact& contact) const;

private:
    bool textMatches(const store::Contact& contact) const;
    bool treeMatches(const store::Contact& contact) const;

    FoldedSearch search_;
    bool anyChecked_ = false;
    std::vector<std::int32_t> statuses_; // sorted
    std::vector<std::int32_t> groups_;   // sorted
};

// The rows of the five lists and the filter tree, rebuilt from the session.
// Rows refer to contacts by slot; nothing of a contact is copied.
class ContactViews {
public:
    ContactViews();
    // Rebuilds the tree and the five lists and drops any filter.
    void refresh(const store::Session& session);
    // Replaces the fifth list by the contacts that pass the search text and
    // the checked tree items (item numbers); the other lists stay.
    void applyFilters(const store::Session& session, std::string_view fieldText,
                      const std::vector<std::int32_t>& checkedNumbers);

    const std::vector<FilterTreeItem>& tree() const { return tree_; }
    const ContactList& list(ViewTab tab) const {
        return lists_[static_cast<std::size_t>(tabIndex(tab))];
    }
    bool isFiltered() const { return filtered_; }
    std::string_view caption(ViewTab tab) const { return tabCaption(tab, filtered_); }

private:
    std::vector<FilterTreeItem> tree_;
    std::array<ContactList, kTabCount> lists_;
    bool filtered_ = false;
};

// "Total Records: N - Mailtray: M - Contacted Today: C".
std::string statusLineText(const store::Session& session);

} // namespace velmora::views
