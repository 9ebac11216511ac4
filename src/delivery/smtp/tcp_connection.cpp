#include "delivery/smtp/connection.h"
#include "store/file_reading.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::delivery {

namespace {

constexpr int kStopCheckMs = 20;

long long steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TcpConnection::~TcpConnection() {
    close();
}

void TcpConnection::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool TcpConnection::connect(const std::string& host, int port, int timeoutMs,
                            const std::function<bool()>& shouldStop) {
    close();
    error_.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // An address literal first: it needs no lookup, and AI_ADDRCONFIG would
    // ask the kernel for the machine's addresses on every connection of a run.
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const std::string name = hostWithoutBrackets(host);
    int resolved = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &list);
    if (resolved != 0) {
        hints.ai_flags = AI_ADDRCONFIG;
        resolved = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &list);
    }
    if (resolved != 0) {
        error_ = std::string("cannot find the server: ") + ::gai_strerror(resolved);
        return false;
    }
    const long long deadline = steadyMilliseconds() + (timeoutMs > 0 ? timeoutMs : 0);
    bool stopped = false;
    for (addrinfo* at = list; at != nullptr && fd_ < 0 && !stopped; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                at->ai_protocol);
        if (fd < 0) {
            error_ = store::systemErrorText(errno);
            continue;
        }
        if (::connect(fd, at->ai_addr, at->ai_addrlen) == 0) {
            fd_ = fd;
            break;
        }
        if (errno != EINPROGRESS) {
            error_ = store::systemErrorText(errno);
            ::close(fd);
            continue;
        }
        for (;;) {
            if (shouldStop && shouldStop()) {
                stopped = true;
                error_ = "cancelled";
                break;
            }
            const long long left = deadline - steadyMilliseconds();
            if (left <= 0) {
                error_ = "no answer within the time-out";
                break;
            }
            pollfd p{fd, POLLOUT, 0};
            const int n =
                ::poll(&p, 1, static_cast<int>(left < kStopCheckMs ? left : kStopCheckMs));
            if (n < 0 && errno != EINTR) {
                error_ = store::systemErrorText(errno);
                break;
            }
            if (n > 0) {
                int code = 0;
                socklen_t length = sizeof code;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length);
                if (code == 0) {
                    fd_ = fd;
                } else {
                    error_ = store::systemErrorText(code);
                }
                break;
            }
        }
        if (fd_ != fd) {
            ::close(fd);
        }
    }
    ::freeaddrinfo(list);
    if (fd_ >= 0) {
        error_.clear();
        return true;
    }
    return false;
}

unsigned TcpConnection::wait(unsigned interest, int timeoutMs) {
    if (fd_ < 0) {
        return None;
    }
    pollfd p{fd_, 0, 0};
    if (interest & Readable) {
        p.events |= POLLIN;
    }
    if (interest & Writable) {
        p.events |= POLLOUT;
    }
    const int n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (n <= 0) {
        return None;
    }
    unsigned ready = None;
    // A hang-up or an error shows as readable or writable: the next read or
    // write reports it.
    const short broken = POLLERR | POLLHUP;
    if ((interest & Readable) && (p.revents & (POLLIN | broken))) {
        ready |= Readable;
    }
    if ((interest & Writable) && (p.revents & (POLLOUT | broken))) {
        ready |= Writable;
    }
    return ready;
}

Connection::IoResult TcpConnection::read(char* buffer, std::size_t size) {
    if (fd_ < 0) {
        return {Status::Closed, 0};
    }
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n > 0) {
            return {Status::Ok, static_cast<std::size_t>(n)};
        }
        if (n == 0) {
            return {Status::Closed, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {Status::WouldBlock, 0};
        }
        error_ = store::systemErrorText(errno);
        return {Status::Error, 0};
    }
}

Connection::IoResult TcpConnection::write(const char* data, std::size_t size) {
    if (fd_ < 0) {
        return {Status::Closed, 0};
    }
    for (;;) {
        // MSG_NOSIGNAL: a peer that went away is an error to report, not SIGPIPE.
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n >= 0) {
            return {Status::Ok, static_cast<std::size_t>(n)};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {Status::WouldBlock, 0};
        }
        error_ = store::systemErrorText(errno);
        return {Status::Error, 0};
    }
}

std::string TcpConnection::localAddressLiteral() const {
    if (fd_ < 0) {
        return {};
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        if (::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text) != nullptr) {
            return "[" + std::string(text) + "]";
        }
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        if (::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text) != nullptr) {
            return "[IPv6:" + std::string(text) + "]";
        }
    }
    return {};
}

std::string localHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return {};
    }
    if (std::strchr(name, '.') != nullptr) {
        return name;
    }
    // A short name: the resolver may know the full one.
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string full;
    if (::getaddrinfo(name, nullptr, &hints, &list) == 0) {
        if (list != nullptr && list->ai_canonname != nullptr &&
            std::strchr(list->ai_canonname, '.') != nullptr) {
            full = list->ai_canonname;
        }
        ::freeaddrinfo(list);
    }
    return full;
}

std::string hostWithoutBrackets(const std::string& host) {
    if (host.size() < 2 || host.front() != '[' || host.back() != ']') {
        return host;
    }
    std::string inside = host.substr(1, host.size() - 2);
    if (inside.size() > 5 &&
        (inside.compare(0, 5, "IPv6:") == 0 || inside.compare(0, 5, "ipv6:") == 0)) {
        inside.erase(0, 5);
    }
    return inside;
}

} // namespace velmora::delivery
