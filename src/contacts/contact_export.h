#pragma once

#include "store/session.h"
#include "views/contact_views.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::contacts {

// The header row of an export, one column per field.
inline constexpr const char* kExportColumns[] = {
    "Email Address", "Contact Name", "Address", "Telephone",  "Company",        "Notes",
    "Group",         "Status",       "Tag",     "Date Added", "Last Contacted", "Times Contacted"};

// Which list an export writes.
enum class ExportSource {
    Tab,      // a tab's list as a refresh builds it (a status is its tab)
    Filtered, // All Entries after Apply Filters with `search` and `checks`
    Group,    // the live contacts of group slot `group`, in slot order
    Mailtray, // the Mailtray's live entries
    Rows      // the contact slots in `rows`: a list as a window shows it now
};

struct ExportChoice {
    ExportSource source = ExportSource::Tab;
    views::ViewTab tab = views::ViewTab::AllEntries;
    std::string search;
    std::vector<std::int32_t> checks;
    std::int32_t group = 0;
    std::vector<std::int32_t> rows;
};

// The records of the chosen list, in list order (pointers into the session).
std::vector<const store::Contact*> exportRecords(const store::Session& session,
                                                 const ExportChoice& choice);

// The header row, then one row per record: CSV with commas, CR LF line ends,
// fields quoted as needed. Group, status and tag appear by name; a tag of
// "--none--" as an empty cell. With `formulaGuard` a cell a spreadsheet
// would run as a formula gets a leading "'", which the import removes.
void appendExportHeader(std::string& out);
void appendExportRow(std::string& out, const store::Session& session, const store::Contact& contact,
                     bool formulaGuard = true);

// "Exported N contacts to PATH." (the command line and the window).
std::string exportDoneText(std::int64_t count, const std::string& path);

// Where the export's file requester starts: "contacts.csv" in the session's
// folder, or in `homeFolder` (with its trailing separator) while it is untitled.
std::string exportStartPath(const store::Session& session, const std::string& homeFolder);
// The path with ".csv" added when its file name has no extension.
std::string withCsvExtension(const std::string& path);

struct ExportResult {
    bool ok = false;
    std::string error;
    std::int64_t count = 0;
};

// Writes the chosen list to `path` as UTF-8 CSV (atomically), with a byte
// order mark for spreadsheet programs when `byteOrderMark` is set.
ExportResult exportContactsCsv(const store::Session& session, const ExportChoice& choice,
                               const std::string& path, bool byteOrderMark,
                               bool formulaGuard = true);

} // namespace velmora::contacts
