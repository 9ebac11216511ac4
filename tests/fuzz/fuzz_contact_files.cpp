// Any bytes must read as CSV and as vCards without a crash; the decoded text
// is valid UTF-8, the parser gives the same records whatever the piece size,
// and a record written by our export reads back as the same fields.
#include "contacts/csv_format.h"
#include "contacts/vcard_reader.h"
#include "store/text_encoding.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<velmora::contacts::CsvRecord> parse(std::string_view text, char delimiter,
                                                std::size_t piece) {
    std::vector<velmora::contacts::CsvRecord> records;
    velmora::contacts::CsvParser parser(
        delimiter, [&](velmora::contacts::CsvRecord& r) { records.push_back(r); });
    for (std::size_t i = 0; i < text.size(); i += piece) {
        parser.feed(text.substr(i, piece));
    }
    parser.finish();
    return records;
}

bool same(const std::vector<velmora::contacts::CsvRecord>& a,
          const std::vector<velmora::contacts::CsvRecord>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].line != b[i].line || a[i].lastLine != b[i].lastLine ||
            a[i].fields != b[i].fields || a[i].unclosedQuote != b[i].unclosedQuote) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const velmora::contacts::TextEncoding encoding :
         {velmora::contacts::TextEncoding::Utf8, velmora::contacts::TextEncoding::Utf16Le,
          velmora::contacts::TextEncoding::Utf16Be, velmora::contacts::TextEncoding::Windows1252}) {
        velmora::contacts::TextDecoder whole(encoding);
        std::string text;
        whole.decode(bytes, text);
        whole.finish(text);
        velmora::contacts::TextDecoder pieces(encoding);
        std::string again;
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            pieces.decode(bytes.substr(i, 3), again);
        }
        pieces.finish(again);
        if (!velmora::store::isValidUtf8(text) || text != again) {
            std::abort();
        }
    }
    velmora::contacts::Utf8Validator validator;
    for (std::size_t i = 0; i < bytes.size(); i += 5) {
        validator.feed(bytes.substr(i, 5));
    }
    if (validator.finish() != velmora::store::isValidUtf8(bytes)) {
        std::abort();
    }

    const char delimiter = velmora::contacts::sniffDelimiter(bytes);
    const std::vector<velmora::contacts::CsvRecord> records =
        parse(bytes, delimiter, bytes.size() + 1);
    if (!same(records, parse(bytes, delimiter, 7))) {
        std::abort();
    }
    // What the export writes for a record's fields reads back as those fields
    // (a record of one empty field is a blank line, which is skipped).
    for (const velmora::contacts::CsvRecord& record : records) {
        if (record.fields.size() == 1 && record.fields[0].empty()) {
            continue;
        }
        std::string line;
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            if (i > 0) {
                line.push_back(',');
            }
            velmora::contacts::appendCsvField(line, record.fields[i]);
        }
        line += "\r\n";
        const std::vector<velmora::contacts::CsvRecord> back = parse(line, ',', line.size());
        if (back.size() != 1 || back[0].fields != record.fields) {
            std::abort();
        }
    }
    (void)velmora::contacts::looksLikeVCard(bytes);
    for (const velmora::contacts::VCard& card : velmora::contacts::readVCards(bytes)) {
        if (card.line < 1) {
            std::abort();
        }
    }
    return 0;
}
