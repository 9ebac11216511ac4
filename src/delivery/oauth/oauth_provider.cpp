#include "delivery/oauth/oauth_provider.h"

#include "delivery/oauth/pkce.h"

#include <array>

#ifndef VELMORA_OAUTH_GOOGLE_CLIENT_ID
#define VELMORA_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef VELMORA_OAUTH_GOOGLE_CLIENT_SECRET
#define VELMORA_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif
#ifndef VELMORA_OAUTH_MICROSOFT_CLIENT_ID
#define VELMORA_OAUTH_MICROSOFT_CLIENT_ID ""
#endif

namespace velmora::delivery {

namespace {

const std::array<OAuthProvider, 2> kPresets = {{
    {"google", "Google", "https://accounts.google.com/o/oauth2/v2/auth",
     "https://oauth2.googleapis.com/token",
     // Google's device sign-in does not grant the mail scope.
     "", "https://mail.google.com/", "smtp.gmail.com", 587, "starttls"},
    {"microsoft", "Microsoft", "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token",
     "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode",
     "https://outlook.office.com/SMTP.Send offline_access", "smtp.office365.com", 587, "starttls"},
}};

class JsonScanner {
public:
    explicit JsonScanner(std::string_view text) : s_(text) {}

    std::optional<std::map<std::string, std::string>> object() {
        std::map<std::string, std::string> fields;
        blanks();
        if (!take('{')) {
            return std::nullopt;
        }
        blanks();
        if (take('}')) {
            return fields;
        }
        while (true) {
            blanks();
            std::string key;
            if (!string(key)) {
                return std::nullopt;
            }
            blanks();
            if (!take(':')) {
                return std::nullopt;
            }
            blanks();
            std::string value;
            if (peek() == '"') {
                if (!string(value)) {
                    return std::nullopt;
                }
                fields[key] = value;
            } else if (peek() == '{' || peek() == '[') {
                if (!skipNested()) {
                    return std::nullopt;
                }
            } else {
                while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}' && !blank(s_[i_])) {
                    value += s_[i_++];
                }
                if (value.empty()) {
                    return std::nullopt;
                }
                if (value != "null") {
                    fields[key] = value;
                }
            }
            blanks();
            if (take('}')) {
                return fields;
            }
            if (!take(',')) {
                return std::nullopt;
            }
        }
    }

private:
    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    void blanks() {
        while (i_ < s_.size() && blank(s_[i_])) {
            ++i_;
        }
    }
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    bool take(char c) {
        if (peek() != c) {
            return false;
        }
        ++i_;
        return true;
    }
    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6U));
            out += static_cast<char>(0x80 | (code & 0x3FU));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12U));
            out += static_cast<char>(0x80 | ((code >> 6U) & 0x3FU));
            out += static_cast<char>(0x80 | (code & 0x3FU));
        }
    }
    bool string(std::string& out) {
        if (!take('"')) {
            return false;
        }
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) {
                return false;
            }
            const char e = s_[i_++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (i_ + 4 > s_.size()) {
                    return false;
                }
                unsigned code = 0;
                for (int k = 0; k < 4; ++k) {
                    const char h = s_[i_++];
                    code = code * 16U + static_cast<unsigned>(h >= '0' && h <= '9'   ? h - '0'
                                                              : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                              : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                                                     : 0);
                }
                // A lone surrogate half becomes U+FFFD: the text is only shown.
                appendUtf8(out, code >= 0xD800 && code < 0xE000 ? 0xFFFDU : code);
                break;
            }
            default:
                out += e; // \" \\ \/
            }
        }
        return false;
    }
    bool skipNested() {
        int depth = 0;
        while (i_ < s_.size()) {
            const char c = peek();
            if (c == '"') {
                std::string ignored;
                if (!string(ignored)) {
                    return false;
                }
                continue;
            }
            ++i_;
            if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (--depth == 0) {
                    return true;
                }
            }
        }
        return false;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

} // namespace

const OAuthProvider* oauthPreset(std::string_view name) {
    for (const OAuthProvider& preset : kPresets) {
        if (preset.name == name) {
            return &preset;
        }
    }
    return nullptr;
}

OAuthClient oauthClientFor(const store::SessionSettings& settings) {
    const store::ExtensionSettings& ext = settings.extensions;
    OAuthClient client;
    const std::string name = ext.value(kOAuthProviderKey);
    if (const OAuthProvider* preset = oauthPreset(name)) {
        client.provider = *preset;
    } else {
        client.provider.name = "custom";
        client.provider.title = "Other provider";
    }
    const auto override = [&](const char* key, std::string& field) {
        std::string value = ext.value(key);
        if (!value.empty()) {
            field = std::move(value);
        }
    };
    override(kOAuthAuthorizeUrlKey, client.provider.authorizeUrl);
    override(kOAuthTokenUrlKey, client.provider.tokenUrl);
    override(kOAuthDeviceUrlKey, client.provider.deviceUrl);
    override(kOAuthScopeKey, client.provider.scope);
    client.clientId = ext.value(kOAuthClientIdKey);
    client.clientSecret = ext.value(kOAuthClientSecretKey);
    if (client.clientId.empty()) {
        // A packager may build in a registered client; the user's own wins.
        if (client.provider.name == "google") {
            client.clientId = VELMORA_OAUTH_GOOGLE_CLIENT_ID;
            client.clientSecret = VELMORA_OAUTH_GOOGLE_CLIENT_SECRET;
        } else if (client.provider.name == "microsoft") {
            client.clientId = VELMORA_OAUTH_MICROSOFT_CLIENT_ID;
        }
    }
    client.pinSha256 = ext.value(kOAuthPinKey);
    return client;
}

std::string oauthClientProblem(const OAuthClient& client) {
    if (client.clientId.empty()) {
        return "No client ID is set: register this program with " + client.provider.title +
               " (the manual says how) and enter the client ID in the delivery settings "
               "(oauthClientId).";
    }
    if (client.provider.authorizeUrl.empty() || client.provider.tokenUrl.empty()) {
        return "The provider's authorization and token addresses are not set (oauthAuthorizeUrl, "
               "oauthTokenUrl).";
    }
    return "";
}

std::string authorizationUrl(const OAuthClient& client, std::string_view redirectUri,
                             std::string_view state, std::string_view codeChallenge,
                             std::string_view loginHint) {
    const std::string& base = client.provider.authorizeUrl;
    std::string url = base + (base.find('?') == std::string::npos ? "?" : "&");
    url += "response_type=code&client_id=" + urlEncoded(client.clientId) +
           "&redirect_uri=" + urlEncoded(redirectUri) +
           "&scope=" + urlEncoded(client.provider.scope) + "&state=" + urlEncoded(state) +
           "&code_challenge=" + urlEncoded(codeChallenge) + "&code_challenge_method=S256";
    if (client.provider.name == "google") {
        // Without these Google gives no refresh token on a second sign-in.
        url += "&access_type=offline&prompt=consent";
    }
    if (!loginHint.empty()) {
        url += "&login_hint=" + urlEncoded(loginHint);
    }
    return url;
}

std::optional<std::map<std::string, std::string>> jsonFields(std::string_view text) {
    return JsonScanner(text).object();
}

} // namespace velmora::delivery
