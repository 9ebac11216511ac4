#pragma once

#include "delivery/run_observer.h"
#include "delivery/smtp/connection.h"
#include "dialogue_script.h"
#include "store/clock.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::delivery_testing {

// A connection that plays a server from a script on a fake clock: waiting
// for data that is not due moves the clock on by the time waited, so
// time-outs run instantly. Client writes are checked against the script.
class ScriptedConnection final : public delivery::Connection {
public:
    ScriptedConnection(store::FixedClock& clock, std::vector<ScriptStep> script)
        : clock_(clock), script_(std::move(script)) {}

    bool connect(const std::string& host, int port, int timeoutMs,
                 const std::function<bool()>& shouldStop) override;
    unsigned wait(unsigned interest, int timeoutMs) override;
    IoResult read(char* buffer, std::size_t size) override;
    IoResult write(const char* data, std::size_t size) override;
    void close() override { ++closes; }
    std::string error() const override { return error_; }
    std::string localAddressLiteral() const override { return localAddress; }

    bool scriptDone() const { return at_ == script_.size(); }
    std::size_t position() const { return at_; }

    std::size_t chunk = 0;             // bytes per read of a server text; 0: as much as asked
    long long writeCostMs = 0;         // clock time each write takes
    bool refuseConnect = false;        // connect() fails
    std::string connectedTo;           // "host:port" of the last connect
    std::string localAddress;          // what localAddressLiteral() says
    std::vector<std::string> messages; // messages written, as sent
    int closes = 0;
    std::string unexpected; // client bytes the script did not expect

private:
    void skipDoneSteps();

    store::FixedClock& clock_;
    std::vector<ScriptStep> script_;
    std::size_t at_ = 0;
    std::size_t offset_ = 0; // into the current step's bytes
    std::string messageBytes_;
    std::string error_;
};

// Records the log and the progress; can ask to cancel when a given line was
// logged, or after some number of event pumps.
class RecordingObserver final : public delivery::RunObserver {
public:
    void logLine(const std::string& text) override { lines.push_back(text); }
    bool cancelRequested() override;
    void pumpEvents() override { ++pumps; }
    void progress(const std::string& label) override { labels.push_back(label); }
    void progressRange(int maximum) override {
        progressMaximum = maximum;
        progressValue = 0;
    }
    void advanceProgress() override { ++progressValue; }
    void sendingChanged(bool now) override { sending = now; }
    // Each tally with the progress label shown when it came.
    void tallyChanged(const delivery::RunTally& tally) override {
        tallies.push_back({labels.empty() ? std::string() : labels.back(), tally});
    }

    std::vector<std::string> lines;
    std::vector<std::string> labels;
    std::string cancelAfterLine; // cancel once this line is in the log
    int cancelAtPump = -1;       // cancel once pumpEvents was called this often
    int pumps = 0;
    int progressMaximum = -1;
    int progressValue = 0;
    bool sending = false;
    std::vector<std::pair<std::string, delivery::RunTally>> tallies;
};

// The whole dialogue of one delivery without login, from "client.example".
std::vector<ScriptStep> deliveryScript(const std::string& sender, const std::string& recipient);
// That dialogue cut after its first `afterSteps` steps, where the server
// answers `reply`, then takes the client's QUIT.
std::vector<ScriptStep> refusedAt(const std::string& sender, const std::string& recipient,
                                  int afterSteps, std::string reply);

// Plays one script per session of a run, in order: each new connection the
// run asks for plays the next script (one beyond the scripts is refused).
class ScriptedServer {
public:
    explicit ScriptedServer(store::FixedClock& clock) : clock_(clock) {}
    ScriptedConnection& add(std::vector<ScriptStep> script);
    // For SendRunEnvironment::openConnection.
    std::function<std::unique_ptr<delivery::Connection>()> factory();

    std::vector<std::unique_ptr<ScriptedConnection>> connections;
    int opened = 0;
    std::function<void(int number)> onOpen; // told of each session (from 1) as it opens

private:
    store::FixedClock& clock_;
};

} // namespace velmora::delivery_testing
