#include "delivery/oauth/token_client.h"

#include "delivery/oauth/oauth_provider.h"
#include "delivery/oauth/pkce.h"
#include "store/untrusted_text.h"

#include <cstdlib>
#include <curl/curl.h>
#include <memory>

namespace velmora::delivery {

namespace {

constexpr std::size_t kMaxAnswer = 1 << 20;

std::size_t collect(char* data, std::size_t size, std::size_t count, void* into) {
    auto* body = static_cast<std::string*>(into);
    const std::size_t n = size * count;
    if (body->size() + n > kMaxAnswer) {
        return 0; // no endpoint answers this much: stop reading
    }
    body->append(data, n);
    return n;
}

// "sha256//BASE64" from 64 hex digits, as libcurl takes a pinned key.
std::string curlPin(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    std::string b64 = base64Url(bytes);
    for (char& c : b64) {
        c = c == '-' ? '+' : c == '_' ? '/' : c;
    }
    while (b64.size() % 4 != 0) {
        b64 += '=';
    }
    return "sha256//" + b64;
}

int askCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return (*static_cast<const std::function<bool()>*>(cancelled))() ? 1 : 0;
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

} // namespace

HttpsOptions httpsOptionsFromEnvironment(std::string pinSha256) {
    HttpsOptions options;
    if (const char* file =
            std::getenv("SSL_CERT_FILE")) { // NOLINT(concurrency-mt-unsafe): read once per request
        options.caFile = file;
    }
    if (const char* dir = std::getenv("SSL_CERT_DIR")) { // NOLINT(concurrency-mt-unsafe): as above
        options.caPath = dir;
    }
    options.pinSha256 = std::move(pinSha256);
    return options;
}

EndpointAnswer postForm(const std::string& url,
                        const std::vector<std::pair<std::string, std::string>>& form,
                        const HttpsOptions& options) {
    EndpointAnswer answer;
    if (!url.starts_with("https://")) {
        answer.problem =
            "The address " + store::printableText(url) + " is not an https:// address.";
        return answer;
    }
    static const CurlGlobal global;
    const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        answer.problem = "The HTTPS library could not start.";
        return answer;
    }
    std::string body;
    for (const auto& [name, value] : form) {
        body += body.empty() ? "" : "&";
        body += urlEncoded(name) + "=" + urlEncoded(value);
    }
    std::string received;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, options.timeoutSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    const std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(
        curl_slist_append(nullptr, "Accept: application/json"), curl_slist_free_all);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    if (!options.caFile.empty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, options.caFile.c_str());
    }
    if (!options.caPath.empty()) {
        curl_easy_setopt(c, CURLOPT_CAPATH, options.caPath.c_str());
    }
    std::string pin;
    if (!options.pinSha256.empty()) {
        pin = curlPin(options.pinSha256);
        curl_easy_setopt(c, CURLOPT_PINNEDPUBLICKEY, pin.c_str());
    }
    if (options.cancelled) {
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, askCancelled);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &options.cancelled);
    }
    const CURLcode result = curl_easy_perform(c);
    if (result == CURLE_ABORTED_BY_CALLBACK) {
        answer.problem = kRequestCancelledText;
        return answer;
    }
    if (result != CURLE_OK) {
        answer.problem =
            "The provider could not be reached at " + store::printableText(url) + ": " +
            store::printableText(*errorText != '\0' ? errorText : curl_easy_strerror(result));
        return answer;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.httpStatus);
    auto fields = jsonFields(received);
    if (!fields) {
        answer.problem = "The provider answered (HTTP " + std::to_string(answer.httpStatus) +
                         ") with something that is not JSON.";
        return answer;
    }
    answer.fields = std::move(*fields);
    return answer;
}

std::string endpointErrorText(const EndpointAnswer& answer) {
    if (!answer.problem.empty()) {
        return answer.problem;
    }
    const std::string error = answer.field("error");
    const std::string description = answer.field("error_description");
    std::string text = "The provider refused (HTTP " + std::to_string(answer.httpStatus) + ")";
    if (!error.empty()) {
        text += ": " + store::printableText(error);
    }
    if (!description.empty()) {
        text += " - " + store::printableText(description.substr(0, 300));
    }
    return text + ".";
}

} // namespace velmora::delivery
