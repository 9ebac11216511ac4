// Server bytes, however they are cut into reads, must give the same replies
// and the same client dialogue, without a crash or unbounded growth.
// The one exception is timing: bytes in the same read as a 354 came before
// our message and are an error, while the same bytes read after it are the
// reply to it. So both plays end a read after each 354 line.
#include "delivery/smtp/smtp_dialogue.h"

#include <algorithm>
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

// Where the read that starts at `from` must end: after the next line that
// starts with 354, or at the end.
std::size_t afterDataReply(std::string_view bytes, std::size_t from) {
    for (std::size_t line = from; line < bytes.size();) {
        const std::size_t end = bytes.find('\n', line);
        if (end == std::string_view::npos) {
            break;
        }
        if (bytes.substr(line, 3) == "354") {
            return end + 1;
        }
        line = end + 1;
    }
    return bytes.size();
}

Played play(std::string_view bytes, std::size_t chunk) {
    Played p;
    velmora::delivery::SmtpReplyReader reader;
    velmora::delivery::SmtpDialogue dialogue({.hostName = "client.example",
                                              .userName = "user",
                                              .password = "secret",
                                              .senderAddress = "ann@example.org",
                                              .recipient = "bob@example.net"});
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
    std::size_t segmentEnd = 0;
    for (std::size_t at = 0; at < bytes.size(); at += std::min(chunk, segmentEnd - at)) {
        if (at == segmentEnd) {
            segmentEnd = afterDataReply(bytes, at);
        }
        const std::string_view piece = bytes.substr(at, std::min(chunk, segmentEnd - at));
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
