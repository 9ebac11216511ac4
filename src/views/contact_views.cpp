#include "views/contact_views.h"

#include "platform/image_names.h"
#include "store/case_folding.h"
#include "store/text.h"

#include <algorithm>

namespace velmora::views {

namespace {

bool isKnownStatus(std::int32_t status) {
    return std::any_of(std::begin(store::kVisibleStatuses), std::end(store::kVisibleStatuses),
                       [status](store::ContactStatus s) { return code(s) == status; });
}

// The list (tab 0 to 3) of a status, or -1.
int tabOfStatus(std::int32_t status) {
    for (int tab = 0; tab < 4; ++tab) {
        if (code(store::kVisibleStatuses[tab]) == status) {
            return tab;
        }
    }
    return -1;
}

} // namespace

std::string_view tabCaption(ViewTab tab, bool filtered) {
    if (tab == ViewTab::AllEntries) {
        return filtered ? kAllEntriesFilteredCaption : kAllEntriesCaption;
    }
    return store::statusCaption(tabStatus(tab));
}

std::int32_t tabStatus(ViewTab tab) {
    const int index = tabIndex(tab);
    if (index < 0 || index > 3) {
        return code(store::ContactStatus::Deleted);
    }
    return code(store::kVisibleStatuses[index]);
}

int statusIconImage(std::int32_t status) {
    switch (status) {
    case code(store::ContactStatus::Subscribers):
        return platform::imageNumber(platform::ImageName::StatusSubscribers);
    case code(store::ContactStatus::Prospects):
        return platform::imageNumber(platform::ImageName::StatusProspects);
    case code(store::ContactStatus::Customers):
        return platform::imageNumber(platform::ImageName::StatusCustomers);
    case code(store::ContactStatus::DoNotContact):
        return platform::imageNumber(platform::ImageName::StatusDoNotContact);
    default:
        return kNoIcon;
    }
}

int tagIconImage(std::int32_t tag) {
    switch (tag) {
    case code(store::ContactTag::Todo):
        return platform::imageNumber(platform::ImageName::TagTodo);
    case code(store::ContactTag::Important):
        return platform::imageNumber(platform::ImageName::TagImportant);
    case code(store::ContactTag::Irate):
        return platform::imageNumber(platform::ImageName::TagIrate);
    case code(store::ContactTag::Star):
        return platform::imageNumber(platform::ImageName::TagStar);
    default:
        return kNoIcon;
    }
}

int rowIcon(const store::Contact& contact, RowIcon icon) {
    switch (icon) {
    case RowIcon::Tag:
        return tagIconImage(contact.tag);
    case RowIcon::Status:
        return statusIconImage(contact.status);
    case RowIcon::StatusElseTag:
        return isKnownStatus(contact.status) ? statusIconImage(contact.status)
                                             : tagIconImage(contact.tag);
    }
    return kNoIcon;
}

std::string displayedNotes(std::string_view notes, NotesDisplay display) {
    if (display == NotesDisplay::AsStored) {
        return std::string(notes);
    }
    std::string shown;
    shown.reserve(notes.size() + 8);
    for (const char c : notes) {
        if (c == '\n') {
            shown += "; ";
        } else {
            shown += c;
        }
    }
    return shown;
}

DisplayedRow displayedRow(const store::Session& session, const ContactList& list, std::size_t row) {
    DisplayedRow shown;
    shown.slot = list.rowSlots.at(row);
    if (!session.hasContact(shown.slot)) {
        return shown;
    }
    const store::Contact& c = session.contact(shown.slot);
    shown.icon = rowIcon(c, list.icon);
    shown.email = c.email.str();
    shown.name = c.name.str();
    shown.lastContacted = c.lastContacted.str();
    shown.notes = displayedNotes(c.notes, list.notes);
    return shown;
}

std::vector<FilterTreeItem> buildFilterTree(const store::Session& session) {
    std::vector<FilterTreeItem> items;
    items.push_back({0, "Group Select", kGroupHeadingNumber});
    for (std::int32_t slot = 1; slot <= session.groupCount(); ++slot) {
        const std::string& name = session.group(slot).name;
        if (!name.empty()) {
            items.push_back({1, name, kGroupItemBase + slot});
        }
    }
    items.push_back({0, "Status Select", kStatusHeadingNumber});
    for (const store::ContactStatus status : store::kVisibleStatuses) {
        items.push_back(
            {1, std::string(store::statusCaption(code(status))), kStatusItemBase + code(status)});
    }
    return items;
}

std::string searchTextFromField(std::string_view fieldText) {
    std::string text = store::foldCase(store::trimSpaces(fieldText));
    if (text == "search filter...") {
        text.clear();
    }
    return text;
}

ContactFilter::ContactFilter(std::string_view fieldText,
                             const std::vector<std::int32_t>& checkedNumbers)
    : search_(searchTextFromField(fieldText)), anyChecked_(!checkedNumbers.empty()) {
    // Headings (below 999) count as checked but never match.
    for (const std::int32_t number : checkedNumbers) {
        if (number >= 999 && number <= 1998) {
            statuses_.push_back(number - kStatusItemBase);
        } else if (number >= 1999) {
            groups_.push_back(number - kGroupItemBase);
        }
    }
    std::sort(statuses_.begin(), statuses_.end());
    std::sort(groups_.begin(), groups_.end());
}

FoldedSearch::FoldedSearch(std::string needle) : needle_(std::move(needle)) {
    if (needle_.empty()) {
        return;
    }
    // The bytes a match can start with: every byte that folds to the first
    // one, after a lead byte 0xC3 or not.
    const auto first = static_cast<unsigned char>(needle_[0]);
    for (int c = 0; c < 256; ++c) {
        const auto byte = static_cast<unsigned char>(c);
        if (store::foldedByte(byte, 0) == first || store::foldedByte(byte, 0xC3) == first) {
            firstBytes_[static_cast<std::size_t>(c)] = true;
        }
    }
}

bool FoldedSearch::foundIn(std::string_view text) const {
    const std::size_t m = needle_.size();
    if (m == 0) {
        return true;
    }
    if (text.size() < m) {
        return false;
    }
    const auto* h = reinterpret_cast<const unsigned char*>(text.data());
    const auto* n = reinterpret_cast<const unsigned char*>(needle_.data());
    const std::size_t last = text.size() - m;
    for (std::size_t i = 0; i <= last; ++i) {
        if (!firstBytes_[h[i]]) {
            continue;
        }
        // A match starting inside a two-byte capital folds its first byte
        // with the lead byte as context, as folding the whole text would.
        if (store::foldedByte(h[i], i > 0 ? h[i - 1] : 0) != n[0]) {
            continue;
        }
        std::size_t k = 1;
        while (k < m && store::foldedByte(h[i + k], h[i + k - 1]) == n[k]) {
            ++k;
        }
        if (k == m) {
            return true;
        }
    }
    return false;
}

bool ContactFilter::textMatches(const store::Contact& contact) const {
    return search_.empty() || search_.foundIn(contact.email) || search_.foundIn(contact.name) ||
           search_.foundIn(contact.company);
}

bool ContactFilter::treeMatches(const store::Contact& contact) const {
    if (!anyChecked_) {
        return true;
    }
    return std::binary_search(statuses_.begin(), statuses_.end(), contact.status) ||
           std::binary_search(groups_.begin(), groups_.end(), contact.groupIndex);
}

bool ContactFilter::passes(const store::Contact& contact) const {
    return !contact.isDeleted() && textMatches(contact) && treeMatches(contact);
}

ContactViews::ContactViews() {
    for (ContactList& list : lists_) {
        list.icon = RowIcon::Tag;
    }
    lists_[4].icon = RowIcon::StatusElseTag;
}

void ContactViews::refresh(const store::Session& session) {
    tree_ = buildFilterTree(session);
    for (ContactList& list : lists_) {
        list.rowSlots.clear();
        list.notes = NotesDisplay::Joined;
    }
    ContactList& all = lists_[4];
    all.icon = RowIcon::StatusElseTag;
    all.rowSlots.reserve(static_cast<std::size_t>(session.liveContactCount()));
    std::int32_t slot = 0;
    for (const store::Contact& c : session.contacts()) {
        ++slot;
        if (c.isDeleted()) {
            continue;
        }
        all.rowSlots.push_back(slot);
        const int tab = tabOfStatus(c.status);
        if (tab >= 0) {
            lists_[static_cast<std::size_t>(tab)].rowSlots.push_back(slot);
        }
    }
    filtered_ = false;
}

void ContactViews::applyFilters(const store::Session& session, std::string_view fieldText,
                                const std::vector<std::int32_t>& checkedNumbers) {
    const ContactFilter filter(fieldText, checkedNumbers);
    ContactList& all = lists_[4];
    all.rowSlots.clear();
    all.icon = RowIcon::Status;
    all.notes = NotesDisplay::AsStored;
    std::int32_t slot = 0;
    for (const store::Contact& c : session.contacts()) {
        ++slot;
        if (filter.passes(c)) {
            all.rowSlots.push_back(slot);
        }
    }
    filtered_ = true;
}

std::string statusLineText(const store::Session& session) {
    return "Total Records: " + std::to_string(session.liveContactCount()) +
           " - Mailtray: " + std::to_string(session.mailtrayCount()) +
           " - Contacted Today: " + std::to_string(session.contactedToday);
}

} // namespace velmora::views
