#include "contacts/mailtray.h"

#include "store/atomic_file.h"
#include "store/file_names.h"
#include "store/text.h"

namespace velmora::contacts {

bool appendToMailtray(store::Session& session, std::int32_t slot) {
    if (!session.hasContact(slot)) {
        return false;
    }
    const store::Contact& c = session.contact(slot);
    if (session.mailtrayHasEmail(c.email)) {
        return false;
    }
    store::Contact entry = c;
    entry.id = slot;
    session.addMailtrayEntry(std::move(entry));
    return true;
}

std::int32_t addContactsToMailtray(store::Session& session,
                                   const std::vector<std::int32_t>& slots) {
    std::int32_t added = 0;
    for (const std::int32_t slot : slots) {
        added += appendToMailtray(session, slot) ? 1 : 0;
    }
    return added;
}

namespace {

std::string joinLiveEntries(const store::Session& session, std::string_view ending) {
    std::string text;
    for (const store::Contact& entry : session.mailtray()) {
        if (!entry.isDeleted()) {
            text += entry.email.view();
            text += ending;
        }
    }
    return text;
}

} // namespace

std::string mailtrayClipboardText(const store::Session& session) {
    return std::string(store::trimSpaces(joinLiveEntries(session, "\n")));
}

std::string mailtrayExportText(const store::Session& session) {
    return joinLiveEntries(session, "\r\n");
}

std::string mailtrayExportPath(std::string_view chosenPath) {
    std::string path(chosenPath);
    if (path.size() < 4 || store::toLowerAscii(path.substr(path.size() - 4)) != ".txt") {
        path += ".txt";
    }
    return path;
}

bool saveMailtrayToFile(const store::Session& session, const std::string& path,
                        std::string& error) {
    return store::writeFileAtomically(path, mailtrayExportText(session), error);
}

std::string mailtraySaveFailedText(const std::string& path, const std::string& error) {
    return "Cannot save \"" + path + "\" - " + error;
}

std::string mailtrayCopiedQuestion() {
    return "The mailtray entries have been copied to the clipboard. Would you like to mark these "
           "entries as contacted?";
}

std::string mailtraySavedQuestion(const std::string& path) {
    return "The mailtray entries have been saved to \"" + std::string(store::lastPathPart(path)) +
           "\". Would you like to mark these entries as contacted?";
}

std::string mailtrayWindowTitle(std::int32_t count) {
    return "Mailtray (" + std::to_string(count) + " Recipients)";
}

void markMailtrayContacted(store::Session& session, std::string_view today) {
    for (std::int32_t slot = 1; slot <= session.mailtrayCount(); ++slot) {
        if (session.mailtrayEntry(slot).isDeleted()) {
            continue;
        }
        session.modifyMailtrayEntry(slot, [&](store::Contact& entry) {
            entry.lastContacted = today;
            entry.timesContacted = store::countedOnceMore(entry.timesContacted);
        });
        const std::int32_t contact = session.mailtrayEntry(slot).id;
        if (session.hasContact(contact)) {
            session.markContacted(contact, today);
            session.contactedToday = store::countedOnceMore(session.contactedToday);
        }
    }
}

MailtrayButtons MailtrayButtons::onOpen(std::int32_t mailtrayCount, bool hasSelection) {
    MailtrayButtons b;
    b.empty = b.copy = b.save = mailtrayCount > 0;
    b.addSelected = hasSelection;
    return b;
}

void MailtrayButtons::afterAdd(Used used, std::int32_t mailtrayCount) {
    if (mailtrayCount == 0) {
        afterEmpty();
        return;
    }
    empty = copy = save = true;
    (used == Used::AddSelected ? addSelected : addFiltered) = false;
}

void MailtrayButtons::afterEmpty() {
    empty = copy = save = false;
    addSelected = addFiltered = true;
}

} // namespace velmora::contacts
