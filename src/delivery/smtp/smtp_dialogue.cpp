#include "delivery/smtp/smtp_dialogue.h"

#include "delivery/international_address.h"
#include "delivery/message/mime_text.h"
#include "delivery/run/json_line.h"
#include "store/untrusted_text.h"

#include <algorithm>

namespace velmora::delivery {

namespace {

// The envelope's commands, written the same whether they go alone,
// pipelined or ahead with the previous message's end of data.
std::string mailFromLine(const std::string& sender, bool smtpUtf8) {
    return "MAIL FROM: <" + sender + ">" + (smtpUtf8 ? " SMTPUTF8" : "");
}

std::string rcptToLine(const std::string& recipient) {
    return "RCPT TO: <" + recipient + ">";
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(text.find(' ', start), text.size());
        out.emplace_back(text.substr(start, end - start));
        at = end;
    }
    return out;
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (const std::string& item : items) {
        out += out.empty() ? "" : separator;
        out += item;
    }
    return out;
}

std::string unsafeAddressText(const std::string& address) {
    return "The address \"" + store::printableText(address) +
           "\" holds a control character, \"<\" or \">\" and cannot be sent to the server.";
}

} // namespace

SmtpSecurity smtpSecurityNamed(std::string_view name) {
    if (name == "starttls") {
        return SmtpSecurity::StartTls;
    }
    if (name == "tls") {
        return SmtpSecurity::Tls;
    }
    if (name == "none") {
        return SmtpSecurity::None;
    }
    return SmtpSecurity::Auto;
}

SmtpAuthMechanism smtpAuthMechanismNamed(std::string_view name) {
    if (name == "plain") {
        return SmtpAuthMechanism::Plain;
    }
    if (name == "login") {
        return SmtpAuthMechanism::Login;
    }
    if (name == "xoauth2") {
        return SmtpAuthMechanism::XOAuth2;
    }
    if (name == "oauthbearer") {
        return SmtpAuthMechanism::OAuthBearer;
    }
    return SmtpAuthMechanism::Auto;
}

std::string xoauth2Response(std::string_view login, std::string_view token) {
    return "user=" + std::string(login) +
           "\x01"
           "auth=Bearer " +
           std::string(token) + "\x01\x01";
}

std::string oauthBearerResponse(std::string_view login, std::string_view host, int port,
                                std::string_view token) {
    // A "," or "=" in the login would end the field: RFC 5801 escapes them.
    std::string escaped;
    for (const char c : login) {
        escaped += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
    }
    return "n,a=" + escaped + ",\x01host=" + std::string(host) +
           "\x01port=" + std::to_string(port) +
           "\x01"
           "auth=Bearer " +
           std::string(token) + "\x01\x01";
}

std::string oauthRefusedText(std::string_view challenge, const SmtpReply& reply) {
    std::string text = "The server refused the sign-in token";
    const std::optional<JsonObject> details = parseJsonLine(base64Decoded(challenge));
    const std::string status = details ? details->text("status") : "";
    const std::string scope = details ? details->text("scope") : "";
    if (!status.empty() || !scope.empty()) {
        text += " (status " + store::printableText(status.empty() ? "unknown" : status);
        if (!scope.empty()) {
            text += "; it needs the permission " + store::printableText(scope);
        }
        text += ")";
    } else {
        text += " (" + reply.code + " " + store::printableText(reply.text()) + ")";
    }
    return text + " even after it was renewed. Sign in again.";
}

bool isSafeEnvelopeAddress(std::string_view address) {
    return address.find_first_of("<>") == std::string_view::npos &&
           !store::hasControlCharacter(address);
}

SmtpDialogue::SmtpDialogue(SmtpDialogueSetup setup) : setup_(std::move(setup)) {
    // Our name goes into HELO/EHLO as it stands: it must not end the line.
    std::erase_if(setup_.hostName, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
    if (setup_.hostName.empty()) {
        setup_.hostName = "localhost";
    }
    encrypted_ = setup_.security == SmtpSecurity::Tls;
    if (!acceptEnvelope()) {
        state_ = SmtpState::Done;
    }
}

bool SmtpDialogue::acceptEnvelope() {
    // A non-ASCII name before the "@" needs a server that offers SMTPUTF8.
    smtpUtf8_ = needsSmtpUtf8(setup_.senderAddress) || needsSmtpUtf8(setup_.recipient);
    for (const std::string* address : {&setup_.senderAddress, &setup_.recipient}) {
        if (!isSafeEnvelopeAddress(*address)) {
            settle(SmtpResult::Failed, unsafeAddressText(*address));
            return false;
        }
    }
    return true;
}

void SmtpDialogue::settle(SmtpResult result, std::string reason, const SmtpReply* reply) {
    if (settled_) {
        return;
    }
    settled_ = true;
    outcome_.result = result;
    outcome_.reason = std::move(reason);
    if (reply != nullptr) {
        outcome_.replyCode = reply->code;
        outcome_.replyText = store::printableText(reply->text());
    }
}

void SmtpDialogue::send(SmtpStep& step, std::string_view command, SmtpState next) {
    step.toWrite.append(command);
    step.toWrite.append("\r\n");
    state_ = next;
}

void SmtpDialogue::refuse(SmtpResult result, std::string_view what, const SmtpReply& reply,
                          SmtpStep& step) {
    settle(result,
           "The server refused " + std::string(what) + ": " + reply.code + " " +
               store::printableText(reply.text()),
           &reply);
    // Only a refusal of this recipient or message leaves the session usable.
    endTransaction(step, result != SmtpResult::Rejected);
}

void SmtpDialogue::endTransaction(SmtpStep& step, bool quit) {
    if (ahead_) {
        // The next envelope is on its way and its replies are due: a QUIT now
        // could land in its message, so a failure that ends the session ends
        // it without a word.
        if (quit) {
            ahead_.reset();
            state_ = SmtpState::Done;
        } else {
            state_ = SmtpState::NextEnvelopeSent;
        }
        return;
    }
    if (outstanding_ > 0) {
        // The rest of the group is still to be answered: a QUIT written now
        // could land in a message the server goes on to accept.
        quitAfterDrain_ = quit;
        state_ = SmtpState::Draining;
        return;
    }
    if (quit || !setup_.keepOpen) {
        send(step, "QUIT", SmtpState::Closing);
        return;
    }
    state_ = SmtpState::Idle;
}

void SmtpDialogue::advance(SmtpState next) {
    state_ = next;
    --outstanding_;
}

void SmtpDialogue::drain(const SmtpReply& reply, SmtpStep& step) {
    --outstanding_;
    if (reply.code == "354") {
        // DATA was accepted although its recipient was not: an empty
        // message ends it, to nobody.
        step.toWrite.append(".\r\n");
        ++outstanding_;
    }
    if (outstanding_ == 0) {
        endTransaction(step, quitAfterDrain_);
    }
}

void SmtpDialogue::fail(std::string reason, SmtpStep& step) {
    settle(SmtpResult::Failed, std::move(reason));
    send(step, "QUIT", SmtpState::Closing);
}

void SmtpDialogue::protocolError(const std::string& reason, SmtpStep& step) {
    settle(SmtpResult::Failed, reason);
    step.problem = reason;
    state_ = SmtpState::Done;
}

bool SmtpDialogue::greetedWithTls(std::string_view bytes) {
    if (state_ != SmtpState::AwaitGreeting || encrypted_ || firstBytes_.size() >= 2) {
        return false;
    }
    firstBytes_.append(bytes.substr(0, 2 - firstBytes_.size()));
    // A TLS record starts with its type (0x15 alert, 0x16 handshake) and
    // the major version 3; no SMTP greeting does.
    return firstBytes_.size() == 2 && (firstBytes_[0] == '\x15' || firstBytes_[0] == '\x16') &&
           firstBytes_[1] == '\x03';
}

SmtpStep SmtpDialogue::received(std::string_view bytes) {
    SmtpStep step;
    if (finished() || state_ == SmtpState::AwaitTls) {
        return step; // nothing read before the handshake may count as a reply
    }
    if (greetedWithTls(bytes)) {
        protocolError(kPortExpectsTlsText, step);
        return step;
    }
    if (state_ == SmtpState::SendingMessage && !bytes.empty()) {
        // Nothing is due until the end of the data: a reply now is not the
        // server taking the message.
        protocolError(kEarlyReplyText, step);
        return step;
    }
    reader_.feed(bytes);
    process(step);
    return step;
}

SmtpStep SmtpDialogue::messageWritten() {
    SmtpStep step;
    if (state_ == SmtpState::SendingMessage) {
        state_ = SmtpState::AwaitMessageReply;
        outcome_.messageWritten = true;
        process(step);
    }
    return step;
}

SmtpStep SmtpDialogue::tlsStarted() {
    SmtpStep step;
    if (state_ == SmtpState::AwaitTls) {
        encrypted_ = true;
        send(step, "EHLO " + setup_.hostName, SmtpState::AwaitEhloReply);
    }
    return step;
}

void SmtpDialogue::tlsFailed(const std::string& reason) {
    if (finished()) {
        return;
    }
    settle(SmtpResult::Failed, reason);
    state_ = SmtpState::Done;
}

void SmtpDialogue::process(SmtpStep& step) {
    // While the message is being written, later replies wait in the reader.
    while (!finished() && state_ != SmtpState::SendingMessage &&
           state_ != SmtpState::NextEnvelopeSent) {
        std::optional<SmtpReply> reply = reader_.next();
        if (!reply) {
            break;
        }
        step.replies.push_back(*reply);
        act(*reply, step);
        if (state_ == SmtpState::AwaitTls) {
            // Whatever the server sent with its 220 came before encryption:
            // reading it as replies would let a third party speak for the server.
            reader_ = SmtpReplyReader();
            step.startTls = true;
            return;
        }
    }
    if (reader_.failed() && !finished()) {
        protocolError(reader_.error(), step);
    }
    if (state_ == SmtpState::SendingMessage && reader_.hasPartialReply()) {
        // Bytes that came with the 354 (a 250 among them) answer nothing we sent.
        protocolError(kEarlyReplyText, step);
    }
    step.writeMessage = state_ == SmtpState::SendingMessage;
}

bool SmtpDialogue::offers(std::string_view keyword) const {
    return std::any_of(capabilities_.begin(), capabilities_.end(), [&](const std::string& line) {
        const std::vector<std::string> parts = words(line);
        return !parts.empty() && upperAscii(parts[0]) == keyword;
    });
}

void SmtpDialogue::greeted(SmtpStep& step) {
    if (setup_.security == SmtpSecurity::None) {
        // No TLS: the dialogue as it always was, but an address that needs
        // SMTPUTF8 must learn whether the server offers it.
        const bool ehlo = login() || smtpUtf8_;
        send(step, (ehlo ? "Ehlo " : "HELO ") + setup_.hostName,
             ehlo ? SmtpState::AwaitEhloReply : SmtpState::AwaitHeloReply);
        return;
    }
    send(step, "EHLO " + setup_.hostName, SmtpState::AwaitEhloReply);
}

void SmtpDialogue::ehloAccepted(const SmtpReply& reply, SmtpStep& step) {
    capabilities_.assign(reply.lines.begin() + (reply.lines.empty() ? 0 : 1), reply.lines.end());
    authMechanisms_.clear();
    for (const std::string& line : capabilities_) {
        std::vector<std::string> parts = words(line);
        if (parts.empty()) {
            continue;
        }
        std::string keyword = upperAscii(parts[0]);
        // "AUTH=LOGIN" is how some older servers say it.
        if (keyword.starts_with("AUTH=")) {
            parts.insert(parts.begin() + 1, keyword.substr(5));
            keyword = "AUTH";
        }
        if (keyword == "AUTH") {
            for (std::size_t i = 1; i < parts.size(); ++i) {
                const std::string mechanism = upperAscii(parts[i]);
                if (std::find(authMechanisms_.begin(), authMechanisms_.end(), mechanism) ==
                    authMechanisms_.end()) {
                    authMechanisms_.push_back(mechanism);
                }
            }
        }
    }
    const bool wantsTls =
        setup_.security == SmtpSecurity::Auto || setup_.security == SmtpSecurity::StartTls;
    if (!encrypted_ && wantsTls) {
        if (offers("STARTTLS")) {
            return send(step, "STARTTLS", SmtpState::AwaitStartTlsReply);
        }
        if (setup_.security == SmtpSecurity::StartTls) {
            return fail(kNoStartTlsText, step);
        }
    }
    if (!login()) {
        return loginDone(step);
    }
    if (!encrypted_ && setup_.security != SmtpSecurity::None) {
        return fail(kNoEncryptionText, step);
    }
    startLogin(step);
}

void SmtpDialogue::startLogin(SmtpStep& step) {
    const auto offered = [&](std::string_view mechanism) {
        return std::find(authMechanisms_.begin(), authMechanisms_.end(), mechanism) !=
               authMechanisms_.end();
    };
    const SmtpAuthMechanism chosen = setup_.mechanism;
    const bool oauth = chosen == SmtpAuthMechanism::XOAuth2 ||
                       chosen == SmtpAuthMechanism::OAuthBearer ||
                       (chosen == SmtpAuthMechanism::Auto && !setup_.accessToken.empty());
    std::string mechanism;
    std::string wanted;
    if (oauth) {
        if (setup_.accessToken.empty()) {
            return fail(kNotSignedInText, step);
        }
        wanted = chosen == SmtpAuthMechanism::XOAuth2       ? "XOAUTH2"
                 : chosen == SmtpAuthMechanism::OAuthBearer ? "OAUTHBEARER"
                                                            : "OAUTHBEARER or XOAUTH2";
        mechanism = chosen == SmtpAuthMechanism::Auto ? (offered("OAUTHBEARER") ? "OAUTHBEARER"
                                                         : offered("XOAUTH2")   ? "XOAUTH2"
                                                                                : "")
                                                      : (offered(wanted) ? wanted : "");
    } else if (setup_.security == SmtpSecurity::None) {
        // The old dialogue's AUTH LOGIN, unless the server plainly wants PLAIN.
        mechanism = chosen == SmtpAuthMechanism::Plain || (chosen == SmtpAuthMechanism::Auto &&
                                                           offered("PLAIN") && !offered("LOGIN"))
                        ? "PLAIN"
                        : "LOGIN";
    } else {
        wanted = chosen == SmtpAuthMechanism::Auto    ? "PLAIN or LOGIN"
                 : chosen == SmtpAuthMechanism::Plain ? "PLAIN"
                                                      : "LOGIN";
        mechanism = chosen == SmtpAuthMechanism::Auto ? (offered("PLAIN")   ? "PLAIN"
                                                         : offered("LOGIN") ? "LOGIN"
                                                                            : "")
                                                      : (offered(wanted) ? wanted : "");
    }
    if (mechanism.empty()) {
        return fail(authMechanisms_.empty()
                        ? "The server offers no login method (its EHLO reply names no AUTH)."
                        : "The server does not offer the login method " + wanted + "; it offers: " +
                              store::printableText(joined(authMechanisms_, " ")) + ".",
                    step);
    }
    authMechanism_ = mechanism;
    if (oauth) {
        return sendOAuth(step);
    }
    if (mechanism == "PLAIN") {
        std::string credentials;
        credentials.push_back('\0');
        credentials += setup_.userName;
        credentials.push_back('\0');
        credentials += setup_.password;
        return send(step, "AUTH PLAIN " + base64String(credentials), SmtpState::AwaitAuthResult);
    }
    send(step, "AUTH LOGIN", SmtpState::AwaitAuthChallenge);
}

void SmtpDialogue::sendOAuth(SmtpStep& step) {
    const std::string response = authMechanism_ == "XOAUTH2"
                                     ? xoauth2Response(setup_.userName, setup_.accessToken)
                                     : oauthBearerResponse(setup_.userName, setup_.serverName,
                                                           setup_.serverPort, setup_.accessToken);
    oauthChallenge_.clear();
    send(step, "AUTH " + authMechanism_ + " " + base64String(response),
         SmtpState::AwaitOAuthResult);
}

void SmtpDialogue::oauthRefused(const SmtpReply& reply, SmtpStep& step) {
    if (reply.code != "535" || tokenRefreshed_) {
        // Not a refused token (or a renewed one refused again): the caller
        // must not renew and try forever.
        settle(SmtpResult::Failed,
               reply.code == "535" ? oauthRefusedText(oauthChallenge_, reply)
                                   : "The server refused the login: " + reply.code + " " +
                                         store::printableText(reply.text()),
               &reply);
        return send(step, "QUIT", SmtpState::Closing);
    }
    state_ = SmtpState::AwaitFreshToken;
    step.refreshToken = true;
}

SmtpStep SmtpDialogue::tokenRefreshed(std::string token) {
    SmtpStep step;
    if (state_ == SmtpState::AwaitFreshToken) {
        tokenRefreshed_ = true;
        setup_.accessToken = std::move(token);
        sendOAuth(step);
        process(step);
    }
    return step;
}

SmtpStep SmtpDialogue::tokenRefreshFailed(const std::string& reason) {
    SmtpStep step;
    if (state_ == SmtpState::AwaitFreshToken) {
        fail(reason, step);
    }
    return step;
}

void SmtpDialogue::loginDone(SmtpStep& step) {
    if (setup_.probeOnly) {
        settle(SmtpResult::Delivered, "");
        return send(step, "QUIT", SmtpState::Closing);
    }
    if (envelopeRefusedHere()) {
        return endTransaction(step, false);
    }
    startTransaction(step, false);
}

bool SmtpDialogue::envelopeRefusedHere() {
    if (smtpUtf8_ && !offers("SMTPUTF8")) {
        // The address never reaches a server that could not take it.
        settle(SmtpResult::Rejected,
               noSmtpUtf8Text(needsSmtpUtf8(setup_.recipient) ? setup_.recipient
                                                              : setup_.senderAddress));
        return true;
    }
    return false;
}

void SmtpDialogue::startTransaction(SmtpStep& step, bool reset) {
    pipelined_ = setup_.pipelining && offers("PIPELINING");
    transactionOpen_ = true;
    const std::string mailFrom = mailFromLine(setup_.senderAddress, smtpUtf8_);
    const std::string rcptTo = rcptToLine(setup_.recipient);
    outstanding_ = 0;
    if (reset) {
        send(step, "RSET", SmtpState::AwaitRsetReply);
        if (!pipelined_) {
            return;
        }
        outstanding_ = 3;
    } else {
        send(step, mailFrom, SmtpState::AwaitMailFromReply);
        if (!pipelined_) {
            return;
        }
        outstanding_ = 2;
    }
    // One write, and the replies read in order (RFC 2920).
    if (reset) {
        step.toWrite.append(mailFrom + "\r\n");
    }
    step.toWrite.append(rcptTo + "\r\nDATA\r\n");
}

SmtpStep SmtpDialogue::nextMessage(std::string senderAddress, std::string recipient) {
    SmtpStep step;
    if (state_ != SmtpState::Idle && state_ != SmtpState::NextEnvelopeSent) {
        return step;
    }
    settled_ = false;
    outcome_ = {};
    setup_.senderAddress = std::move(senderAddress);
    setup_.recipient = std::move(recipient);
    if (state_ == SmtpState::NextEnvelopeSent) {
        const bool same = *ahead_ == SmtpEnvelope{setup_.senderAddress, setup_.recipient};
        ahead_.reset();
        if (!same) {
            // The replies on their way answer another envelope: taking them
            // as this one's would misreport both.
            settle(SmtpResult::Failed, kConnectionClosedText);
            outcome_.connectionLost = true;
            state_ = SmtpState::Done;
            return step;
        }
        acceptEnvelope(); // notes SMTPUTF8; the addresses were checked as they went ahead
        transactionOpen_ = true;
        pipelined_ = true;
        outstanding_ = 2;
        state_ = SmtpState::AwaitMailFromReply;
        process(step);
        return step;
    }
    if (acceptEnvelope() && !envelopeRefusedHere()) {
        startTransaction(step, transactionOpen_);
    }
    return step;
}

std::string SmtpDialogue::nextEnvelopeAhead(const SmtpEnvelope& next) {
    if (state_ != SmtpState::SendingMessage || !setup_.keepOpen || !pipelined_ || ahead_ ||
        !isSafeEnvelopeAddress(next.senderAddress) || !isSafeEnvelopeAddress(next.recipient)) {
        return {};
    }
    const bool smtpUtf8 = needsSmtpUtf8(next.senderAddress) || needsSmtpUtf8(next.recipient);
    if (smtpUtf8 && !offers("SMTPUTF8")) {
        return {}; // nextMessage() settles it without a word to the server
    }
    ahead_ = next;
    return mailFromLine(next.senderAddress, smtpUtf8) + "\r\n" + rcptToLine(next.recipient) +
           "\r\nDATA\r\n";
}

SmtpStep SmtpDialogue::quit() {
    SmtpStep step;
    if (state_ == SmtpState::NextEnvelopeSent) {
        ahead_.reset();
        state_ = SmtpState::Done;
        return step;
    }
    if (state_ == SmtpState::Idle) {
        send(step, "QUIT", SmtpState::Closing);
    }
    return step;
}

void SmtpDialogue::refused(const SmtpReply& reply, SmtpStep& step) {
    const std::string& code = reply.code;
    if (state_ == SmtpState::AwaitMessageReply) {
        transactionOpen_ = false; // any reply to the end of data ends the transaction
    }
    if (state_ == SmtpState::AwaitGreeting) {
        return refuse(SmtpResult::Failed, "the connection", reply, step);
    }
    if (code == "421") {
        // The server is closing the session: no recipient can pass now.
        return refuse(SmtpResult::Failed, "the session", reply, step);
    }
    switch (state_) {
    case SmtpState::AwaitEhloReply:
        if ((code == "500" || code == "502") && setup_.security != SmtpSecurity::StartTls) {
            if (login()) {
                return fail("The server does not understand EHLO (" + code + " " +
                                store::printableText(reply.text()) +
                                "), so no login is possible; the password was not sent.",
                            step);
            }
            // An old server: HELO, and no extensions.
            capabilities_.clear();
            return send(step, "HELO " + setup_.hostName, SmtpState::AwaitHeloReply);
        }
        if (setup_.security == SmtpSecurity::StartTls && !encrypted_) {
            settle(SmtpResult::Failed, kNoStartTlsText, &reply);
            return send(step, "QUIT", SmtpState::Closing);
        }
        return refuse(SmtpResult::Failed, "EHLO", reply, step);
    case SmtpState::AwaitStartTlsReply:
        return refuse(SmtpResult::Failed, "STARTTLS", reply, step);
    case SmtpState::AwaitHeloReply:
        return refuse(SmtpResult::Failed, "HELO", reply, step);
    case SmtpState::AwaitAuthChallenge:
    case SmtpState::AwaitPasswordChallenge:
    case SmtpState::AwaitAuthResult:
        return refuse(SmtpResult::Failed, "the login", reply, step);
    case SmtpState::AwaitOAuthResult:
    case SmtpState::AwaitOAuthRefusal:
        return oauthRefused(reply, step);
    case SmtpState::AwaitRsetReply:
        return refuse(SmtpResult::Failed, "RSET", reply, step);
    case SmtpState::AwaitMailFromReply:
        // A refused sender (or a 530 "authentication required") meets every recipient.
        outcome_.senderRefused = !settled_;
        return refuse(SmtpResult::Failed, "the sender", reply, step);
    default:
        break;
    }
    if (code == "530") {
        // "Authentication required" or "STARTTLS first": the session, not the recipient.
        return refuse(SmtpResult::Failed, "the session", reply, step);
    }
    switch (state_) {
    case SmtpState::AwaitRcptReply:
        return refuse(SmtpResult::Rejected, "the recipient", reply, step);
    case SmtpState::AwaitDataReply:
        return refuse(SmtpResult::Rejected, "DATA", reply, step);
    case SmtpState::AwaitMessageReply:
        return refuse(SmtpResult::Rejected, "the message", reply, step);
    default:
        return;
    }
}

void SmtpDialogue::act(const SmtpReply& reply, SmtpStep& step) {
    const int category = reply.category();
    const std::string& code = reply.code;
    if (state_ == SmtpState::Closing) {
        state_ = SmtpState::Done; // 221, or whatever the server says to QUIT
        return;
    }
    if (state_ == SmtpState::Draining) {
        return drain(reply, step);
    }
    if (state_ == SmtpState::Idle) {
        return; // nothing was asked: a stray line waits for no answer
    }
    if (category == 4 || category == 5) {
        return refused(reply, step);
    }
    switch (state_) {
    case SmtpState::AwaitGreeting:
        if (code == "220") {
            greeting_ = reply.text();
            greeted(step);
        }
        return;
    case SmtpState::AwaitEhloReply:
        if (code == "250") {
            ehloAccepted(reply, step);
        }
        return;
    case SmtpState::AwaitStartTlsReply:
        if (code == "220") {
            capabilitiesBeforeTls_ = std::move(capabilities_);
            capabilities_.clear();
            authMechanisms_.clear();
            state_ = SmtpState::AwaitTls;
        }
        return;
    case SmtpState::AwaitAuthChallenge:
        if (code == "334") {
            send(step, base64String(setup_.userName), SmtpState::AwaitPasswordChallenge);
        }
        return;
    case SmtpState::AwaitPasswordChallenge:
        if (code == "334") {
            send(step, base64String(setup_.password), SmtpState::AwaitAuthResult);
        }
        return;
    case SmtpState::AwaitAuthResult:
        if (code == "235") {
            loggedIn_ = true;
            loginDone(step);
        }
        return;
    case SmtpState::AwaitOAuthResult:
        if (code == "235") {
            loggedIn_ = true;
            loginDone(step);
        } else if (code == "334") {
            // The error challenge: an empty response (XOAUTH2) or a lone
            // 0x01 (OAUTHBEARER, RFC 7628) asks for the closing 535.
            oauthChallenge_ = reply.text();
            send(step, authMechanism_ == "XOAUTH2" ? "" : base64String("\x01"),
                 SmtpState::AwaitOAuthRefusal);
        }
        return;
    case SmtpState::AwaitHeloReply:
        if (code == "250") {
            loginDone(step);
        }
        return;
    // In a pipelined group every reply answers the command at hand, odd
    // positive codes too: skipping one would pair the rest with the wrong commands.
    case SmtpState::AwaitRsetReply:
        if (pipelined_) {
            advance(SmtpState::AwaitMailFromReply);
        } else if (code == "250") {
            startTransaction(step, false);
        }
        return;
    case SmtpState::AwaitMailFromReply:
        if (pipelined_) {
            advance(SmtpState::AwaitRcptReply);
        } else if (code == "250") {
            send(step, rcptToLine(setup_.recipient), SmtpState::AwaitRcptReply);
        }
        return;
    case SmtpState::AwaitRcptReply:
        if (pipelined_) {
            advance(SmtpState::AwaitDataReply);
        } else if (code == "250" || code == "251") {
            send(step, "DATA", SmtpState::AwaitDataReply);
        }
        return;
    case SmtpState::AwaitDataReply:
        if (code == "354") {
            state_ = SmtpState::SendingMessage;
        }
        return;
    case SmtpState::AwaitMessageReply:
        if (category == 2) {
            transactionOpen_ = false;
            settle(SmtpResult::Delivered, "", &reply);
            endTransaction(step, false);
        }
        return;
    default:
        return;
    }
}

void SmtpDialogue::connectionClosed(const std::string& reason) {
    if (finished()) {
        return;
    }
    if (state_ != SmtpState::Closing && !settled_) {
        settle(SmtpResult::Failed, reason);
        outcome_.connectionLost = true;
    }
    state_ = SmtpState::Done;
}

void SmtpDialogue::timedOut() {
    if (finished()) {
        return;
    }
    if (state_ != SmtpState::Closing && !settled_) {
        settle(SmtpResult::Failed, kTimeoutText);
        outcome_.timedOut = true;
    }
    state_ = SmtpState::Done;
}

void SmtpDialogue::cancelled() {
    if (finished()) {
        return;
    }
    if (state_ != SmtpState::Closing) {
        settle(SmtpResult::Cancelled, kCancelledText);
    }
    state_ = SmtpState::Done;
}

} // namespace velmora::delivery
