// Writing a message with a large attachment, filling its personal fields,
// and reading replies.
#include "delivery/message/message_builder.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/message/personal_fields.h"
#include "delivery/smtp/smtp_reply_reader.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

class CountingSink final : public velmora::delivery::LineSink {
public:
    bool writeLine(std::string_view line) override {
        bytes += line.size() + 2;
        return true;
    }
    std::size_t bytes = 0;
};

void BM_WriteMessageWithAttachment(benchmark::State& state) {
    char path[] = "/tmp/velmora-bench-XXXXXX";
    const int fd = ::mkstemp(path);
    std::string block(1 << 20, 'x');
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>(i * 31 % 256);
    }
    for (int i = 0; i < state.range(0); ++i) {
        if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
            state.SkipWithError("cannot write the attachment");
        }
    }
    ::close(fd);
    velmora::store::SystemClock clock;
    velmora::delivery::MimeTypesFile types;
    const velmora::delivery::MessageEnvironment environment{clock, types, {}};
    velmora::delivery::OutgoingMessage message;
    message.senderAddress = "ann@example.org";
    message.recipient = "bob@example.net";
    message.body = "Hello";
    message.attachments = {path};
    for (auto _ : state) {
        CountingSink sink;
        writeMessage(message, environment, sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) *
                            static_cast<int64_t>(block.size()));
    std::remove(path);
}
BENCHMARK(BM_WriteMessageWithAttachment)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// A body with many "{{" that open no field, then one that does: the fill
// is done once per recipient.
void BM_FillPersonalFieldsManyOpenings(benchmark::State& state) {
    std::string body;
    for (int i = 0; i < state.range(0); ++i) {
        body += "{{ x ";
    }
    body += "}} Dear {{name|customer}}";
    velmora::delivery::PersonalValues values;
    values.name = "Ann Lee";
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmora::delivery::fillPersonalFields(
            body, values, velmora::delivery::FieldSyntax::Html));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_FillPersonalFieldsManyOpenings)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

void BM_ReplyReaderSmallReads(benchmark::State& state) {
    std::string stream;
    for (int i = 0; i < 1000; ++i) {
        stream += "250-mail.example.net offers these extensions\r\n250 AUTH LOGIN PLAIN\r\n";
    }
    for (auto _ : state) {
        velmora::delivery::SmtpReplyReader reader;
        std::size_t replies = 0;
        for (std::size_t at = 0; at < stream.size(); at += 7) {
            reader.feed(std::string_view(stream).substr(at, 7));
            while (reader.next()) {
                ++replies;
            }
        }
        benchmark::DoNotOptimize(replies);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_ReplyReaderSmallReads);

} // namespace

BENCHMARK_MAIN();
