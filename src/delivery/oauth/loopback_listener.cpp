#include "delivery/oauth/loopback_listener.h"

#include "delivery/oauth/pkce.h"
#include "store/file_reading.h"
#include "store/untrusted_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::delivery {

namespace {

constexpr int kSliceMs = 100;
constexpr int kRequestWaitMs = 2000; // one client may not hold the listener longer
constexpr std::size_t kMaxRequest = 16384;

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void answer(int fd, const char* status, std::string_view body) {
    std::string reply = std::string("HTTP/1.1 ") + status +
                        "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    reply.append(body);
    std::size_t at = 0;
    while (at < reply.size()) {
        const ssize_t n = ::send(fd, reply.data() + at, reply.size() - at, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        at += static_cast<std::size_t>(n);
    }
}

// The request line's query, or nothing when the client sent no whole line in time.
std::optional<std::string> readQuery(int fd) {
    std::string request;
    const long long deadline = nowMs() + kRequestWaitMs;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
        const long long left = deadline - nowMs();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char buffer[2048];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t lineEnd = request.find("\r\n");
    if (lineEnd == std::string::npos || !request.starts_with("GET ")) {
        return std::nullopt;
    }
    const std::string line = request.substr(4, lineEnd - 4);
    const std::string target = line.substr(0, line.find(' '));
    const std::size_t question = target.find('?');
    return question == std::string::npos ? std::string() : target.substr(question + 1);
}

} // namespace

LoopbackListener::LoopbackListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error_ = store::systemErrorText(errno);
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    // The loopback address only: no other machine may answer for the browser.
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error_ = store::systemErrorText(errno);
        close();
        return;
    }
    port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
    close();
}

void LoopbackListener::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::string LoopbackListener::redirectUri() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

LoopbackListener::Result LoopbackListener::waitForCode(const std::string& state,
                                                       long long timeoutMs,
                                                       const std::function<bool()>& cancelled) {
    Result result;
    if (fd_ < 0) {
        result.reason = "No local listener for the sign-in: " + error_;
        return result;
    }
    const long long deadline = nowMs() + timeoutMs;
    while (true) {
        if (cancelled && cancelled()) {
            result.status = Result::Status::Cancelled;
            result.reason = "The sign-in was cancelled.";
            break;
        }
        const long long left = deadline - nowMs();
        if (left <= 0) {
            result.status = Result::Status::TimedOut;
            result.reason = "No answer came from the browser in time; the sign-in was stopped.";
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, kSliceMs))) <= 0) {
            continue;
        }
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const std::optional<std::string> query = readQuery(client);
        if (!query || state.empty() || formValue(*query, "state") != state) {
            // Not our redirect: whoever sent it learns nothing and we wait on.
            answer(client, "400 Bad Request", "This is not the sign-in this program waits for.");
            ::close(client);
            continue;
        }
        const std::string code = formValue(*query, "code");
        const std::string error = formValue(*query, "error");
        if (!error.empty() || code.empty()) {
            answer(client, "200 OK", "The sign-in was not completed. You can close this window.");
            ::close(client);
            result.status = Result::Status::Refused;
            const std::string why = formValue(*query, "error_description");
            result.reason = "The provider did not sign you in: " +
                            store::printableText(why.empty() ? (error.empty() ? "no code" : error) : why);
            break;
        }
        answer(client, "200 OK", kSignedInPageText);
        ::close(client);
        result.status = Result::Status::Code;
        result.code = code;
        break;
    }
    close();
    return result;
}

} // namespace velmora::delivery
