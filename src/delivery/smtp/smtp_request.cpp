#include "delivery/smtp/smtp_request.h"

#include "delivery/message/mime_types_file.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "store/untrusted_text.h"

namespace velmora::delivery {

SmtpSessionRequest smtpRequestFor(const store::SessionSettings& settings,
                                  const std::string& hostName) {
    SmtpSessionRequest request;
    request.server = settings.smtpServer;
    request.port = settings.smtpPort;
    request.timeoutSeconds = settings.timeoutSeconds;
    if (settings.requiresAuth == 1) {
        request.userName = settings.userName;
        request.password = settings.password;
    }
    const store::ExtensionSettings& extensions = settings.extensions;
    const std::string heloName = extensions.value("heloName");
    request.hostName = heloName.empty() ? hostName : heloName;
    request.security = smtpSecurityNamed(extensions.value("smtpSecurity"));
    request.mechanism = smtpAuthMechanismNamed(extensions.value("smtpAuthMechanism"));
    request.tlsPinSha256 = extensions.value("tlsPinSha256");
    return request;
}

SmtpSessionReport testSmtpConnection(const store::SessionSettings& settings,
                                     const std::string& hostName, Connection& connection,
                                     RunObserver& observer, const store::Clock& clock,
                                     AccessTokens* tokens) {
    SmtpSessionRequest request = smtpRequestFor(settings, hostName);
    if (tokens != nullptr && usesOAuth(settings)) {
        signInWithTokens(request, settings, *tokens);
    }
    request.probeOnly = true;
    // No message is sent; the envelope only has to be safe.
    const MimeTypesFile noTypes("/nonexistent");
    const MessageEnvironment environment{clock, noTypes, {}};
    SmtpSession session(request, connection, observer, environment);
    session.run();
    return session.report();
}

bool connectionTestPassed(const SmtpSessionReport& report) {
    return report.outcome.result == SmtpResult::Delivered;
}

std::optional<std::string> certificatePinToTrust(const SmtpSessionReport& report) {
    if (report.encrypted || !report.tls.untrusted || report.tls.publicKeySha256.empty()) {
        return std::nullopt;
    }
    return report.tls.publicKeySha256;
}

std::vector<std::string> connectionTestLines(const SmtpSessionRequest& request,
                                             const SmtpSessionReport& report) {
    std::vector<std::string> lines;
    lines.push_back("Server: " + store::printableText(request.server) + " (port " +
                    std::to_string(request.port) + ")");
    if (!report.outcome.connectionOpened) {
        lines.push_back("Result: " + report.outcome.reason);
        return lines;
    }
    lines.push_back("Greeting: " + (report.greeting.empty() ? "(none)" : report.greeting));
    const auto joined = [](const std::vector<std::string>& items) {
        std::string text;
        for (const std::string& item : items) {
            text += text.empty() ? "" : ", ";
            text += item;
        }
        return text;
    };
    if (!report.capabilitiesBeforeTls.empty()) {
        lines.push_back("Capabilities before TLS: " + joined(report.capabilitiesBeforeTls));
    }
    // After a failed STARTTLS handshake the server offered nothing more.
    if (report.capabilitiesBeforeTls.empty() || report.encrypted) {
        const std::string capabilities = joined(report.capabilities);
        lines.push_back("Capabilities: " + (capabilities.empty() ? "(none)" : capabilities));
    }
    if (report.encrypted) {
        const TlsDetails& tls = report.tls;
        lines.push_back("Encryption: " + tls.version + ", " + tls.cipher);
        lines.push_back("Certificate subject: " + store::printableText(tls.subject));
        lines.push_back("Certificate issuer: " + store::printableText(tls.issuer));
        lines.push_back("Certificate expires: " + tls.expires);
        lines.push_back(
            std::string("Certificate accepted: ") +
            (tls.pinned ? "by its pinned key (tlsPinSha256)" : "trusted by this computer"));
    } else {
        lines.push_back("Encryption: none");
    }
    if (request.userName.empty()) {
        lines.push_back("Login: not set");
    } else if (report.loggedIn) {
        lines.push_back("Login: succeeded (" + report.authMechanism + ")");
    } else {
        lines.push_back("Login: not completed");
    }
    lines.push_back(connectionTestPassed(report) ? "Result: OK"
                                                 : "Result: Failed: " + report.outcome.reason);
    return lines;
}

} // namespace velmora::delivery
