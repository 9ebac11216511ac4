#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The text of the feedback mailbox's IMAP commands and what is read from
// the server's answers, kept apart from the transfers so that any bytes a
// server sends can be tried on it.
namespace velmora::delivery {

// The lines of the answers to one command, as libcurl hands them over.
// The capabilities of the last "* CAPABILITY" line, lower-cased.
std::set<std::string> capabilitiesIn(std::string_view lines);
// The UIDs of the "* SEARCH" lines, ascending, each once; never 0.
std::vector<std::uint64_t> searchedUids(std::string_view lines);
// The literal of the first "* n FETCH (... {size}" line of `lines`, when it
// arrived whole (followed by the rest of the response); nothing otherwise.
bool fetchedLiteral(std::string_view lines, std::string& bytes);
// The server's refusal ("NO [TRYCREATE] ..."), without its tag: the last
// tagged NO or BAD; empty when there is none.
std::string lastRefusal(std::string_view lines);

// "a,b,c" in UID set syntax, each run of consecutive numbers as "a:b".
std::string uidSet(std::vector<std::uint64_t> uids);
// `name` as an IMAP quoted string.
std::string imapQuoted(const std::string& name);
// A folder name the user wrote in UTF-8, as the server knows it: modified
// UTF-7, where "&" is "&-" and every run of other characters than printable
// ASCII is "&" base64 of its UTF-16 "-". A byte that is not UTF-8 counts as
// U+FFFD.
std::string imapFolderName(std::string_view utf8);

} // namespace velmora::delivery
