#include "delivery/return_path.h"

#include "delivery/international_address.h"
#include "store/text.h"

#include <algorithm>
#include <array>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace velmora::delivery {

namespace {

constexpr std::string_view kTokenDigits = "abcdefghijklmnopqrstuvwxyz234567";
constexpr std::size_t kKeyBytes = 32;

bool isTokenDigit(char c) {
    return kTokenDigits.find(c) != std::string_view::npos;
}

} // namespace

bool ensureBounceKey(store::ExtensionSettings& extensions, const RandomBytes& randomBytes) {
    if (store::trimSpaces(extensions.value(kBounceAddressKey)).empty() ||
        !extensions.value(kBounceKeyKey).empty()) {
        return false;
    }
    std::array<unsigned char, kKeyBytes> bytes{};
    randomBytes(bytes.data(), bytes.size());
    extensions.set(kBounceKeyKey, store::toHex(std::string_view(
                                      reinterpret_cast<const char*>(bytes.data()), bytes.size())));
    return true;
}

ReturnPath returnPath(const store::ExtensionSettings& extensions, std::string runId) {
    return {std::string(store::trimSpaces(extensions.value(kBounceAddressKey))),
            extensions.value(kBounceKeyKey), std::move(runId)};
}

std::string returnToken(std::string_view key, std::string_view runId, std::string_view recipient) {
    // The address as it goes into the envelope, in one letter case: the
    // journal may hold the typed form.
    const std::string data =
        store::toLowerAscii(withAsciiDomain(store::trimSpaces(recipient)).address) + "\n" +
        std::string(runId);
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int size = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac.data(), &size);
    // Five bits a character: 50 bits, out of reach of guessing by mail.
    std::string token;
    std::uint32_t bits = 0;
    int count = 0;
    for (unsigned int i = 0; i < size && token.size() < kReturnTokenLength; ++i) {
        bits = (bits << 8) | mac[i];
        count += 8;
        while (count >= 5 && token.size() < kReturnTokenLength) {
            count -= 5;
            token += kTokenDigits[(bits >> count) & 0x1F];
        }
    }
    return token;
}

std::string envelopeSender(const ReturnPath& path, std::string_view sender,
                           std::string_view recipient) {
    const std::size_t at = path.bounceAddress.rfind('@');
    if (!path.on() || at == std::string::npos || at == 0) {
        return std::string(sender);
    }
    return path.bounceAddress.substr(0, at) + "+" + returnToken(path.key, path.runId, recipient) +
           path.bounceAddress.substr(at);
}

std::string returnTokenIn(std::string_view address) {
    const std::size_t at = address.rfind('@');
    const std::string_view local = address.substr(0, at == std::string_view::npos ? 0 : at);
    const std::size_t plus = local.rfind('+');
    if (plus == std::string_view::npos) {
        return {};
    }
    const std::string token = store::toLowerAscii(local.substr(plus + 1));
    if (token.size() != kReturnTokenLength ||
        !std::all_of(token.begin(), token.end(), isTokenDigit)) {
        return {};
    }
    return token;
}

} // namespace velmora::delivery
