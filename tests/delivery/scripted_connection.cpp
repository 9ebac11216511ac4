#include "scripted_connection.h"

#include <algorithm>
#include <cstring>

namespace velmora::delivery_testing {

bool ScriptedConnection::connect(const std::string& host, int port, int,
                                 const std::function<bool()>& shouldStop) {
    connectedTo = host + ":" + std::to_string(port);
    if (shouldStop && shouldStop()) {
        error_ = "cancelled";
        return false;
    }
    if (refuseConnect) {
        error_ = "Connection refused";
        return false;
    }
    return true;
}

void ScriptedConnection::skipDoneSteps() {
    while (at_ < script_.size() && script_[at_].kind == ScriptStep::Silence &&
           script_[at_].ms <= 0) {
        ++at_;
        offset_ = 0;
    }
}

unsigned ScriptedConnection::wait(unsigned interest, int timeoutMs) {
    skipDoneSteps();
    unsigned ready = None;
    if (interest & Writable) {
        ready |= Writable;
    }
    if ((interest & Readable) && at_ < script_.size() &&
        (script_[at_].kind == ScriptStep::Says || script_[at_].kind == ScriptStep::Hangs)) {
        ready |= Readable;
    }
    if (ready == None) {
        // Nothing due: time passes. A silence is used up by the waiting.
        clock_.advanceMilliseconds(timeoutMs);
        if (at_ < script_.size() && script_[at_].kind == ScriptStep::Silence) {
            script_[at_].ms -= timeoutMs;
        }
    }
    return ready;
}

delivery::Connection::IoResult ScriptedConnection::read(char* buffer, std::size_t size) {
    skipDoneSteps();
    if (at_ >= script_.size()) {
        return {Status::WouldBlock, 0};
    }
    const ScriptStep& step = script_[at_];
    if (step.kind == ScriptStep::Hangs) {
        ++at_;
        return {Status::Closed, 0};
    }
    if (step.kind != ScriptStep::Says) {
        return {Status::WouldBlock, 0};
    }
    std::size_t n = std::min(size, step.bytes.size() - offset_);
    if (chunk > 0) {
        n = std::min(n, chunk);
    }
    std::memcpy(buffer, step.bytes.data() + offset_, n);
    offset_ += n;
    if (offset_ == step.bytes.size()) {
        ++at_;
        offset_ = 0;
    }
    return {Status::Ok, n};
}

delivery::Connection::IoResult ScriptedConnection::write(const char* data, std::size_t size) {
    clock_.advanceMilliseconds(writeCostMs);
    std::string_view bytes(data, size);
    while (!bytes.empty()) {
        skipDoneSteps();
        if (at_ >= script_.size() || (script_[at_].kind != ScriptStep::Expects &&
                                      script_[at_].kind != ScriptStep::Message)) {
            unexpected.append(bytes);
            break;
        }
        ScriptStep& step = script_[at_];
        if (step.kind == ScriptStep::Message) {
            messageBytes_.append(bytes);
            bytes = {};
            const std::size_t end = messageBytes_.find("\r\n.\r\n");
            if (end != std::string::npos) {
                bytes = std::string_view(messageBytes_).substr(end + 5);
                messages.push_back(messageBytes_.substr(0, end + 5));
                unexpected.append(bytes);
                bytes = {};
                messageBytes_.clear();
                ++at_;
            }
            continue;
        }
        const std::size_t n = std::min(bytes.size(), step.bytes.size() - offset_);
        if (bytes.substr(0, n) != std::string_view(step.bytes).substr(offset_, n)) {
            unexpected.append(bytes);
            break;
        }
        offset_ += n;
        bytes.remove_prefix(n);
        if (offset_ == step.bytes.size()) {
            ++at_;
            offset_ = 0;
        }
    }
    return {Status::Ok, size};
}

bool RecordingObserver::cancelRequested() {
    return (cancelAtPump >= 0 && pumps >= cancelAtPump) ||
           (!cancelAfterLine.empty() &&
            std::find(lines.begin(), lines.end(), cancelAfterLine) != lines.end());
}

std::vector<ScriptStep> deliveryScript(const std::string& sender, const std::string& recipient) {
    using namespace script;
    return {says("220 mail.example.net ESMTP\r\n"),
            expects("HELO client.example"),
            says("250 mail.example.net\r\n"),
            expects("MAIL FROM: <" + sender + ">"),
            says("250 OK\r\n"),
            expects("RCPT TO: <" + recipient + ">"),
            says("250 OK\r\n"),
            expects("DATA"),
            says("354 go ahead\r\n"),
            message(),
            says("250 queued\r\n"),
            expects("QUIT"),
            says("221 bye\r\n")};
}

std::vector<ScriptStep> refusedAt(const std::string& sender, const std::string& recipient,
                                  int afterSteps, std::string reply) {
    using namespace script;
    std::vector<ScriptStep> steps = deliveryScript(sender, recipient);
    steps.resize(static_cast<std::size_t>(afterSteps));
    steps.push_back(says(std::move(reply)));
    steps.push_back(expects("QUIT"));
    steps.push_back(says("221 bye\r\n"));
    return steps;
}

namespace {

// Lets a run own its connection while the test keeps the scripted one.
class ForwardingConnection final : public delivery::Connection {
public:
    explicit ForwardingConnection(delivery::Connection& to) : to_(to) {}
    bool connect(const std::string& host, int port, int timeoutMs,
                 const std::function<bool()>& shouldStop) override {
        return to_.connect(host, port, timeoutMs, shouldStop);
    }
    unsigned wait(unsigned interest, int timeoutMs) override {
        return to_.wait(interest, timeoutMs);
    }
    IoResult read(char* buffer, std::size_t size) override { return to_.read(buffer, size); }
    IoResult write(const char* data, std::size_t size) override { return to_.write(data, size); }
    void close() override { to_.close(); }
    std::string error() const override { return to_.error(); }
    std::string localAddressLiteral() const override { return to_.localAddressLiteral(); }

private:
    delivery::Connection& to_;
};

} // namespace

ScriptedConnection& ScriptedServer::add(std::vector<ScriptStep> script) {
    connections.push_back(std::make_unique<ScriptedConnection>(clock_, std::move(script)));
    return *connections.back();
}

std::function<std::unique_ptr<delivery::Connection>()> ScriptedServer::factory() {
    return [this]() -> std::unique_ptr<delivery::Connection> {
        ++opened;
        if (static_cast<std::size_t>(opened) > connections.size()) {
            add({}).refuseConnect = true;
        }
        if (onOpen) {
            onOpen(opened);
        }
        return std::make_unique<ForwardingConnection>(*connections[opened - 1]);
    };
}

} // namespace velmora::delivery_testing
