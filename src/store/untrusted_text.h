#pragma once

#include <string>
#include <string_view>

namespace velmora::store {

// Text from outside (a server's reply, an imported file, an address), made
// safe to log, print or show: a terminal must never receive its escape
// sequences. C0 controls (tab included), DEL and C1
// controls become "\xHH" (C1 by code point, after decoding); bytes that are
// not valid UTF-8 become U+FFFD. Everything else is kept as it is.
std::string printableText(std::string_view text);
// The same for a text of several lines: each line alone, the line feeds kept.
std::string printableLines(std::string_view text);

// Whether `text` holds a C0 control (tab included), DEL or a C1 control.
// No address taken in may hold one: it would reach the terminal, the
// headers and the server's command lines.
bool hasControlCharacter(std::string_view text);
// "The address "ADDR" holds a control character." (ADDR printable).
std::string controlCharacterAddressText(std::string_view address);

} // namespace velmora::store
