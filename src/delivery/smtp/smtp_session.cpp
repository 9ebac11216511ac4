#include "delivery/smtp/smtp_session.h"

#include "store/untrusted_text.h"

#include <algorithm>

namespace velmora::delivery {

namespace {

constexpr int kPollSliceMs = 50;
constexpr std::size_t kReadBytes = 16 * 1024;
constexpr std::size_t kDataBlock = 64 * 1024;
constexpr int kImplicitTlsPort = 465;

} // namespace

std::string openingConnectionText(const std::string& server, int port) {
    return "Opening SMTP connection to " + server + " (port " + std::to_string(port) + ")";
}

// The DATA phase's sink: lines gather into large blocks for the connection.
class SmtpSession::DataSink final : public LineSink {
public:
    explicit DataSink(SmtpSession& session) : session_(session) {}
    bool writeLine(std::string_view line) override {
        buffer_.append(line);
        buffer_.append("\r\n");
        return buffer_.size() < kDataBlock || flush();
    }
    // Bytes that go out with the last block (the next envelope after the end of data).
    void append(std::string_view bytes) { buffer_.append(bytes); }
    bool flush() {
        if (stop_ == Stop::None && !buffer_.empty()) {
            stop_ = session_.writeAll(buffer_);
            buffer_.clear();
        }
        return stop_ == Stop::None;
    }
    Stop stop() const { return stop_; }

private:
    SmtpSession& session_;
    std::string buffer_;
    Stop stop_ = Stop::None;
};

SmtpSession::SmtpSession(const SmtpSessionRequest& request, Connection& connection,
                         RunObserver& observer, const MessageEnvironment& environment)
    : request_(request), tcp_(connection), connection_(&connection), observer_(observer),
      environment_(environment),
      timeoutMs_(std::max(0LL, static_cast<long long>(request.timeoutSeconds)) * 1000) {}

void SmtpSession::log(const std::string& line) {
    observer_.logLine(line);
    observer_.pumpEvents();
}

long long SmtpSession::now() const {
    return environment_.clock.now().millisecondsSinceEpoch;
}

bool SmtpSession::waitForCancel() {
    observer_.pumpEvents();
    return observer_.cancelRequested();
}

SmtpOutcome SmtpSession::finished(SmtpResult result, std::string reason) {
    report_.outcome = {};
    report_.outcome.result = result;
    report_.outcome.reason = std::move(reason);
    return report_.outcome;
}

// Writes while keeping the window alive, Cancel heard and a stalled peer
// bounded by the time-out.
SmtpSession::Stop SmtpSession::writeAll(std::string_view bytes) {
    std::size_t offset = 0;
    long long lastProgress = now();
    while (offset < bytes.size()) {
        if (waitForCancel()) {
            return Stop::Cancelled;
        }
        const Connection::IoResult r =
            connection_->write(bytes.data() + offset, bytes.size() - offset);
        if (r.status == Connection::Status::Ok) {
            offset += r.count;
            lastProgress = now();
            continue;
        }
        if (r.status != Connection::Status::WouldBlock) {
            return Stop::Broken;
        }
        const long long waited = now() - lastProgress;
        if (waited > timeoutMs_) {
            return Stop::TimedOut;
        }
        connection_->wait(Connection::Writable, static_cast<int>(std::min<long long>(
                                                    kPollSliceMs, timeoutMs_ - waited + 1)));
    }
    return Stop::None;
}

// Settles a stop met while writing or waiting.
void SmtpSession::stopped(Stop stop) {
    SmtpDialogue& dialogue = *dialogue_;
    const bool closing = dialogue.state() == SmtpState::Closing;
    switch (stop) {
    case Stop::None:
        return;
    case Stop::Cancelled:
        if (!closing) {
            log(kCancelledText);
        }
        dialogue.cancelled();
        return;
    case Stop::TimedOut:
        if (!closing) {
            log(kTimeoutText);
        }
        dialogue.timedOut();
        return;
    case Stop::Broken: {
        const std::string reason = "The connection broke: " + connection_->error() + ".";
        if (!closing) {
            log(reason);
        }
        dialogue.connectionClosed(reason);
        return;
    }
    }
}

// Each reply is logged once, as it is acted on; a problem always.
void SmtpSession::logStep(SmtpStep& step) {
    if (request_.logDialogue) {
        for (const SmtpReply& reply : step.replies) {
            log(reply.logLine());
        }
    }
    step.replies.clear();
    if (!step.problem.empty()) {
        log(step.problem);
        step.problem.clear();
    }
}

bool SmtpSession::connect() {
    bool cancelled = false;
    const auto shouldStop = [&] {
        cancelled = waitForCancel();
        return cancelled;
    };
    // A time-out of 0 still lets a connection on the same machine complete.
    const int connectMs = static_cast<int>(std::clamp(timeoutMs_, 1000LL, 3600LL * 1000));
    if (tcp_.connect(request_.server, request_.port, connectMs, shouldStop)) {
        return true;
    }
    const std::string error = tcp_.error();
    tcp_.close();
    if (cancelled) {
        log(kCancelledText);
        finished(SmtpResult::Cancelled, kCancelledText);
        return false;
    }
    const std::string reason = "Could not connect to " + request_.server + " (port " +
                               std::to_string(request_.port) + "): " + error + ".";
    log(reason);
    finished(SmtpResult::Failed, reason);
    report_.outcome.unreachable = true;
    return false;
}

// The handshake, bounded by the time-out; the dialogue hears how it went.
bool SmtpSession::startTls() {
    tls_ = std::make_unique<TlsConnection>(tcp_);
    std::string reason;
    Stop stop = Stop::None;
    if (!tls_->begin({request_.server, request_.tlsPinSha256,
                      dialogue_->state() == SmtpState::AwaitGreeting})) {
        reason = tls_->error();
    } else {
        const long long deadline = now() + timeoutMs_;
        for (;;) {
            const TlsConnection::Handshake state = tls_->handshake();
            if (state == TlsConnection::Handshake::Done) {
                connection_ = tls_.get();
                report_.encrypted = true;
                report_.tls = tls_->details();
                if (request_.logDialogue) {
                    log("TLS: " + report_.tls.version + ", " + report_.tls.cipher);
                }
                return true;
            }
            if (state == TlsConnection::Handshake::Failed) {
                reason = store::printableText(tls_->error());
                break;
            }
            if (waitForCancel()) {
                stop = Stop::Cancelled;
                break;
            }
            const long long left = deadline - now();
            if (left < 0) {
                stop = Stop::TimedOut;
                break;
            }
            tls_->wait(Connection::Readable,
                       static_cast<int>(std::min<long long>(kPollSliceMs, left + 1)));
        }
    }
    // What the certificate was, for a test that offers to trust it.
    report_.tls = tls_->details();
    if (stop != Stop::None) {
        stopped(stop);
    } else {
        log(reason);
        dialogue_->tlsFailed(reason);
    }
    return false;
}

void SmtpSession::exchange(SmtpStep step) {
    SmtpDialogue& dialogue = *dialogue_;
    MessageEnvironment messageEnvironment = environment_;
    if (request_.logDialogue) {
        messageEnvironment.attachmentOpened = [this](const std::string& path) { log(path); };
    }
    long long deadline = now() + timeoutMs_;
    std::string received(kReadBytes, '\0');
    while (!dialogue.finished() && !dialogue.idle()) {
        logStep(step);
        if (!step.toWrite.empty()) {
            const Stop stop = writeAll(step.toWrite);
            if (stop != Stop::None) {
                stopped(stop);
                break;
            }
            deadline = now() + timeoutMs_;
        }
        if (step.startTls) {
            step = startTls() ? dialogue.tlsStarted() : SmtpStep{};
            deadline = now() + timeoutMs_;
            continue;
        }
        if (step.writeMessage) {
            DataSink sink(*this);
            if (!writeMessage(request_.message, messageEnvironment, sink)) {
                stopped(sink.stop());
                break;
            }
            // The next envelope in the same write as the end of data: its
            // replies come with this message's, one round trip for both.
            if (request_.nextEnvelope) {
                sink.append(dialogue.nextEnvelopeAhead(*request_.nextEnvelope));
            }
            if (!sink.flush()) {
                stopped(sink.stop());
                break;
            }
            deadline = now() + timeoutMs_;
            step = dialogue.messageWritten();
            continue;
        }
        if (step.refreshToken) {
            std::string error;
            std::string token = request_.tokens ? request_.tokens->renewed(error) : "";
            step = token.empty() ? dialogue.tokenRefreshFailed(error)
                                 : dialogue.tokenRefreshed(std::move(token));
            deadline = now() + timeoutMs_;
            continue;
        }
        step = {};
        if (dialogue.finished() || dialogue.idle()) {
            break;
        }
        if (waitForCancel()) {
            stopped(Stop::Cancelled);
            break;
        }
        // A time-out of 0 allows no wait at all, whatever has arrived
        // already: the same outcome every time.
        const long long left = deadline - now();
        if (left < 0 || timeoutMs_ == 0) {
            const bool greeting = dialogue.state() == SmtpState::AwaitGreeting;
            stopped(Stop::TimedOut);
            if (greeting && request_.port == kImplicitTlsPort &&
                request_.security != SmtpSecurity::Tls) {
                // A server on this port waits for our TLS hello and never greets in plain text.
                log(kPortExpectsTlsText);
            }
            break;
        }
        const int slice = static_cast<int>(std::min<long long>(kPollSliceMs, left + 1));
        if ((connection_->wait(Connection::Readable, slice) & Connection::Readable) == 0) {
            continue;
        }
        const Connection::IoResult r = connection_->read(received.data(), received.size());
        if (r.status == Connection::Status::Ok) {
            step = dialogue.received(std::string_view(received.data(), r.count));
        } else if (r.status == Connection::Status::Closed) {
            if (dialogue.state() != SmtpState::Closing) {
                log(kConnectionClosedText);
            }
            dialogue.connectionClosed();
        } else if (r.status == Connection::Status::Error) {
            stopped(Stop::Broken);
        }
    }
    logStep(step); // what came with the last read
}

void SmtpSession::stop() {
    connection_->close();
    connection_ = &tcp_;
    if (request_.logDialogue) {
        log(kFinishedText);
    }
}

SmtpOutcome SmtpSession::run() {
    std::string accessToken;
    if (request_.tokens != nullptr && !request_.userName.empty()) {
        std::string error;
        accessToken = request_.tokens->current(error);
        if (accessToken.empty()) {
            // Nothing to sign in with: no connection, and no password either.
            log(error);
            return finished(SmtpResult::Failed, error);
        }
    }
    const auto setupWith = [this, &accessToken](std::string hostName) {
        SmtpDialogueSetup setup;
        setup.hostName = std::move(hostName);
        setup.userName = request_.userName;
        setup.password = request_.password;
        setup.accessToken = accessToken;
        setup.serverName = request_.server;
        setup.serverPort = request_.port;
        setup.senderAddress = envelopeSenderOf(request_.message);
        setup.recipient = request_.message.recipient;
        setup.security = request_.security;
        setup.mechanism = request_.mechanism;
        setup.probeOnly = request_.probeOnly;
        setup.keepOpen = request_.keepOpen && !request_.probeOnly;
        setup.pipelining = request_.pipelining;
        return setup;
    };
    messages_ = 1;
    dialogue_ = std::make_unique<SmtpDialogue>(setupWith(request_.hostName));
    if (dialogue_->finished()) {
        // An unsafe envelope address: nothing of it reaches the server.
        log(dialogue_->outcome().reason);
        report_.outcome = dialogue_->outcome();
        return report_.outcome;
    }
    if (request_.logDialogue) {
        log(kInitializingText);
        log(openingConnectionText(request_.server, request_.port));
    }
    if (!connect()) {
        return report_.outcome;
    }
    if (request_.hostName.empty()) {
        // No full name for this computer: the address it is known by here.
        dialogue_ = std::make_unique<SmtpDialogue>(setupWith(tcp_.localAddressLiteral()));
    }
    if (request_.security != SmtpSecurity::Tls || startTls()) {
        exchange({});
    }
    const SmtpDialogue& dialogue = *dialogue_;
    messageOutcome();
    if (report_.outcome.timedOut && dialogue.greeting().empty() &&
        request_.port == kImplicitTlsPort && request_.security != SmtpSecurity::Tls) {
        report_.outcome.reason = std::string(kTimeoutText) + " " + kPortExpectsTlsText;
    }
    report_.greeting = store::printableText(dialogue.greeting());
    report_.capabilities.clear();
    for (const std::string& line : dialogue.capabilities()) {
        report_.capabilities.push_back(store::printableText(line));
    }
    report_.capabilitiesBeforeTls.clear();
    for (const std::string& line : dialogue.capabilitiesBeforeTls()) {
        report_.capabilitiesBeforeTls.push_back(store::printableText(line));
    }
    report_.authMechanism = dialogue.authMechanism();
    report_.loggedIn = dialogue.loggedIn();
    return report_.outcome;
}

// The outcome of the message just sent; the connection closed unless it is held.
SmtpOutcome SmtpSession::messageOutcome() {
    if (!dialogue_->idle()) {
        stop();
    }
    report_.outcome = dialogue_->outcome();
    report_.outcome.connectionOpened = true;
    report_.outcome.reusedConnection = messages_ > 1;
    return report_.outcome;
}

SmtpOutcome SmtpSession::next() {
    if (!held()) {
        return finished(SmtpResult::Failed, kConnectionClosedText);
    }
    ++messages_;
    const bool ahead = dialogue_->state() == SmtpState::NextEnvelopeSent;
    SmtpStep step =
        dialogue_->nextMessage(envelopeSenderOf(request_.message), request_.message.recipient);
    if (dialogue_->idle() && !ahead) {
        // Refused before a word was written: the connection is as it was.
        if (dialogue_->outcome().result == SmtpResult::Failed) {
            log(dialogue_->outcome().reason); // as run() logs an unusable address
        }
        report_.outcome = dialogue_->outcome();
        report_.outcome.reusedConnection = true;
        return report_.outcome;
    }
    exchange(std::move(step));
    return messageOutcome();
}

void SmtpSession::quit() {
    if (held()) {
        exchange(dialogue_->quit());
        stop();
    }
}

SmtpOutcome runSmtpSession(const SmtpSessionRequest& request, Connection& connection,
                           RunObserver& observer, const MessageEnvironment& environment) {
    return SmtpSession(request, connection, observer, environment).run();
}

} // namespace velmora::delivery
