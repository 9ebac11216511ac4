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
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return result;
}

} // namespace velmora::store
