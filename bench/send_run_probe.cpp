// A Mailtray send run of COUNT messages with a SIZE-byte body to a server on
// 127.0.0.1:PORT, PER_CONNECTION messages per SMTP connection, timed from the
// first connection to the last reply. The session is saved in DIR first, so
// that the run keeps its journal as a real one does.
// Usage: send_run_probe PORT COUNT SIZE PER_CONNECTION DIR
#include "delivery/message/mime_types_file.h"
#include "delivery/run/send_run.h"
#include "store/session_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Counts what a progress window would show; cancels nothing.
class QuietObserver final : public velmora::delivery::RunObserver {
public:
    void logLine(const std::string& text) override {
        ++lines;
        last = text;
    }
    bool cancelRequested() override { return false; }
    int lines = 0;
    std::string last;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PORT COUNT SIZE PER_CONNECTION DIR\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int count = std::atoi(argv[2]);
    const std::size_t size = static_cast<std::size_t>(std::atol(argv[3]));

    velmora::store::Session session;
    velmora::store::SessionSettings settings;
    settings.smtpServer = "127.0.0.1";
    settings.smtpPort = port;
    settings.timeoutSeconds = 15;
    settings.extensions.set("messagesPerConnection", argv[4]);
    session.setSettings(settings);
    for (int i = 1; i <= count; ++i) {
        velmora::store::NewContact fields;
        fields.email = "r" + std::to_string(i) + "@example.net";
        velmora::store::Contact entry =
            session.contact(session.createContact(fields, "01/01/2026"));
        session.addMailtrayEntry(entry);
    }
    velmora::delivery::MessageDraft draft;
    draft.fromText = "Ann Lee <ann@example.org>";
    draft.subject = "Winter offer";
    draft.format = code(velmora::store::EditorFormat::PlainText);
    // A body of SIZE bytes in lines of 72 characters: the payload smtp-source
    // sends with -l SIZE (headers not counted).
    const std::string line(72, 'x');
    while (draft.body.size() + line.size() + 2 <= size) {
        draft.body += line + "\r\n";
    }
    draft.body.append(size - draft.body.size(), 'x');

    session.sessionFileName = std::string(argv[5]) + "/bench.qmz";
    std::string error;
    if (!writeSessionFile(session, session.sessionFileName, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    velmora::store::SystemClock clock;
    velmora::delivery::MimeTypesFile types;
    const velmora::delivery::SendRunEnvironment environment{
        clock, types, velmora::delivery::tcpConnections(), "bench.localdomain"};
    QuietObserver observer;
    const auto start = std::chrono::steady_clock::now();
    const velmora::delivery::SendRunSummary summary =
        sendToRecipients(session, draft, {}, environment, observer);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("send run: %d messages in %.3f s = %.1f messages/s\n", summary.delivered, seconds,
                summary.delivered / seconds);
    if (summary.runId.empty()) {
        std::fprintf(stderr, "the run kept no journal\n");
        return 1;
    }
    if (summary.delivered != count) {
        std::fprintf(stderr, "%s\n", observer.last.c_str());
    }
    return summary.delivered == count ? 0 : 1;
}
