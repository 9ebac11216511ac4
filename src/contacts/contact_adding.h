#pragma once

#include "store/session.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::contacts {

// The four status choices of the contact dialogs as a code: Subscribers
// unless a later choice is set (Prospects, then Customers, then Do Not
// Contact: the last set one wins).
std::int32_t readStatusChoice(bool prospects, bool customers, bool doNotContact);

// What the Add Contact dialog gathered. Texts are trimmed here.
struct ContactForm : store::ContactTexts {
    std::int32_t groupIndex = 0; // drop-down position + 1, 0 with none
    std::int32_t status = 0;
};

// Creates the contact unless its address is empty, already known or holds a
// control character. Returns the new slot, or 0 when nothing was created.
std::int32_t addSingleContact(store::Session& session, const ContactForm& form,
                              std::string_view today);

struct AddListResult {
    std::int32_t added = 0;
    std::int32_t skipped = 0;         // non-empty addresses refused as already known
    std::vector<std::string> refused; // addresses with control characters
};
// "Added N, skipped M." and a line for each refused address.
std::string addListResultText(const AddListResult& result);

// Splits a pasted or imported text into addresses (blanks removed, commas
// and line feeds separate, a pair of line feeds counts once) and creates a
// contact for each new one, in the order of the text.
AddListResult addEmailList(store::Session& session, std::string_view text, std::int32_t groupIndex,
                           std::int32_t status, std::string_view today);

// The text area's content after importing a file: each line (ended by CR,
// LF or CR LF) trimmed and followed by one LF.
std::string importedAddressText(std::string_view fileBytes);
// Told when the chosen import file cannot be read; the text area keeps its content.
std::string importFailedText(const std::string& path);
// The same with the reason: "Cannot read "PATH" - REASON".
std::string importFailedText(const std::string& path, const std::string& reason);

// Bounds of an address list file: longer lists and lines are no lists of
// addresses, and would only fill the memory.
inline constexpr std::uint64_t kMaxAddressListBytes = 256ull * 1024 * 1024;
inline constexpr std::size_t kMaxAddressListLine = 1024 * 1024;
// Reads an address list file (a regular file only, within the bounds
// above); false with `error` naming the reason.
bool readAddressListFile(const std::string& path, std::string& bytes, std::string& error);
// The text area's content after pasting: the clipboard's text, trimmed.
std::string pastedAddressText(std::string_view clipboardText);

} // namespace velmora::contacts
