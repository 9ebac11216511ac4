#pragma once

#include "store/clock.h"

#include <string>
#include <string_view>
#include <vector>

// Base64 (RFC 4648 alphabet, "=" padding) of `bytes` on one line.
std::string base64String(std::string_view bytes);
// Appends the Base64 of `bytes` to `out`; a multiple of 3 bytes encodes
// without padding, so a long input can be encoded block by block.
void appendBase64(std::string& out, std::string_view bytes);

// "Mon, 07 Dec 2026 07:05:09 +0100": the date of a Date header.
std::string rfc5322Date(const LocalDateTime& time);

// A header value with CR, LF and NUL replaced by a blank, so that no value
// can end its header line or start another.
std::string headerSafe(std::string_view value);

bool isAscii(std::string_view text);

// A header value as RFC 2047 encoded words ("=?UTF-8?B?...?="), cut between
// characters so that no word exceeds 75 characters. The words are returned
// one per element; joined by CR LF and a blank they fold into a header.
std::vector<std::string> encodedWords(std::string_view utf8);

// One line of text (without its line break) as quoted-printable lines
// (RFC 2045): soft line breaks keep every output line within 76 characters.
// A leading "-" is encoded too, so that no body line can pass for a boundary.
std::vector<std::string> quotedPrintableLines(std::string_view line);

// RFC 2231 parameter value: "UTF-8''" followed by the percent-encoded bytes.
std::string rfc2231Value(std::string_view utf8);
