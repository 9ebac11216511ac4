#pragma once

#include "store/records.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::delivery {

// Where and how a provider signs its users in. Every field comes from a
// preset or, for "custom", from the session's settings.
struct OAuthProvider {
    std::string name;         // the oauthProvider value: "google", "microsoft", "custom"
    std::string title;        // for the user: "Google", ...
    std::string authorizeUrl; // the browser's address
    std::string tokenUrl;
    std::string deviceUrl; // empty: the provider has no device sign-in for mail
    std::string scope;
    // The submission server the preset brings, with its port and smtpSecurity.
    std::string smtpServer;
    int smtpPort = 0;
    std::string smtpSecurity;
};

// The presets: "google", "microsoft" (Microsoft 365 and Outlook.com). Nothing for other names.
const OAuthProvider* oauthPreset(std::string_view name);

// The extension keys of the sign-in settings.
inline constexpr const char* kOAuthProviderKey = "oauthProvider";
inline constexpr const char* kOAuthClientIdKey = "oauthClientId";
inline constexpr const char* kOAuthClientSecretKey = "oauthClientSecret";
inline constexpr const char* kOAuthAuthorizeUrlKey = "oauthAuthorizeUrl";
inline constexpr const char* kOAuthTokenUrlKey = "oauthTokenUrl";
inline constexpr const char* kOAuthDeviceUrlKey = "oauthDeviceUrl";
inline constexpr const char* kOAuthScopeKey = "oauthScope";
inline constexpr const char* kOAuthLoginKey = "oauthLogin";
inline constexpr const char* kOAuthPinKey = "oauthPinSha256";

// The provider as the session configures it: the preset, each field the
// settings give overriding it (for "custom" the settings are all there is).
struct OAuthClient {
    OAuthProvider provider;
    std::string clientId; // the settings', else the one built into this program
    std::string clientSecret;
    std::string pinSha256; // the token endpoint's public key, when pinned
};
OAuthClient oauthClientFor(const store::SessionSettings& settings);

// What is missing before a sign-in can start ("" when nothing is).
std::string oauthClientProblem(const OAuthClient& client);

// The browser's address for the authorization-code flow with PKCE.
std::string authorizationUrl(const OAuthClient& client, std::string_view redirectUri,
                             std::string_view state, std::string_view codeChallenge,
                             std::string_view loginHint);

// The flat fields of a JSON object, nested values skipped: token endpoints
// add arrays and objects the sign-in does not need. Strings as they are,
// numbers and booleans as their text. Nothing when the text is no object.
std::optional<std::map<std::string, std::string>> jsonFields(std::string_view text);

} // namespace velmora::delivery
