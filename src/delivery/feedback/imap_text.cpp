#include "delivery/feedback/imap_text.h"

#include "store/text.h"

#include <algorithm>

namespace velmora::delivery {

namespace {

// The lines of `text`, without their line ends.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// The words of `text` between single or repeated spaces.
std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        if (space != 0) {
            words.push_back(text.substr(0, space));
        }
        text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
    }
    return words;
}

bool allDigits(std::string_view word) {
    return !word.empty() &&
           std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The next code point of `text` from `at`, moving `at` past it; a byte
// that does not start a whole, shortest UTF-8 sequence is U+FFFD.
char32_t nextCodePoint(std::string_view text, std::size_t& at) {
    constexpr char32_t kReplacement = 0xFFFD;
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) {
        return lead;
    }
    std::size_t more = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        more = 1, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3, cp = lead & 0x07, least = 0x10000;
    } else {
        return kReplacement;
    }
    std::size_t end = at;
    for (std::size_t i = 0; i < more; ++i, ++end) {
        if (end >= text.size() || (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) {
            return kReplacement;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(text[end]) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return kReplacement;
    }
    at = end;
    return cp;
}

// Base64 with "," for "/" and no padding, as folder names have it.
void appendFolderBase64(std::string& out, const std::vector<unsigned char>& bytes) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    std::uint32_t bits = 0;
    int count = 0;
    for (const unsigned char byte : bytes) {
        bits = (bits << 8) | byte;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += kDigits[(bits >> count) & 0x3F];
        }
    }
    if (count > 0) {
        out += kDigits[(bits << (6 - count)) & 0x3F];
    }
}

} // namespace

std::set<std::string> capabilitiesIn(std::string_view lines) {
    std::set<std::string> capabilities;
    for (const std::string_view line : linesOf(lines)) {
        if (line.starts_with("* CAPABILITY ")) {
            capabilities.clear(); // the last list, after the sign-in, is the one that holds
            for (const std::string_view word : wordsOf(line.substr(13))) {
                // A capability is an atom: a word with a stray control
                // character in it is none.
                if (std::all_of(word.begin(), word.end(),
                                [](char c) { return c > 0x20 && c < 0x7F; })) {
                    capabilities.insert(store::toLowerAscii(word));
                }
            }
        }
    }
    return capabilities;
}

std::vector<std::uint64_t> searchedUids(std::string_view lines) {
    std::vector<std::uint64_t> uids;
    for (const std::string_view line : linesOf(lines)) {
        if (line != "* SEARCH" && !line.starts_with("* SEARCH ")) {
            continue;
        }
        for (const std::string_view word : wordsOf(line.substr(8))) {
            // UIDs are 32-bit numbers above 0; anything else is not one.
            if (allDigits(word) && word.size() <= 10) {
                const std::uint64_t uid = std::stoull(std::string(word));
                if (uid > 0 && uid <= 0xFFFFFFFFU) {
                    uids.push_back(uid);
                }
            }
        }
    }
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return uids;
}

bool fetchedLiteral(std::string_view lines, std::string& bytes) {
    std::size_t at = 0;
    while (at < lines.size()) {
        const std::size_t end = lines.find('\n', at);
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string_view line = lines.substr(at, end - at);
        at = end + 1;
        const std::size_t open = line.rfind('{');
        if (!line.starts_with("* ") || line.find(" FETCH (") == std::string_view::npos ||
            open == std::string_view::npos || !line.ends_with("}\r")) {
            continue;
        }
        const std::string_view digits = line.substr(open + 1, line.size() - open - 3);
        if (!allDigits(digits) || digits.size() > 12) {
            return false;
        }
        const std::size_t size = std::stoull(std::string(digits));
        // The literal is followed by the rest of the FETCH answer: a line
        // cut short in transit would leave it too short or run past it.
        if (lines.size() - at < size + 1 || (lines[at + size] != ')' && lines[at + size] != ' ')) {
            return false;
        }
        bytes.assign(lines.substr(at, size));
        return true;
    }
    return false;
}

std::string lastRefusal(std::string_view lines) {
    const std::vector<std::string_view> all = linesOf(lines);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->empty() || it->front() == '*' || it->front() == '+') {
            continue;
        }
        const std::size_t space = it->find(' ');
        if (space == std::string_view::npos) {
            continue;
        }
        const std::string_view answer = it->substr(space + 1);
        if (answer.starts_with("NO") || answer.starts_with("BAD")) {
            return std::string(answer);
        }
    }
    return {};
}

std::string uidSet(std::vector<std::uint64_t> uids) {
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    std::string set;
    for (std::size_t i = 0; i < uids.size();) {
        std::size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) {
            ++j;
        }
        set += set.empty() ? "" : ",";
        set += std::to_string(uids[i]);
        if (j > i) {
            set += ":" + std::to_string(uids[j]);
        }
        i = j + 1;
    }
    return set;
}

std::string imapQuoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string imapFolderName(std::string_view utf8) {
    std::string out;
    std::vector<unsigned char> wide; // the UTF-16 of the run being gathered
    const auto endRun = [&] {
        if (!wide.empty()) {
            out += '&';
            appendFolderBase64(out, wide);
            out += '-';
            wide.clear();
        }
    };
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t cp = nextCodePoint(utf8, at);
        if (cp >= 0x20 && cp <= 0x7E) {
            endRun();
            out += cp == '&' ? std::string("&-") : std::string(1, static_cast<char>(cp));
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            const char32_t high = 0xD800 + (cp >> 10);
            const char32_t low = 0xDC00 + (cp & 0x3FF);
            wide.insert(wide.end(), {static_cast<unsigned char>(high >> 8),
                                     static_cast<unsigned char>(high & 0xFF),
                                     static_cast<unsigned char>(low >> 8),
                                     static_cast<unsigned char>(low & 0xFF)});
        } else {
            wide.insert(wide.end(), {static_cast<unsigned char>(cp >> 8),
                                     static_cast<unsigned char>(cp & 0xFF)});
        }
    }
    endRun();
    return out;
}

} // namespace velmora::delivery
