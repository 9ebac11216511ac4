#pragma once

#include <string>
#include <string_view>

namespace velmora::store {

bool isValidUtf8(std::string_view bytes);
// Appends the UTF-8 bytes of one code point (the caller keeps it valid).
void appendUtf8(std::string& out, char32_t cp);
std::string windows1252ToUtf8(std::string_view bytes);
// Text read from a file: kept as it is when it is valid UTF-8, otherwise
// taken as Windows-1252 (files of older versions) and converted.
std::string textFromFileBytes(std::string_view bytes);

// Multi-line fields are stored with CR LF line breaks; the windows edit them
// with LF. `storedLineBreaks` makes every break (LF, CR or CR LF) a CR LF;
// `editedLineBreaks` makes every break one LF.
std::string storedLineBreaks(std::string_view edited);
std::string editedLineBreaks(std::string_view stored);

} // namespace velmora::store
