#include "contacts/csv_format.h"

#include "store/text.h"
#include "store/text_encoding.h"

#include <algorithm>
#include <array>
#include <utility>

namespace velmora::contacts {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at p (n bytes available), 0 when the
// bytes there are no valid sequence, or -1 when they are a valid start cut
// short by the end of the bytes.
int sequenceLength(const unsigned char* p, std::size_t n) {
    const unsigned char c = p[0];
    if (c < 0x80) {
        return 1;
    }
    int extra = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        lo = c == 0xE0 ? 0xA0 : 0x80; // overlong
        hi = c == 0xED ? 0x9F : 0xBF; // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (int k = 1; k <= extra; ++k) {
        if (static_cast<std::size_t>(k) >= n) {
            return -1;
        }
        const unsigned char b = p[k];
        if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) {
            return 0;
        }
    }
    return extra + 1;
}

// Where the bytes may be cut so that no sequence that could still be
// completed is split: the start of a trailing incomplete sequence, else the end.
std::size_t completeLength(std::string_view bytes) {
    const std::size_t n = bytes.size();
    const std::size_t from = n >= 3 ? n - 3 : 0;
    for (std::size_t i = n; i > from; --i) {
        const auto c = static_cast<unsigned char>(bytes[i - 1]);
        if ((c & 0xC0) == 0xC0) {
            const int length = sequenceLength(
                reinterpret_cast<const unsigned char*>(bytes.data()) + i - 1, n - (i - 1));
            return length == -1 ? i - 1 : n;
        }
        if ((c & 0xC0) != 0x80) {
            return n;
        }
    }
    return n;
}

void appendSanitizedUtf8(std::string& out, std::string_view bytes) {
    if (store::isValidUtf8(bytes)) {
        out.append(bytes);
        return;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const int length = sequenceLength(p + i, bytes.size() - i);
        if (length > 0) {
            out.append(bytes.substr(i, static_cast<std::size_t>(length)));
            i += static_cast<std::size_t>(length);
        } else {
            store::appendUtf8(out, kReplacement);
            ++i;
        }
    }
}

} // namespace

std::string_view encodingName(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8:
        return "UTF-8";
    case TextEncoding::Utf16Le:
        return "UTF-16LE";
    case TextEncoding::Utf16Be:
        return "UTF-16BE";
    case TextEncoding::Windows1252:
        return "Windows-1252";
    }
    return "UTF-8";
}

std::optional<TextEncoding> encodingFromName(std::string_view name) {
    std::string folded;
    for (const char c : name) {
        if (c != '-' && c != '_' && c != ' ') {
            folded.push_back(store::toLowerAscii(c));
        }
    }
    if (folded == "utf8") {
        return TextEncoding::Utf8;
    }
    if (folded == "utf16le") {
        return TextEncoding::Utf16Le;
    }
    if (folded == "utf16be") {
        return TextEncoding::Utf16Be;
    }
    if (folded == "windows1252" || folded == "cp1252") {
        return TextEncoding::Windows1252;
    }
    return std::nullopt;
}

std::size_t byteOrderMarkLength(std::string_view bytes, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8:
        return bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    case TextEncoding::Utf16Le:
        return bytes.starts_with("\xFF\xFE") ? 2 : 0;
    case TextEncoding::Utf16Be:
        return bytes.starts_with("\xFE\xFF") ? 2 : 0;
    case TextEncoding::Windows1252:
        return 0;
    }
    return 0;
}

std::optional<TextEncoding> encodingFromByteOrderMark(std::string_view head) {
    for (const TextEncoding e :
         {TextEncoding::Utf8, TextEncoding::Utf16Le, TextEncoding::Utf16Be}) {
        if (byteOrderMarkLength(head, e) > 0) {
            return e;
        }
    }
    return std::nullopt;
}

std::optional<TextEncoding> encodingFromZeroBytes(std::string_view head) {
    constexpr std::size_t kLook = 4096;
    const std::size_t n = std::min(head.size(), kLook) & ~static_cast<std::size_t>(1);
    if (n < 2) {
        return std::nullopt;
    }
    std::size_t evenZeros = 0;
    std::size_t oddZeros = 0;
    for (std::size_t i = 0; i < n; i += 2) {
        evenZeros += head[i] == '\0' ? 1 : 0;
        oddZeros += head[i + 1] == '\0' ? 1 : 0;
    }
    const std::size_t pairs = n / 2;
    // A third of the characters in ASCII is plenty for a header row; the
    // other position must be nearly free of zeros (a UTF-8 text has none).
    if (oddZeros * 3 >= pairs && evenZeros * 16 <= oddZeros) {
        return TextEncoding::Utf16Le;
    }
    if (evenZeros * 3 >= pairs && oddZeros * 16 <= evenZeros) {
        return TextEncoding::Utf16Be;
    }
    return std::nullopt;
}

void Utf8Validator::feed(std::string_view bytes) {
    if (!valid_) {
        return;
    }
    std::string joined;
    if (!carry_.empty()) {
        joined = carry_ + std::string(bytes);
        bytes = joined;
    }
    const std::size_t cut = completeLength(bytes);
    valid_ = store::isValidUtf8(bytes.substr(0, cut));
    carry_.assign(bytes.substr(cut));
}

bool Utf8Validator::finish() {
    if (!carry_.empty()) {
        valid_ = false;
        carry_.clear();
    }
    return valid_;
}

void TextDecoder::decode(std::string_view bytes, std::string& out) {
    if (encoding_ == TextEncoding::Windows1252) {
        out.append(store::windows1252ToUtf8(bytes));
        return;
    }
    std::string joined;
    if (!carry_.empty()) {
        joined = carry_ + std::string(bytes);
        bytes = joined;
    }
    if (!started_) {
        // A byte order mark is only recognised whole.
        const std::size_t markSize = encoding_ == TextEncoding::Utf8 ? 3 : 2;
        if (bytes.size() < markSize) {
            carry_.assign(bytes);
            return;
        }
        started_ = true;
        bytes.remove_prefix(byteOrderMarkLength(bytes, encoding_));
    }
    if (encoding_ == TextEncoding::Utf8) {
        const std::size_t cut = completeLength(bytes);
        std::string tail(bytes.substr(cut));
        appendSanitizedUtf8(out, bytes.substr(0, cut));
        carry_ = std::move(tail);
    } else {
        const std::size_t even = bytes.size() & ~static_cast<std::size_t>(1);
        std::string tail(bytes.substr(even));
        decodeUtf16(bytes.substr(0, even), out);
        carry_ = std::move(tail);
    }
}

void TextDecoder::decodeUtf16(std::string_view bytes, std::string& out) {
    const bool little = encoding_ == TextEncoding::Utf16Le;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        const char16_t unit =
            little ? static_cast<char16_t>(b0 | (b1 << 8)) : static_cast<char16_t>((b0 << 8) | b1);
        if (highSurrogate_ != 0) {
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                const char32_t cp = 0x10000 +
                                    ((static_cast<char32_t>(highSurrogate_) - 0xD800) << 10) +
                                    (static_cast<char32_t>(unit) - 0xDC00);
                store::appendUtf8(out, cp);
                highSurrogate_ = 0;
                continue;
            }
            store::appendUtf8(out, kReplacement);
            highSurrogate_ = 0;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            highSurrogate_ = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            store::appendUtf8(out, kReplacement);
        } else {
            store::appendUtf8(out, unit);
        }
    }
}

void TextDecoder::finish(std::string& out) {
    if (!started_ && !carry_.empty()) {
        started_ = true;
        std::string head = std::move(carry_);
        carry_.clear();
        if (encoding_ == TextEncoding::Utf8) {
            appendSanitizedUtf8(out, head);
        } else {
            decodeUtf16(head.substr(0, head.size() & ~static_cast<std::size_t>(1)), out);
            if (head.size() % 2 != 0) {
                store::appendUtf8(out, kReplacement);
            }
        }
    } else if (!carry_.empty()) {
        // Only an incomplete sequence or a lone byte can be left.
        store::appendUtf8(out, kReplacement);
        carry_.clear();
    }
    if (highSurrogate_ != 0) {
        store::appendUtf8(out, kReplacement);
        highSurrogate_ = 0;
    }
}

CsvParser::CsvParser(char delimiter, Sink sink) : delimiter_(delimiter), sink_(std::move(sink)) {}

void CsvParser::newLine() {
    ++line_;
}

void CsvParser::stopCapture() {
    capturing_ = false;
    captureAfterCr_ = false;
    captureFrom_ = nullptr;
    capture_.clear();
}

void CsvParser::endField() {
    if (fieldCount_ < record_.fields.size()) {
        record_.fields[fieldCount_].assign(field_);
    } else {
        record_.fields.push_back(field_);
    }
    ++fieldCount_;
    field_.clear();
    fieldQuoted_ = false;
    afterQuote_ = false;
}

void CsvParser::endRecord() {
    endField();
    const bool blank = fieldCount_ == 1 && record_.fields[0].empty() && !recordQuoted_;
    if (!blank) {
        record_.fields.resize(fieldCount_);
        record_.lastLine = line_;
        sink_(record_);
    }
    fieldCount_ = 0;
    recordQuoted_ = false;
    record_.unclosedQuote = false;
    record_.line = 0;
}

void CsvParser::feed(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    if (capturing_) {
        captureFrom_ = p;
    }
    while (p < end) {
        const char c = *p;
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                if (inQuotes_) {
                    field_.push_back('\n');
                }
                if (captureAfterCr_) {
                    captureFrom_ = p + 1; // the rest of the CR LF that began the kept text
                }
                ++p;
                continue;
            }
        }
        captureAfterCr_ = false;
        if (record_.line == 0) {
            record_.line = line_;
        }
        if (inQuotes_) {
            const char* q = p;
            while (q < end && *q != '"' && *q != '\r' && *q != '\n') {
                ++q;
            }
            field_.append(p, q);
            p = q;
            if (p == end) {
                break;
            }
            if (*p == '"') {
                inQuotes_ = false;
                afterQuote_ = true;
            } else {
                field_.push_back(*p);
                newLine();
                pendingCr_ = *p == '\r';
                if (!capturing_) {
                    capturing_ = true;
                    captureFrom_ = p + 1;
                    captureLine_ = line_;
                    captureAfterCr_ = pendingCr_;
                }
            }
            ++p;
            continue;
        }
        if (afterQuote_ && capturing_ && c != '"') {
            // The quoted field that ran over a line end is closed: if text
            // follows it, its opening quote was a stray one.
            if (c != delimiter_ && c != '\r' && c != '\n') {
                record_.unclosedQuote = true;
            }
            stopCapture();
        }
        if (c == delimiter_) {
            endField();
        } else if (c == '\r' || c == '\n') {
            endRecord();
            newLine();
            pendingCr_ = c == '\r';
        } else if (c == '"') {
            if (afterQuote_) {
                field_.push_back('"'); // a doubled quote inside a quoted field
                inQuotes_ = true;
                afterQuote_ = false;
            } else if (field_.empty() && !fieldQuoted_) {
                inQuotes_ = true;
                fieldQuoted_ = true;
                recordQuoted_ = true;
            } else {
                field_.push_back('"');
            }
        } else {
            const char* q = p + 1;
            while (q < end && *q != delimiter_ && *q != '\r' && *q != '\n' && *q != '"') {
                ++q;
            }
            field_.append(p, q);
            afterQuote_ = false;
            p = q;
            continue;
        }
        ++p;
    }
    if (capturing_ && captureFrom_ != nullptr) {
        capture_.append(captureFrom_, end);
        captureFrom_ = nullptr;
    }
}

void CsvParser::finish() {
    pendingCr_ = false;
    if (afterQuote_ && capturing_) {
        stopCapture(); // closed right at the end of the text
    }
    if (inQuotes_) {
        inQuotes_ = false;
        endField();
        record_.fields.resize(fieldCount_);
        record_.unclosedQuote = true;
        record_.lastLine = capturing_ ? captureLine_ - 1 : line_;
        sink_(record_);
        fieldCount_ = 0;
        field_.clear();
        fieldQuoted_ = false;
        afterQuote_ = false;
        recordQuoted_ = false;
        record_.unclosedQuote = false;
        record_.line = 0;
        if (capturing_) {
            // Everything after the line the quote opened on is read again.
            std::string rest = std::move(capture_);
            const std::int64_t restLine = captureLine_;
            stopCapture();
            line_ = restLine;
            feed(rest);
            finish();
        }
    } else if (record_.line != 0) {
        endRecord();
    }
}

char sniffDelimiter(std::string_view sample) {
    constexpr std::array<char, 3> kCandidates{',', ';', '\t'};
    constexpr std::size_t kRecords = 20;
    char best = ',';
    std::size_t bestConsistent = 0;
    std::size_t bestWidth = 0;
    for (const char candidate : kCandidates) {
        std::vector<std::size_t> widths;
        CsvParser parser(candidate, [&](CsvRecord& record) {
            if (widths.size() < kRecords) {
                widths.push_back(record.fields.size());
            }
        });
        parser.feed(sample);
        parser.finish();
        if (widths.empty() || widths.front() <= 1) {
            continue;
        }
        std::size_t consistent = 0;
        for (const std::size_t w : widths) {
            consistent += w == widths.front() ? 1 : 0;
        }
        if (consistent > bestConsistent ||
            (consistent == bestConsistent && widths.front() > bestWidth)) {
            best = candidate;
            bestConsistent = consistent;
            bestWidth = widths.front();
        }
    }
    return best;
}

bool needsFormulaGuard(std::string_view field) {
    const std::size_t first = field.find_first_not_of('\'');
    if (first == std::string_view::npos) {
        return false;
    }
    const char c = field[first];
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

std::string_view withoutFormulaGuard(std::string_view field) {
    if (field.starts_with('\'') && needsFormulaGuard(field.substr(1))) {
        field.remove_prefix(1);
    }
    return field;
}

void appendCsvField(std::string& out, std::string_view field, char delimiter, bool formulaGuard) {
    if (formulaGuard && needsFormulaGuard(field)) {
        std::string guarded;
        guarded.reserve(field.size() + 1);
        guarded.push_back('\'');
        guarded.append(field);
        appendCsvField(out, guarded, delimiter, false);
        return;
    }
    bool quote = !field.empty() && (field.front() == ' ' || field.front() == '\t' ||
                                    field.back() == ' ' || field.back() == '\t');
    for (const char c : field) {
        if (c == delimiter || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (const char c : field) {
        if (c == '"') {
            out.push_back('"');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

} // namespace velmora::contacts
