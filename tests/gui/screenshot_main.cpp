// Renders the main window with a session loaded into a PNG file, for the
// README: main_window_screenshot SESSION OUT.png
#include "app/main_window.h"
#include "platform/qt_images.h"
#include "support/test_support.h"
#include "views/contact_list_model.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: main_window_screenshot SESSION OUT.png\n";
        return 2;
    }
    QApplication app(argc, argv);
    velmora::platform::ProgramImages images;
    if (!images.load()) {
        std::cerr << "images missing\n";
        return 1;
    }
    velmora::store::Session session;
    velmora::testing_support::FakePrompter prompter;
    velmora::testing_support::NoLauncher launcher;
    velmora::store::SystemClock clock;
    velmora::testing_support::FakeClipboard clipboard;
    velmora::app::MainWindow window(
        session, images,
        velmora::app::MainWindowServices{
            prompter, launcher, "/tmp/", {}, clock, clipboard, nullptr, nullptr});
    if (loadSession(session, argv[1], window.sessionHooks(), prompter) !=
        velmora::store::LoadOutcome::Loaded) {
        std::cerr << "cannot load " << argv[1] << '\n';
        return 1;
    }
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        return 1;
    }
    window.tabs()->setCurrentIndex(tabIndex(velmora::views::ViewTab::AllEntries));
    QTableView* list = window.listView(velmora::views::ViewTab::AllEntries);
    for (const int row : {2, 3}) {
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QTest::qWait(300);
    if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::cerr << "cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
