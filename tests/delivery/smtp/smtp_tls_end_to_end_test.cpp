// Encrypted sessions against a real SMTP server (aiosmtpd) on 127.0.0.1,
// with certificates made for each test by the openssl command.
#include "../python_helpers.h"
#include "../scripted_connection.h"
#include "cli/cli_test_support.h"
#include "delivery/message/mime_text.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/smtp/smtp_request.h"
#include "delivery/smtp/smtp_session.h"
#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>

namespace velmora::delivery {

using delivery_testing::RecordingObserver;
using delivery_testing::runPythonScript;
using delivery_testing::SmtpTestServer;
using testing_support::CliRun;
using testing_support::readFileBytes;
using testing_support::runCliWithClock;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;

namespace {

struct Certificates {
    TempDir dir;
    std::string selfPin;
    Certificates() {
        selfPin = runPythonScript("make_test_certificates.py", {dir.path()});
        while (!selfPin.empty() && (selfPin.back() == '\n' || selfPin.back() == '\r')) {
            selfPin.pop_back();
        }
    }
    std::string file(const std::string& name) const { return dir.file(name); }
    std::vector<std::string> serve(const std::string& name) const {
        return {"--cert", file(name + ".pem"), "--key", file(name + ".key")};
    }
};

// One process-wide set: making keys takes a moment.
const Certificates& certificates() {
    static const Certificates made;
    return made;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct TlsCase {
    TempDir store;
    store::SystemClock clock;
    MimeTypesFile types{"/nonexistent"};
    MessageEnvironment environment{clock, types, {}};
    RecordingObserver observer;
    SmtpSessionRequest request;
    SmtpSessionReport report;

    TlsCase(int port, SmtpSecurity security) {
        request.server = "127.0.0.1";
        request.port = port;
        request.timeoutSeconds = 5;
        request.security = security;
        request.logDialogue = true;
        request.message.senderAddress = "ann@example.org";
        request.message.recipient = "bob@example.net";
        request.message.subject = "Hello";
        request.message.body = "Hi";
        request.message.format = code(store::EditorFormat::PlainText);
    }
    void login() {
        request.userName = "ann.lee";
        request.password = "s3cret";
    }
    SmtpOutcome run() {
        TcpConnection connection;
        SmtpSession session(request, connection, observer, environment);
        const SmtpOutcome outcome = session.run();
        report = session.report();
        return outcome;
    }
    nlohmann::json envelope(const std::string& storeDir) const {
        return nlohmann::json::parse(readFileBytes(storeDir + "/001.json"));
    }
};

const std::vector<std::string> kLogin = {"--user", "ann.lee", "--password", "s3cret"};

} // namespace

TEST(SmtpTlsEndToEnd, StartTlsThenLoginWhenTheServerOnlyTakesALoginOverTls) {
    const Certificates& certs = certificates();
    ScopedEnvironment trust("SSL_CERT_FILE", certs.file("ca.pem"));
    TempDir store;
    SmtpTestServer server(
        store.path(), joined(joined(certs.serve("server"), kLogin), {"--require-tls-for-auth"}));
    ASSERT_TRUE(server.running());
    for (const SmtpSecurity security : {SmtpSecurity::Auto, SmtpSecurity::StartTls}) {
        TlsCase c(server.port(), security);
        c.login();
        const SmtpOutcome outcome = c.run();
        ASSERT_EQ(outcome.result, SmtpResult::Delivered) << outcome.reason;
        EXPECT_TRUE(c.report.encrypted);
        EXPECT_TRUE(c.report.loggedIn);
        EXPECT_EQ(c.report.tls.version.substr(0, 4), "TLSv");
        EXPECT_NE(c.report.tls.subject.find("localhost"), std::string::npos);
        EXPECT_NE(c.report.tls.issuer.find("Velmora Test CA"), std::string::npos);
        EXPECT_FALSE(c.report.tls.expires.empty());
    }
    EXPECT_EQ(nlohmann::json::parse(readFileBytes(store.file("002.json")))["login"], "ann.lee");
}

TEST(SmtpTlsEndToEnd, ImplicitTlsDeliversWithLoginAndNamesThePlainPortMistake) {
    const Certificates& certs = certificates();
    ScopedEnvironment trust("SSL_CERT_FILE", certs.file("ca.pem"));
    TempDir store;
    SmtpTestServer server(store.path(),
                          joined(joined(certs.serve("server"), kLogin), {"--implicit-tls"}));
    ASSERT_TRUE(server.running());
    TlsCase c(server.port(), SmtpSecurity::Tls);
    c.login();
    // Far more than one TLS record and one socket buffer.
    std::string body;
    for (int i = 0; body.size() < 600000; ++i) {
        body += "Line " + std::to_string(i) + " of a long message.\r\n";
    }
    body += "The end.";
    c.request.message.body = body;
    const SmtpOutcome outcome = c.run();
    ASSERT_EQ(outcome.result, SmtpResult::Delivered) << outcome.reason;
    EXPECT_EQ(nlohmann::json::parse(readFileBytes(store.file("001.json")))["login"], "ann.lee");
    const std::string stored = readFileBytes(store.file("001.eml"));
    EXPECT_GT(stored.size(), 600000u);
    EXPECT_NE(stored.find("The end."), std::string::npos);
    EXPECT_EQ(c.report.greeting.substr(0, 11), "test.server");

    // TLS asked of a server that greets in plain text.
    TempDir plainStore;
    SmtpTestServer plain(plainStore.path());
    ASSERT_TRUE(plain.running());
    TlsCase wrong(plain.port(), SmtpSecurity::Tls);
    const SmtpOutcome refused = wrong.run();
    EXPECT_EQ(refused.result, SmtpResult::Failed);
    EXPECT_NE(refused.reason.find(kPortExpectsPlainText), std::string::npos) << refused.reason;
}

TEST(SmtpTlsEndToEnd, CertificatesThatDoNotProveTheServerFailTheSessionInPlainWords) {
    const Certificates& certs = certificates();
    struct Case {
        const char* name;
        const char* certificate;
        const char* trusted; // the authority SSL_CERT_FILE names
        std::string pin;
        std::string reason;     // "" when it is delivered
        bool offersPin = false; // a connection test offers to trust the certificate
    };
    const std::vector<Case> cases = {
        {"untrusted issuer", "server", "otherca.pem", "",
         "The server's certificate is not trusted: no authority this computer trusts issued it.",
         true},
        {"wrong name", "wrongname", "ca.pem", "",
         "The server's certificate is issued for another name than \"127.0.0.1\""},
        {"self-signed", "self", "ca.pem", "",
         "The server's certificate is self-signed and not trusted. If this is your own server, "
         "set tlsPinSha256 to " +
             certs.selfPin,
         true},
        {"self-signed, pinned", "self", "ca.pem", certs.selfPin, ""},
        {"pinned in capitals", "self", "otherca.pem",
         [&] {
             std::string upper = certs.selfPin;
             for (char& ch : upper) {
                 ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
             }
             return upper;
         }(),
         ""},
        {"another key pinned", "server", "ca.pem", std::string(64, 'a'),
         "The server's certificate is not the pinned one"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ScopedEnvironment trust("SSL_CERT_FILE", certs.file(k.trusted));
        TempDir store;
        SmtpTestServer server(
            store.path(), joined(joined(certs.serve(k.certificate), kLogin), {"--implicit-tls"}));
        ASSERT_TRUE(server.running());
        TlsCase c(server.port(), SmtpSecurity::Tls);
        c.login();
        c.request.tlsPinSha256 = k.pin;
        const SmtpOutcome outcome = c.run();
        if (k.reason.empty()) {
            EXPECT_EQ(outcome.result, SmtpResult::Delivered) << outcome.reason;
            EXPECT_TRUE(c.report.tls.pinned);
            continue;
        }
        EXPECT_EQ(outcome.result, SmtpResult::Failed);
        EXPECT_EQ(outcome.reason.rfind(k.reason, 0), 0u) << outcome.reason;
        EXPECT_TRUE(outcome.connectionOpened);
        EXPECT_FALSE(std::filesystem::exists(store.file("001.json")));
        EXPECT_NE(std::find(c.observer.lines.begin(), c.observer.lines.end(), outcome.reason),
                  c.observer.lines.end());
        // The pin offered is the one the message names.
        const std::optional<std::string> pin = certificatePinToTrust(c.report);
        EXPECT_EQ(pin.has_value(), k.offersPin);
        if (pin) {
            EXPECT_EQ(pin->size(), 64u);
            EXPECT_NE(outcome.reason.find(*pin), std::string::npos);
        }
    }
}

TEST(SmtpTlsEndToEnd, WithoutStartTlsAutoNeverPutsThePasswordOnTheWire) {
    TempDir store;
    SmtpTestServer server(store.path(), joined(kLogin, {"--capture"}));
    ASSERT_TRUE(server.running());
    TlsCase c(server.port(), SmtpSecurity::Auto);
    c.login();
    const SmtpOutcome outcome = c.run();
    EXPECT_EQ(outcome.result, SmtpResult::Failed);
    EXPECT_EQ(outcome.reason, kNoEncryptionText);
    const std::string wire = readFileBytes(store.file("wire.bin"));
    EXPECT_NE(wire.find("EHLO "), std::string::npos) << wire;
    EXPECT_EQ(wire.find("AUTH"), std::string::npos) << wire;
    EXPECT_EQ(wire.find("s3cret"), std::string::npos);
    EXPECT_EQ(wire.find(base64String("s3cret")), std::string::npos);
    EXPECT_EQ(wire.find("czNjcmV0"), std::string::npos); // any base64 alignment of it
    EXPECT_FALSE(std::filesystem::exists(store.file("001.json")));

    // Security "None" is the user's explicit choice to send it anyway.
    TlsCase none(server.port(), SmtpSecurity::None);
    none.login();
    EXPECT_EQ(none.run().result, SmtpResult::Delivered);
}

namespace {

// The command in-process on the real clock (the certificates are made
// now) with nothing on standard input.
CliRun mailtray(const std::vector<std::string>& args) {
    std::istringstream noInput;
    store::SystemClock clock;
    return runCliWithClock(args, clock, noInput);
}

} // namespace

TEST(SmtpTlsEndToEnd, TheCommandLineConfiguresTestsAndSendsThroughAStartTlsOnlyServer) {
    const Certificates& certs = certificates();
    ScopedEnvironment trust("SSL_CERT_FILE", certs.file("ca.pem"));
    TempDir store;
    SmtpTestServer server(
        store.path(), joined(joined(certs.serve("server"), kLogin), {"--require-tls-for-auth"}));
    ASSERT_TRUE(server.running());
    TempDir files;
    const std::string session = files.file("s.qmz");
    ASSERT_EQ(mailtray({"session", "new", session}).exitCode, 0);
    const CliRun set =
        mailtray({"settings", "set", session, "smtpServer=localhost",
                  "smtpPort=" + std::to_string(server.port()), "timeoutSeconds=5", "requiresAuth=1",
                  "userName=ann.lee", "password=s3cret", "smtpSecurity=starttls"});
    ASSERT_EQ(set.exitCode, 0) << set.err;

    const CliRun tested = mailtray({"test-connection", session});
    EXPECT_EQ(tested.exitCode, 0) << tested.out << tested.err;
    EXPECT_NE(tested.out.find("Greeting: test.server"), std::string::npos) << tested.out;
    EXPECT_NE(tested.out.find("Capabilities: "), std::string::npos);
    EXPECT_NE(tested.out.find("Encryption: TLSv1."), std::string::npos);
    EXPECT_NE(tested.out.find("Certificate subject: CN=localhost"), std::string::npos);
    EXPECT_NE(tested.out.find("Certificate issuer: CN=Velmora Test CA"), std::string::npos);
    EXPECT_NE(tested.out.find("Certificate expires: "), std::string::npos);
    EXPECT_NE(tested.out.find("Login: succeeded (PLAIN)"), std::string::npos);
    EXPECT_NE(tested.out.find("Result: OK"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(store.file("001.json"))) << "a test sends no mail";

    const std::string draft = files.file("d.eml");
    ASSERT_EQ(
        mailtray({"draft", "new", draft, "--from", "Ann <ann@example.org>", "--subject", "Hi"})
            .exitCode,
        0);
    const CliRun sent = mailtray({"send", session, draft, "--recipients", "single:bob@x.org"});
    EXPECT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    const auto envelope = nlohmann::json::parse(readFileBytes(store.file("001.json")));
    EXPECT_EQ(envelope["login"], "ann.lee");
    EXPECT_EQ(envelope["rcptTos"], nlohmann::json::array({"bob@x.org"}));

    // A certificate refused after STARTTLS: what the server offered before it still shows.
    {
        TempDir selfStore;
        SmtpTestServer self(selfStore.path(), certs.serve("self"));
        ASSERT_TRUE(self.running());
        ASSERT_EQ(mailtray({"settings", "set", session, "smtpPort=" + std::to_string(self.port())})
                      .exitCode,
                  0);
        const CliRun untrusted = mailtray({"test-connection", session});
        EXPECT_EQ(untrusted.exitCode, 1);
        EXPECT_NE(untrusted.out.find("Capabilities before TLS: "), std::string::npos)
            << untrusted.out;
        EXPECT_NE(untrusted.out.find("STARTTLS"), std::string::npos);
        EXPECT_EQ(untrusted.out.find("Capabilities: (none)"), std::string::npos);
        ASSERT_EQ(
            mailtray({"settings", "set", session, "smtpPort=" + std::to_string(server.port())})
                .exitCode,
            0);
    }

    // A wrong password: the test says so and exits 1.
    ASSERT_EQ(mailtray({"settings", "set", session, "password=wrong"}).exitCode, 0);
    const CliRun refused = mailtray({"test-connection", session});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("Result: Failed: The server refused the login: 535"),
              std::string::npos)
        << refused.out;
}

TEST(SmtpTlsEndToEnd, AHeldConnectionDoesTlsAndTheLoginOnceForAllItsMessages) {
    const Certificates& certs = certificates();
    ScopedEnvironment trust("SSL_CERT_FILE", certs.file("ca.pem"));
    TempDir store;
    SmtpTestServer server(store.path(), joined(joined(certs.serve("server"), kLogin),
                                               {"--require-tls-for-auth", "--pipelining"}));
    ASSERT_TRUE(server.running());
    TlsCase c(server.port(), SmtpSecurity::StartTls);
    c.login();
    c.request.keepOpen = true;
    c.request.pipelining = true;
    TcpConnection connection;
    SmtpSession session(c.request, connection, c.observer, c.environment);
    ASSERT_EQ(session.run().result, SmtpResult::Delivered);
    for (const char* recipient : {"cy@example.net", "dee@example.net"}) {
        ASSERT_TRUE(session.held());
        c.request.message.recipient = recipient;
        const SmtpOutcome outcome = session.next();
        ASSERT_EQ(outcome.result, SmtpResult::Delivered) << outcome.reason;
        EXPECT_TRUE(outcome.reusedConnection);
    }
    session.quit();
    EXPECT_FALSE(session.held());

    const auto count = [&](const std::string& prefix) {
        return std::count_if(c.observer.lines.begin(), c.observer.lines.end(),
                             [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(count("TLS: "), 1);
    EXPECT_EQ(count("<235"), 1); // one login
    EXPECT_EQ(count("<221"), 1); // one QUIT, at the end
    std::vector<std::string> recipients;
    std::set<int> connections;
    for (const char* name : {"001.json", "002.json", "003.json"}) {
        const nlohmann::json envelope = nlohmann::json::parse(readFileBytes(store.file(name)));
        EXPECT_EQ(envelope["login"], "ann.lee");
        recipients.push_back(envelope["rcptTos"][0]);
        connections.insert(envelope["connection"].get<int>());
    }
    EXPECT_EQ(recipients,
              (std::vector<std::string>{"bob@example.net", "cy@example.net", "dee@example.net"}));
    EXPECT_EQ(connections.size(), 1u);
}
} // namespace velmora::delivery
