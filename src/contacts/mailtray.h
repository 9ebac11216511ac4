#pragma once

#include "store/session.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::contacts {

// Copies contact `slot` into the Mailtray (its `id` = the slot) unless the
// Mailtray already holds its address. True when an entry was added.
bool appendToMailtray(store::Session& session, std::int32_t slot);
// "Add Selected" (the selected rows) and "Add Filtered" (every row of the
// All Entries list): append each in list order. Returns how many were added.
std::int32_t addContactsToMailtray(store::Session& session, const std::vector<std::int32_t>& slots);

// Each live entry's address followed by LF, blanks at both ends of the
// whole text removed (the final LF stays).
std::string mailtrayClipboardText(const store::Session& session);
// Each live entry's address followed by CR LF, the last line included.
std::string mailtrayExportText(const store::Session& session);
// The chosen path with ".txt" appended unless it already ends in ".txt" in
// any letter case.
std::string mailtrayExportPath(std::string_view chosenPath);
// Writes the export text (atomically). False with `error` set on failure.
bool saveMailtrayToFile(const store::Session& session, const std::string& path, std::string& error);

// Told when the export file cannot be written; nothing is marked then.
std::string mailtraySaveFailedText(const std::string& path, const std::string& error);

std::string mailtrayCopiedQuestion();
std::string mailtraySavedQuestion(const std::string& path);
std::string mailtrayWindowTitle(std::int32_t count);
inline constexpr const char* kEmptyMailtrayQuestion =
    "Are you sure you want to remove all entries from the mailtray? This will not delete entries "
    "from your email lists.";

// Stamps every live entry and the contact it names with `today`, counting
// each contact in `contactedToday`. An entry naming no contact slot (only a
// session file brings one) is stamped alone and not counted.
void markMailtrayContacted(store::Session& session, std::string_view today);

// The Mailtray window's buttons, by the rules of opening, adding and emptying.
struct MailtrayButtons {
    bool addSelected = true;
    bool addFiltered = true;
    bool empty = false; // "Emtpy Mailtray"
    bool copy = false;
    bool save = false;

    static MailtrayButtons onOpen(std::int32_t mailtrayCount, bool hasSelection);
    enum class Used { AddSelected, AddFiltered };
    // After an add button was used: the button just used is disabled while
    // the Mailtray holds entries; the other keeps its state.
    void afterAdd(Used used, std::int32_t mailtrayCount);
    void afterEmpty();
};

} // namespace velmora::contacts
