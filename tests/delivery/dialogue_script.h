#pragma once

#include <string>
#include <utility>

namespace velmora::delivery_testing {

// One step of an SMTP dialogue script, the one vocabulary of the delivery
// tests: the dialogue tests play a script straight into SmtpDialogue, the
// session and run tests through ScriptedConnection.
struct ScriptStep {
    enum Kind {
        Says,      // the server sends `bytes`
        Expects,   // the client must write exactly `bytes`
        Message,   // the client writes the message (ending in CR LF "." CR LF)
        StartsTls, // the client asks for the TLS handshake, which succeeds
        Silence,   // the server says nothing for `ms` milliseconds
        Hangs,     // the server closes the connection
    } kind;
    std::string bytes;
    long long ms = 0;
};

namespace script {

inline ScriptStep says(std::string bytes) {
    return {ScriptStep::Says, std::move(bytes)};
}
// One command line; the CR LF is added.
inline ScriptStep expects(std::string line) {
    return {ScriptStep::Expects, std::move(line) + "\r\n"};
}
inline ScriptStep message() {
    return {ScriptStep::Message, ""};
}
inline ScriptStep startsTls() {
    return {ScriptStep::StartsTls, ""};
}
inline ScriptStep silence(long long ms) {
    return {ScriptStep::Silence, "", ms};
}
inline ScriptStep hangs() {
    return {ScriptStep::Hangs, ""};
}

} // namespace script

} // namespace velmora::delivery_testing
