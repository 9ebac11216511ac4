#pragma once

#include "store/clock.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// Base64 (RFC 4648 alphabet, "=" padding) of `bytes` on one line.
std::string base64String(std::string_view bytes);
// Appends the Base64 of `bytes` to `out`; a multiple of 3 bytes encodes
// without padding, so a long input can be encoded block by block.
void appendBase64(std::string& out, std::string_view bytes);
// The bytes of `text` as far as it is Base64, in either alphabet (the URL
// one of tokens too); padding and anything after it ends the text. For
// text a server sends to be shown or read leniently.
std::string base64Decoded(std::string_view text);

// "Mon, 07 Dec 2026 07:05:09 +0100": the date of a Date header.
std::string rfc5322Date(const store::LocalDateTime& time);

// A header value with every control character but the tab (CR, LF, NUL,
// ESC, DEL, C1 controls ...) replaced by a blank, so that no value can end
// its header line or start another, nor reach a reader's terminal.
std::string headerSafe(std::string_view value);

bool isAscii(std::string_view text);

// A header value as RFC 2047 encoded words ("=?UTF-8?B?...?="), cut between
// characters so that no word exceeds 75 characters, and the first no more
// than `firstWordMax` (at least 16), so that it fits behind the header's name
// on the first line. The words are returned one per element; joined by CR LF
// and a blank they fold into a header.
std::vector<std::string> encodedWords(std::string_view utf8, std::size_t firstWordMax = 75);

// The widths a header line keeps to: 78 where it can, never more than 998
// (without CR LF).
inline constexpr std::size_t kFoldWidth = 78;
inline constexpr std::size_t kMaxHeaderLine = 998;

// A header as folded lines: `start` (the name, colon and blank, e.g.
// "Subject: ") followed by the tokens separated by one blank each. The lines
// break before a token that would take the line past 78 characters; a token
// never breaks, so a line grows longer only when one token is.
std::vector<std::string> foldHeader(std::string_view start, const std::vector<std::string>& tokens);

// The tokens of an unstructured text value (a Subject, a display name): the
// words between blanks (extra blanks stay in front of the following word),
// each run of words with non-ASCII characters (or too long for any line) as
// encoded words. `startWidth` is the width of what precedes the first token
// on its line.
std::vector<std::string> textTokens(std::string_view value, std::size_t startWidth);

// RFC 2231 parameter `name` as one or more sections ("name*=UTF-8''..." or
// "name*0*=UTF-8''...", "name*1*=..."), each short enough for a folded line.
std::vector<std::string> rfc2231Parameter(std::string_view name, std::string_view utf8);

// One line of text (without its line break) as quoted-printable lines
// (RFC 2045): soft line breaks keep every output line within 76 characters.
// A leading "-" is encoded too, so that no body line can pass for a boundary.
std::vector<std::string> quotedPrintableLines(std::string_view line);

// RFC 2231 parameter value: "UTF-8''" followed by the percent-encoded bytes.
std::string rfc2231Value(std::string_view utf8);

} // namespace velmora::delivery
