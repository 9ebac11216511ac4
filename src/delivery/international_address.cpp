#include "delivery/international_address.h"

#include "delivery/message/mime_text.h"

#include <cstdlib>
#include <idn2.h>

namespace velmora::delivery {

std::string_view addressDomain(std::string_view address) {
    const std::size_t at = address.rfind('@');
    return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

AsciiDomainAddress withAsciiDomain(std::string_view address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || isAscii(address.substr(at + 1))) {
        return {std::string(address), {}};
    }
    const std::string domain(address.substr(at + 1));
    char* converted = nullptr;
    const int rc =
        idn2_to_ascii_8z(domain.c_str(), &converted, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT);
    if (rc != IDN2_OK) {
        return {std::string(address), "The domain of \"" + std::string(address) +
                                          "\" is not a valid international domain name (" +
                                          idn2_strerror(rc) + ")."};
    }
    std::string result(address.substr(0, at + 1));
    result += converted;
    idn2_free(converted);
    return {std::move(result), {}};
}

bool needsSmtpUtf8(std::string_view address) {
    const std::size_t at = address.rfind('@');
    return !isAscii(at == std::string_view::npos ? address : address.substr(0, at));
}

std::string noSmtpUtf8Text(std::string_view address) {
    return "The address \"" + std::string(address) +
           "\" has non-ASCII characters before the \"@\" and the server does not accept such "
           "addresses (no SMTPUTF8).";
}

} // namespace velmora::delivery
