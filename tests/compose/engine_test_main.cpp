// The engine tests need one QApplication for the whole binary, created with
// the attribute the web engine wants before any application object exists.
#include "engine_waits.h"

#include <QApplication>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEngineView>
#include <gtest/gtest.h>
#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // As root the engine runs only without its sandbox.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) {
        // No GPU offscreen, and nothing that would reach for the network.
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --disable-background-networking --disable-component-update "
                "--disable-sync --disable-default-apps --no-first-run");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora-compose-tests"));
    QStandardPaths::setTestModeEnabled(true);
    if (!GTEST_FLAG_GET(list_tests)) {
        // Start the engine once with all the time a cold start may take, so
        // that the waits inside windows (which the tests cannot lengthen
        // before they run) meet a warm engine.
        QWebEngineView view;
        QEventLoop loop;
        QObject::connect(&view, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(velmora::testing_support::kEngineWaitMs, &loop, &QEventLoop::quit);
        view.setUrl(QUrl(QStringLiteral("about:blank")));
        loop.exec();
    }
    return RUN_ALL_TESTS();
}
