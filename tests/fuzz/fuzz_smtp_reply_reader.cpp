// Server bytes, however they are cut into reads, must give the same replies
// and the same client dialogue, without a crash or unbounded growth.
#include "delivery/smtp/smtp_dialogue.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Played {
    std::vector<velmora::delivery::SmtpReply> replies;
    bool failed = false;
    std::string written;
    velmora::delivery::SmtpResult result = velmora::delivery::SmtpResult::Failed;
    bool settled = false;
};

Played play(std::string_view bytes, std::size_t chunk) {
    Played p;
    velmora::delivery::SmtpReplyReader reader;
    velmora::delivery::SmtpDialogue dialogue(
        {"client.example", "user", "secret", "ann@example.org", "bob@example.net"});
    const auto take = [&](velmora::delivery::SmtpStep step) {
        while (true) {
            p.written += step.toWrite;
            if (!step.writeMessage) {
                break;
            }
            p.written += "<message>";
            step = dialogue.messageWritten();
        }
    };
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        const std::string_view piece = bytes.substr(at, chunk);
        reader.feed(piece);
        while (std::optional<velmora::delivery::SmtpReply> reply = reader.next()) {
            p.replies.push_back(std::move(*reply));
        }
        take(dialogue.received(piece));
    }
    p.failed = reader.failed();
    dialogue.connectionClosed();
    p.result = dialogue.outcome().result;
    p.settled = dialogue.outcomeSettled();
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 16;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const Played whole = play(bytes, bytes.size() + 1);
    const Played cut = play(bytes, chunk);
    if (whole.replies != cut.replies || whole.failed != cut.failed ||
        whole.written != cut.written || whole.result != cut.result ||
        whole.settled != cut.settled) {
        std::abort();
    }
    for (const velmora::delivery::SmtpReply& reply : whole.replies) {
        if (reply.code.size() != 3 || reply.lines.empty()) {
            std::abort();
        }
    }
    return 0;
}
