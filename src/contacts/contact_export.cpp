#include "contacts/contact_export.h"

#include "contacts/csv_format.h"
#include "store/atomic_file.h"
#include "store/file_names.h"
#include "store/file_reading.h"

#include <cerrno>

namespace velmora::contacts {

namespace {

constexpr std::size_t kFlushSize = std::size_t{1} << 20;

void appendNumber(std::string& out, std::int64_t value) {
    out += std::to_string(value);
}

} // namespace

std::vector<const store::Contact*> exportRecords(const store::Session& session,
                                                 const ExportChoice& choice) {
    std::vector<const store::Contact*> records;
    switch (choice.source) {
    case ExportSource::Tab:
    case ExportSource::Filtered: {
        views::ContactViews views;
        views.refresh(session);
        views::ViewTab tab = choice.tab;
        if (choice.source == ExportSource::Filtered) {
            views.applyFilters(session, choice.search, choice.checks);
            tab = views::ViewTab::AllEntries;
        }
        const views::ContactList& list = views.list(tab);
        records.reserve(list.rowSlots.size());
        for (const std::int32_t slot : list.rowSlots) {
            records.push_back(&session.contact(slot));
        }
        break;
    }
    case ExportSource::Group:
        for (const store::Contact& contact : session.contacts()) {
            if (!contact.isDeleted() && contact.groupIndex == choice.group) {
                records.push_back(&contact);
            }
        }
        break;
    case ExportSource::Rows:
        for (const std::int32_t slot : choice.rows) {
            if (session.hasContact(slot) && !session.contact(slot).isDeleted()) {
                records.push_back(&session.contact(slot));
            }
        }
        break;
    case ExportSource::Mailtray:
        for (const store::Contact& entry : session.mailtray()) {
            if (!entry.isDeleted()) {
                records.push_back(&entry);
            }
        }
        break;
    }
    return records;
}

void appendExportHeader(std::string& out) {
    bool first = true;
    for (const char* column : kExportColumns) {
        if (!first) {
            out.push_back(',');
        }
        first = false;
        out.append(column);
    }
    out.append("\r\n");
}

void appendExportRow(std::string& out, const store::Session& session, const store::Contact& c,
                     bool formulaGuard) {
    const std::string_view group =
        session.hasGroup(c.groupIndex) ? std::string_view(session.group(c.groupIndex).name) : "";
    const std::string_view tag =
        c.tag == code(store::ContactTag::None) ? "" : store::tagCaption(c.tag);
    // In the order of kExportColumns.
    const std::string_view texts[] = {
        c.email.view(),
        c.name.view(),
        c.address.view(),
        c.telephone.view(),
        c.company.view(),
        c.notes.view(),
        group,
        store::statusCaption(c.status),
        tag,
        c.dateAdded.view(),
        c.lastContacted.view(),
    };
    for (const std::string_view text : texts) {
        appendCsvField(out, text, ',', formulaGuard);
        out.push_back(',');
    }
    appendNumber(out, c.timesContacted);
    out.append("\r\n");
}

std::string exportDoneText(std::int64_t count, const std::string& path) {
    return "Exported " + std::to_string(count) + (count == 1 ? " contact" : " contacts") + " to " +
           path + ".";
}

std::string exportStartPath(const store::Session& session, const std::string& homeFolder) {
    constexpr const char* kName = "contacts.csv";
    if (session.isUntitled()) {
        return homeFolder + kName;
    }
    const std::string folder = store::directoryOf(session.sessionFileName);
    return (folder.ends_with('/') ? folder : folder + "/") + kName;
}

std::string withCsvExtension(const std::string& path) {
    if (store::lastPathPart(path).find('.') != std::string_view::npos) {
        return path;
    }
    return path + ".csv";
}

ExportResult exportContactsCsv(const store::Session& session, const ExportChoice& choice,
                               const std::string& path, bool byteOrderMark, bool formulaGuard) {
    ExportResult result;
    store::AtomicFile file(path);
    if (!file.open()) {
        result.error = "Cannot write \"" + path + "\": " + file.error() + ".";
        return result;
    }
    std::string buffer;
    buffer.reserve(kFlushSize + 4096);
    if (byteOrderMark) {
        buffer.append("\xEF\xBB\xBF");
    }
    appendExportHeader(buffer);
    auto flush = [&]() {
        if (!buffer.empty() &&
            std::fwrite(buffer.data(), 1, buffer.size(), file.stream()) != buffer.size()) {
            result.error = "Cannot write \"" + path + "\": " + store::systemErrorText(errno) + ".";
            return false;
        }
        buffer.clear();
        return true;
    };
    for (const store::Contact* contact : exportRecords(session, choice)) {
        appendExportRow(buffer, session, *contact, formulaGuard);
        ++result.count;
        if (buffer.size() >= kFlushSize && !flush()) {
            return result;
        }
    }
    if (!flush()) {
        return result;
    }
    if (!file.commit()) {
        result.error = "Cannot write \"" + path + "\": " + file.error() + ".";
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace velmora::contacts
