// What a user waits for in the desktop program: its start to a usable main
// window, and File > Open of a large session until its lists show. Runs the
// program's own start-up (deliberate pauses included, and counted apart),
// then opens the file through the File > Open command with the file
// requester answered. bench/run_cli_bench.sh runs it under a virtual X server.
#include "app/file_commands.h"
#include "app/loading_window.h"
#include "app/main_window.h"
#include "views/contact_views.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <time.h>

using namespace Qt::StringLiterals;

namespace {

std::int64_t realtimeNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double peakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Answers the file requester with the session to open; any message box
// would mean the open failed.
class AnsweringPrompter final : public velmora::platform::Prompter {
public:
    explicit AnsweringPrompter(std::string path) : path_(std::move(path)) {}
    velmora::platform::PromptAnswer message(const std::string&, const std::string& text,
                                            velmora::platform::PromptButtons) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        failed = true;
        return velmora::platform::PromptAnswer::No;
    }
    std::optional<std::string> openFileName(const std::string&, const std::string&,
                                            const std::string&) override {
        return path_;
    }
    std::optional<std::string> saveFileName(const std::string&, const std::string&,
                                            const std::string&) override {
        return std::nullopt;
    }
    bool failed = false;

private:
    std::string path_;
};

class Probe final : public velmora::app::StartupObserver {
public:
    Probe(std::int64_t launchedAt, std::string session)
        : launchedAt_(launchedAt), session_(std::move(session)) {}

    void deliberateWait(int milliseconds) override { waitedMs_ += milliseconds; }

    void mainWindowUsable(velmora::app::MainWindow& window) override {
        const double usableMs = static_cast<double>(realtimeNanoseconds() - launchedAt_) / 1e6;
        const double startPeak = peakMiB();
        std::printf("start %.0f ms (deliberate waits %d ms, beyond them %.0f ms), peak %.1f MiB\n",
                    usableMs, waitedMs_, usableMs - waitedMs_, startPeak);
        if (!session_.empty()) {
            AnsweringPrompter prompter(session_);
            velmora::app::FileCommandContext context{window.session(), window.sessionHooks(),
                                                     prompter, ""};
            const auto begin = std::chrono::steady_clock::now();
            openSessionCommand(context);
            // The lists show once the window has painted them.
            window.repaint();
            QCoreApplication::processEvents();
            const double openMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                    .count();
            const auto rows =
                window.views().list(velmora::views::ViewTab::AllEntries).rowSlots.size();
            std::printf("open %.0f ms, %zu rows in All Entries, peak %.1f MiB\n", openMs, rows,
                        peakMiB());
            ok_ = !prompter.failed && rows > 0;
        }
        std::fflush(stdout);
        QCoreApplication::exit(ok_ ? 0 : 1);
    }

private:
    std::int64_t launchedAt_;
    std::string session_;
    int waitedMs_ = 0;
    bool ok_ = true;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: desktop_start_probe LAUNCH_NS_SINCE_EPOCH [SESSION.qmz]\n");
        return 2;
    }
    const std::int64_t launchedAt = std::strtoll(argv[1], nullptr, 10);
    const std::string session = argc > 2 ? argv[2] : "";
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Velmora Mailtray"_s);
    QApplication::setOrganizationName(u"Velmora"_s);
    Probe probe(launchedAt, session);
    return runDesktopProgram({}, &probe);
}
