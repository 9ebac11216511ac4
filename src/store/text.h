#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::store {

// Small helpers on the byte strings every layer handles: trimming, ASCII
// lower case, and comparing or hashing under the one letter-case rule of
// addresses and search (store/case_folding.h).

// Removes the space character (only) from both ends.
std::string_view trimSpaces(std::string_view text);
// Only the ASCII capitals become small letters; every other byte is kept.
std::string toLowerAscii(std::string_view text);
// Equality and hash under the letter-case rule, without building copies.
bool equalIgnoringCase(std::string_view a, std::string_view b);
std::uint32_t hashIgnoringCase(std::string_view text);

} // namespace velmora::store
