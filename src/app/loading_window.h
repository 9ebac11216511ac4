#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;

namespace velmora::app {

class MainWindow;

// The small "Loading..." window shown while the program starts: a title bar
// without close box, kept above the other windows.
class LoadingWindow final : public QWidget {
    Q_OBJECT
public:
    explicit LoadingWindow(QWidget* parent = nullptr);
    void advanceStartupProgress(int step);
    int progress() const;

private:
    QProgressBar* bar_;
};

// Told of the start-up's steps; only the start-up benchmark listens.
class StartupObserver {
public:
    virtual ~StartupObserver() = default;
    // A deliberate pause of the start-up is about to begin.
    virtual void deliberateWait(int milliseconds) = 0;
    // The loading window is gone and the event loop runs: the user can work.
    virtual void mainWindowUsable(MainWindow& window) = 0;
};

// The program's start-up after the QApplication is made: the loading window,
// the main window with a new session, then the event loop. Returns the exit
// code of the event loop.
// `manuals` are the places Help looks for the manual, in order; `startFile`,
// when given, is opened once the main window is usable.
int runDesktopProgram(std::vector<std::string> manuals, StartupObserver* observer = nullptr,
                      const std::string& startFile = {});

} // namespace velmora::app
