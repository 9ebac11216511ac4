#pragma once

#include <string>
#include <string_view>

namespace velmora::store {

// The one letter-case rule of every address comparison and of search, on
// UTF-8 text: ASCII capitals, and the Latin-1 capitals U+00C0 to U+00DE but
// the multiplication sign (bytes C3 80..9E, but C3 97) whose second byte
// moves up by 0x20. Both keep the byte length, so the folded text of a
// substring is a substring of the folded text, and a byte folds knowing only
// the byte before it.

constexpr bool isLatin1CapitalTail(unsigned char c) {
    return c >= 0x80 && c <= 0x9E && c != 0x97;
}

// `c` folded; `previous` is the original byte before it (0 at the start).
constexpr unsigned char foldedByte(unsigned char c, unsigned char previous) {
    if (c >= 'A' && c <= 'Z') {
        return static_cast<unsigned char>(c + ('a' - 'A'));
    }
    if (previous == 0xC3 && isLatin1CapitalTail(c)) {
        return static_cast<unsigned char>(c + 0x20);
    }
    return c;
}

inline std::string foldCase(std::string_view text) {
    std::string out(text);
    unsigned char previous = 0;
    for (char& c : out) {
        const auto original = static_cast<unsigned char>(c);
        c = static_cast<char>(foldedByte(original, previous));
        previous = original;
    }
    return out;
}

} // namespace velmora::store
