#pragma once

#include <QApplication>
#include <QStandardPaths>

namespace velmora::testing_support {

// The one QApplication of a GUI test binary, made on first use. Standard
// paths point at test folders so no test touches the user's files.
inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "velmora-gui-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // CTest does not pass every variable velmora_add_test lists; never
        // open windows on the developer's desktop.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        QStandardPaths::setTestModeEnabled(true);
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace velmora::testing_support
