#pragma once

#include "store/records.h"
#include "store/slot_hash_index.h"
#include "store/slot_table.h"
#include "store/text.h"
#include "store/text_arena.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::store {

// Case-folded (store/case_folding.h), space-trimmed address: the key under which two contacts are
// the same person for `emailExists` and Remove Duplicates.
std::string contactEmailKey(std::string_view email);
// Case-folded without trimming: the Mailtray's own membership key.
std::string mailtrayEmailKey(std::string_view email);

// The six text fields of a contact as a person types them: the one record
// the dialogs, the import and new contacts share.
struct ContactTexts {
    std::string email;
    std::string name;
    std::string address;
    std::string telephone;
    std::string company;
    std::string notes;
};

// Fields of a new contact that the caller supplies; the rest is set by
// `Session::createContact`.
struct NewContact : ContactTexts {
    std::int32_t groupIndex = 1;
    std::int32_t status = 0;
};

// The one working set: settings, groups, contacts, Mailtray and send list.
// Every change goes through a member function so that the address indexes stay
// in step with the tables and the change counter notices unsaved work.
class Session {
public:
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    Session(Session&&) noexcept;
    Session& operator=(Session&&) noexcept;
    ~Session();

    // --- settings
    const SessionSettings& settings() const { return doc_->settings; }
    void setSettings(SessionSettings settings);

    // --- campaign groups
    std::int32_t groupCount() const { return doc_->groups.count(); }
    const CampaignGroup& group(std::int32_t slot) const { return doc_->groups.at(slot); }
    bool hasGroup(std::int64_t slot) const { return doc_->groups.hasSlot(slot); }
    // An id of -1 stands for the new group count. Returns the new slot.
    std::int32_t addCampaignGroup(std::int32_t id, std::string name, std::string description);
    // Appends a record exactly as given (the session file reader).
    std::int32_t appendGroup(CampaignGroup group);
    // True when a contact that is not Deleted belongs to the group slot.
    bool groupInUse(std::int32_t slot) const;
    // Closes the gap and renumbers the contacts behind it (Deleted contacts
    // keep their old group index). The caller has checked `groupInUse`.
    void removeCampaignGroup(std::int32_t slot);

    // --- contacts
    std::int32_t contactCount() const { return doc_->contacts.count(); }
    const Contact& contact(std::int32_t slot) const { return doc_->contacts.at(slot); }
    bool hasContact(std::int64_t slot) const { return doc_->contacts.hasSlot(slot); }
    const SlotTable<Contact>& contacts() const { return doc_->contacts; }
    // Creates a contact dated `today`; the caller has trimmed the texts.
    std::int32_t createContact(const NewContact& fields, std::string_view today);
    // Appends a record exactly as given (the session file reader).
    std::int32_t appendContact(Contact contact);
    // The session file reader's way to add many: while `more()` holds, a new
    // record is read straight into its slot by `read(Contact&, TextArena&)`,
    // long texts into the arena that lives as long as the tables. Its address
    // key is hashed while the record is still in the cache; the address index
    // takes them all at the end, which is far cheaper for a million than
    // record by record.
    template <class More, class Read> void appendContactRecords(More&& more, Read&& read) {
        std::vector<SlotHashIndex::Item> items;
        items.reserve(doc_->contacts.capacity() - static_cast<std::size_t>(contactCount()));
        while (more()) {
            Contact& c = doc_->contacts.appendEmpty();
            read(c, doc_->text);
            if (!c.isDeleted()) {
                items.push_back({hashIgnoringCase(trimSpaces(c.email)), contactCount()});
            }
        }
        indexContacts(items);
        touch();
    }
    void reserveContacts(std::size_t n) {
        doc_->contacts.reserve(n);
        doc_->contactIndex.reserve(n);
    }
    // Any change to a contact: `change(Contact&)` is called on the record and
    // the address index is brought up to date afterwards.
    template <class Change> void modifyContact(std::int32_t slot, Change&& change) {
        unindexContact(slot);
        change(doc_->contacts.at(slot));
        indexContact(slot);
        touch();
    }
    void deleteContact(std::int32_t slot);
    // Stamps the contact with `today` and counts the contact.
    void markContacted(std::int32_t slot, std::string_view today);
    // A contact that is not Deleted has this address (trimmed, any case).
    bool emailExists(std::string_view email) const;
    // The first live contact with this address (as `emailExists` compares),
    // or 0.
    std::int32_t findLiveContact(std::string_view email) const;
    // Takes back the contacts from `slot` to the end, which were appended
    // since the caller noted `contactCount`: an import that was cancelled.
    void discardContactsFrom(std::int32_t slot);
    std::int32_t liveContactCount() const { return doc_->liveContacts; }

    // --- Mailtray
    std::int32_t mailtrayCount() const { return doc_->mailtray.count(); }
    const Contact& mailtrayEntry(std::int32_t slot) const { return doc_->mailtray.at(slot); }
    const SlotTable<Contact>& mailtray() const { return doc_->mailtray; }
    std::int32_t addMailtrayEntry(Contact entry);
    // As `appendContactRecords`, for Mailtray entries.
    template <class More, class Read> void appendMailtrayRecords(More&& more, Read&& read) {
        while (more()) {
            read(doc_->mailtray.appendEmpty(), doc_->text);
            indexMailtray(doc_->mailtray.count());
        }
        touch();
    }
    template <class Change> void modifyMailtrayEntry(std::int32_t slot, Change&& change) {
        unindexMailtray(slot);
        change(doc_->mailtray.at(slot));
        indexMailtray(slot);
        touch();
    }
    void clearMailtray();
    // An entry that is not Deleted holds this address (lower-cased, not trimmed).
    bool mailtrayHasEmail(std::string_view email) const;

    // --- the working list of one delivery; not part of the session file
    SlotTable<Contact> sendList;

    // --- session-wide values
    std::string sessionFileName = kUntitled;
    std::int32_t contactedToday = 0;
    std::string startDirectory;

    bool isUntitled() const { return sessionFileName == kUntitled; }

    // Changes whenever New Session or Open Session replaces the tables, so a
    // window that keeps a slot number can tell that it names another record now.
    std::uint64_t documentGeneration() const { return generation_; }

    // --- unsaved changes
    std::uint64_t changeCount() const { return changeCount_; }
    bool hasUnsavedChanges() const { return changeCount_ != savedChangeCount_; }
    void markSaved() { savedChangeCount_ = changeCount_; }
    // Counts as unsaved work although nothing changed since it was read.
    void markUnsaved() { savedChangeCount_ = changeCount_ + 1; }

    // Empties the tables, resets the settings, names the session untitled and
    // adds group 1. The send list, `contactedToday` and `startDirectory` stay.
    void resetToNew();
    // Takes over the document of `loaded` (settings, tables, file name) and
    // keeps this session's send list, `contactedToday` and `startDirectory`.
    void replaceDocument(Session&& loaded);

private:
    // Everything a session file holds (but its name).
    struct Document {
        // Declared first so that it goes last: the tables' strings borrow from it.
        TextArena text;
        SessionSettings settings;
        SlotTable<CampaignGroup> groups;
        SlotTable<Contact> contacts;
        SlotTable<Contact> mailtray;
        std::int32_t liveContacts = 0;
        // Slots of live contacts by address key, and of Mailtray entries by
        // their own key; the keys are derived from the records, never stored.
        SlotHashIndex contactIndex;
        SlotHashIndex mailtrayIndex;
    };

    void touch() { ++changeCount_; }
    void indexContact(std::int32_t slot);
    void indexContacts(const std::vector<SlotHashIndex::Item>& items);
    void unindexContact(std::int32_t slot);
    void indexMailtray(std::int32_t slot);
    void unindexMailtray(std::int32_t slot);

    std::unique_ptr<Document> doc_;
    std::uint64_t changeCount_ = 0;
    std::uint64_t savedChangeCount_ = 0;
    std::uint64_t generation_ = 0;
};

} // namespace velmora::store
