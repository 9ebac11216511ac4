#pragma once

#include "contacts/view_access.h"
#include "store/session.h"

#include <QWidget>

class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QStringListModel;

namespace velmora::contacts {

// "Removing Duplicates...": runs Remove Duplicates with its progress shown,
// then lists the removed addresses and the summary until closed.
class DuplicatesWindow final : public QWidget {
    Q_OBJECT

public:
    DuplicatesWindow(store::Session& session, ViewAccess& views, QWidget* parent = nullptr);

    // Shows the window, draws it, does the work and refreshes the views.
    // The bar moves meanwhile; no window takes user input until it is done.
    void run();

    QProgressBar* progressBar() const { return bar_; }
    QLabel* stateLabel() const { return state_; }
    QListView* recordsList() const { return records_; }
    QStringListModel* recordsModel() const { return model_; }
    QPushButton* closeButton() const { return close_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    store::Session& session_;
    ViewAccess& views_;
    bool running_ = false;

    QProgressBar* bar_;
    QLabel* state_;
    QStringListModel* model_;
    QListView* records_;
    QPushButton* close_;
};

} // namespace velmora::contacts
