#include "delivery/run/connection_workers.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace velmora::delivery {

namespace {

// A worker's session reports here: its lines go back with the outcome, and
// Cancel is the run's.
class WorkerObserver final : public RunObserver {
public:
    explicit WorkerObserver(const std::atomic<bool>& cancelled) : cancelled_(cancelled) {}
    void logLine(const std::string& text) override { lines.push_back(text); }
    bool cancelRequested() override { return cancelled_; }
    std::vector<std::string> lines;

private:
    const std::atomic<bool>& cancelled_;
};

} // namespace

// One worker at a time asks a sign-in for its tokens.
class ConnectionWorkers::LockedTokens final : public AccessTokens {
public:
    explicit LockedTokens(AccessTokens& inner) : inner_(inner) {}
    bool wraps(const AccessTokens* tokens) const { return tokens == &inner_; }
    std::string current(std::string& error) override {
        const std::lock_guard lock(mutex_);
        return inner_.current(error);
    }
    std::string renewed(std::string& error) override {
        const std::lock_guard lock(mutex_);
        return inner_.renewed(error);
    }

private:
    AccessTokens& inner_;
    std::mutex mutex_;
};

class ConnectionWorkers::Worker {
public:
    std::optional<WorkerJob> job; // under mutex_
    bool release = false;         // under mutex_
    bool busy = false;            // the run's thread only
    // Each worker waits on its own: a job wakes only the worker it is for.
    std::condition_variable wake;
    std::thread thread;
};

ConnectionWorkers::ConnectionWorkers(std::size_t count, SmtpSessionRequest request,
                                     const SendRunEnvironment& environment,
                                     std::int64_t messagesPerConnection, ReturnPath returnPath)
    : ConnectionWorkers(std::vector<SmtpSessionRequest>(count, request), environment,
                        messagesPerConnection, std::move(returnPath)) {}

ConnectionWorkers::ConnectionWorkers(std::vector<SmtpSessionRequest> requests,
                                     const SendRunEnvironment& environment,
                                     std::int64_t messagesPerConnection, ReturnPath returnPath)
    : requests_(std::move(requests)), environment_(environment),
      perConnection_(messagesPerConnection), returnPath_(std::move(returnPath)) {
    for (SmtpSessionRequest& request : requests_) {
        if (request.tokens == nullptr) {
            continue;
        }
        // The connections of one sign-in share its tokens (a relay with an
        // account of its own has its own).
        const auto same = std::find_if(tokens_.begin(), tokens_.end(), [&](const auto& locked) {
            return locked->wraps(request.tokens);
        });
        if (same == tokens_.end()) {
            tokens_.push_back(std::make_unique<LockedTokens>(*request.tokens));
            request.tokens = tokens_.back().get();
        } else {
            request.tokens = same->get();
        }
    }
    const std::size_t count = requests_.size();
    for (std::size_t i = 0; i < count; ++i) {
        workers_.push_back(std::make_unique<Worker>());
    }
    for (std::size_t i = 0; i < count; ++i) {
        Worker& worker = *workers_[i];
        worker.thread = std::thread([this, &worker, i] { serve(worker, i); });
    }
}

ConnectionWorkers::~ConnectionWorkers() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    for (const auto& worker : workers_) {
        worker->wake.notify_one();
    }
    for (const auto& worker : workers_) {
        worker->thread.join();
    }
}

void ConnectionWorkers::serve(Worker& worker, std::size_t number) {
    WorkerObserver observer(cancelled_);
    RunConnection connection(requests_[number], environment_, observer, perConnection_);
    connection.setReturnPath(returnPath_);
    std::unique_lock lock(mutex_);
    while (true) {
        worker.wake.wait(lock, [&] { return stopping_ || worker.job || worker.release; });
        if (worker.job) {
            WorkerJob job = std::move(*worker.job);
            worker.job.reset();
            lock.unlock();
            observer.lines.clear();
            WorkerReport report;
            report.worker = number;
            report.index = job.index;
            report.outcome = connection.send(std::move(job.message), job.nextRecipient);
            report.logLines = std::move(observer.lines);
            lock.lock();
            reports_.push_back(std::move(report));
            reported_.notify_one();
        } else if (worker.release) {
            worker.release = false;
            lock.unlock();
            connection.release();
            lock.lock();
        } else {
            break; // stopping, nothing left to do
        }
    }
    lock.unlock();
    connection.release();
}

bool ConnectionWorkers::busy(std::size_t worker) const {
    return workers_[worker]->busy;
}

std::size_t ConnectionWorkers::busyCount() const {
    std::size_t count = 0;
    for (const auto& worker : workers_) {
        count += worker->busy ? 1 : 0;
    }
    return count;
}

void ConnectionWorkers::send(std::size_t worker, WorkerJob job) {
    {
        const std::lock_guard lock(mutex_);
        workers_[worker]->job = std::move(job);
        workers_[worker]->busy = true;
    }
    workers_[worker]->wake.notify_one();
}

void ConnectionWorkers::releaseIdle() {
    {
        const std::lock_guard lock(mutex_);
        for (const auto& worker : workers_) {
            if (!worker->busy) {
                worker->release = true;
            }
        }
    }
    for (const auto& worker : workers_) {
        worker->wake.notify_one();
    }
}

std::optional<WorkerReport> ConnectionWorkers::nextReport(int ms) {
    std::unique_lock lock(mutex_);
    if (!reported_.wait_for(lock, std::chrono::milliseconds(ms),
                            [&] { return !reports_.empty(); })) {
        return std::nullopt;
    }
    WorkerReport report = std::move(reports_.front());
    reports_.pop_front();
    workers_[report.worker]->busy = false;
    return report;
}

} // namespace velmora::delivery
