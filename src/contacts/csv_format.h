#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::contacts {

// How the bytes of an imported file are turned into UTF-8.
enum class TextEncoding { Utf8, Utf16Le, Utf16Be, Windows1252 };

std::string_view encodingName(TextEncoding encoding);
// "utf-8", "utf-16le", "utf-16be", "windows-1252" (also "cp1252") in any case.
std::optional<TextEncoding> encodingFromName(std::string_view name);

// Length of the byte order mark `bytes` start with for `encoding`, or 0.
std::size_t byteOrderMarkLength(std::string_view bytes, TextEncoding encoding);
// The encoding a byte order mark names, if the bytes start with one.
std::optional<TextEncoding> encodingFromByteOrderMark(std::string_view head);

// UTF-16 without a byte order mark, told by its zero bytes: text that is
// mostly ASCII has a zero in every other byte, on the odd positions for
// little-endian and on the even ones for big-endian.
std::optional<TextEncoding> encodingFromZeroBytes(std::string_view head);

// Validates UTF-8 piece by piece: a sequence cut at a piece's end is
// completed by the next piece.
class Utf8Validator {
public:
    void feed(std::string_view bytes);
    // True when everything fed was valid UTF-8 and nothing is left open.
    bool finish();
    bool valid() const { return valid_; }

private:
    std::string carry_;
    bool valid_ = true;
};

// Converts bytes in one encoding to UTF-8 piece by piece; a byte order mark
// at the very start is dropped, anything that cannot be decoded becomes
// U+FFFD, so the result is always valid UTF-8.
class TextDecoder {
public:
    explicit TextDecoder(TextEncoding encoding) : encoding_(encoding) {}
    void decode(std::string_view bytes, std::string& out);
    void finish(std::string& out);

private:
    void decodeUtf8(std::string_view bytes, std::string& out);
    void decodeUtf16(std::string_view bytes, std::string& out);

    TextEncoding encoding_;
    std::string carry_;
    bool started_ = false;
    char16_t highSurrogate_ = 0;
};

// One record of a CSV text; `line` is the physical line it starts on and
// `lastLine` the one it ends on (1-based, every CR LF, LF or CR counted once,
// inside quotes too).
struct CsvRecord {
    std::int64_t line = 0;
    std::int64_t lastLine = 0;
    std::vector<std::string> fields;
    // A stray quote: a quoted field ran to the end of the file, or ran over
    // a line end and closed with text after it. The record's fields are
    // unusable; the lines `line` to `lastLine` are lost.
    bool unclosedQuote = false;
};

// RFC 4180 with what spreadsheets write: quoted fields with doubled quotes,
// delimiters and line breaks inside; CR LF, LF or CR line ends; blank lines
// skipped. Text comes in pieces of any size; each complete record is handed
// to the sink. A quote inside an unquoted field is kept as a character.
// A quote never closed costs only its own record: the text after the line
// it opened on is read again as rows.
class CsvParser {
public:
    using Sink = std::function<void(CsvRecord&)>;
    CsvParser(char delimiter, Sink sink);
    // The number of the line the next text starts on (a skipped first line).
    void startAtLine(std::int64_t line) { line_ = line; }
    void feed(std::string_view text);
    void finish();

private:
    void endField();
    void endRecord();
    void newLine();
    void stopCapture();

    char delimiter_;
    Sink sink_;
    CsvRecord record_;
    std::string field_;
    std::size_t fieldCount_ = 0; // fields of record_ in use (their storage is reused)
    std::int64_t line_ = 1;
    bool inQuotes_ = false;
    bool afterQuote_ = false;   // the closing quote of a quoted field was read
    bool fieldQuoted_ = false;  // the current field began with a quote
    bool recordQuoted_ = false; // some field of the record was quoted
    bool pendingCr_ = false;    // a CR ended the last line; an LF right after belongs to it
    // While a quoted field runs over a line end, the raw text after that
    // line end is kept, to be read again should the quote never close.
    bool capturing_ = false;
    const char* captureFrom_ = nullptr;
    std::string capture_;
    std::int64_t captureLine_ = 0; // the line the kept text starts on
    bool captureAfterCr_ = false;  // the kept text began after a CR: an LF next is no part of it
};

// Comma, semicolon or tab: the candidate that splits the sample's first lines
// into the same number (more than one) of fields most often; comma when none does.
char sniffDelimiter(std::string_view sample);

// Whether a spreadsheet would take the cell for a formula: it starts with
// "=", "+", "-", "@", a tab or a CR, after any leading "'" (so that a
// guarded cell read back is told from one that began with "'").
bool needsFormulaGuard(std::string_view field);
// The cell as written before the guard: one leading "'" removed from a
// cell that needs the guard without it.
std::string_view withoutFormulaGuard(std::string_view field);

// Appends one field, quoted when it holds the delimiter, a quote, a line
// break or blanks at an end; with `formulaGuard` a "'" goes before a cell
// that needs it.
void appendCsvField(std::string& out, std::string_view field, char delimiter = ',',
                    bool formulaGuard = false);

} // namespace velmora::contacts
