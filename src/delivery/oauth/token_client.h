#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace velmora::delivery {

// How the token and device endpoints are reached over HTTPS.
struct HttpsOptions {
    // The trust store: SSL_CERT_FILE and SSL_CERT_DIR when set (as for
    // SMTP), else the system's.
    std::string caFile;
    std::string caPath;
    std::string pinSha256; // the endpoint's public key (64 hex digits), when pinned
    long timeoutSeconds = 30;
    // Asked during the request; true stops it (a window closed, Cancel).
    std::function<bool()> cancelled;
};
inline constexpr const char* kRequestCancelledText = "The sign-in was cancelled.";
// The options with the trust store the environment names.
HttpsOptions httpsOptionsFromEnvironment(std::string pinSha256 = "");

// One answer of a token or device endpoint: the JSON fields, or why there are none.
struct EndpointAnswer {
    long httpStatus = 0;
    std::map<std::string, std::string> fields;
    std::string problem; // transport or format failure, for the user; "" when fields came
    std::string field(const std::string& name) const {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    }
};

// POSTs `form` (application/x-www-form-urlencoded) to `url`. Only https://
// addresses are used: the form carries codes and tokens.
EndpointAnswer postForm(const std::string& url,
                        const std::vector<std::pair<std::string, std::string>>& form,
                        const HttpsOptions& options);

// The provider's refusal in words: its error and description (no tokens).
std::string endpointErrorText(const EndpointAnswer& answer);

} // namespace velmora::delivery
