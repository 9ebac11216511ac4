#include "app/loading_window.h"

#include "app/main_window.h"
#include "app/startup_progress.h"
#include "platform/qt_clipboard.h"
#include "platform/qt_images.h"
#include "platform/qt_keychain_password_store.h"
#include "platform/qt_launcher.h"
#include "platform/qt_prompter.h"
#include "platform/qt_recent_session_store.h"
#include "store/session.h"
#include "store/session_commands.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <memory>

using namespace Qt::StringLiterals;

namespace velmora::app {

namespace {

void processPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void wait(int milliseconds, StartupObserver* observer) {
    if (observer != nullptr) {
        observer->deliberateWait(milliseconds);
    }
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

class ParentedPrompter final : public platform::Prompter {
public:
    void setParent(QWidget* parent) { inner_ = std::make_unique<platform::QtPrompter>(parent); }
    platform::PromptAnswer message(const std::string& title, const std::string& text,
                                   platform::PromptButtons buttons) override {
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
    std::unique_ptr<platform::QtPrompter> inner_ = std::make_unique<platform::QtPrompter>(nullptr);
};

} // namespace

LoadingWindow::LoadingWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
    setWindowTitle(u"Loading..."_s);
    setFixedSize(281, 50);
    auto* label = new QLabel(u"Please Wait..."_s, this);
    label->setGeometry(5, 5, 255, 15);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setGeometry(5, 30, 270, 15);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void LoadingWindow::advanceStartupProgress(int step) {
    bar_->setValue(advancedStartupProgress(bar_->value(), step));
}

int LoadingWindow::progress() const {
    return bar_->value();
}

int runDesktopProgram(std::vector<std::string> manuals, StartupObserver* observer,
                      const std::string& startFile) {
    store::Session session;
    session.startDirectory = QDir::currentPath().toStdString();
    if (session.startDirectory.empty() || session.startDirectory.back() != '/') {
        session.startDirectory += '/';
    }

    platform::ProgramImages images;
    if (!images.load()) {
        QMessageBox::critical(nullptr, u"Error"_s,
                              u"The program's images are missing or damaged; reinstall "_s
                              u"Velmora Mailtray."_s);
        return 1;
    }

    LoadingWindow loading;
    loading.show();
    processPendingEvents();
    loading.advanceStartupProgress(5);
    wait(250, observer);
    loading.advanceStartupProgress(10);

    // Message boxes belong to the main window, which needs the prompter to
    // be built: the prompter forwards to one parented once the window exists.
    ParentedPrompter prompter;
    platform::QtLauncher launcher;
    platform::QtClipboard clipboard;
    store::SystemClock clock;
    platform::QtRecentSessionStore recentSessions;
    platform::QtKeychainPasswordStore keyring;
    MainWindow window(session, images,
                      MainWindowServices{prompter, launcher, QDir::homePath().toStdString() + "/",
                                         std::move(manuals), clock, clipboard, &recentSessions,
                                         &keyring});
    prompter.setParent(&window);
    QObject::connect(&window, &MainWindow::quitRequested, qApp, [] { QCoreApplication::exit(0); });
    window.show();
    loading.raise();
    loading.advanceStartupProgress(25);
    for (int i = 0; i < 10; ++i) {
        processPendingEvents();
    }
    // The web engine is not started here: it starts when the composer first
    // needs it. Starting it at once cost the start-up about 0.4 s and the
    // program some 50 MiB that a user who only manages contacts never uses.
    loading.advanceStartupProgress(20);

    loading.advanceStartupProgress(30);
    processPendingEvents();
    wait(170, observer);
    loading.advanceStartupProgress(25);
    processPendingEvents();

    newSession(session, window.sessionHooks());

    wait(220, observer);
    loading.advanceStartupProgress(500);
    processPendingEvents();
    wait(700, observer);
    loading.close();

    if (!startFile.empty()) {
        window.openSessionFile(startFile);
    }
    if (observer != nullptr) {
        // From inside the event loop, as the user's first command would run.
        QTimer::singleShot(0, &window, [observer, &window] { observer->mainWindowUsable(window); });
    }

    return QApplication::exec();
}

} // namespace velmora::app
