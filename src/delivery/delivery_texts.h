#pragma once

namespace velmora::delivery {

// The delivery texts that more than one place writes: the session, the
// dialogue, the run and the windows all say the same words.
inline constexpr const char* kInitializingText = "Initializing network connection...";
inline constexpr const char* kTimeoutText = "Timeout reached.";
inline constexpr const char* kCancelledText = "Cancelled.";
inline constexpr const char* kFinishedText = "Finished.";
inline constexpr const char* kConnectionClosedText = "Connection closed by the server.";
// The progress window's label before the first recipient and after the last.
inline constexpr const char* kConnectingLabel = "Connecting...";
inline constexpr const char* kFinishedLabel = kFinishedText;
// What to do when the port and the Security setting do not agree.
inline constexpr const char* kPortExpectsTlsText =
    "The port expects TLS from the start: choose Security \"TLS\".";
inline constexpr const char* kPortExpectsPlainText =
    "The server greets without TLS on this port: choose Security \"Auto\" or \"STARTTLS\".";

} // namespace velmora::delivery
