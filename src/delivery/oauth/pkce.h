#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::delivery {

// Base64 with the URL-safe alphabet and no padding (RFC 7636 appendix A).
std::string base64Url(std::string_view bytes);
// `bytes` random bytes from the system's generator, as base64Url text: a
// PKCE code verifier or a `state` no one can guess.
std::string randomUrlText(std::size_t bytes);
// The S256 code challenge of a verifier: base64Url(SHA-256(verifier)).
std::string codeChallengeS256(std::string_view verifier);
// Percent-encoding for a query or form value: everything but A-Z a-z 0-9 - . _ ~.
std::string urlEncoded(std::string_view text);
// The reverse, "+" read as a space; a bad escape is kept as it stands.
std::string urlDecoded(std::string_view text);
// The value of `name` in "a=1&b=2" (decoded); empty when absent.
std::string formValue(std::string_view query, std::string_view name);

} // namespace velmora::delivery
