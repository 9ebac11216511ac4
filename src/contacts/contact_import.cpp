#include "contacts/contact_import.h"

#include "contacts/contact_adding.h"
#include "store/text.h"

#include <algorithm>
#include <charconv>

namespace velmora::contacts {

namespace {

struct FieldNames {
    ContactField field;
    const char* name;
    const char* caption;
};

constexpr FieldNames kFieldNames[] = {
    {ContactField::Ignore, "ignore", "(ignored)"},
    {ContactField::Email, "email", "Email Address"},
    {ContactField::Name, "name", "Contact Name"},
    {ContactField::FirstName, "first-name", "First Name"},
    {ContactField::LastName, "last-name", "Last Name"},
    {ContactField::Address, "address", "Address"},
    {ContactField::Telephone, "telephone", "Telephone"},
    {ContactField::Company, "company", "Company"},
    {ContactField::Notes, "notes", "Notes"},
    {ContactField::Group, "group", "Campaign Group"},
    {ContactField::Status, "status", "Status"},
    {ContactField::Tag, "tag", "Tag"},
};

// Column headings (normalized) that name a field, besides the field names.
struct Synonym {
    const char* heading;
    ContactField field;
};
constexpr Synonym kSynonyms[] = {
    {"email", ContactField::Email},
    {"mail", ContactField::Email},
    {"emailaddress", ContactField::Email},
    {"mailaddress", ContactField::Email},
    {"name", ContactField::Name},
    {"fullname", ContactField::Name},
    {"contactname", ContactField::Name},
    {"displayname", ContactField::Name},
    {"firstname", ContactField::FirstName},
    {"givenname", ContactField::FirstName},
    {"lastname", ContactField::LastName},
    {"surname", ContactField::LastName},
    {"familyname", ContactField::LastName},
    {"address", ContactField::Address},
    {"postaladdress", ContactField::Address},
    {"telephone", ContactField::Telephone},
    {"phone", ContactField::Telephone},
    {"telephonenumber", ContactField::Telephone},
    {"phonenumber", ContactField::Telephone},
    {"tel", ContactField::Telephone},
    {"company", ContactField::Company},
    {"organisation", ContactField::Company},
    {"organization", ContactField::Company},
    {"org", ContactField::Company},
    {"notes", ContactField::Notes},
    {"note", ContactField::Notes},
    {"group", ContactField::Group},
    {"campaigngroup", ContactField::Group},
    {"status", ContactField::Status},
    {"tag", ContactField::Tag},
    {"ignore", ContactField::Ignore},
    {"ignored", ContactField::Ignore},
    {"none", ContactField::Ignore},
};

std::string columnLabel(const std::vector<std::string>& header, std::size_t column) {
    if (column < header.size() && !header[column].empty()) {
        return header[column];
    }
    return "column " + std::to_string(column + 1);
}

void appendJoined(std::string& name, std::string_view part) {
    const std::string_view trimmed = store::trimSpaces(part);
    if (trimmed.empty()) {
        return;
    }
    if (!name.empty()) {
        name.push_back(' ');
    }
    name.append(trimmed);
}

} // namespace

std::string_view contactFieldName(ContactField field) {
    for (const FieldNames& f : kFieldNames) {
        if (f.field == field) {
            return f.name;
        }
    }
    return "ignore";
}

std::string_view contactFieldCaption(ContactField field) {
    for (const FieldNames& f : kFieldNames) {
        if (f.field == field) {
            return f.caption;
        }
    }
    return "(ignored)";
}

std::string normalizedColumnName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const char lower = store::toLowerAscii(ch);
        const auto c = static_cast<unsigned char>(lower);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c >= 0x80) {
            out.push_back(lower);
        }
    }
    // A byte order mark glued to the first heading is no part of it.
    if (out.starts_with("\xEF\xBB\xBF")) {
        out.erase(0, 3);
    }
    return out;
}

std::optional<ContactField> contactFieldFromName(std::string_view text) {
    const std::string key = normalizedColumnName(text);
    for (const Synonym& s : kSynonyms) {
        if (key == s.heading) {
            return s.field;
        }
    }
    return std::nullopt;
}

std::vector<ContactField> automaticMapping(const std::vector<std::string>& header) {
    std::vector<ContactField> mapping;
    mapping.reserve(header.size());
    for (const std::string& heading : header) {
        mapping.push_back(contactFieldFromName(heading).value_or(ContactField::Ignore));
    }
    return mapping;
}

bool applyMapOverrides(const std::vector<std::string>& header,
                       const std::vector<std::string>& overrides,
                       std::vector<ContactField>& mapping, std::string& error) {
    mapping.resize(header.size(), ContactField::Ignore);
    for (const std::string& text : overrides) {
        const std::size_t eq = text.rfind('=');
        if (eq == std::string::npos) {
            error = "\"" + text + "\" is not of the form COLUMN=FIELD.";
            return false;
        }
        const std::string_view column = std::string_view(text).substr(0, eq);
        const std::string_view fieldText = std::string_view(text).substr(eq + 1);
        const std::optional<ContactField> field = contactFieldFromName(fieldText);
        if (!field) {
            error = "\"" + std::string(fieldText) +
                    "\" is no contact field (email, name, first-name, last-name, address, "
                    "telephone, company, notes, group, status, tag, ignore).";
            return false;
        }
        std::optional<std::size_t> index;
        const std::string key = normalizedColumnName(column);
        for (std::size_t i = 0; i < header.size() && !index; ++i) {
            if (normalizedColumnName(header[i]) == key && !key.empty()) {
                index = i;
            }
        }
        int number = 0;
        const auto [end, ec] =
            std::from_chars(column.data(), column.data() + column.size(), number);
        if (!index && ec == std::errc() && end == column.data() + column.size() && number >= 1 &&
            static_cast<std::size_t>(number) <= header.size()) {
            index = static_cast<std::size_t>(number - 1);
        }
        if (!index) {
            error = "The file has no column \"" + std::string(column) + "\".";
            return false;
        }
        mapping[*index] = *field;
    }
    return true;
}

std::vector<ContactField> effectiveMapping(std::vector<ContactField> mapping) {
    std::vector<bool> used(std::size(kFieldNames), false);
    for (ContactField& field : mapping) {
        const auto index = static_cast<std::size_t>(field);
        if (field == ContactField::Ignore) {
            continue;
        }
        if (used[index]) {
            field = ContactField::Ignore;
        }
        used[index] = true;
    }
    if (used[static_cast<std::size_t>(ContactField::Name)]) {
        for (ContactField& field : mapping) {
            if (field == ContactField::FirstName || field == ContactField::LastName) {
                field = ContactField::Ignore;
            }
        }
    }
    return mapping;
}

bool hasAddressForm(std::string_view email) {
    const std::size_t at = email.find('@');
    if (at == std::string_view::npos || at == 0 ||
        email.find('@', at + 1) != std::string_view::npos) {
        return false;
    }
    for (const char ch : email) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F) {
            return false;
        }
    }
    const std::string_view domain = email.substr(at + 1);
    if (domain.empty() || domain.front() == '.' || domain.back() == '.' ||
        domain.find("..") != std::string_view::npos) {
        return false;
    }
    return true;
}

std::optional<std::int32_t> statusFromCaption(std::string_view text) {
    const std::string key = normalizedColumnName(text);
    for (const store::ContactStatus status : store::kVisibleStatuses) {
        if (normalizedColumnName(store::statusCaption(code(status))) == key) {
            return code(status);
        }
    }
    return std::nullopt;
}

std::optional<std::int32_t> tagFromCaption(std::string_view text) {
    const std::string key = normalizedColumnName(text);
    for (const store::ContactTag tag :
         {store::ContactTag::None, store::ContactTag::Todo, store::ContactTag::Important,
          store::ContactTag::Irate, store::ContactTag::Star}) {
        if (normalizedColumnName(store::tagCaption(code(tag))) == key) {
            return code(tag);
        }
    }
    return std::nullopt;
}

ContactImporter::ContactImporter(store::Session& session, const ImportSettings& settings,
                                 std::string today)
    : session_(session), settings_(settings), today_(std::move(today)) {
    report_.dryRun = settings.dryRun;
    startContacts_ = session.contactCount();
    startGroups_ = session.groupCount();
    startUnsaved_ = session.hasUnsavedChanges();
}

void ContactImporter::note(std::int64_t line, std::string_view email, RowOutcome outcome,
                           std::string reason) {
    (outcome == RowOutcome::Skipped ? report_.skipped : report_.refused) += 1;
    report_.rows.push_back({line, std::string(email), outcome, std::move(reason)});
}

std::int32_t ContactImporter::groupSlot(const std::string& name, bool create, bool& exists) {
    exists = true;
    if (const auto found = groupCache_.find(name); found != groupCache_.end()) {
        return found->second;
    }
    const std::string_view wanted = store::trimSpaces(name);
    std::int32_t slot = 0;
    for (std::int32_t g = 1; g <= session_.groupCount() && slot == 0; ++g) {
        if (session_.group(g).name == wanted) {
            slot = g;
        }
    }
    for (std::int32_t g = 1; g <= session_.groupCount() && slot == 0; ++g) {
        if (store::equalIgnoringCase(session_.group(g).name, wanted)) {
            slot = g;
        }
    }
    if (slot == 0) {
        const std::string key = store::toLowerAscii(wanted);
        if (settings_.dryRun) {
            exists = pendingGroups_.contains(key);
            if (create && !exists) {
                pendingGroups_.insert(key);
                report_.newGroups.emplace_back(wanted);
            }
            return 0;
        }
        exists = false;
        if (!create) {
            return 0;
        }
        slot = session_.addCampaignGroup(-1, std::string(wanted), "");
        report_.newGroups.emplace_back(wanted);
    }
    groupCache_.emplace(name, slot);
    return slot;
}

bool ContactImporter::update(std::int32_t slot, const ImportFields& fields, std::int32_t group,
                             std::optional<std::int32_t> status, std::optional<std::int32_t> tag) {
    const store::Contact& before = session_.contact(slot);
    store::Contact after = before;
    auto change = [](store::CompactString& target, std::string_view cell) {
        const std::string_view value = store::trimSpaces(cell);
        if (!value.empty()) {
            target = value;
        }
    };
    change(after.name, fields.name);
    change(after.address, fields.address);
    change(after.telephone, fields.telephone);
    change(after.company, fields.company);
    change(after.notes, fields.notes);
    if (group != 0) {
        after.groupIndex = group;
    }
    if (status && *status != after.status) {
        after.previousStatus = after.status;
        after.status = *status;
    }
    if (tag) {
        after.tag = *tag;
    }
    if (after == before) {
        return false;
    }
    report_.updated += 1;
    if (!settings_.dryRun) {
        oldRecords_.emplace_back(slot, before);
        session_.modifyContact(slot, [&after](store::Contact& c) { c = after; });
    }
    return true;
}

void ContactImporter::addRow(std::int64_t line, const ImportFields& fields) {
    const std::string_view email = store::trimSpaces(fields.email);
    if (email.empty()) {
        note(line, email, RowOutcome::Refused, "no e-mail address");
        return;
    }
    if (!hasAddressForm(email)) {
        note(line, email, RowOutcome::Refused,
             "\"" + std::string(email) + "\" is not an address of the form local@domain");
        return;
    }
    std::optional<std::int32_t> status;
    if (!store::trimSpaces(fields.status).empty()) {
        status = statusFromCaption(fields.status);
        if (!status) {
            note(line, email, RowOutcome::Refused,
                 "unknown status \"" + std::string(store::trimSpaces(fields.status)) + "\"");
            return;
        }
    }
    std::optional<std::int32_t> tag;
    if (!store::trimSpaces(fields.tag).empty()) {
        tag = tagFromCaption(fields.tag);
        if (!tag) {
            note(line, email, RowOutcome::Refused,
                 "unknown tag \"" + std::string(store::trimSpaces(fields.tag)) + "\"");
            return;
        }
    }
    const bool namesGroup = !store::trimSpaces(fields.group).empty();
    if (namesGroup && settings_.noNewGroups) {
        bool exists = false;
        groupSlot(fields.group, false, exists);
        if (!exists) {
            note(line, email, RowOutcome::Refused,
                 "no campaign group \"" + std::string(store::trimSpaces(fields.group)) + "\"");
            return;
        }
    }

    std::int32_t existing = session_.findLiveContact(email);
    const bool seenInRun = settings_.dryRun ? seenKeys_.contains(store::contactEmailKey(email))
                                            : existing > startContacts_;
    const bool known = existing != 0 || seenInRun;
    if (known && !settings_.update) {
        note(line, email, RowOutcome::Skipped,
             seenInRun ? "repeats an address of an earlier row" : "already known");
        return;
    }
    bool exists = true;
    const std::int32_t group = namesGroup ? groupSlot(fields.group, true, exists) : 0;
    if (known) {
        if (existing == 0) {
            // Dry run: the contact an earlier row would have added.
            report_.updated += 1;
            return;
        }
        if (!update(existing, fields, group, status, tag)) {
            note(line, email, RowOutcome::Skipped, "already known; nothing to change");
        }
        return;
    }

    report_.added += 1;
    if (settings_.dryRun) {
        seenKeys_.insert(store::contactEmailKey(email));
        return;
    }
    ContactForm form;
    static_cast<store::ContactTexts&>(form) = fields;
    form.email = email;
    form.groupIndex = namesGroup ? group : settings_.groupIndex;
    form.status = status.value_or(settings_.status);
    const std::int32_t slot = addSingleContact(session_, form, today_);
    if (slot != 0 && tag.value_or(0) != 0) {
        session_.modifyContact(slot, [&tag](store::Contact& c) { c.tag = *tag; });
    }
}

void ContactImporter::rollBack() {
    for (auto it = oldRecords_.rbegin(); it != oldRecords_.rend(); ++it) {
        session_.modifyContact(it->first, [&it](store::Contact& c) { c = it->second; });
    }
    oldRecords_.clear();
    if (session_.contactCount() > startContacts_) {
        session_.discardContactsFrom(startContacts_ + 1);
    }
    while (session_.groupCount() > startGroups_) {
        session_.removeCampaignGroup(session_.groupCount());
    }
    groupCache_.clear();
    if (!startUnsaved_) {
        session_.markSaved();
    }
    report_.added = 0;
    report_.updated = 0;
    report_.newGroups.clear();
}

std::string encodingDescription(TextEncoding encoding, bool byteOrderMark) {
    std::string text(encodingName(encoding));
    if (byteOrderMark) {
        text += " with byte order mark";
    }
    return text;
}

std::string delimiterName(char delimiter) {
    switch (delimiter) {
    case ',':
        return "comma";
    case ';':
        return "semicolon";
    case '\t':
        return "tab";
    default:
        return std::string(1, delimiter);
    }
}

std::optional<char> delimiterFromText(std::string_view text) {
    const std::string key = store::toLowerAscii(text);
    if (key == "comma") {
        return ',';
    }
    if (key == "semicolon") {
        return ';';
    }
    if (key == "tab" || key == "\\t") {
        return '\t';
    }
    if (text.size() == 1 && text[0] != '"' && text[0] != '\r' && text[0] != '\n') {
        return text[0];
    }
    return std::nullopt;
}

std::string importReportText(const ImportReport& report) {
    std::string text;
    if (report.cancelled) {
        text += "Import cancelled; nothing was changed.\n";
        return text;
    }
    if (report.dryRun) {
        text += "Dry run: nothing was changed.\n";
    }
    text += "Added " + std::to_string(report.added) + ", updated " +
            std::to_string(report.updated) + ", skipped " + std::to_string(report.skipped) +
            " as duplicates, refused " + std::to_string(report.refused) + " as invalid.\n";
    auto list = [&text](const char* label, const std::vector<std::string>& items) {
        if (items.empty()) {
            return;
        }
        text += label;
        for (std::size_t i = 0; i < items.size(); ++i) {
            text += (i == 0 ? " " : ", ") + items[i];
        }
        text += "\n";
    };
    list("Ignored columns:", report.ignoredColumns);
    list("New campaign groups:", report.newGroups);
    for (const ImportRowNote& row : report.rows) {
        text += "Line " + std::to_string(row.line) +
                (row.outcome == RowOutcome::Skipped ? ": skipped" : ": refused");
        if (!row.email.empty()) {
            text += " " + row.email;
        }
        text += ": " + row.reason + "\n";
    }
    return text;
}

std::vector<std::string> ignoredColumnLabels(const std::vector<std::string>& header,
                                             const std::vector<ContactField>& effective) {
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (i >= effective.size() || effective[i] == ContactField::Ignore) {
            labels.push_back(columnLabel(header, i));
        }
    }
    return labels;
}

ImportFields rowFields(const std::vector<std::string>& cells,
                       const std::vector<ContactField>& effective) {
    ImportFields fields;
    std::string first;
    std::string last;
    const std::size_t n = std::min(cells.size(), effective.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& cell = cells[i];
        switch (effective[i]) {
        case ContactField::Ignore:
            break;
        case ContactField::Email:
            fields.email = cell;
            break;
        case ContactField::Name:
            fields.name = cell;
            break;
        case ContactField::FirstName:
            first = cell;
            break;
        case ContactField::LastName:
            last = cell;
            break;
        case ContactField::Address:
            fields.address = cell;
            break;
        case ContactField::Telephone:
            fields.telephone = cell;
            break;
        case ContactField::Company:
            fields.company = cell;
            break;
        case ContactField::Notes:
            fields.notes = cell;
            break;
        case ContactField::Group:
            fields.group = cell;
            break;
        case ContactField::Status:
            fields.status = cell;
            break;
        case ContactField::Tag:
            fields.tag = cell;
            break;
        }
    }
    if (!first.empty() || !last.empty()) {
        appendJoined(fields.name, first);
        appendJoined(fields.name, last);
    }
    return fields;
}

} // namespace velmora::contacts
