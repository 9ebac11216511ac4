#include "store/session.h"

#include "store/case_folding.h"
#include "store/text.h"

#include <algorithm>

namespace velmora::store {

std::string contactEmailKey(std::string_view email) {
    return foldCase(trimSpaces(email));
}

std::string mailtrayEmailKey(std::string_view email) {
    return foldCase(email);
}

Session::Session() : doc_(std::make_unique<Document>()) {}
Session::Session(Session&&) noexcept = default;
Session& Session::operator=(Session&&) noexcept = default;
Session::~Session() = default;

void Session::setSettings(SessionSettings settings) {
    doc_->settings = std::move(settings);
    touch();
}

std::int32_t Session::addCampaignGroup(std::int32_t id, std::string name, std::string description) {
    const std::int32_t slot = doc_->groups.count() + 1;
    return appendGroup(
        CampaignGroup{id == -1 ? slot : id, std::move(name), std::move(description)});
}

std::int32_t Session::appendGroup(CampaignGroup group) {
    const std::int32_t slot = doc_->groups.append(std::move(group));
    touch();
    return slot;
}

bool Session::groupInUse(std::int32_t slot) const {
    return std::any_of(doc_->contacts.begin(), doc_->contacts.end(),
                       [slot](const Contact& c) { return !c.isDeleted() && c.groupIndex == slot; });
}

void Session::removeCampaignGroup(std::int32_t slot) {
    if (!doc_->groups.hasSlot(slot)) {
        return;
    }
    for (std::int32_t i = 1; i <= doc_->contacts.count(); ++i) {
        Contact& c = doc_->contacts.at(i);
        if (!c.isDeleted() && c.groupIndex > slot) {
            c.groupIndex -= 1;
        }
    }
    for (std::int32_t k = slot; k < doc_->groups.count(); ++k) {
        doc_->groups.at(k) = std::move(doc_->groups.at(k + 1));
    }
    doc_->groups.shrinkBy(1);
    touch();
}

std::int32_t Session::createContact(const NewContact& fields, std::string_view today) {
    Contact c;
    c.id = doc_->contacts.count() + 1;
    c.email = trimSpaces(fields.email);
    c.name = fields.name;
    c.address = fields.address;
    c.telephone = fields.telephone;
    c.company = fields.company;
    c.lastContacted = kNever;
    c.dateAdded = today;
    c.timesContacted = 0;
    c.notes = fields.notes;
    c.groupIndex = fields.groupIndex;
    c.status = fields.status;
    c.previousStatus = fields.status;
    c.tag = code(ContactTag::None);
    return appendContact(std::move(c));
}

std::int32_t Session::appendContact(Contact contact) {
    const std::int32_t slot = doc_->contacts.append(std::move(contact));
    indexContact(slot);
    touch();
    return slot;
}

void Session::deleteContact(std::int32_t slot) {
    modifyContact(slot, [](Contact& c) { c.status = code(ContactStatus::Deleted); });
}

void Session::markContacted(std::int32_t slot, std::string_view today) {
    Contact& c = doc_->contacts.at(slot);
    c.lastContacted = today;
    c.timesContacted = countedOnceMore(c.timesContacted);
    touch();
}

bool Session::emailExists(std::string_view email) const {
    const std::string_view key = trimSpaces(email);
    return doc_->contactIndex.contains(hashIgnoringCase(key), [&](std::int32_t slot) {
        return equalIgnoringCase(key, trimSpaces(doc_->contacts.at(slot).email));
    });
}

std::int32_t Session::findLiveContact(std::string_view email) const {
    const std::string_view key = trimSpaces(email);
    return doc_->contactIndex.find(hashIgnoringCase(key), [&](std::int32_t slot) {
        return equalIgnoringCase(key, trimSpaces(doc_->contacts.at(slot).email));
    });
}

void Session::discardContactsFrom(std::int32_t slot) {
    for (std::int32_t s = doc_->contacts.count(); s >= slot && s >= 1; --s) {
        unindexContact(s);
    }
    if (slot >= 1 && slot <= doc_->contacts.count()) {
        doc_->contacts.shrinkBy(doc_->contacts.count() - slot + 1);
    }
    touch();
}

std::int32_t Session::addMailtrayEntry(Contact entry) {
    const std::int32_t slot = doc_->mailtray.append(std::move(entry));
    indexMailtray(slot);
    touch();
    return slot;
}

void Session::clearMailtray() {
    doc_->mailtrayIndex.clear();
    doc_->mailtray.clear();
    touch();
}

bool Session::mailtrayHasEmail(std::string_view email) const {
    return doc_->mailtrayIndex.contains(hashIgnoringCase(email), [&](std::int32_t slot) {
        return equalIgnoringCase(email, doc_->mailtray.at(slot).email);
    });
}

void Session::resetToNew() {
    doc_ = std::make_unique<Document>();
    sessionFileName = kUntitled;
    addCampaignGroup(-1, "Main (Default)", "");
    changeCount_ = 0;
    savedChangeCount_ = 0;
    ++generation_;
}

void Session::replaceDocument(Session&& loaded) {
    doc_ = std::move(loaded.doc_);
    loaded.doc_ = std::make_unique<Document>();
    sessionFileName = std::move(loaded.sessionFileName);
    changeCount_ = 0;
    savedChangeCount_ = 0;
    ++generation_;
}

void Session::indexContact(std::int32_t slot) {
    const Contact& c = doc_->contacts.at(slot);
    if (!c.isDeleted()) {
        doc_->contactIndex.insert(hashIgnoringCase(trimSpaces(c.email)), slot);
        doc_->liveContacts += 1;
    }
}

void Session::indexContactsFrom(std::int32_t first) {
    std::vector<SlotHashIndex::Item> items;
    items.reserve(static_cast<std::size_t>(std::max(0, doc_->contacts.count() - first + 1)));
    for (std::int32_t slot = first; slot <= doc_->contacts.count(); ++slot) {
        const Contact& c = doc_->contacts.at(slot);
        if (!c.isDeleted()) {
            items.push_back({hashIgnoringCase(trimSpaces(c.email)), slot});
        }
    }
    doc_->contactIndex.insertAll(items);
    doc_->liveContacts += static_cast<std::int32_t>(items.size());
}

void Session::unindexContact(std::int32_t slot) {
    const Contact& c = doc_->contacts.at(slot);
    if (!c.isDeleted()) {
        doc_->contactIndex.erase(hashIgnoringCase(trimSpaces(c.email)), slot);
        doc_->liveContacts -= 1;
    }
}

// Deleted entries (only a session file brings them) take no part in the
// Mailtray's membership test.
void Session::indexMailtray(std::int32_t slot) {
    const Contact& entry = doc_->mailtray.at(slot);
    if (!entry.isDeleted()) {
        doc_->mailtrayIndex.insert(hashIgnoringCase(entry.email), slot);
    }
}

void Session::unindexMailtray(std::int32_t slot) {
    const Contact& entry = doc_->mailtray.at(slot);
    if (!entry.isDeleted()) {
        doc_->mailtrayIndex.erase(hashIgnoringCase(entry.email), slot);
    }
}

} // namespace velmora::store
