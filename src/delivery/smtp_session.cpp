#include "delivery/smtp_session.h"

#include <algorithm>

namespace {

constexpr int kPollSliceMs = 50;
constexpr std::size_t kReadBytes = 16 * 1024;
constexpr std::size_t kDataBlock = 64 * 1024;

enum class Stop { None, Cancelled, TimedOut, Broken };

// Writes to the connection while keeping the window alive, Cancel heard and
// a stalled peer bounded by the time-out.
class SessionIo {
public:
    SessionIo(Connection& connection, RunObserver& observer, const Clock& clock,
              long long timeoutMs)
        : connection_(connection), observer_(observer), clock_(clock), timeoutMs_(timeoutMs) {}

    long long now() const { return clock_.now().millisecondsSinceEpoch; }

    Stop writeAll(std::string_view bytes) {
        std::size_t offset = 0;
        long long lastProgress = now();
        while (offset < bytes.size()) {
            observer_.pumpEvents();
            if (observer_.cancelRequested()) {
                return Stop::Cancelled;
            }
            const Connection::IoResult r =
                connection_.write(bytes.data() + offset, bytes.size() - offset);
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
            connection_.wait(Connection::Writable, static_cast<int>(std::min<long long>(
                                                       kPollSliceMs, timeoutMs_ - waited + 1)));
        }
        return Stop::None;
    }

private:
    Connection& connection_;
    RunObserver& observer_;
    const Clock& clock_;
    long long timeoutMs_;
};

// The DATA phase's sink: lines gather into large blocks for the connection.
class DataSink final : public LineSink {
public:
    explicit DataSink(SessionIo& io) : io_(io) {}
    bool writeLine(std::string_view line) override {
        buffer_.append(line);
        buffer_.append("\r\n");
        return buffer_.size() < kDataBlock || flush();
    }
    bool flush() {
        if (stop_ == Stop::None && !buffer_.empty()) {
            stop_ = io_.writeAll(buffer_);
            buffer_.clear();
        }
        return stop_ == Stop::None;
    }
    Stop stop() const { return stop_; }

private:
    SessionIo& io_;
    std::string buffer_;
    Stop stop_ = Stop::None;
};

SmtpOutcome finishedOutcome(SmtpResult result, std::string reason) {
    SmtpOutcome outcome;
    outcome.result = result;
    outcome.reason = std::move(reason);
    return outcome;
}

} // namespace

std::string openingConnectionText(const std::string& server, int port) {
    return "Opening SMTP connection to " + server + " (port " + std::to_string(port) + ")";
}

SmtpOutcome runSmtpSession(const SmtpSessionRequest& request, Connection& connection,
                           RunObserver& observer, const MessageEnvironment& environment) {
    auto log = [&observer](const std::string& line) {
        observer.logLine(line);
        observer.pumpEvents();
    };
    SmtpDialogue dialogue({request.hostName, request.userName, request.password,
                           request.message.senderAddress, request.message.recipient});
    if (dialogue.finished()) {
        // An unsafe envelope address: nothing of it reaches the server.
        log(dialogue.outcome().reason);
        return dialogue.outcome();
    }
    if (request.logDialogue) {
        log(kInitializingText);
        log(openingConnectionText(request.server, request.port));
    }

    const long long timeoutMs =
        std::max(0LL, static_cast<long long>(request.timeoutSeconds)) * 1000;
    bool cancelled = false;
    const auto shouldStop = [&] {
        observer.pumpEvents();
        cancelled = observer.cancelRequested();
        return cancelled;
    };
    // A time-out of 0 still lets a connection on the same machine complete.
    const int connectMs = static_cast<int>(std::clamp(timeoutMs, 1000LL, 3600LL * 1000));
    if (!connection.connect(request.server, request.port, connectMs, shouldStop)) {
        const std::string error = connection.error();
        connection.close();
        if (cancelled) {
            log(kCancelledText);
            return finishedOutcome(SmtpResult::Cancelled, kCancelledText);
        }
        const std::string reason = "Could not connect to " + request.server + " (port " +
                                   std::to_string(request.port) + "): " + error + ".";
        log(reason);
        return finishedOutcome(SmtpResult::Failed, reason);
    }

    MessageEnvironment messageEnvironment = environment;
    if (request.logDialogue) {
        messageEnvironment.attachmentOpened = [&log](const std::string& path) { log(path); };
    }
    SessionIo io(connection, observer, environment.clock, timeoutMs);
    long long deadline = io.now() + timeoutMs;

    // Settles a stop met while writing.
    const auto stopped = [&](Stop stop) {
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
            const std::string reason = "The connection broke: " + connection.error() + ".";
            if (!closing) {
                log(reason);
            }
            dialogue.connectionClosed(reason);
            return;
        }
        }
    };

    // Each reply is logged once, as it is acted on; a problem always.
    const auto logStep = [&](SmtpStep& step) {
        if (request.logDialogue) {
            for (const SmtpReply& reply : step.replies) {
                log(reply.logLine());
            }
        }
        step.replies.clear();
        if (!step.problem.empty()) {
            log(step.problem);
            step.problem.clear();
        }
    };

    SmtpStep step;
    std::string received(kReadBytes, '\0');
    while (!dialogue.finished()) {
        logStep(step);
        if (!step.toWrite.empty()) {
            const Stop stop = io.writeAll(step.toWrite);
            if (stop != Stop::None) {
                stopped(stop);
                break;
            }
            deadline = io.now() + timeoutMs;
        }
        if (step.writeMessage) {
            DataSink sink(io);
            if (!writeMessage(request.message, messageEnvironment, sink) || !sink.flush()) {
                stopped(sink.stop());
                break;
            }
            deadline = io.now() + timeoutMs;
            step = dialogue.messageWritten();
            continue;
        }
        step = {};
        if (dialogue.finished()) {
            break;
        }
        observer.pumpEvents();
        if (observer.cancelRequested()) {
            stopped(Stop::Cancelled);
            break;
        }
        // A time-out of 0 allows no wait at all, whatever has arrived
        // already: the same outcome every time.
        const long long left = deadline - io.now();
        if (left < 0 || timeoutMs == 0) {
            stopped(Stop::TimedOut);
            break;
        }
        const int slice = static_cast<int>(std::min<long long>(kPollSliceMs, left + 1));
        if ((connection.wait(Connection::Readable, slice) & Connection::Readable) == 0) {
            continue;
        }
        const Connection::IoResult r = connection.read(received.data(), received.size());
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
    connection.close();
    if (request.logDialogue) {
        log(kFinishedText);
    }
    SmtpOutcome outcome = dialogue.outcome();
    outcome.connectionOpened = true;
    return outcome;
}
