#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::delivery {

// An address made ready for the envelope and the headers: a domain with
// non-ASCII characters becomes IDNA A-labels ("xn--..."); the local part
// stays as it is.
struct AsciiDomainAddress {
    std::string address;
    std::string error; // why the domain cannot be converted ("" when it could)
    bool ok() const { return error.empty(); }
};
AsciiDomainAddress withAsciiDomain(std::string_view address);

// The domain of an address (after the last "@"), "" when it has none.
std::string_view addressDomain(std::string_view address);

// True when the local part holds non-ASCII characters, so that the address
// can only go to a server that accepts SMTPUTF8.
bool needsSmtpUtf8(std::string_view address);

// "The address "ADDRESS" has a non-ASCII name before the "@", and the server
// does not accept such addresses (no SMTPUTF8)."
std::string noSmtpUtf8Text(std::string_view address);

} // namespace velmora::delivery
