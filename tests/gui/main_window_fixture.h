#pragma once

// The main window over a fresh session with fake desktop services, shared by
// the window's test files.
#include "app/main_window.h"
#include "platform/qt_images.h"
#include "support/qt_app.h"
#include "support/test_support.h"

#include <QApplication>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing_support {

// Records what it was asked to open; `handles` says whether a program was
// found for it (every document by default).
struct RecordingLauncher final : platform::Launcher {
    bool openDocument(const std::string& pathOrLink) override {
        opened.push_back(pathOrLink);
        return handles(pathOrLink);
    }
    bool startProgram(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
    std::vector<std::string> opened;
    std::function<bool(const std::string&)> handles = [](const std::string&) { return true; };
};

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(images.load());
        session.startDirectory = dir.path() + "/";
        window = std::make_unique<app::MainWindow>(session, images,
                                                   app::MainWindowServices{prompter,
                                                                           launcher,
                                                                           dir.path() + "/",
                                                                           {},
                                                                           *windowClock,
                                                                           clipboard,
                                                                           nullptr,
                                                                           nullptr});
        store::newSession(session, window->sessionHooks());
    }
    void TearDown() override {
        // Leave nothing unsaved behind so that closing asks nothing.
        session.markSaved();
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::int32_t add(const std::string& email, std::int32_t status, std::int32_t group = 1) {
        store::NewContact c;
        c.email = email;
        c.name = "Name of " + email;
        c.status = status;
        c.groupIndex = group;
        return session.createContact(c, "12/07/2026");
    }
    void showWindow() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QTreeWidgetItem* treeItem(std::int32_t number) const {
        for (QTreeWidgetItemIterator it(window->filterTree()); *it != nullptr; ++it) {
            if ((*it)->data(0, Qt::UserRole).toInt() == number) {
                return *it;
            }
        }
        return nullptr;
    }

    // First, so that the members below find the application object.
    QApplication& app = qtApp();
    TempDir dir;
    platform::ProgramImages images;
    store::Session session;
    FakePrompter prompter;
    RecordingLauncher launcher;
    store::FixedClock clock{store::LocalDateTime{2026, 12, 7, 9, 0, 0, 1, 60, 0}};
    // What the window's commands take as now: set it before SetUp() for another clock.
    store::Clock* windowClock = &clock;
    FakeClipboard clipboard;
    std::unique_ptr<app::MainWindow> window;
};

} // namespace velmora::testing_support
