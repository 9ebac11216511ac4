#pragma once

#include <string>
#include <string_view>

namespace velmora::delivery {

// Text a server sent, made safe to log, print or show: a terminal must never
// receive its escape sequences. C0 controls (tab included), DEL and C1
// controls become "\xHH" (C1 by code point, after decoding); bytes that are
// not valid UTF-8 become U+FFFD. Everything else is kept as it is.
std::string safeServerText(std::string_view text);

} // namespace velmora::delivery
