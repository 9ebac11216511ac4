#include "contacts/contact_import.h"

#include "contacts/contact_adding.h"
#include "store/text.h"
#include "store/untrusted_text.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <unordered_set>

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
    {ContactField::MiddleName, "middle-name", "Middle Name"},
    {ContactField::City, "city", "City"},
    {ContactField::Region, "region", "Region"},
    {ContactField::PostalCode, "postal-code", "Postal Code"},
    {ContactField::Country, "country", "Country"},
    {ContactField::JobTitle, "job-title", "Job Title"},
    {ContactField::DateAdded, "date-added", "Date Added"},
    {ContactField::LastContacted, "last-contacted", "Last Contacted"},
    {ContactField::TimesContacted, "times-contacted", "Times Contacted"},
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
    {"middlename", ContactField::MiddleName},
    {"additionalname", ContactField::MiddleName},
    {"lastname", ContactField::LastName},
    {"surname", ContactField::LastName},
    {"familyname", ContactField::LastName},
    {"address", ContactField::Address},
    {"postaladdress", ContactField::Address},
    {"street", ContactField::Address},
    {"streetaddress", ContactField::Address},
    {"city", ContactField::City},
    {"town", ContactField::City},
    {"region", ContactField::Region},
    {"state", ContactField::Region},
    {"province", ContactField::Region},
    {"postalcode", ContactField::PostalCode},
    {"postcode", ContactField::PostalCode},
    {"zip", ContactField::PostalCode},
    {"zipcode", ContactField::PostalCode},
    {"country", ContactField::Country},
    {"jobtitle", ContactField::JobTitle},
    {"position", ContactField::JobTitle},
    {"dateadded", ContactField::DateAdded},
    {"lastcontacted", ContactField::LastContacted},
    {"timescontacted", ContactField::TimesContacted},
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

// A known layout: headings that tell it (normalized, all present) and its
// columns by heading, normalized with the digits removed ("E-mail 2
// Address" is "emailaddress"), so that numbered columns share one entry.
// A heading the table lacks has no home.
struct LayoutColumn {
    const char* key;
    ContactField field;
};
struct Layout {
    KnownLayout layout;
    const char* name;
    std::vector<const char*> signature;
    std::vector<LayoutColumn> columns;
};

const std::vector<Layout>& layouts() {
    using F = ContactField;
    static const std::vector<Layout> table{
        {KnownLayout::GoogleContacts,
         "Google Contacts",
         {"email1value"},
         {{"name", F::Name},
          {"givenname", F::FirstName},
          {"additionalname", F::MiddleName},
          {"familyname", F::LastName},
          {"firstname", F::FirstName},
          {"middlename", F::MiddleName},
          {"lastname", F::LastName},
          {"notes", F::Notes},
          {"emailvalue", F::Email},
          {"phonevalue", F::Telephone},
          {"addressstreet", F::Address},
          {"addresscity", F::City},
          {"addressregion", F::Region},
          {"addresspostalcode", F::PostalCode},
          {"addresscountry", F::Country},
          {"organizationname", F::Company},
          {"organizationtitle", F::JobTitle}}},
        {KnownLayout::Outlook,
         "Outlook",
         {"emailaddress", "email2address"},
         {{"firstname", F::FirstName},
          {"middlename", F::MiddleName},
          {"lastname", F::LastName},
          {"company", F::Company},
          {"jobtitle", F::JobTitle},
          {"businessstreet", F::Address},
          {"businesscity", F::City},
          {"businessstate", F::Region},
          {"businesspostalcode", F::PostalCode},
          {"businesscountryregion", F::Country},
          {"homestreet", F::Address},
          {"homecity", F::City},
          {"homestate", F::Region},
          {"homepostalcode", F::PostalCode},
          {"homecountryregion", F::Country},
          {"otherstreet", F::Address},
          {"othercity", F::City},
          {"otherstate", F::Region},
          {"otherpostalcode", F::PostalCode},
          {"othercountryregion", F::Country},
          {"businessphone", F::Telephone},
          {"carphone", F::Telephone},
          {"companymainphone", F::Telephone},
          {"homephone", F::Telephone},
          {"mobilephone", F::Telephone},
          {"otherphone", F::Telephone},
          {"primaryphone", F::Telephone},
          {"emailaddress", F::Email},
          {"notes", F::Notes}}},
        {KnownLayout::Thunderbird,
         "Thunderbird",
         {"primaryemail", "secondaryemail"},
         {{"firstname", F::FirstName},
          {"lastname", F::LastName},
          {"displayname", F::Name},
          {"primaryemail", F::Email},
          {"secondaryemail", F::Email},
          {"workphone", F::Telephone},
          {"homephone", F::Telephone},
          {"mobilenumber", F::Telephone},
          {"homeaddress", F::Address},
          {"homecity", F::City},
          {"homestate", F::Region},
          {"homezipcode", F::PostalCode},
          {"homecountry", F::Country},
          {"workaddress", F::Address},
          {"workcity", F::City},
          {"workstate", F::Region},
          {"workzipcode", F::PostalCode},
          {"workcountry", F::Country},
          {"jobtitle", F::JobTitle},
          {"organization", F::Company},
          {"notes", F::Notes}}},
        {KnownLayout::LinkedIn,
         "LinkedIn connections",
         {"emailaddress", "connectedon"},
         {{"firstname", F::FirstName},
          {"lastname", F::LastName},
          {"emailaddress", F::Email},
          {"company", F::Company},
          {"position", F::JobTitle}}},
    };
    return table;
}

std::string withoutDigits(std::string key) {
    std::erase_if(key, [](char c) { return c >= '0' && c <= '9'; });
    return key;
}

const Layout* layoutOf(const std::vector<std::string>& header) {
    std::unordered_set<std::string> keys;
    for (const std::string& heading : header) {
        keys.insert(normalizedColumnName(heading));
    }
    for (const Layout& layout : layouts()) {
        if (std::all_of(layout.signature.begin(), layout.signature.end(),
                        [&keys](const char* key) { return keys.contains(key); })) {
            return &layout;
        }
    }
    return nullptr;
}

bool isAddressPart(ContactField field) {
    return field == ContactField::Address || field == ContactField::City ||
           field == ContactField::Region || field == ContactField::PostalCode ||
           field == ContactField::Country;
}

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

std::string_view knownLayoutName(KnownLayout layout) {
    for (const Layout& known : layouts()) {
        if (known.layout == layout) {
            return known.name;
        }
    }
    return "";
}

KnownLayout knownLayoutOf(const std::vector<std::string>& header) {
    const Layout* layout = layoutOf(header);
    return layout == nullptr ? KnownLayout::None : layout->layout;
}

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
    const Layout* layout = layoutOf(header);
    for (const std::string& heading : header) {
        ContactField field = ContactField::Ignore;
        if (layout != nullptr) {
            const std::string key = withoutDigits(normalizedColumnName(heading));
            for (const LayoutColumn& column : layout->columns) {
                if (key == column.key) {
                    field = column.field;
                    break;
                }
            }
        } else {
            field = contactFieldFromName(heading).value_or(ContactField::Ignore);
        }
        mapping.push_back(field);
    }
    for (const std::size_t column : repeatedHeadings(header)) {
        mapping[column] = ContactField::Ignore;
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

bool fieldTakesSeveralColumns(ContactField field) {
    return field == ContactField::Email || field == ContactField::Telephone ||
           field == ContactField::Company || isAddressPart(field);
}

std::vector<ContactField> effectiveMapping(std::vector<ContactField> mapping) {
    std::vector<bool> used(static_cast<std::size_t>(ContactField::TimesContacted) + 1, false);
    for (ContactField& field : mapping) {
        const auto index = static_cast<std::size_t>(field);
        if (field == ContactField::Ignore || fieldTakesSeveralColumns(field)) {
            continue;
        }
        if (used[index]) {
            field = ContactField::Ignore;
        }
        used[index] = true;
    }
    return mapping;
}

std::vector<std::size_t> repeatedHeadings(const std::vector<std::string>& header) {
    std::vector<std::size_t> repeated;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < header.size(); ++i) {
        std::string key = normalizedColumnName(header[i]);
        if (!key.empty() && !seen.insert(std::move(key)).second) {
            repeated.push_back(i);
        }
    }
    return repeated;
}

bool isContactDate(std::string_view text) {
    if (text.size() != 10 || text[2] != '/' || text[5] != '/') {
        return false;
    }
    auto number = [&text](std::size_t from, std::size_t length, int& value) {
        const char* begin = text.data() + from;
        const auto [end, ec] = std::from_chars(begin, begin + length, value);
        return ec == std::errc() && end == begin + length;
    };
    int month = 0;
    int day = 0;
    int year = 0;
    if (!number(0, 2, month) || !number(3, 2, day) || !number(6, 4, year) || month < 1 ||
        month > 12 || day < 1 || year < 1) {
        return false;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
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
    if (outcome == RowOutcome::Skipped) {
        report_.skipped += 1;
    } else if (outcome == RowOutcome::Refused || outcome == RowOutcome::Lost) {
        report_.refused += 1;
    }
    report_.rows.push_back({line, std::string(email), outcome, std::move(reason), line});
}

void ContactImporter::refuseLines(std::int64_t line, std::int64_t lastLine) {
    lastLine = std::max(line, lastLine);
    report_.refused += lastLine - line + 1;
    report_.rows.push_back({line, "", RowOutcome::Lost,
                            lastLine == line
                                ? "a quoted field is not closed; this line was not imported"
                                : "a quoted field is not closed; these lines were not imported",
                            lastLine});
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
    oldRecords_.emplace_back(slot, before);
    session_.modifyContact(slot, [&after](store::Contact& c) { c = after; });
    return true;
}

void ContactImporter::addRow(std::int64_t line, const ImportFields& fields) {
    if (fields.emails.empty()) {
        addOne(line, fields, store::trimSpaces(fields.email));
        return;
    }
    std::vector<std::string_view> valid;
    for (const std::string& email : fields.emails) {
        if (hasAddressForm(email)) {
            const bool repeated = std::any_of(valid.begin(), valid.end(), [&email](auto seen) {
                return store::equalIgnoringCase(seen, email);
            });
            if (!repeated) {
                valid.push_back(email);
            }
        }
    }
    if (valid.empty()) {
        addOne(line, fields, fields.emails.front());
        return;
    }
    for (const std::string& email : fields.emails) {
        if (hasAddressForm(email)) {
            continue;
        }
        // A first column holding something else (an X.500 path, a label)
        // while a later one holds a real address is common in exports.
        noteRow(line, valid.front(),
                "\"" + email + "\" is not an address of the form local@domain; " +
                    (&email == &fields.emails.front()
                         ? "the row's address " + std::string(valid.front()) + " was used instead"
                         : std::string("it was left out")));
    }
    for (const std::string_view email : valid) {
        addOne(line, fields, email);
        if (settings_.firstEmailOnly) {
            break;
        }
    }
}

void ContactImporter::addOne(std::int64_t line, const ImportFields& fields,
                             std::string_view email) {
    if (email.empty()) {
        note(line, email, RowOutcome::Refused, "no e-mail address");
        return;
    }
    if (store::hasControlCharacter(email)) {
        note(line, email, RowOutcome::Refused, "the address holds a control character");
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

    const std::int32_t existing = session_.findLiveContact(email);
    const bool seenInRun = existing > startContacts_;
    if (existing != 0 && !settings_.update) {
        note(line, email, RowOutcome::Skipped,
             seenInRun ? "repeats an address of an earlier row" : "already known");
        return;
    }
    bool exists = true;
    const std::int32_t group = namesGroup ? groupSlot(fields.group, true, exists) : 0;
    if (existing != 0) {
        if (!update(existing, fields, group, status, tag)) {
            note(line, email, RowOutcome::Skipped, "already known; nothing to change");
        }
        return;
    }

    ContactForm form;
    static_cast<store::ContactTexts&>(form) = fields;
    form.email = email;
    form.groupIndex = namesGroup ? group : settings_.groupIndex;
    form.status = status.value_or(settings_.status);
    const std::int32_t slot = addSingleContact(session_, form, today_);
    if (slot == 0) {
        return;
    }
    report_.added += 1;
    const bool history = !fields.dateAdded.empty() || !fields.lastContacted.empty() ||
                         !fields.timesContacted.empty();
    std::int32_t times = 0;
    if (history) {
        std::string problem;
        if (!fields.dateAdded.empty() && !isContactDate(fields.dateAdded)) {
            problem = "date added \"" + fields.dateAdded + "\"";
        } else if (!fields.lastContacted.empty() && fields.lastContacted != store::kNever &&
                   !isContactDate(fields.lastContacted)) {
            problem = "last contacted \"" + fields.lastContacted + "\"";
        } else if (!fields.timesContacted.empty()) {
            const char* begin = fields.timesContacted.data();
            const char* end = begin + fields.timesContacted.size();
            const auto [stop, ec] = std::from_chars(begin, end, times);
            if (ec != std::errc() || stop != end || times < 0) {
                problem = "times contacted \"" + fields.timesContacted + "\"";
            }
        }
        if (!problem.empty()) {
            note(line, email, RowOutcome::Noted,
                 "invalid " + problem + "; the contact was stamped as new");
        } else {
            session_.modifyContact(slot, [&fields, times](store::Contact& c) {
                if (!fields.dateAdded.empty()) {
                    c.dateAdded = fields.dateAdded;
                }
                if (!fields.lastContacted.empty()) {
                    c.lastContacted = fields.lastContacted;
                }
                c.timesContacted = times;
            });
        }
    }
    if (tag.value_or(0) != 0) {
        session_.modifyContact(slot, [&tag](store::Contact& c) { c.tag = *tag; });
    }
}

void ContactImporter::undo() {
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
}

void ContactImporter::rollBack() {
    undo();
    report_.added = 0;
    report_.updated = 0;
    report_.newGroups.clear();
}

void ContactImporter::finishDryRun() {
    undo();
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
    if (!report.layout.empty()) {
        text += "Layout: " + report.layout + "\n";
    }
    list("Ignored columns:", report.ignoredColumns);
    list("New campaign groups:", report.newGroups);
    for (const std::string& note : report.notes) {
        text += note + "\n";
    }
    for (const ImportRowNote& row : report.rows) {
        if (row.lastLine > row.line) {
            text += "Lines " + std::to_string(row.line) + " to " + std::to_string(row.lastLine);
        } else {
            text += "Line " + std::to_string(row.line);
        }
        switch (row.outcome) {
        case RowOutcome::Skipped:
            text += ": skipped";
            break;
        case RowOutcome::Refused:
            text += ": refused";
            break;
        case RowOutcome::Noted:
            text += ":";
            break;
        case RowOutcome::Lost:
            break;
        }
        if (!row.email.empty()) {
            text += " " + row.email;
        }
        text += ": " + row.reason + "\n";
    }
    // Addresses, columns and values come from the file.
    return store::printableLines(text);
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
                       const std::vector<ContactField>& effective, bool formulaGuard) {
    ImportFields fields;
    std::string_view first;
    std::string_view middle;
    std::string_view last;
    std::string_view title;
    // The postal address: the first set of parts that holds any.
    std::string address;
    std::string set;
    std::vector<ContactField> setParts;
    ContactField previousPart = ContactField::Ignore;
    auto closeSet = [&]() {
        if (address.empty()) {
            address = std::move(set);
        }
        set.clear();
        setParts.clear();
    };
    const std::size_t n = std::min(cells.size(), effective.size());
    for (std::size_t i = 0; i < n; ++i) {
        std::string_view cell = cells[i];
        if (formulaGuard) {
            cell = withoutFormulaGuard(cell);
        }
        const ContactField field = effective[i];
        if (isAddressPart(field)) {
            const bool moreStreet =
                field == ContactField::Address && previousPart == ContactField::Address;
            if (!moreStreet &&
                std::find(setParts.begin(), setParts.end(), field) != setParts.end()) {
                closeSet();
            }
            setParts.push_back(field);
            previousPart = field;
            const std::string_view part = store::trimSpaces(cell);
            if (!part.empty()) {
                if (!set.empty()) {
                    set += ", ";
                }
                set += part;
            }
            continue;
        }
        switch (field) {
        case ContactField::Ignore:
            break;
        case ContactField::Email: {
            std::size_t from = 0;
            for (;;) {
                const std::size_t cut = cell.find(kAddressSeparator, from);
                const std::string_view one = store::trimSpaces(cell.substr(from, cut - from));
                if (!one.empty()) {
                    fields.emails.emplace_back(one);
                }
                if (cut == std::string_view::npos) {
                    break;
                }
                from = cut + kAddressSeparator.size();
            }
            break;
        }
        case ContactField::Name:
            fields.name = cell;
            break;
        case ContactField::FirstName:
            first = cell;
            break;
        case ContactField::MiddleName:
            middle = cell;
            break;
        case ContactField::LastName:
            last = cell;
            break;
        case ContactField::Telephone:
            if (store::trimSpaces(fields.telephone).empty()) {
                fields.telephone = cell.substr(0, cell.find(kAddressSeparator));
            }
            break;
        case ContactField::Company:
            if (store::trimSpaces(fields.company).empty()) {
                fields.company = cell;
            }
            break;
        case ContactField::JobTitle:
            title = cell;
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
        case ContactField::DateAdded:
            fields.dateAdded = store::trimSpaces(cell);
            break;
        case ContactField::LastContacted:
            fields.lastContacted = store::trimSpaces(cell);
            break;
        case ContactField::TimesContacted:
            fields.timesContacted = store::trimSpaces(cell);
            break;
        default:
            break;
        }
    }
    closeSet();
    fields.address = std::move(address);
    if (store::trimSpaces(fields.name).empty()) {
        fields.name.clear();
        appendJoined(fields.name, first);
        appendJoined(fields.name, middle);
        appendJoined(fields.name, last);
    }
    const std::string_view job = store::trimSpaces(title);
    if (!job.empty()) {
        if (!store::trimSpaces(fields.notes).empty()) {
            fields.notes += "\n";
        }
        fields.notes += job;
    }
    if (!fields.emails.empty()) {
        fields.email = fields.emails.front();
    }
    return fields;
}

} // namespace velmora::contacts
