#include "store/untrusted_text.h"

#include "store/text.h"

#include <algorithm>

namespace velmora::store {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

void appendEscaped(std::string& out, unsigned value) {
    out += "\\x";
    store::appendHex(out, static_cast<unsigned char>(value), store::HexDigits::Upper);
}

// Length of the valid UTF-8 sequence at `at` (0 when it is not valid) and its code point.
std::size_t decodeUtf8(std::string_view text, std::size_t at, unsigned& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    std::size_t length = 0;
    unsigned minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned next = byte(at + i);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not text.
    if (codePoint < minimum || (codePoint >= 0xD800 && codePoint <= 0xDFFF) ||
        codePoint > 0x10FFFF) {
        return 0;
    }
    return length;
}

} // namespace

std::string printableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) {
                appendEscaped(out, c);
            } else {
                out.push_back(static_cast<char>(c));
            }
            ++at;
            continue;
        }
        unsigned codePoint = 0;
        const std::size_t length = decodeUtf8(text, at, codePoint);
        if (length == 0) {
            out += kReplacement;
            ++at;
        } else if (codePoint >= 0x80 && codePoint <= 0x9F) {
            appendEscaped(out, codePoint);
            at += length;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::string printableLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        out += printableText(text.substr(start, end - start));
        if (end < text.size()) {
            out.push_back('\n');
        }
        start = end + 1;
    }
    return out;
}

std::string controlCharacterAddressText(std::string_view address) {
    return "The address \"" + printableText(address) + "\" holds a control character.";
}

bool hasControlCharacter(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        // C1 controls are U+0080 to U+009F: 0xC2 then 0x80 to 0x9F.
        const bool c1 = c == 0xC2 && at + 1 < text.size() &&
                        static_cast<unsigned char>(text[at + 1]) <= 0x9F &&
                        static_cast<unsigned char>(text[at + 1]) >= 0x80;
        if (c < 0x20 || c == 0x7F || c1) {
            return true;
        }
    }
    return false;
}

} // namespace velmora::store
