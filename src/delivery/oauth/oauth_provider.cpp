#include "delivery/oauth/oauth_provider.h"

#include "delivery/oauth/pkce.h"
#include "delivery/run/json_line.h"

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
    const std::optional<JsonObject> object = parseJsonAnswer(text);
    if (!object) {
        return std::nullopt;
    }
    std::map<std::string, std::string> fields;
    for (const auto& [key, value] : object->fields) {
        switch (value.kind) {
        case JsonValue::Kind::String:
        case JsonValue::Kind::Number:
            fields[key] = value.text;
            break;
        case JsonValue::Kind::Integer:
            fields[key] = std::to_string(value.integer);
            break;
        case JsonValue::Kind::Boolean:
            fields[key] = value.boolean ? "true" : "false";
            break;
        case JsonValue::Kind::Null:
            break;
        }
    }
    return fields;
}

} // namespace velmora::delivery
