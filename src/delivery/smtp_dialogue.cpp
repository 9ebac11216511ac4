#include "delivery/smtp_dialogue.h"

#include "delivery/international_address.h"
#include "delivery/mime_text.h"

#include <algorithm>
#include <cctype>

bool isSafeEnvelopeAddress(std::string_view address) {
    return address.find_first_of(std::string_view("\r\n\0<>", 5)) == std::string_view::npos;
}

SmtpDialogue::SmtpDialogue(SmtpDialogueSetup setup) : setup_(std::move(setup)) {
    // Our name goes into HELO/EHLO as it stands: it must not end the line.
    std::erase_if(setup_.hostName, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
    if (setup_.hostName.empty()) {
        setup_.hostName = "localhost";
    }
    // A non-ASCII name before the "@" needs a server that offers SMTPUTF8;
    // only EHLO tells.
    smtpUtf8_ = needsSmtpUtf8(setup_.senderAddress) || needsSmtpUtf8(setup_.recipient);
    for (const std::string* address : {&setup_.senderAddress, &setup_.recipient}) {
        if (!isSafeEnvelopeAddress(*address)) {
            settle(SmtpResult::Failed, "The address \"" + headerSafe(*address) +
                                           "\" holds a line break, a NUL, \"<\" or \">\" "
                                           "and cannot be sent to the server.");
            state_ = SmtpState::Done;
            return;
        }
    }
}

void SmtpDialogue::settle(SmtpResult result, std::string reason, const SmtpReply* reply) {
    if (settled_) {
        return;
    }
    settled_ = true;
    outcome_.result = result;
    outcome_.reason = std::move(reason);
    if (reply != nullptr) {
        outcome_.replyCode = reply->code;
        outcome_.replyText = reply->text();
    }
}

void SmtpDialogue::send(SmtpStep& step, std::string_view command, SmtpState next) {
    step.toWrite.append(command);
    step.toWrite.append("\r\n");
    state_ = next;
}

void SmtpDialogue::sendMailFrom(SmtpStep& step) {
    send(step, "MAIL FROM: <" + setup_.senderAddress + ">" + (smtpUtf8_ ? " SMTPUTF8" : ""),
         SmtpState::AwaitMailFromReply);
}

bool offersExtension(const SmtpReply& ehloReply, std::string_view keyword) {
    // The first line greets; each further line names an extension.
    for (std::size_t i = 1; i < ehloReply.lines.size(); ++i) {
        const std::string_view line = ehloReply.lines[i];
        const std::string_view name = line.substr(0, line.find(' '));
        if (name.size() == keyword.size() &&
            std::equal(name.begin(), name.end(), keyword.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == b;
            })) {
            return true;
        }
    }
    return false;
}

void SmtpDialogue::refuse(SmtpResult result, std::string_view what, const SmtpReply& reply,
                          SmtpStep& step) {
    settle(result,
           "The server refused " + std::string(what) + ": " + reply.code + " " + reply.text(),
           &reply);
    send(step, "QUIT", SmtpState::Closing);
}

SmtpStep SmtpDialogue::received(std::string_view bytes) {
    SmtpStep step;
    if (finished()) {
        return step;
    }
    reader_.feed(bytes);
    process(step);
    return step;
}

SmtpStep SmtpDialogue::messageWritten() {
    SmtpStep step;
    if (state_ == SmtpState::SendingMessage) {
        state_ = SmtpState::AwaitMessageReply;
        process(step);
    }
    return step;
}

void SmtpDialogue::process(SmtpStep& step) {
    // While the message is being written, later replies wait in the reader.
    while (!finished() && state_ != SmtpState::SendingMessage) {
        std::optional<SmtpReply> reply = reader_.next();
        if (!reply) {
            break;
        }
        step.replies.push_back(*reply);
        act(*reply, step);
    }
    if (reader_.failed() && !finished()) {
        settle(SmtpResult::Failed, reader_.error());
        step.problem = reader_.error();
        state_ = SmtpState::Done;
    }
    step.writeMessage = state_ == SmtpState::SendingMessage;
}

void SmtpDialogue::act(const SmtpReply& reply, SmtpStep& step) {
    const int category = reply.category();
    const std::string& code = reply.code;
    if (state_ == SmtpState::Closing) {
        state_ = SmtpState::Done; // 221, or whatever the server says to QUIT
        return;
    }
    if (category == 4 || category == 5) {
        switch (state_) {
        case SmtpState::AwaitGreeting:
            return refuse(SmtpResult::Failed, "the connection", reply, step);
        case SmtpState::AwaitEhloReply:
            return refuse(SmtpResult::Failed, "EHLO", reply, step);
        case SmtpState::AwaitHeloReply:
            return refuse(SmtpResult::Failed, "HELO", reply, step);
        case SmtpState::AwaitAuthChallenge:
        case SmtpState::AwaitPasswordChallenge:
        case SmtpState::AwaitAuthResult:
            return refuse(SmtpResult::Failed, "the login", reply, step);
        case SmtpState::AwaitMailFromReply:
            return refuse(SmtpResult::Rejected, "the sender", reply, step);
        case SmtpState::AwaitRcptReply:
            return refuse(SmtpResult::Rejected, "the recipient", reply, step);
        case SmtpState::AwaitDataReply:
            return refuse(SmtpResult::Rejected, "DATA", reply, step);
        case SmtpState::AwaitMessageReply:
            return refuse(SmtpResult::Rejected, "the message", reply, step);
        default:
            return;
        }
    }
    switch (state_) {
    case SmtpState::AwaitGreeting:
        if (code == "220") {
            const bool ehlo = !setup_.userName.empty() || smtpUtf8_;
            send(step, (ehlo ? "Ehlo " : "HELO ") + setup_.hostName,
                 ehlo ? SmtpState::AwaitEhloReply : SmtpState::AwaitHeloReply);
        }
        return;
    case SmtpState::AwaitEhloReply:
        if (code != "250") {
            return;
        }
        if (smtpUtf8_ && !offersExtension(reply, "SMTPUTF8")) {
            // The address never reaches a server that could not take it.
            settle(SmtpResult::Rejected,
                   noSmtpUtf8Text(needsSmtpUtf8(setup_.recipient) ? setup_.recipient
                                                                  : setup_.senderAddress));
            send(step, "QUIT", SmtpState::Closing);
        } else if (!setup_.userName.empty()) {
            send(step, "AUTH LOGIN", SmtpState::AwaitAuthChallenge);
        } else {
            sendMailFrom(step);
        }
        return;
    case SmtpState::AwaitAuthChallenge:
        if (code == "334") {
            send(step, base64String(setup_.userName), SmtpState::AwaitPasswordChallenge);
        }
        return;
    case SmtpState::AwaitPasswordChallenge:
        if (code == "334") {
            send(step, base64String(setup_.password), SmtpState::AwaitAuthResult);
        }
        return;
    case SmtpState::AwaitAuthResult:
    case SmtpState::AwaitHeloReply:
        if (code == (state_ == SmtpState::AwaitAuthResult ? "235" : "250")) {
            sendMailFrom(step);
        }
        return;
    case SmtpState::AwaitMailFromReply:
        if (code == "250") {
            send(step, "RCPT TO: <" + setup_.recipient + ">", SmtpState::AwaitRcptReply);
        }
        return;
    case SmtpState::AwaitRcptReply:
        if (code == "250" || code == "251") {
            send(step, "DATA", SmtpState::AwaitDataReply);
        }
        return;
    case SmtpState::AwaitDataReply:
        if (code == "354") {
            state_ = SmtpState::SendingMessage;
        }
        return;
    case SmtpState::AwaitMessageReply:
        if (category == 2) {
            settle(SmtpResult::Delivered, "", &reply);
            send(step, "QUIT", SmtpState::Closing);
        }
        return;
    default:
        return;
    }
}

void SmtpDialogue::connectionClosed(const std::string& reason) {
    if (finished()) {
        return;
    }
    if (state_ != SmtpState::Closing) {
        settle(SmtpResult::Failed, reason);
    }
    state_ = SmtpState::Done;
}

void SmtpDialogue::timedOut() {
    if (finished()) {
        return;
    }
    if (state_ != SmtpState::Closing && !settled_) {
        settle(SmtpResult::Failed, "Timeout reached.");
        outcome_.timedOut = true;
    }
    state_ = SmtpState::Done;
}

void SmtpDialogue::cancelled() {
    if (finished()) {
        return;
    }
    if (state_ != SmtpState::Closing) {
        settle(SmtpResult::Cancelled, "Cancelled.");
    }
    state_ = SmtpState::Done;
}

const char* smtpStateName(SmtpState state) {
    switch (state) {
    case SmtpState::AwaitGreeting:
        return "AwaitGreeting";
    case SmtpState::AwaitEhloReply:
        return "AwaitEhloReply";
    case SmtpState::AwaitAuthChallenge:
        return "AwaitAuthChallenge";
    case SmtpState::AwaitPasswordChallenge:
        return "AwaitPasswordChallenge";
    case SmtpState::AwaitAuthResult:
        return "AwaitAuthResult";
    case SmtpState::AwaitHeloReply:
        return "AwaitHeloReply";
    case SmtpState::AwaitMailFromReply:
        return "AwaitMailFromReply";
    case SmtpState::AwaitRcptReply:
        return "AwaitRcptReply";
    case SmtpState::AwaitDataReply:
        return "AwaitDataReply";
    case SmtpState::SendingMessage:
        return "SendingMessage";
    case SmtpState::AwaitMessageReply:
        return "AwaitMessageReply";
    case SmtpState::Closing:
        return "Closing";
    case SmtpState::Done:
        return "Done";
    }
    return "";
}
