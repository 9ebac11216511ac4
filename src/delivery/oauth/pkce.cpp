#include "delivery/oauth/pkce.h"

#include <algorithm>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <stdexcept>
#include <vector>

namespace velmora::delivery {

std::string base64Url(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned n = (at(i) << 16U) | (at(i + 1) << 8U) | at(i + 2);
        out += kDigits[(n >> 18U) & 63U];
        out += kDigits[(n >> 12U) & 63U];
        out += kDigits[(n >> 6U) & 63U];
        out += kDigits[n & 63U];
    }
    if (bytes.size() - i == 1) {
        const unsigned n = at(i) << 16U;
        out += kDigits[(n >> 18U) & 63U];
        out += kDigits[(n >> 12U) & 63U];
    } else if (bytes.size() - i == 2) {
        const unsigned n = (at(i) << 16U) | (at(i + 1) << 8U);
        out += kDigits[(n >> 18U) & 63U];
        out += kDigits[(n >> 12U) & 63U];
        out += kDigits[(n >> 6U) & 63U];
    }
    return out;
}

std::string randomUrlText(std::size_t bytes) {
    std::vector<unsigned char> buffer(bytes);
    if (RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) != 1) {
        // A guessable verifier or state would let another program take the sign-in.
        throw std::runtime_error("The system's random generator failed.");
    }
    return base64Url(std::string_view(reinterpret_cast<const char*>(buffer.data()), buffer.size()));
}

std::string codeChallengeS256(std::string_view verifier) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return base64Url(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string urlEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4U];
            out += kHex[u & 15U];
        }
    }
    return out;
}

std::string urlDecoded(std::string_view text) {
    const auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
                   hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string formValue(std::string_view query, std::string_view name) {
    std::size_t at = 0;
    while (at <= query.size()) {
        const std::size_t end = std::min(query.find('&', at), query.size());
        const std::string_view pair = query.substr(at, end - at);
        const std::size_t equals = pair.find('=');
        if (urlDecoded(pair.substr(0, equals)) == name) {
            return equals == std::string_view::npos ? "" : urlDecoded(pair.substr(equals + 1));
        }
        at = end + 1;
    }
    return "";
}

} // namespace velmora::delivery
