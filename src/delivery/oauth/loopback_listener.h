#pragma once

#include <functional>
#include <string>

namespace velmora::delivery {

// The page the browser shows once the sign-in came back.
inline constexpr const char* kSignedInPageText = "Signed in. You can close this window.";

// The redirect target of a sign-in in the browser (RFC 8252): a listener on
// 127.0.0.1 only, on a port the system picks, for the one request that
// carries our `state`. Any other request (a wrong state, a stray fetch)
// is answered with an error and the listener waits on; the matching one is
// answered with kSignedInPageText and the listener closes.
class LoopbackListener {
public:
    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool listening() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT/"
    std::string redirectUri() const;

    struct Result {
        enum class Status { Code, Refused, TimedOut, Cancelled, Failed } status = Status::Failed;
        std::string code;   // with Code
        std::string reason; // otherwise, for the user
    };
    // Waits up to `timeoutMs` for the redirect, asking `cancelled` between
    // short waits. A redirect with our state and an `error` (the user said
    // no) ends the wait too, as Refused.
    Result waitForCode(const std::string& state, long long timeoutMs,
                       const std::function<bool()>& cancelled);

private:
    void close();
    int fd_ = -1;
    int port_ = 0;
    std::string error_;
};

} // namespace velmora::delivery
