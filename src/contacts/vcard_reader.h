#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::contacts {

// What an imported card gives a contact. Values are UTF-8, unescaped.
struct VCard {
    std::int64_t line = 0; // the line of its BEGIN:VCARD
    std::string name;      // FN, else the given and family names of N
    std::vector<std::string> emails;
    std::string company;   // ORG, its units joined by ", "
    std::string telephone; // the first TEL
    std::string address;   // the first ADR, one line per part of it
    std::string notes;     // NOTE
};

// Reads the cards of a vCard 2.1, 3.0 or 4.0 text (already UTF-8): lines
// folded with a blank, quoted-printable values (with soft line breaks) and
// their CHARSET, backslash escapes. A card without END is taken up to the
// end of the text; lines outside cards are ignored.
std::vector<VCard> readVCards(std::string_view text);

// True when the first line that is not blank opens a card.
bool looksLikeVCard(std::string_view text);

} // namespace velmora::contacts
