#include "views/contact_views.h"

#include <gtest/gtest.h>

namespace velmora::views {

namespace {

struct Person {
    std::string email{};
    std::string name{};
    std::string company{};
    std::int32_t group = 1;
    store::ContactStatus status = store::ContactStatus::Subscribers;
    store::ContactTag tag = store::ContactTag::None;
    std::string notes{};
    std::string address{};
    std::string telephone{};
};

std::int32_t add(store::Session& s, const Person& p) {
    store::NewContact c;
    c.email = p.email;
    c.name = p.name;
    c.company = p.company;
    c.groupIndex = p.group;
    c.status = code(p.status);
    c.notes = p.notes;
    c.address = p.address;
    c.telephone = p.telephone;
    const std::int32_t slot = s.createContact(c, "12/07/2026");
    s.modifyContact(slot, [&](store::Contact& contact) { contact.tag = code(p.tag); });
    return slot;
}

using Slots = std::vector<std::int32_t>;

Slots filtered(const store::Session& s, std::string_view search, const Slots& checked = {}) {
    ContactViews views;
    views.refresh(s);
    views.applyFilters(s, search, checked);
    return views.list(ViewTab::AllEntries).rowSlots;
}

// Groups: 1 "Main (Default)", 2 "Fair", 3 "" (no tree item).
class ViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.resetToNew();
        s.addCampaignGroup(-1, "Fair", "");
        s.addCampaignGroup(-1, "", "");
        ann = add(s, {"ann@example.org", "Ann Lee", "ACME Ltd", 1, store::ContactStatus::Customers,
                      store::ContactTag::Star, "line one\r\nline two"});
        bob = add(s, {"bob@acme.example", "Bob Stone", "", 2, store::ContactStatus::Prospects});
        cat = add(s, {"cat@example.org", "Cat Ray", "", 3, store::ContactStatus::Subscribers,
                      store::ContactTag::Todo, "acme in notes only", "1 Acme Road", "acme-555"});
        gone = add(s, {"gone@acme.example", "Gone", "Acme", 1, store::ContactStatus::Customers});
        s.deleteContact(gone);
        dnc = add(s, {"dnc@example.org", "Dee", "", 2, store::ContactStatus::DoNotContact,
                      store::ContactTag::Irate});
    }
    store::Session s;
    std::int32_t ann = 0, bob = 0, cat = 0, gone = 0, dnc = 0;
};

} // namespace

TEST_F(ViewsTest, RefreshSortsContactsIntoTheirStatusTabsAndSkipsDeleted) {
    ContactViews views;
    views.refresh(s);
    EXPECT_EQ(views.list(ViewTab::Subscribers).rowSlots, Slots{cat});
    EXPECT_EQ(views.list(ViewTab::Prospects).rowSlots, Slots{bob});
    EXPECT_EQ(views.list(ViewTab::Customers).rowSlots, Slots{ann});
    EXPECT_EQ(views.list(ViewTab::DoNotContact).rowSlots, Slots{dnc});
    EXPECT_EQ(views.list(ViewTab::AllEntries).rowSlots, (Slots{ann, bob, cat, dnc}));
    EXPECT_FALSE(views.isFiltered());
    EXPECT_EQ(views.caption(ViewTab::AllEntries), "All Entries");
    EXPECT_EQ(views.caption(ViewTab::DoNotContact), "Do Not Contact");
}

TEST_F(ViewsTest, RowsShowTagIconsOnStatusTabsAndStatusIconsOnAllEntries) {
    ContactViews views;
    views.refresh(s);
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::Customers), 0).icon, 9);       // Star
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::Prospects), 0).icon, kNoIcon); // no tag
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::DoNotContact), 0).icon, 8);    // Irate
    const ContactList& all = views.list(ViewTab::AllEntries);
    EXPECT_EQ(displayedRow(s, all, 0).icon, 4);  // Customers
    EXPECT_EQ(displayedRow(s, all, 1).icon, 6);  // Prospects
    EXPECT_EQ(displayedRow(s, all, 2).icon, 40); // Subscribers
    EXPECT_EQ(displayedRow(s, all, 3).icon, 5);  // Do Not Contact
    EXPECT_EQ(tagIconImage(code(store::ContactTag::Todo)), 10);
    EXPECT_EQ(tagIconImage(code(store::ContactTag::Important)), 7);
}

TEST_F(ViewsTest, AnUnknownStatusIsListedOnlyInAllEntriesWithItsTagIcon) {
    const std::int32_t odd =
        add(s, {"odd@example.org", "Odd", "", 1, store::ContactStatus::Subscribers,
                store::ContactTag::Important});
    s.modifyContact(odd, [](store::Contact& c) { c.status = 7; });
    ContactViews views;
    views.refresh(s);
    for (int tab = 0; tab < 4; ++tab) {
        const auto& rows = views.list(static_cast<ViewTab>(tab)).rowSlots;
        EXPECT_EQ(std::count(rows.begin(), rows.end(), odd), 0) << "tab " << tab;
    }
    const ContactList& all = views.list(ViewTab::AllEntries);
    ASSERT_EQ(all.rowSlots.back(), odd);
    EXPECT_EQ(displayedRow(s, all, all.rowSlots.size() - 1).icon, 7);
    // The filter's rows always show the status icon, which it has none of.
    views.applyFilters(s, "odd@", {});
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::AllEntries), 0).icon, kNoIcon);
}

TEST_F(ViewsTest, NotesAreJoinedInRefreshedRowsAndUnchangedInFilteredRows) {
    ContactViews views;
    views.refresh(s);
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::Customers), 0).notes, "line one\r; line two");
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::AllEntries), 0).notes, "line one\r; line two");
    views.applyFilters(s, "", {});
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::AllEntries), 0).notes, "line one\r\nline two");
    // The other lists keep what the refresh built.
    EXPECT_EQ(displayedRow(s, views.list(ViewTab::Customers), 0).notes, "line one\r; line two");
    const DisplayedRow row = displayedRow(s, views.list(ViewTab::AllEntries), 0);
    EXPECT_EQ(row.slot, ann);
    EXPECT_EQ(row.email, "ann@example.org");
    EXPECT_EQ(row.name, "Ann Lee");
    EXPECT_EQ(row.lastContacted, "never");
}

TEST_F(ViewsTest, NothingTypedOrCheckedListsEveryLiveContactAsFiltered) {
    ContactViews views;
    views.refresh(s);
    views.applyFilters(s, "", {});
    EXPECT_EQ(views.list(ViewTab::AllEntries).rowSlots, (Slots{ann, bob, cat, dnc}));
    EXPECT_TRUE(views.isFiltered());
    EXPECT_EQ(views.caption(ViewTab::AllEntries), "All Entries ( filtered )");
    // The placeholder counts as nothing typed, in any case and with spaces.
    EXPECT_EQ(filtered(s, "Search Filter..."), (Slots{ann, bob, cat, dnc}));
    EXPECT_EQ(filtered(s, "  search FILTER...  "), (Slots{ann, bob, cat, dnc}));
    views.refresh(s);
    EXPECT_FALSE(views.isFiltered());
}

TEST_F(ViewsTest, SearchLooksAtEmailNameAndCompanyOnlyIgnoringCase) {
    // ann: company "ACME Ltd"; bob: e-mail "@acme."; cat has acme only in
    // notes, address and telephone; the deleted one is never listed.
    EXPECT_EQ(filtered(s, "ACME"), (Slots{ann, bob}));
    EXPECT_EQ(filtered(s, "  stone "), Slots{bob});
    EXPECT_EQ(filtered(s, "line one"), Slots{});
    EXPECT_EQ(filtered(s, "@example.org"), (Slots{ann, cat, dnc}));
    EXPECT_EQ(filtered(s, "nobody"), Slots{});
}

TEST_F(ViewsTest, SearchFoldsAccentedCapitals) {
    const std::int32_t zoe = add(s, {"zoe@example.org", "ZOË ÅNGSTRÖM", "", 1});
    EXPECT_EQ(filtered(s, "zoë ångström"), Slots{zoe});
    EXPECT_EQ(filtered(s, "ÅNG"), Slots{zoe});
    EXPECT_EQ(searchTextFromField(" ÄÖÜ x "), "äöü x");
    // The multiplication sign has no lower case and stays as it is.
    EXPECT_EQ(searchTextFromField("×"), "×");
}

TEST_F(ViewsTest, CheckedTreeItemsCombineWithOr) {
    const std::int32_t mainGroup = kGroupItemBase + 1;
    const std::int32_t fair = kGroupItemBase + 2;
    const std::int32_t customers = kStatusItemBase + code(store::ContactStatus::Customers);
    const std::int32_t doNotContact = kStatusItemBase + code(store::ContactStatus::DoNotContact);
    EXPECT_EQ(doNotContact, 999);
    EXPECT_EQ(filtered(s, "", {mainGroup}), Slots{ann});
    EXPECT_EQ(filtered(s, "", {fair}), (Slots{bob, dnc}));
    EXPECT_EQ(filtered(s, "", {fair, customers}), (Slots{ann, bob, dnc}));
    EXPECT_EQ(filtered(s, "", {doNotContact}), Slots{dnc});
    // Both tests must pass: the search narrows what the tree lets through.
    EXPECT_EQ(filtered(s, "bob", {fair, customers}), Slots{bob});
}

TEST_F(ViewsTest, ACheckedHeadingCountsAsCheckedButNeverMatches) {
    EXPECT_EQ(filtered(s, "", {kGroupHeadingNumber}), Slots{});
    EXPECT_EQ(filtered(s, "", {kStatusHeadingNumber}), Slots{});
    EXPECT_EQ(filtered(s, "", {kGroupHeadingNumber, kGroupItemBase + 1}), Slots{ann});
}

TEST_F(ViewsTest, AGroupWithoutNameHasNoTreeItemButItsContactsCanBeFound) {
    const std::vector<FilterTreeItem> expected{
        {0, "Group Select", 101},  {1, "Main (Default)", 2001}, {1, "Fair", 2002},
        {0, "Status Select", 201}, {1, "Subscribers", 1000},    {1, "Prospects", 1001},
        {1, "Customers", 1002},    {1, "Do Not Contact", 999},
    };
    EXPECT_EQ(buildFilterTree(s), expected);
    EXPECT_EQ(filtered(s, "", {kStatusItemBase + code(store::ContactStatus::Subscribers)}),
              Slots{cat});
    EXPECT_EQ(filtered(s, "cat ray"), Slots{cat});
}

TEST_F(ViewsTest, FilteringLeavesTheOtherListsAlone) {
    ContactViews views;
    views.refresh(s);
    views.applyFilters(s, "nobody", {});
    EXPECT_TRUE(views.list(ViewTab::AllEntries).rowSlots.empty());
    EXPECT_EQ(views.list(ViewTab::Customers).rowSlots, Slots{ann});
    EXPECT_EQ(views.tree().size(), 8u);
}

TEST(StatusLine, CountsLiveContactsTheMailtrayAndToday) {
    store::Session s;
    s.resetToNew();
    EXPECT_EQ(statusLineText(s), "Total Records: 0 - Mailtray: 0 - Contacted Today: 0");
    for (int i = 0; i < 13; ++i) {
        store::NewContact c;
        c.email = "p" + std::to_string(i) + "@example.org";
        s.createContact(c, "12/07/2026");
    }
    s.deleteContact(5);
    for (std::int32_t slot = 1; slot <= 3; ++slot) {
        store::Contact entry = s.contact(slot);
        entry.id = slot;
        s.addMailtrayEntry(entry);
    }
    EXPECT_EQ(statusLineText(s), "Total Records: 12 - Mailtray: 3 - Contacted Today: 0");
    s.contactedToday = 1234;
    EXPECT_EQ(statusLineText(s), "Total Records: 12 - Mailtray: 3 - Contacted Today: 1234");
}

} // namespace velmora::views
