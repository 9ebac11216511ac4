#include "delivery/oauth/oauth_sign_in.h"

#include "delivery/message/mime_text.h"
#include "delivery/oauth/loopback_listener.h"
#include "delivery/oauth/pkce.h"
#include "store/counted_string.h"
#include "store/untrusted_text.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace velmora::delivery {

namespace {

constexpr long long kRenewAheadSeconds = 60; // a token this close to its end is renewed first
constexpr long long kDefaultLifetime = 3600;

long long numberOr(const std::string& text, long long fallback) {
    try {
        return text.empty() ? fallback : std::stoll(text);
    } catch (const std::exception&) {
        return fallback;
    }
}

void withSecret(std::vector<std::pair<std::string, std::string>>& form, const OAuthClient& client) {
    form.emplace_back("client_id", client.clientId);
    if (!client.clientSecret.empty()) {
        form.emplace_back("client_secret", client.clientSecret);
    }
}

// The account an ID token names (its "email", else "preferred_username").
std::string idTokenLogin(const std::string& idToken) {
    const std::size_t first = idToken.find('.');
    const std::size_t second = idToken.find('.', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
        return "";
    }
    std::string payload = idToken.substr(first + 1, second - first - 1);
    const auto claims = jsonFields(base64Decoded(payload));
    if (!claims) {
        return "";
    }
    for (const char* name : {"email", "preferred_username"}) {
        const auto it = claims->find(name);
        if (it != claims->end() && !it->second.empty()) {
            return store::printableText(it->second);
        }
    }
    return "";
}

// Keeps what the token endpoint gave. A refresh that brings no new refresh
// token leaves the old one in place.
void keepTokens(store::SessionSettings& settings, const EndpointAnswer& answer, long long now,
                store::PasswordStore* keyring) {
    store::ExtensionSettings& ext = settings.extensions;
    const std::string refresh = answer.field("refresh_token");
    if (!refresh.empty()) {
        std::optional<std::string> failure =
            keyring ? keyring->unavailableReason() : std::optional<std::string>("no keyring");
        if (!failure) {
            failure = keyring->write(oauthKeyringAccount(settings), refresh);
        }
        if (!failure) {
            ext.set(kOAuthTokenInKeyringKey, "1");
            ext.remove(kOAuthRefreshTokenKey);
        } else {
            ext.set(kOAuthTokenInKeyringKey, "0");
            ext.set(kOAuthRefreshTokenKey, store::rot13Text(refresh));
        }
    }
    ext.set(kOAuthAccessTokenKey, store::rot13Text(answer.field("access_token")));
    ext.set(kOAuthExpiresAtKey,
            std::to_string(now + numberOr(answer.field("expires_in"), kDefaultLifetime)));
}

bool waitSeconds(long long seconds, SignInFeedback& feedback) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (feedback.cancelled()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !feedback.cancelled();
}

SignInResult failed(std::string message) {
    return {false, std::move(message)};
}

// Device authorization (RFC 8628): the user signs in on another device.
EndpointAnswer deviceSignIn(const OAuthClient& client, const SignInRequest& request,
                            SignInFeedback& feedback, const HttpsOptions& https,
                            std::string& problem) {
    std::vector<std::pair<std::string, std::string>> form;
    withSecret(form, client);
    form.emplace_back("scope", client.provider.scope);
    const EndpointAnswer start = postForm(client.provider.deviceUrl, form, https);
    const std::string deviceCode = start.field("device_code");
    const std::string userCode = start.field("user_code");
    std::string uri = start.field("verification_uri");
    if (uri.empty()) {
        uri = start.field("verification_url");
    }
    if (deviceCode.empty() || userCode.empty() || uri.empty()) {
        problem = endpointErrorText(start);
        return {};
    }
    feedback.show("To sign in, open " + store::printableText(uri) +
                  " on any device and enter the code " + store::printableText(userCode) + ".");
    long long interval = numberOr(start.field("interval"), 5);
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::seconds(std::min(numberOr(start.field("expires_in"), 900),
                                                   request.timeoutSeconds));
    while (true) {
        if (!waitSeconds(interval, feedback)) {
            problem = "The sign-in was cancelled.";
            return {};
        }
        if (std::chrono::steady_clock::now() > end) {
            problem = "The code was not entered in time; the sign-in was stopped.";
            return {};
        }
        std::vector<std::pair<std::string, std::string>> poll{
            {"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
            {"device_code", deviceCode}};
        withSecret(poll, client);
        EndpointAnswer answer = postForm(client.provider.tokenUrl, poll, https);
        if (!answer.field("access_token").empty()) {
            return answer;
        }
        const std::string error = answer.field("error");
        if (error == "authorization_pending") {
            continue;
        }
        if (error == "slow_down") {
            interval += 5;
            continue;
        }
        problem = endpointErrorText(answer);
        return {};
    }
}

} // namespace

std::string oauthKeyringAccount(const store::SessionSettings& settings) {
    std::string account =
        "oauth://" + oauthLogin(settings) + "@" + oauthClientFor(settings).provider.tokenUrl;
    const std::string relay = settings.extensions.value(kOAuthRelayKey);
    return relay.empty() ? account : account + "#relay." + relay;
}

bool isOAuthTokenKey(std::string_view name) {
    return name == kOAuthRefreshTokenKey || name == kOAuthAccessTokenKey;
}

bool signedInWithOAuth(const store::SessionSettings& settings) {
    const store::ExtensionSettings& ext = settings.extensions;
    return ext.boolean(kOAuthTokenInKeyringKey) || !ext.value(kOAuthRefreshTokenKey).empty() ||
           !ext.value(kOAuthAccessTokenKey).empty();
}

std::string oauthLogin(const store::SessionSettings& settings) {
    std::string login = settings.extensions.value(kOAuthLoginKey);
    if (login.empty()) {
        login = settings.userName;
    }
    return login.empty() ? settings.fromAddress : login;
}

std::string oauthStatusText(const store::SessionSettings& settings) {
    if (!signedInWithOAuth(settings)) {
        return "Not signed in with OAuth.";
    }
    const std::time_t until =
        static_cast<std::time_t>(numberOr(settings.extensions.value(kOAuthExpiresAtKey), 0));
    std::tm utc{};
    gmtime_r(&until, &utc);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M UTC", &utc);
    return "Signed in as " + oauthLogin(settings) + " (until " + time + ")";
}

SignInResult signIn(store::SessionSettings& settings, const SignInRequest& request,
                    SignInFeedback& feedback, store::PasswordStore* keyring) {
    const OAuthClient client = oauthClientFor(settings);
    if (const std::string problem = oauthClientProblem(client); !problem.empty()) {
        return failed(problem);
    }
    HttpsOptions https = httpsOptionsFromEnvironment(client.pinSha256);
    // A window's Cancel (or its closing) also ends a request the provider is slow to answer.
    https.cancelled = [&feedback] { return feedback.cancelled(); };
    EndpointAnswer answer;
    if (request.device) {
        if (client.provider.deviceUrl.empty()) {
            return failed(client.provider.title +
                          " offers no sign-in by code for mail: sign in with the browser.");
        }
        std::string problem;
        answer = deviceSignIn(client, request, feedback, https, problem);
        if (!problem.empty()) {
            return failed(problem);
        }
    } else {
        LoopbackListener listener;
        if (!listener.listening()) {
            return failed("No local port for the sign-in could be opened: " + listener.error());
        }
        const std::string verifier = randomUrlText(32);
        const std::string state = randomUrlText(16);
        const std::string url =
            authorizationUrl(client, listener.redirectUri(), state, codeChallengeS256(verifier),
                             settings.extensions.value(kOAuthLoginKey));
        feedback.show("Open this address in a browser to sign in: " + url);
        if (request.openBrowser && request.openUrl && !request.openUrl(url)) {
            feedback.show("The browser could not be started: open the address yourself.");
        }
        const LoopbackListener::Result redirect = listener.waitForCode(
            state, request.timeoutSeconds * 1000, [&feedback] { return feedback.cancelled(); });
        if (redirect.status != LoopbackListener::Result::Status::Code) {
            return failed(redirect.reason);
        }
        std::vector<std::pair<std::string, std::string>> form{
            {"grant_type", "authorization_code"},
            {"code", redirect.code},
            {"redirect_uri", listener.redirectUri()},
            {"code_verifier", verifier}};
        withSecret(form, client);
        answer = postForm(client.provider.tokenUrl, form, https);
    }
    if (answer.field("access_token").empty()) {
        return failed("The sign-in failed: " + endpointErrorText(answer));
    }
    if (settings.extensions.value(kOAuthLoginKey).empty()) {
        const std::string named = idTokenLogin(answer.field("id_token"));
        if (!named.empty()) {
            settings.extensions.set(kOAuthLoginKey, named);
        }
    }
    // A new sign-in replaces whatever the last one left in the keyring.
    keepTokens(settings, answer, request.nowSeconds, keyring);
    return {true, "Signed in as " + oauthLogin(settings) + "."};
}

bool usesOAuth(const store::SessionSettings& settings) {
    const SmtpAuthMechanism mechanism =
        smtpAuthMechanismNamed(settings.extensions.value("smtpAuthMechanism"));
    return signedInWithOAuth(settings) && mechanism != SmtpAuthMechanism::Plain &&
           mechanism != SmtpAuthMechanism::Login;
}

void signInWithTokens(SmtpSessionRequest& request, const store::SessionSettings& settings,
                      AccessTokens& tokens) {
    request.userName = oauthLogin(settings);
    request.password.clear();
    request.tokens = &tokens;
}

void copyOAuthTokens(const store::SessionSettings& from, store::SessionSettings& to) {
    for (const char* key : {kOAuthTokenInKeyringKey, kOAuthRefreshTokenKey, kOAuthAccessTokenKey,
                            kOAuthExpiresAtKey, kOAuthLoginKey}) {
        const std::string value = from.extensions.value(key);
        if (value.empty()) {
            to.extensions.remove(key);
        } else {
            to.extensions.set(key, value);
        }
    }
}

void signOut(store::SessionSettings& settings, store::PasswordStore* keyring) {
    store::ExtensionSettings& ext = settings.extensions;
    if (ext.boolean(kOAuthTokenInKeyringKey) && keyring && !keyring->unavailableReason()) {
        keyring->remove(
            oauthKeyringAccount(settings)); // best effort: the file forgets it either way
    }
    for (const char* key : {kOAuthTokenInKeyringKey, kOAuthRefreshTokenKey, kOAuthAccessTokenKey,
                            kOAuthExpiresAtKey}) {
        ext.remove(key);
    }
}

SessionAccessTokens::SessionAccessTokens(store::SessionSettings& settings,
                                         store::PasswordStore* keyring,
                                         std::function<long long()> nowSeconds)
    : settings_(settings), keyring_(keyring), now_(std::move(nowSeconds)) {}

std::string SessionAccessTokens::current(std::string& error) {
    const store::ExtensionSettings& ext = settings_.extensions;
    const std::string stored = store::rot13Text(ext.value(kOAuthAccessTokenKey));
    if (!stored.empty() &&
        numberOr(ext.value(kOAuthExpiresAtKey), 0) - now_() > kRenewAheadSeconds) {
        return stored;
    }
    return renewed(error);
}

std::string SessionAccessTokens::renewed(std::string& error) {
    store::ExtensionSettings& ext = settings_.extensions;
    std::string refresh;
    if (ext.boolean(kOAuthTokenInKeyringKey)) {
        std::optional<std::string> unavailable =
            keyring_ ? keyring_->unavailableReason()
                     : std::optional<std::string>("this build has no keyring");
        if (unavailable) {
            error = "The sign-in is kept in the desktop keyring, which cannot be reached: " +
                    *unavailable;
            return "";
        }
        store::PasswordStore::ReadResult read = keyring_->read(oauthKeyringAccount(settings_));
        if (!read.password) {
            error = "The sign-in could not be read from the desktop keyring: " + read.error;
            return "";
        }
        refresh = std::move(*read.password);
    } else {
        refresh = store::rot13Text(ext.value(kOAuthRefreshTokenKey));
    }
    if (refresh.empty()) {
        const std::string relay = ext.value(kOAuthRelayKey);
        error = signedInWithOAuth(settings_)
                    ? kSignInAgainText
                    : "This session is not signed in with OAuth: sign in first (mailtray oauth "
                      "login" +
                          (relay.empty() ? std::string() : " --relay " + relay) + ").";
        return "";
    }
    const OAuthClient client = oauthClientFor(settings_);
    std::vector<std::pair<std::string, std::string>> form{{"grant_type", "refresh_token"},
                                                          {"refresh_token", refresh}};
    withSecret(form, client);
    HttpsOptions https = httpsOptionsFromEnvironment(client.pinSha256);
    https.cancelled = cancelled_;
    const EndpointAnswer answer = postForm(client.provider.tokenUrl, form, https);
    const std::string token = answer.field("access_token");
    if (token.empty()) {
        const std::string code = answer.field("error");
        error = code == "invalid_grant" || code == "unauthorized_client"
                    ? std::string(kSignInAgainText)
                    : "The sign-in could not be renewed: " + endpointErrorText(answer);
        return "";
    }
    keepTokens(settings_, answer, now_(), keyring_);
    changed_ = true;
    return token;
}

} // namespace velmora::delivery
