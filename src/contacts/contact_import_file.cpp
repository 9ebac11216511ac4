// Reading import files: encoding and format detection, the CSV and vCard
// passes and the window's preview.
#include "contacts/contact_import.h"
#include "contacts/vcard_reader.h"
#include "store/file_reading.h"
#include "store/text.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::contacts {

namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;
constexpr std::size_t kSniffSize = 64 * 1024;

std::string cannotRead(const std::string& path, int error) {
    return "Cannot read \"" + path + "\": " + store::systemErrorText(error) + ".";
}

// A regular file read in chunks. Anything else (a directory, a pipe, a
// device) is refused before a byte is read, so an import never blocks.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool open(const std::string& path, std::string& error) {
        path_ = path;
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error = cannotRead(path, errno);
            return false;
        }
        struct stat info {};
        if (::fstat(fd_, &info) != 0) {
            error = cannotRead(path, errno);
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            error = "\"" + path + "\" is not a regular file.";
            return false;
        }
        size_ = static_cast<std::uint64_t>(info.st_size);
        return true;
    }

    std::uint64_t size() const { return size_; }
    std::uint64_t position() const { return position_; }

    // Replaces `buffer` by the next bytes (none at the end). False on a read error.
    bool read(std::string& buffer, std::size_t limit, std::string& error) {
        buffer.resize(limit);
        std::size_t got = 0;
        while (got < limit) {
            const ssize_t n = ::read(fd_, buffer.data() + got, limit - got);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                error = cannotRead(path_, errno);
                return false;
            }
            if (n == 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        buffer.resize(got);
        position_ += got;
        return true;
    }

    bool rewind(std::string& error) {
        if (::lseek(fd_, 0, SEEK_SET) != 0) {
            error = cannotRead(path_, errno);
            return false;
        }
        position_ = 0;
        return true;
    }

    bool readAll(std::string& bytes, std::string& error) {
        bytes.clear();
        std::string chunk;
        do {
            if (!read(chunk, kChunkSize, error)) {
                return false;
            }
            bytes += chunk;
        } while (!chunk.empty());
        return true;
    }

private:
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

struct Detected {
    TextEncoding encoding = TextEncoding::Utf8;
    bool byteOrderMark = false;
    ImportFormat format = ImportFormat::Csv;
};

bool endsWithIgnoringCase(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           store::equalIgnoringCase(std::string_view(text).substr(text.size() - suffix.size()),
                                    suffix);
}

// A byte order mark names the encoding; without one zero bytes tell UTF-16,
// else the file is UTF-8 when all of it is valid UTF-8, else Windows-1252.
// The file is rewound.
bool detect(InputFile& file, const std::string& path, ImportFormat format,
            std::optional<TextEncoding> forced, Detected& detected, std::string& error) {
    std::string head;
    if (!file.read(head, kChunkSize, error)) {
        return false;
    }
    const std::optional<TextEncoding> marked = encodingFromByteOrderMark(head);
    if (forced) {
        detected.encoding = *forced;
    } else if (marked) {
        detected.encoding = *marked;
    } else if (const std::optional<TextEncoding> wide = encodingFromZeroBytes(head)) {
        detected.encoding = *wide;
    } else {
        Utf8Validator validator;
        validator.feed(head);
        std::string chunk;
        while (validator.valid()) {
            if (!file.read(chunk, kChunkSize, error)) {
                return false;
            }
            if (chunk.empty()) {
                break;
            }
            validator.feed(chunk);
        }
        detected.encoding = validator.finish() ? TextEncoding::Utf8 : TextEncoding::Windows1252;
    }
    detected.byteOrderMark = byteOrderMarkLength(head, detected.encoding) > 0;
    detected.format = format;
    if (format == ImportFormat::Auto) {
        if (endsWithIgnoringCase(path, ".vcf") || endsWithIgnoringCase(path, ".vcard")) {
            detected.format = ImportFormat::VCard;
        } else {
            TextDecoder decoder(detected.encoding);
            std::string text;
            decoder.decode(std::string_view(head).substr(0, std::min(head.size(), kSniffSize)),
                           text);
            detected.format = looksLikeVCard(text) ? ImportFormat::VCard : ImportFormat::Csv;
        }
    }
    return file.rewind(error);
}

bool allBlank(const std::vector<std::string>& cells) {
    return std::all_of(cells.begin(), cells.end(),
                       [](const std::string& cell) { return store::trimSpaces(cell).empty(); });
}

std::vector<ContactField> columnMapping(const std::vector<std::string>& header,
                                        const ImportOptions& options, std::string& error) {
    std::vector<ContactField> mapping =
        options.mapping ? *options.mapping : automaticMapping(header);
    mapping.resize(header.size(), ContactField::Ignore);
    if (!applyMapOverrides(header, options.mapOverrides, mapping, error)) {
        return {};
    }
    mapping = effectiveMapping(std::move(mapping));
    if (std::find(mapping.begin(), mapping.end(), ContactField::Email) == mapping.end()) {
        error = "No column holds the e-mail addresses; map one to the field \"email\".";
        return {};
    }
    return mapping;
}

// The length of a first line "sep=C" (with its line end) that spreadsheets
// write to name the delimiter C, or 0.
std::size_t sepLineLength(std::string_view text, char& delimiter) {
    if (text.size() < 5 || !store::equalIgnoringCase(text.substr(0, 4), "sep=")) {
        return 0;
    }
    const char c = text[4];
    if (c == '"' || c == '\r' || c == '\n') {
        return 0;
    }
    std::size_t length = 5;
    if (length < text.size() && text[length] == '\r') {
        ++length;
    }
    if (length < text.size() && text[length] == '\n') {
        ++length;
    }
    if (length == 5 && length < text.size()) {
        return 0; // more text on the line: a heading that happens to start so
    }
    delimiter = c;
    return length;
}

// Finds the header row: the first record, unless the file opens with a
// note ("Notes:" and a paragraph, as one address book writes), whose
// one-cell records are passed over.
class HeaderFinder {
public:
    bool isHeader(const CsvRecord& record) {
        const bool oneCell = record.fields.size() <= 1;
        if (first_) {
            first_ = false;
            preamble_ = oneCell && !record.fields.empty() &&
                        store::trimSpaces(record.fields[0]).ends_with(':');
        }
        return !(preamble_ && oneCell);
    }

private:
    bool first_ = true;
    bool preamble_ = false;
};

// Everything CSV-specific a row gets before the importer: dropped extra
// cells and the formula guard.
struct CsvRows {
    std::vector<std::string> header;
    std::vector<ContactField> mapping;

    void add(ContactImporter& importer, const CsvRecord& record, bool formulaGuard) const {
        const ImportFields fields = rowFields(record.fields, mapping, formulaGuard);
        if (record.fields.size() > header.size() &&
            !std::all_of(record.fields.begin() + static_cast<std::ptrdiff_t>(header.size()),
                         record.fields.end(),
                         [](const std::string& cell) { return store::trimSpaces(cell).empty(); })) {
            importer.noteRow(record.line, fields.email,
                             "the row has " + std::to_string(record.fields.size()) +
                                 " cells, the header " + std::to_string(header.size()) +
                                 "; the extra cells were dropped");
        }
        importer.addRow(record.line, fields);
    }
};

bool importCsv(InputFile& file, const Detected& detected, const ImportOptions& options,
               ContactImporter& importer, const ImportProgress& progress, std::string& error) {
    ImportReport& report = importer.report();
    TextDecoder decoder(detected.encoding);
    std::optional<CsvParser> parser;
    bool headerSeen = false;
    HeaderFinder finder;
    CsvRows rows;
    std::string failure;
    auto sink = [&](CsvRecord& record) {
        if (!failure.empty()) {
            return;
        }
        if (!headerSeen) {
            if (!finder.isHeader(record)) {
                return;
            }
            headerSeen = true;
            rows.header = record.fields;
            rows.mapping = columnMapping(rows.header, options, failure);
            report.ignoredColumns = ignoredColumnLabels(rows.header, rows.mapping);
            if (const KnownLayout layout = knownLayoutOf(rows.header);
                layout != KnownLayout::None) {
                report.layout = knownLayoutName(layout);
            }
            for (const std::size_t column : repeatedHeadings(rows.header)) {
                if (column < rows.mapping.size() && rows.mapping[column] == ContactField::Ignore) {
                    report.notes.push_back("Column " + std::to_string(column + 1) + " \"" +
                                           rows.header[column] +
                                           "\" repeats an earlier heading; it was ignored.");
                }
            }
            return;
        }
        if (record.unclosedQuote) {
            importer.refuseLines(record.line, record.lastLine);
            return;
        }
        if (allBlank(record.fields)) {
            return;
        }
        rows.add(importer, record, options.formulaGuard);
    };

    std::string chunk;
    std::string text;
    bool atEnd = false;
    while (!atEnd) {
        if (!file.read(chunk, kChunkSize, error)) {
            return false;
        }
        text.clear();
        if (chunk.empty()) {
            decoder.finish(text);
            atEnd = true;
        } else {
            decoder.decode(chunk, text);
        }
        std::string_view rest = text;
        if (!parser) {
            if (text.empty() && !atEnd) {
                continue;
            }
            char named = 0;
            const std::size_t sep = sepLineLength(rest, named);
            rest.remove_prefix(sep);
            const char delimiter = options.delimiter.value_or(
                sep > 0 ? named
                        : sniffDelimiter(rest.substr(0, std::min(rest.size(), kSniffSize))));
            report.delimiter = delimiter;
            parser.emplace(delimiter, sink);
            if (sep > 0) {
                parser->startAtLine(2);
            }
        }
        parser->feed(rest);
        if (atEnd) {
            parser->finish();
        }
        if (!failure.empty()) {
            error = failure;
            return false;
        }
        if (progress && !progress(file.position(), file.size())) {
            report.cancelled = true;
            return true;
        }
    }
    if (!headerSeen) {
        error = "The file holds no header row.";
        return false;
    }
    return true;
}

std::vector<VCard> readCards(InputFile& file, const Detected& detected, std::string& error,
                             bool& ok) {
    std::string bytes;
    ok = file.readAll(bytes, error);
    if (!ok) {
        return {};
    }
    TextDecoder decoder(detected.encoding);
    std::string text;
    decoder.decode(bytes, text);
    decoder.finish(text);
    return readVCards(text);
}

bool importVCards(InputFile& file, const Detected& detected, const ImportOptions& options,
                  ContactImporter& importer, const ImportProgress& progress, std::string& error) {
    bool ok = false;
    const std::vector<VCard> cards = readCards(file, detected, error, ok);
    if (!ok) {
        return false;
    }
    for (std::size_t i = 0; i < cards.size(); ++i) {
        const VCard& card = cards[i];
        ImportFields fields;
        fields.name = card.name;
        fields.address = card.address;
        fields.telephone = card.telephone;
        fields.company = card.company;
        fields.notes = card.notes;
        if (card.emails.empty()) {
            importer.addRow(card.line, fields);
        }
        for (const std::string& email : card.emails) {
            fields.email = email;
            importer.addRow(card.line, fields);
            if (options.settings.firstEmailOnly) {
                break;
            }
        }
        if (progress && i % 256 == 255 && !progress(i + 1, cards.size())) {
            importer.report().cancelled = true;
            return true;
        }
    }
    if (progress && !progress(cards.size(), cards.size())) {
        importer.report().cancelled = true;
    }
    return true;
}

const std::vector<std::string>& vcardColumns() {
    static const std::vector<std::string> columns{"Email Address", "Contact Name", "Company",
                                                  "Telephone",     "Address",      "Notes"};
    return columns;
}

} // namespace

ImportResult importContactsFile(store::Session& session, const std::string& path,
                                const ImportOptions& options, std::string_view today,
                                const ImportProgress& progress) {
    ImportResult result;
    InputFile file;
    Detected detected;
    if (!file.open(path, result.error) ||
        !detect(file, path, options.format, options.encoding, detected, result.error)) {
        return result;
    }
    ContactImporter importer(session, options.settings, std::string(today));
    ImportReport& report = importer.report();
    report.encoding = encodingDescription(detected.encoding, detected.byteOrderMark);
    const bool vcard = detected.format == ImportFormat::VCard;
    report.format = vcard ? "vCard" : "CSV";
    const bool done = vcard
                          ? importVCards(file, detected, options, importer, progress, result.error)
                          : importCsv(file, detected, options, importer, progress, result.error);
    if (!done || report.cancelled) {
        // A failed or cancelled import leaves the session as it was.
        importer.rollBack();
    } else if (options.settings.dryRun) {
        importer.finishDryRun();
    }
    result.ok = done;
    result.report = std::move(report);
    return result;
}

ImportPreview previewContactsFile(const std::string& path, ImportFormat format,
                                  std::optional<TextEncoding> encoding,
                                  std::optional<char> delimiter, std::size_t maxRows) {
    ImportPreview preview;
    InputFile file;
    Detected detected;
    if (!file.open(path, preview.error) ||
        !detect(file, path, format, encoding, detected, preview.error)) {
        return preview;
    }
    preview.format = detected.format;
    preview.encoding = detected.encoding;
    preview.byteOrderMark = detected.byteOrderMark;
    if (detected.format == ImportFormat::VCard) {
        bool ok = false;
        const std::vector<VCard> cards = readCards(file, detected, preview.error, ok);
        if (!ok) {
            return preview;
        }
        preview.header = vcardColumns();
        for (std::size_t i = 0; i < cards.size() && preview.rows.size() < maxRows; ++i) {
            const VCard& c = cards[i];
            preview.rows.push_back({c.emails.empty() ? std::string() : c.emails.front(), c.name,
                                    c.company, c.telephone, c.address, c.notes});
        }
        preview.mapping = {ContactField::Email,     ContactField::Name,    ContactField::Company,
                           ContactField::Telephone, ContactField::Address, ContactField::Notes};
        preview.effective = preview.mapping;
        preview.ok = true;
        return preview;
    }
    std::string chunk;
    if (!file.read(chunk, kChunkSize, preview.error)) {
        return preview;
    }
    TextDecoder decoder(detected.encoding);
    std::string text;
    decoder.decode(chunk, text);
    if (file.position() >= file.size()) {
        decoder.finish(text);
    }
    std::string_view rest = text;
    char named = 0;
    const std::size_t sep = sepLineLength(rest, named);
    rest.remove_prefix(sep);
    preview.delimiter = delimiter.value_or(
        sep > 0 ? named : sniffDelimiter(rest.substr(0, std::min(rest.size(), kSniffSize))));
    bool headerSeen = false;
    HeaderFinder finder;
    CsvParser parser(preview.delimiter, [&](CsvRecord& record) {
        if (!headerSeen) {
            if (finder.isHeader(record)) {
                headerSeen = true;
                preview.header = record.fields;
            }
        } else if (preview.rows.size() < maxRows && !record.unclosedQuote &&
                   !allBlank(record.fields)) {
            preview.rows.push_back(record.fields);
        }
    });
    if (sep > 0) {
        parser.startAtLine(2);
    }
    parser.feed(rest);
    if (file.position() >= file.size()) {
        parser.finish();
    }
    if (!headerSeen) {
        preview.error = "The file holds no header row.";
        return preview;
    }
    preview.mapping = automaticMapping(preview.header);
    preview.effective = effectiveMapping(preview.mapping);
    preview.ok = true;
    return preview;
}

} // namespace velmora::contacts
