#include "contacts/duplicates_window.h"

#include "contacts/duplicates.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using platform::toQString;

DuplicatesWindow::DuplicatesWindow(store::Session& session, ViewAccess& views, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), views_(views), bar_(new QProgressBar),
      state_(new QLabel(u"Working..."_s)), model_(new QStringListModel(this)),
      records_(new QListView), close_(new QPushButton(u"Close"_s)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Removing Duplicates..."_s);
    resize(328, 226);

    // An empty range would turn the bar into a busy indicator.
    bar_->setRange(0, std::max(session_.contactCount(), 1));
    bar_->setValue(0);
    auto* progress = new QGroupBox(u"Progress"_s);
    auto* progressLayout = new QVBoxLayout(progress);
    progressLayout->addWidget(bar_);
    progressLayout->addWidget(state_);

    // One model row per line and uniform heights: a hundred thousand lines
    // cost no widget each and no per-row measuring.
    records_->setModel(model_);
    records_->setUniformItemSizes(true);
    records_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* duplicates = new QGroupBox(u"Duplicate Records"_s);
    auto* duplicatesLayout = new QVBoxLayout(duplicates);
    duplicatesLayout->addWidget(records_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress);
    layout->addWidget(duplicates, 1);
    layout->addLayout(buttons);

    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    platform::installDialogKeys(*this, close_);
}

void DuplicatesWindow::run() {
    running_ = true;
    close_->setEnabled(false);
    show();
    // Let the window appear before the work holds the thread.
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    const DuplicatesResult result = removeDuplicates(session_, [this](std::int32_t slot) {
        bar_->setValue(slot);
        // Repaint the bar, but take no command from any window meanwhile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    bar_->setValue(bar_->maximum());
    state_->setText(u"Finished."_s);
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(result.lines.size()));
    for (const std::string& line : result.lines) {
        lines.append(toQString(line));
    }
    model_->setStringList(lines);
    views_.refreshViews();
    views_.updateStatusLine();
    close_->setEnabled(true);
    running_ = false;
}

void DuplicatesWindow::closeEvent(QCloseEvent* event) {
    // The work holds references into this window until it is done.
    if (running_) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace velmora::contacts
