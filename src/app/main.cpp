#include "app/loading_window.h"
#include "app/main_commands.h"
#include "app/main_window.h"
#include "platform/qt_clipboard.h"
#include "platform/qt_images.h"
#include "platform/qt_keychain_password_store.h"
#include "platform/qt_launcher.h"
#include "platform/qt_prompter.h"
#include "platform/qt_recent_session_store.h"
#include "store/session.h"
#include "store/session_commands.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWebEngineView>
#include <cstdio>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace {

void processPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void wait(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

// Starts the web engine once with an empty page, so that the composer's
// first window opens without the engine's start-up delay.
void warmUpWebEngine() {
    QWebEngineView view;
    view.resize(0, 0);
    QEventLoop loop;
    QObject::connect(&view, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    view.setUrl(QUrl("about:blank"));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    processPendingEvents();
}

std::vector<std::string> installedManuals() {
    std::vector<std::string> paths;
    // Beside the program wherever the installation was moved to.
    paths.push_back(QDir::cleanPath(QDir(QCoreApplication::applicationDirPath())
                                        .filePath("../share/velmora-mailtray/help/manual.html"))
                        .toStdString());
#ifdef VELMORA_INSTALLED_MANUAL
    paths.emplace_back(VELMORA_INSTALLED_MANUAL);
#endif
#ifdef VELMORA_SOURCE_MANUAL
    paths.emplace_back(VELMORA_SOURCE_MANUAL);
#endif
    return paths;
}

class ParentedPrompter final : public Prompter {
public:
    void setParent(QWidget* parent) { inner_ = std::make_unique<QtPrompter>(parent); }
    PromptAnswer message(const std::string& title, const std::string& text,
                         PromptButtons buttons) override {
        return inner_->message(title, text, buttons);
    }
    std::optional<std::string> openFileName(const std::string& title, const std::string& filter,
                                            const std::string& initialPath) override {
        return inner_->openFileName(title, filter, initialPath);
    }
    std::optional<std::string> saveFileName(const std::string& title, const std::string& filter,
                                            const std::string& initialPath) override {
        return inner_->saveFileName(title, filter, initialPath);
    }

private:
    std::unique_ptr<QtPrompter> inner_ = std::make_unique<QtPrompter>(nullptr);
};

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string startDirectory() {
    std::string directory = QDir::currentPath().toStdString();
    if (directory.empty() || directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

void setApplicationNames() {
    QCoreApplication::setApplicationName("Velmora Mailtray");
    QCoreApplication::setOrganizationName("Velmora");
    QCoreApplication::setApplicationVersion("1.1");
}

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption manualPath{"manual-path",
                                  "Print the path of the manual that Help opens, and quit."};
    CommandLine() {
        parser.setApplicationDescription("E-mail marketing to a contact list.");
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(manualPath);
        parser.addPositionalArgument("file", "A session file (.qmz) to open at start-up.",
                                     "[file]");
    }
};

// --help, --version and --manual-path answer without a display, so they
// are read before the windowing system is reached. Returns an exit code
// when the program should end here.
std::optional<int> answerWithoutWindows(int argc, char** argv) {
    const QCoreApplication probe(argc, argv);
    setApplicationNames();
    CommandLine line;
    // Unknown options may be the windowing system's (-platform ...): the
    // second pass reports what nobody knows.
    line.parser.parse(QCoreApplication::arguments());
    if (line.parser.isSet("help")) {
        line.parser.showHelp(0);
    }
    if (line.parser.isSet("version")) {
        line.parser.showVersion();
    }
    if (line.parser.isSet(line.manualPath)) {
        std::printf("%s\n",
                    helpFilePath(startDirectory(), installedManuals(), &pathExists).c_str());
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto exitCode = answerWithoutWindows(argc, argv)) {
        return *exitCode;
    }
    // The web engine shares its OpenGL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    setApplicationNames();
    // Matches the desktop entry's file name.
    QGuiApplication::setDesktopFileName("org.velmora.mailtray");

    CommandLine line;
    line.parser.process(app);
    if (line.parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "velmora-mailtray: give at most one session file.\n");
        return 2;
    }
    // The file as the desktop or the shell named it, made absolute so that
    // Save and Recent Sessions find it from any folder.
    std::string startFile;
    if (!line.parser.positionalArguments().isEmpty()) {
        startFile =
            QFileInfo(line.parser.positionalArguments().front()).absoluteFilePath().toStdString();
    }

    Session session;
    session.startDirectory = startDirectory();

    ProgramImages images;
    if (!images.load()) {
        QMessageBox::critical(nullptr, "Error",
                              "The program's images are missing or damaged; reinstall "
                              "Velmora Mailtray.");
        return 1;
    }

    LoadingWindow loading;
    loading.show();
    processPendingEvents();
    loading.advanceStartupProgress(5);
    wait(250);
    loading.advanceStartupProgress(10);

    // Message boxes belong to the main window, which needs the prompter to
    // be built: the prompter forwards to one parented once the window exists.
    ParentedPrompter prompter;
    QtLauncher launcher;
    QtClipboard clipboard;
    SystemClock clock;
    QtRecentSessionStore recentSessions;
    QtKeychainPasswordStore keyring;
    MainWindow window(session, images,
                      MainWindowServices{prompter, launcher, QDir::homePath().toStdString() + "/",
                                         installedManuals(), clock, clipboard, &recentSessions,
                                         &keyring});
    prompter.setParent(&window);
    QObject::connect(&window, &MainWindow::quitRequested, &app, [] { QCoreApplication::exit(0); });
    window.show();
    loading.raise();
    loading.advanceStartupProgress(25);
    for (int i = 0; i < 10; ++i) {
        processPendingEvents();
    }
    warmUpWebEngine();
    loading.advanceStartupProgress(20);

    loading.advanceStartupProgress(30);
    processPendingEvents();
    wait(170);
    loading.advanceStartupProgress(25);
    processPendingEvents();

    newSession(session, window.sessionHooks());

    wait(220);
    loading.advanceStartupProgress(500);
    processPendingEvents();
    wait(700);
    loading.close();

    if (!startFile.empty()) {
        window.openSessionFile(startFile);
    }

    return QApplication::exec();
}
