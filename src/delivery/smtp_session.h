#pragma once

#include "delivery/connection.h"
#include "delivery/message_builder.h"
#include "delivery/run_observer.h"
#include "delivery/smtp_dialogue.h"

#include <string>

// One message to one recipient through one SMTP server.
struct SmtpSessionRequest {
    std::string server;
    int port = 25;
    int timeoutSeconds = 15; // the longest wait for any reply, and for a stalled write
    std::string userName;    // empty: no login (the settings' userName when requiresAuth)
    std::string password;
    std::string hostName; // our name for HELO/EHLO (localHostName())
    OutgoingMessage message;
    // Write the dialogue to the log: the status lines, every server reply
    // as "<" + code + " " + text, and the attachments as they are opened.
    // "Timeout reached.", "Cancelled." and failures are logged regardless.
    bool logDialogue = false;
};

// Log texts of a session.
inline constexpr const char* kInitializingText = "Initializing network connection...";
inline constexpr const char* kTimeoutText = "Timeout reached.";
inline constexpr const char* kCancelledText = "Cancelled.";
inline constexpr const char* kFinishedText = "Finished.";
inline constexpr const char* kConnectionClosedText = "Connection closed by the server.";
// "Opening SMTP connection to " + server + " (port " + port + ")"
std::string openingConnectionText(const std::string& server, int port);

// Connects `connection` (unconnected, or closed) to the server, runs the
// dialogue and closes the connection again before returning, in every case.
// The wait for each reply is bounded by the time-out (measured with
// `environment.clock`), counted from when the
// command or the message was fully written. Cancel (asked through the
// observer) and the time-out close the connection without QUIT; any 4xx or
// 5xx reply ends the session with QUIT. The outcome says what happened.
SmtpOutcome runSmtpSession(const SmtpSessionRequest& request, Connection& connection,
                           RunObserver& observer, const MessageEnvironment& environment);
