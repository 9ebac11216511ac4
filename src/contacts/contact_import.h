#pragma once

#include "contacts/csv_format.h"
#include "store/session.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace velmora::contacts {

// What a column of an imported file fills.
enum class ContactField {
    Ignore,
    Email,
    Name,
    FirstName,
    LastName,
    Address,
    Telephone,
    Company,
    Notes,
    Group,
    Status,
    Tag
};
inline constexpr ContactField kContactFields[] = {
    ContactField::Ignore,   ContactField::Email,   ContactField::Name,      ContactField::FirstName,
    ContactField::LastName, ContactField::Address, ContactField::Telephone, ContactField::Company,
    ContactField::Notes,    ContactField::Group,   ContactField::Status,    ContactField::Tag};

// The name `--map` takes ("email", "first-name", ..., "ignore").
std::string_view contactFieldName(ContactField field);
// What the import window's drop-downs show.
std::string_view contactFieldCaption(ContactField field);
// Lower-cased, with blanks and punctuation removed: "E-Mail Address" -> "emailaddress".
std::string normalizedColumnName(std::string_view text);
// The field a column heading (or a field name) stands for, compared normalized.
std::optional<ContactField> contactFieldFromName(std::string_view text);

// The field of each column guessed from the header row.
std::vector<ContactField> automaticMapping(const std::vector<std::string>& header);
// Applies "COLUMN=FIELD" texts; COLUMN is a heading (compared normalized) or
// a column number from 1. False with `error` set when one names no column or field.
bool applyMapOverrides(const std::vector<std::string>& header,
                       const std::vector<std::string>& overrides,
                       std::vector<ContactField>& mapping, std::string& error);
// A field filled by two columns keeps the first; first and last name give
// way to a whole-name column. Returns the mapping actually used.
std::vector<ContactField> effectiveMapping(std::vector<ContactField> mapping);

// Email-address form: local@domain, both parts present, one "@", a domain
// of non-empty dot-separated labels, no blanks or control characters.
bool hasAddressForm(std::string_view email);

// A status or tag caption in any letter case (blanks and punctuation ignored).
std::optional<std::int32_t> statusFromCaption(std::string_view text);
std::optional<std::int32_t> tagFromCaption(std::string_view text);

// The cells of one row (or card) by field.
struct ImportFields : store::ContactTexts {
    std::string group;
    std::string status;
    std::string tag;
};

// The row's cells by field (first and last name joined with a blank).
ImportFields rowFields(const std::vector<std::string>& cells,
                       const std::vector<ContactField>& effective);
// Headings of the columns the effective mapping leaves out ("column N" when empty).
std::vector<std::string> ignoredColumnLabels(const std::vector<std::string>& header,
                                             const std::vector<ContactField>& effective);

enum class RowOutcome { Skipped, Refused };

// A row that was skipped or refused, with why.
struct ImportRowNote {
    std::int64_t line = 0;
    std::string email;
    RowOutcome outcome = RowOutcome::Refused;
    std::string reason;
};

struct ImportReport {
    std::string format; // "CSV" or "vCard"
    std::string encoding;
    char delimiter = 0; // CSV only
    std::int64_t added = 0;
    std::int64_t updated = 0;
    std::int64_t skipped = 0;
    std::int64_t refused = 0;
    std::vector<std::string> ignoredColumns;
    std::vector<std::string> newGroups;
    std::vector<ImportRowNote> rows;
    bool dryRun = false;
    bool cancelled = false;
};

struct ImportSettings {
    std::int32_t groupIndex = 1; // for new contacts whose row names no group
    std::int32_t status = 0;     // for new contacts whose row names no status
    bool update = false;
    bool dryRun = false;
    bool noNewGroups = false;
    bool firstEmailOnly = false; // vCard: one contact per card
};

// Applies rows by the rules of Add Contact, plus the address form test and
// updating. A dry run changes nothing yet reports as the import would.
class ContactImporter {
public:
    ContactImporter(store::Session& session, const ImportSettings& settings, std::string today);
    void addRow(std::int64_t line, const ImportFields& fields);
    // A row the reader could not take apart.
    void refuseRow(std::int64_t line, std::string_view email, std::string reason) {
        note(line, email, RowOutcome::Refused, std::move(reason));
    }
    // Takes back every change made so far (a cancelled import).
    void rollBack();
    ImportReport& report() { return report_; }

private:
    void note(std::int64_t line, std::string_view email, RowOutcome outcome, std::string reason);
    // 0 with `exists` false when the group is new (and `create` is false).
    std::int32_t groupSlot(const std::string& name, bool create, bool& exists);
    // False when the row would change nothing.
    bool update(std::int32_t slot, const ImportFields& fields, std::int32_t group,
                std::optional<std::int32_t> status, std::optional<std::int32_t> tag);

    store::Session& session_;
    ImportSettings settings_;
    std::string today_;
    ImportReport report_;
    std::unordered_map<std::string, std::int32_t> groupCache_; // cell text -> slot
    // Dry run: the addresses and group names the import would have added.
    std::unordered_set<std::string> seenKeys_;
    std::unordered_set<std::string> pendingGroups_;
    // Undo: what the session held before.
    std::int32_t startContacts_ = 0;
    std::int32_t startGroups_ = 0;
    bool startUnsaved_ = false;
    std::vector<std::pair<std::int32_t, store::Contact>> oldRecords_;
};

enum class ImportFormat { Auto, Csv, VCard };

struct ImportOptions {
    ImportSettings settings;
    ImportFormat format = ImportFormat::Auto;
    std::optional<TextEncoding> encoding;
    std::optional<char> delimiter;
    std::vector<std::string> mapOverrides;            // "COLUMN=FIELD"
    std::optional<std::vector<ContactField>> mapping; // the window's choice, one per column
};

// Told how far the import is (bytes of the file); returning false cancels it.
using ImportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

struct ImportResult {
    bool ok = false;
    std::string error; // when not ok: the session is unchanged
    ImportReport report;
};

// Reads a CSV or vCard file and adds its contacts. A cancelled import
// leaves the session as it was.
ImportResult importContactsFile(store::Session& session, const std::string& path,
                                const ImportOptions& options, std::string_view today,
                                const ImportProgress& progress = {});

// What the import window shows before importing.
struct ImportPreview {
    bool ok = false;
    std::string error;
    ImportFormat format = ImportFormat::Csv;
    TextEncoding encoding = TextEncoding::Utf8;
    bool byteOrderMark = false;
    char delimiter = ',';
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::vector<ContactField> mapping; // automatic
    std::vector<ContactField> effective;
};
ImportPreview previewContactsFile(const std::string& path, ImportFormat format,
                                  std::optional<TextEncoding> encoding,
                                  std::optional<char> delimiter, std::size_t maxRows = 10);

// "UTF-8", "UTF-8 with byte order mark", "UTF-16LE", ...
std::string encodingDescription(TextEncoding encoding, bool byteOrderMark);
// "comma", "semicolon", "tab" or the character itself.
std::string delimiterName(char delimiter);
// "," ";" "\t" from a character or its name ("comma", "semicolon", "tab").
std::optional<char> delimiterFromText(std::string_view text);

// The report as lines of text (the command line and the window).
std::string importReportText(const ImportReport& report);

} // namespace velmora::contacts
