#include "store/text.h"

#include "store/case_folding.h"
#include "store/slot_hash_index.h"

namespace velmora::store {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char previousA = 0;
    unsigned char previousB = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb && foldedByte(ca, previousA) != foldedByte(cb, previousB)) {
            return false;
        }
        previousA = ca;
        previousB = cb;
    }
    return true;
}

std::uint32_t hashIgnoringCase(std::string_view key) {
    return hashLowered(key.data(), key.size());
}

std::string_view trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string toLowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = toLowerAscii(c);
    }
    return result;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (toLowerAscii(a[i]) != toLowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

void appendHex(std::string& out, unsigned char byte, HexDigits digits) {
    const char* const alphabet =
        digits == HexDigits::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out.push_back(alphabet[byte >> 4]);
    out.push_back(alphabet[byte & 0x0F]);
}

std::string toHex(std::string_view bytes, HexDigits digits) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        appendHex(out, static_cast<unsigned char>(c), digits);
    }
    return out;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace velmora::store
