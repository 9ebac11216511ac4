#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::store {

// Small helpers on the byte strings every layer handles: trimming, ASCII
// lower case, hex digits, and comparing or hashing under the one letter-case
// rule of addresses and search (store/case_folding.h). ASCII only, whatever
// the process's locale: protocol words, tag and field names must not change
// with the user's language.

// Removes the space character (only) from both ends.
std::string_view trimSpaces(std::string_view text);
// Only the ASCII capitals become small letters; every other byte is kept.
std::string toLowerAscii(std::string_view text);
constexpr char toLowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// Equal when only ASCII letters differ in case (protocol keywords, names).
bool equalIgnoringAsciiCase(std::string_view a, std::string_view b);

enum class HexDigits { Lower, Upper };
// Two hex digits per byte, most significant first.
void appendHex(std::string& out, unsigned char byte, HexDigits digits = HexDigits::Lower);
std::string toHex(std::string_view bytes, HexDigits digits = HexDigits::Lower);
// The value of a hex digit (either case), -1 for any other character.
int hexDigitValue(char c);
// Equality and hash under the letter-case rule, without building copies.
bool equalIgnoringCase(std::string_view a, std::string_view b);
std::uint32_t hashIgnoringCase(std::string_view text);

} // namespace velmora::store
