#pragma once

#include "contacts/csv_format.h"
#include "store/session.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velmora::contacts {

// What a column of an imported file fills. Address, City, Region,
// PostalCode and Country are the parts of the postal address; JobTitle goes
// to the notes; the last three are a contact's history as an export writes it.
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
    Tag,
    MiddleName,
    City,
    Region,
    PostalCode,
    Country,
    JobTitle,
    DateAdded,
    LastContacted,
    TimesContacted
};
inline constexpr ContactField kContactFields[] = {
    ContactField::Ignore,     ContactField::Email,         ContactField::Name,
    ContactField::FirstName,  ContactField::MiddleName,    ContactField::LastName,
    ContactField::Address,    ContactField::City,          ContactField::Region,
    ContactField::PostalCode, ContactField::Country,       ContactField::Telephone,
    ContactField::Company,    ContactField::JobTitle,      ContactField::Notes,
    ContactField::Group,      ContactField::Status,        ContactField::Tag,
    ContactField::DateAdded,  ContactField::LastContacted, ContactField::TimesContacted};

// The address books whose export header rows are recognised.
enum class KnownLayout { None, GoogleContacts, Outlook, Thunderbird, LinkedIn };
// "Google Contacts", "Outlook", "Thunderbird", "LinkedIn connections".
std::string_view knownLayoutName(KnownLayout layout);
// The layout a header row is the export of, if any.
KnownLayout knownLayoutOf(const std::vector<std::string>& header);

// The name `--map` takes ("email", "first-name", ..., "ignore").
std::string_view contactFieldName(ContactField field);
// What the import window's drop-downs show.
std::string_view contactFieldCaption(ContactField field);
// Lower-cased, with blanks and punctuation removed: "E-Mail Address" -> "emailaddress".
std::string normalizedColumnName(std::string_view text);
// The field a column heading (or a field name) stands for, compared normalized.
std::optional<ContactField> contactFieldFromName(std::string_view text);

// The field of each column guessed from the header row (by its known
// layout's table where it has one); a column whose heading repeats an
// earlier one is ignored.
std::vector<ContactField> automaticMapping(const std::vector<std::string>& header);
// Applies "COLUMN=FIELD" texts; COLUMN is a heading (compared normalized) or
// a column number from 1. False with `error` set when one names no column or field.
bool applyMapOverrides(const std::vector<std::string>& header,
                       const std::vector<std::string>& overrides,
                       std::vector<ContactField>& mapping, std::string& error);
// Whether several columns may fill `field`: every address column counts,
// the first non-empty telephone and company win, the postal address parts
// come in sets (a repeated part starts the next one).
bool fieldTakesSeveralColumns(ContactField field);
// Any other field filled by two columns keeps the first. Returns the
// mapping actually used.
std::vector<ContactField> effectiveMapping(std::vector<ContactField> mapping);
// Columns whose heading repeats an earlier one (compared normalized; empty
// headings aside) are ignored; returns their indexes.
std::vector<std::size_t> repeatedHeadings(const std::vector<std::string>& header);

// Email-address form: local@domain, both parts present, one "@", a domain
// of non-empty dot-separated labels, no blanks or control characters.
bool hasAddressForm(std::string_view email);

// A status or tag caption in any letter case (blanks and punctuation ignored).
std::optional<std::int32_t> statusFromCaption(std::string_view text);
std::optional<std::int32_t> tagFromCaption(std::string_view text);

// "%mm/%dd/%yyyy" naming a real day: the form of every contact date.
bool isContactDate(std::string_view text);

// Separates several addresses in one cell.
inline constexpr std::string_view kAddressSeparator = " ::: ";

// The cells of one row (or card) by field.
struct ImportFields : store::ContactTexts {
    std::string group;
    std::string status;
    std::string tag;
    // Every address of the row in column order; `email` is used when this
    // is empty.
    std::vector<std::string> emails;
    std::string dateAdded;
    std::string lastContacted;
    std::string timesContacted;
};

// The row's cells by field: a whole name, else first, middle and last name
// joined with blanks; the first non-empty telephone and company; the first
// set of address parts that holds any, joined with ", "; the notes, then
// the job title on a line of its own; cells holding several addresses split.
// With `formulaGuard` a guarded cell loses its leading "'".
ImportFields rowFields(const std::vector<std::string>& cells,
                       const std::vector<ContactField>& effective, bool formulaGuard = false);
// Headings of the columns the effective mapping leaves out ("column N" when empty).
std::vector<std::string> ignoredColumnLabels(const std::vector<std::string>& header,
                                             const std::vector<ContactField>& effective);

// Noted: the row was imported, with something left out or changed. Lost:
// lines the reader could not take apart (counted as refused, one per line).
enum class RowOutcome { Skipped, Refused, Noted, Lost };

// A row that was skipped, refused or imported with a remark, with why;
// `lastLine` past `line` when the note covers a range of lines.
struct ImportRowNote {
    std::int64_t line = 0;
    std::string email;
    RowOutcome outcome = RowOutcome::Refused;
    std::string reason;
    std::int64_t lastLine = 0;
};

struct ImportReport {
    std::string format; // "CSV" or "vCard"
    std::string encoding;
    char delimiter = 0; // CSV only
    std::string layout; // a known layout's name, else empty
    std::int64_t added = 0;
    std::int64_t updated = 0;
    std::int64_t skipped = 0;
    std::int64_t refused = 0;
    std::vector<std::string> ignoredColumns;
    std::vector<std::string> newGroups;
    std::vector<std::string> notes; // about the file as a whole
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
    bool firstEmailOnly = false; // one contact per card or row
};

// Applies rows by the rules of Add Contact, plus the address form test and
// updating. A row with several addresses gives one contact per valid one.
// A dry run imports into the session and takes it all back, so that it
// reports exactly as the import would and needs no index of its own.
class ContactImporter {
public:
    ContactImporter(store::Session& session, const ImportSettings& settings, std::string today);
    void addRow(std::int64_t line, const ImportFields& fields);
    // A row the reader could not take apart.
    void refuseRow(std::int64_t line, std::string_view email, std::string reason) {
        note(line, email, RowOutcome::Refused, std::move(reason));
    }
    // Lines `line` to `lastLine` lost to a quote that was never closed;
    // each counts as refused.
    void refuseLines(std::int64_t line, std::int64_t lastLine);
    void noteRow(std::int64_t line, std::string_view email, std::string reason) {
        note(line, email, RowOutcome::Noted, std::move(reason));
    }
    // Takes back every change made so far (a cancelled import).
    void rollBack();
    // The end of a dry run: the session as it was, the report kept.
    void finishDryRun();
    ImportReport& report() { return report_; }

private:
    void addOne(std::int64_t line, const ImportFields& fields, std::string_view email);
    void undo();
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
    bool formulaGuard = true; // remove the "'" an export put before formula-like cells
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
