#include "delivery/oauth/loopback_listener.h"
#include "delivery/oauth/oauth_provider.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/oauth/pkce.h"
#include "delivery/oauth/token_client.h"
#include "store/counted_string.h"
#include "support/test_support.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmora::delivery {

namespace {

// Sends one GET to 127.0.0.1:port (or another loopback address) and returns
// the whole answer; empty when no connection could be made.
std::string fetch(int port, const std::string& target, const char* address = "127.0.0.1") {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address, &to.sin_addr);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
        EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(request.size()));
        char buffer[1024];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

} // namespace

TEST(OAuthPkce, ChallengeEncodingAndFormValuesMatchTheRfcs) {
    // RFC 7636 appendix B.
    EXPECT_EQ(codeChallengeS256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    EXPECT_EQ(base64Url(std::string("\xfb\xff", 2)), "-_8");
    EXPECT_EQ(base64Url("a"), "YQ");
    const std::string verifier = randomUrlText(32);
    EXPECT_EQ(verifier.size(), 43U); // RFC 7636 asks for 43 to 128 characters
    EXPECT_NE(verifier, randomUrlText(32));
    EXPECT_EQ(urlEncoded("a b/c~é"), "a%20b%2Fc~%C3%A9");
    EXPECT_EQ(formValue("code=4%2F0A+x&state=s%3D1&bad=%zz", "code"), "4/0A x");
    EXPECT_EQ(formValue("code=4&state=s%3D1", "state"), "s=1");
    EXPECT_EQ(formValue("code=4&state=s", "missing"), "");
    EXPECT_EQ(formValue("bad=%zz%4", "bad"), "%zz%4");
}

TEST(OAuthProvider, PresetsSettingsAndTheAuthorizationAddress) {
    store::SessionSettings settings;
    settings.extensions.set(kOAuthProviderKey, "microsoft");
    settings.extensions.set(kOAuthClientIdKey, "my-app");
    OAuthClient client = oauthClientFor(settings);
    EXPECT_EQ(client.provider.scope, "https://outlook.office.com/SMTP.Send offline_access");
    EXPECT_EQ(client.provider.smtpServer, "smtp.office365.com");
    EXPECT_EQ(oauthClientProblem(client), "");
    EXPECT_EQ(authorizationUrl(client, "http://127.0.0.1:5000/", "st", "ch", "ann@example.org"),
              "https://login.microsoftonline.com/common/oauth2/v2.0/authorize?response_type=code&"
              "client_id=my-app&redirect_uri=http%3A%2F%2F127.0.0.1%3A5000%2F&scope=https%3A%2F%"
              "2Foutlook.office.com%2FSMTP.Send%20offline_access&state=st&code_challenge=ch&code_"
              "challenge_method=S256&login_hint=ann%40example.org");
    // "custom" takes every field from the settings; a field set overrides a preset.
    settings.extensions.set(kOAuthProviderKey, "custom");
    settings.extensions.set(kOAuthTokenUrlKey, "https://id.example/token");
    client = oauthClientFor(settings);
    EXPECT_EQ(client.provider.tokenUrl, "https://id.example/token");
    EXPECT_EQ(client.provider.authorizeUrl, "");
    EXPECT_NE(oauthClientProblem(client), "");
    settings.extensions.set(kOAuthClientIdKey, "");
    settings.extensions.set(kOAuthProviderKey, "google");
    EXPECT_TRUE(oauthClientProblem(oauthClientFor(settings)).starts_with("No client ID is set"));
}

TEST(OAuthProvider, JsonFieldsSkipNestedValuesAndRefuseWhatIsNoObject) {
    const auto fields = jsonFields(
        "{\n  \"access_token\": \"ya29.a\\\"b\",\n  \"expires_in\": 3599, \"codes\": [1, {\"x\": "
        "\"]\"}],\n  \"ok\": true, \"none\": null, \"name\": \"\\u00e9\", \"scale\": -1.5e3, "
        "\"x\": {}\n}");
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(fields->at("access_token"), "ya29.a\"b");
    EXPECT_EQ(fields->at("expires_in"), "3599");
    EXPECT_EQ(fields->at("ok"), "true");
    EXPECT_EQ(fields->at("name"), "\xc3\xa9");
    EXPECT_EQ(fields->at("scale"), "-1.5e3");
    EXPECT_EQ(fields->count("codes") + fields->count("none"), 0U);
    for (const char* bad : {"", "[1]", "{\"a\": }", "{\"a\": \"b\"", "<html>"}) {
        EXPECT_FALSE(jsonFields(bad).has_value()) << bad;
    }
}

TEST(LoopbackListener, TakesOnlyTheRequestWithItsStateOnTheLoopbackAddressThenCloses) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.listening()) << listener.error();
    const int port = listener.port();
    EXPECT_EQ(listener.redirectUri(), "http://127.0.0.1:" + std::to_string(port) + "/");
    LoopbackListener::Result result;
    std::thread waiter([&] { result = listener.waitForCode("s-42", 30000, nullptr); });
    // Nothing listens on another address of this machine.
    EXPECT_EQ(fetch(port, "/?code=c1&state=s-42", "127.0.0.2"), "");
    // A wrong state, no state and a stray fetch are refused; the wait goes on.
    for (const char* target : {"/?code=c0&state=s-41", "/?code=c0", "/favicon.ico"}) {
        EXPECT_TRUE(fetch(port, target).starts_with("HTTP/1.1 400")) << target;
    }
    const std::string page = fetch(port, "/?code=4%2F0Ab&state=s-42&scope=x");
    waiter.join();
    EXPECT_TRUE(page.starts_with("HTTP/1.1 200 OK"));
    EXPECT_TRUE(page.ends_with("\r\n\r\nSigned in. You can close this window.")) << page;
    EXPECT_EQ(result.status, LoopbackListener::Result::Status::Code);
    EXPECT_EQ(result.code, "4/0Ab");
    // A second request finds nobody listening.
    EXPECT_EQ(fetch(port, "/?code=c2&state=s-42"), "");
}

TEST(LoopbackListener, ARefusalCancelAndTimeOutEndTheWait) {
    {
        LoopbackListener listener;
        LoopbackListener::Result result;
        std::thread waiter([&] { result = listener.waitForCode("s", 30000, nullptr); });
        fetch(listener.port(), "/?error=access_denied&error_description=The+user+said+no&state=s");
        waiter.join();
        EXPECT_EQ(result.status, LoopbackListener::Result::Status::Refused);
        EXPECT_EQ(result.reason, "The provider did not sign you in: The user said no");
    }
    LoopbackListener cancelled;
    EXPECT_EQ(cancelled.waitForCode("s", 30000, [] { return true; }).status,
              LoopbackListener::Result::Status::Cancelled);
    LoopbackListener late;
    EXPECT_EQ(late.waitForCode("s", 0, nullptr).status, LoopbackListener::Result::Status::TimedOut);
}

TEST(TokenClient, CancelEndsARequestTheProviderNeverAnswers) {
    // The system completes the connection; nobody ever answers the TLS hello.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    HttpsOptions options;
    options.timeoutSeconds = 20; // without the hook the answer would be this time-out's
    options.cancelled = [] { return true; };
    const EndpointAnswer answer =
        postForm("https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/token",
                 {{"grant_type", "refresh_token"}}, options);
    EXPECT_EQ(answer.problem, "The sign-in was cancelled.");

    // A renewal for a window's worker asks the same.
    store::SessionSettings settings;
    settings.extensions.set(kOAuthProviderKey, "custom");
    settings.extensions.set(kOAuthClientIdKey, "c");
    settings.extensions.set(kOAuthAuthorizeUrlKey, "https://127.0.0.1/authorize");
    settings.extensions.set(kOAuthTokenUrlKey,
                            "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                                "/token");
    settings.extensions.set(kOAuthRefreshTokenKey, store::rot13Text("rt-1"));
    SessionAccessTokens tokens(settings, nullptr, [] { return 0LL; });
    tokens.setCancelled([] { return true; });
    std::string error;
    EXPECT_EQ(tokens.renewed(error), "");
    EXPECT_EQ(error, "The sign-in could not be renewed: The sign-in was cancelled.");
    EXPECT_FALSE(tokens.changed());
    ::close(silent);
}

TEST(SessionAccessTokens, AStoredTokenServesUntilItEndsAndTokensAreNeverShown) {
    store::SessionSettings settings;
    settings.userName = "ann.lee";
    EXPECT_EQ(oauthStatusText(settings), "Not signed in with OAuth.");
    settings.extensions.set(kOAuthAccessTokenKey, store::rot13Text("at-1"));
    settings.extensions.set(kOAuthExpiresAtKey, "1800000000"); // 2027-01-15 08:00 UTC
    EXPECT_EQ(oauthStatusText(settings), "Signed in as ann.lee (until 2027-01-15 08:00 UTC)");
    long long now = 1800000000 - 600;
    SessionAccessTokens tokens(settings, nullptr, [&now] { return now; });
    std::string error;
    EXPECT_EQ(tokens.current(error), "at-1");
    // Within a minute of its end the token is renewed first; with no refresh
    // token there is nothing to renew it with.
    now = 1800000000 - 30;
    EXPECT_EQ(tokens.current(error), "");
    EXPECT_EQ(error, kSignInAgainText);
    EXPECT_TRUE(isOAuthTokenKey(kOAuthAccessTokenKey) && isOAuthTokenKey(kOAuthRefreshTokenKey));
    EXPECT_FALSE(isOAuthTokenKey(kOAuthLoginKey));
    signOut(settings, nullptr);
    EXPECT_FALSE(signedInWithOAuth(settings));
}

} // namespace velmora::delivery
