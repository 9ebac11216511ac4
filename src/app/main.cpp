#include "app/loading_window.h"
#include "app/main_window.h"
#include "platform/qt_clipboard.h"
#include "platform/qt_images.h"
#include "platform/qt_launcher.h"
#include "platform/qt_prompter.h"
#include "store/session.h"
#include "store/session_commands.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWebEngineView>
#include <memory>

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
    paths.push_back(QDir(QCoreApplication::applicationDirPath())
                        .filePath("../share/velmora-mailtray/help/manual.html")
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

} // namespace

int main(int argc, char** argv) {
    // The web engine shares its OpenGL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora Mailtray");
    QApplication::setOrganizationName("Velmora");
    QApplication::setApplicationVersion("1.1");

    Session session;
    session.startDirectory = QDir::currentPath().toStdString();
    if (session.startDirectory.empty() || session.startDirectory.back() != '/') {
        session.startDirectory += '/';
    }

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
    MainWindow window(session, images,
                      MainWindowServices{prompter, launcher, QDir::homePath().toStdString() + "/",
                                         installedManuals(), clock, clipboard});
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

    return QApplication::exec();
}
