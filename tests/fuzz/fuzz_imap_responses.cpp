// Whatever a mail server answers, reading its lines must not crash, and
// what is read must be what the lines hold: capabilities as single
// lower-case words, UIDs in order, a message that lies inside the answer,
// a refusal that is one. The first byte also names a folder to encode,
// which must come out as printable ASCII.
#include "delivery/feedback/imap_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view lines(reinterpret_cast<const char*>(data), size);
    for (const std::string& capability : velmora::delivery::capabilitiesIn(lines)) {
        if (capability.empty() || capability.find_first_of(" \r\n") != std::string::npos ||
            std::any_of(capability.begin(), capability.end(),
                        [](char c) { return c >= 'A' && c <= 'Z'; })) {
            std::abort();
        }
    }
    const std::vector<std::uint64_t> uids = velmora::delivery::searchedUids(lines);
    if (!std::is_sorted(uids.begin(), uids.end()) ||
        std::adjacent_find(uids.begin(), uids.end()) != uids.end() ||
        (!uids.empty() && (uids.front() == 0 || uids.back() > 0xFFFFFFFFU))) {
        std::abort();
    }
    if (!uids.empty()) {
        // The set names exactly these numbers, so no command grows beyond them.
        const std::string set = velmora::delivery::uidSet(uids);
        if (set.empty() || set.find_first_not_of("0123456789,:") != std::string::npos) {
            std::abort();
        }
    }
    std::string message;
    if (velmora::delivery::fetchedLiteral(lines, message) &&
        lines.find(message) == std::string_view::npos) {
        std::abort();
    }
    const std::string refusal = velmora::delivery::lastRefusal(lines);
    if (!refusal.empty() && !refusal.starts_with("NO") && !refusal.starts_with("BAD")) {
        std::abort();
    }
    const std::string folder = velmora::delivery::imapFolderName(lines.substr(0, 64));
    if (std::any_of(folder.begin(), folder.end(), [](char c) { return c < 0x20 || c > 0x7E; })) {
        std::abort();
    }
    return 0;
}
