#include "app/loading_window.h"

#include "app/startup_progress.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

LoadingWindow::LoadingWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
    setWindowTitle("Loading...");
    setFixedSize(281, 50);
    auto* label = new QLabel("Please Wait...", this);
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
