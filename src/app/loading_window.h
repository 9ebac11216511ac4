#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

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
