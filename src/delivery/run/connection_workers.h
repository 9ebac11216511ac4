#pragma once

#include "delivery/run/run_session.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velmora::delivery {

// One message for a worker's connection.
struct WorkerJob {
    std::size_t index = 0; // the recipient's place in the run
    OutgoingMessage message;
    // The recipient this worker is given next, at once (see RunConnection::send).
    std::optional<std::string> nextRecipient;
};

// What a worker's connection made of its job.
struct WorkerReport {
    std::size_t worker = 0;
    std::size_t index = 0;
    SmtpOutcome outcome;
    std::vector<std::string> logLines; // what its session logged, in order
};

// Connections that deliver at once, each a RunConnection on a thread of its
// own. Only the run's thread calls these functions: it hands out the jobs
// and takes the reports, so that the session, the journal, the limiter and
// the window stay on that thread alone.
class ConnectionWorkers {
public:
    ConnectionWorkers(std::size_t count, SmtpSessionRequest request,
                      const SendRunEnvironment& environment, std::int64_t messagesPerConnection,
                      ReturnPath returnPath = {});
    // One connection per request, each to its own server (a pool of relays).
    ConnectionWorkers(std::vector<SmtpSessionRequest> requests,
                      const SendRunEnvironment& environment, std::int64_t messagesPerConnection,
                      ReturnPath returnPath = {});
    // Lets the connections go (QUIT) and waits for the threads.
    ~ConnectionWorkers();
    ConnectionWorkers(const ConnectionWorkers&) = delete;
    ConnectionWorkers& operator=(const ConnectionWorkers&) = delete;

    std::size_t size() const { return workers_.size(); }
    // The worker has a job whose report was not taken yet.
    bool busy(std::size_t worker) const;
    std::size_t busyCount() const;
    void send(std::size_t worker, WorkerJob job);
    // Every idle connection is let go (before a long wait).
    void releaseIdle();
    // The next report, waiting at most `ms` for one.
    std::optional<WorkerReport> nextReport(int ms);
    // The sessions under way end as cancelled, at their next step.
    void cancel() { cancelled_ = true; }

private:
    class Worker;
    class LockedTokens;
    void serve(Worker& worker, std::size_t number);

    std::vector<SmtpSessionRequest> requests_; // one per worker
    const SendRunEnvironment& environment_;
    std::int64_t perConnection_;
    ReturnPath returnPath_;
    std::vector<std::unique_ptr<LockedTokens>> tokens_; // one per sign-in
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable reported_;
    std::deque<WorkerReport> reports_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<Worker>> workers_;
};

} // namespace velmora::delivery
