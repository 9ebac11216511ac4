// How the main window's secondary windows behave on the desktop: one per
// kind, the keys every dialog answers to, and what the hand-off and Help do.
#include "app/main_window.h"
#include "contacts/add_group_dialog.h"
#include "contacts/contact_dialog.h"
#include "delivery/windows/delivery_settings_dialog.h"
#include "main_window_fixture.h"
#include "platform/qt_images.h"
#include "platform/qt_prompter.h"
#include "support/qt_app.h"
#include "support/test_support.h"
#include "views/contact_list_model.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWindow>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::StringLiterals;

namespace velmora::app {

namespace {

class WindowBehaviourTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        showWindow();
    }
    // The open window that is not the main window, waiting until it is the
    // active one.
    QWidget* onlyOtherWindow() {
        const std::vector<QWidget*> open = window->openWindows();
        EXPECT_EQ(open.size(), 1u);
        return open.empty() ? nullptr : open.front();
    }
};

const MainCommand kSingleWindowCommands[] = {
    MainCommand::AddContact, MainCommand::AddEmailList,   MainCommand::AddCampaignGroup,
    MainCommand::SetGroup,   MainCommand::SetStatus,      MainCommand::SetTag,
    MainCommand::Mailtray,   MainCommand::ServerSettings, MainCommand::RemoveDuplicates,
};

} // namespace

TEST_F(WindowBehaviourTest, EachCommandOpensOneWindowAndRaisesItAfterwards) {
    add("ann@example.org", 0);
    window->refreshViews();
    for (const MainCommand command : kSingleWindowCommands) {
        SCOPED_TRACE(static_cast<int>(command));
        window->runCommand(command);
        QWidget* first = onlyOtherWindow();
        ASSERT_NE(first, nullptr);
        // The main window comes in front; the command brings the open one back.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window.get(); }));
        window->runCommand(command);
        EXPECT_EQ(onlyOtherWindow(), first);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == first; }));
        // Escape closes it, as Cancel or Close does.
        QTest::keyClick(first, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(window->openWindows().empty());
        // Once closed, the command opens a fresh one.
        window->runCommand(command);
        ASSERT_NE(onlyOtherWindow(), nullptr);
        onlyOtherWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(prompter.shown.empty());
}

// The window manager keeps a dialog in front of the window that opened it
// only when it knows that window, and the user looks for it over it.
TEST_F(WindowBehaviourTest, DialogsOpenOverTheirOpenerTiedToItAndEscapeClosesThem) {
    window->move(150, 120);
    const auto overOpener = [](QWidget* shown, QWidget* opener) {
        ASSERT_NE(shown, nullptr);
        ASSERT_NE(shown->windowHandle(), nullptr);
        EXPECT_EQ(shown->windowHandle()->transientParent(), opener->windowHandle());
        const QPoint offset = shown->frameGeometry().center() - opener->frameGeometry().center();
        // Centred as placed; its layout may still grow it a little when shown.
        EXPECT_LE(offset.manhattanLength(), 60) << offset.x() << "," << offset.y();
    };
    window->runCommand(MainCommand::Mailtray);
    overOpener(onlyOtherWindow(), window.get());
    onlyOtherWindow()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    testing_support::writeFileBytes(dir.file("in.csv"), "Email Address\nann@example.org\n");
    prompter.files.push_back(dir.file("in.csv"));
    window->runCommand(MainCommand::ImportContacts);
    QWidget* import = onlyOtherWindow();
    overOpener(import, window.get());
    QTest::keyClick(import, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window->openWindows().empty());

    store::SessionSettings smtp = session.settings();
    smtp.deliveryMethod = code(store::DeliveryMethod::SmtpServer);
    smtp.smtpServer = "127.0.0.1";
    smtp.smtpPort = 9; // nothing answers: the test ends at once
    session.setSettings(smtp);
    window->runCommand(MainCommand::ServerSettings);
    auto* settings = qobject_cast<delivery::DeliverySettingsDialog*>(onlyOtherWindow());
    ASSERT_NE(settings, nullptr);
    settings->testConnectionButton()->click();
    QPointer<delivery::ConnectionTestWindow> test = settings->connectionTestWindow();
    ASSERT_FALSE(test.isNull());
    overOpener(test, settings);
    QTest::keyClick(test, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(test.isNull());
    settings->close();
}

TEST_F(WindowBehaviourTest, ReturnConfirmsAddContactAndAddGroupButNotInATextArea) {
    window->runCommand(MainCommand::AddContact);
    auto* contact = qobject_cast<contacts::ContactDialog*>(onlyOtherWindow());
    ASSERT_NE(contact, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == contact; }));
    QTest::keyClicks(contact->emailField(), u"ann@example.org"_s);
    // Return in the notes adds a line, not the contact.
    contact->notesField()->setFocus();
    QTest::keyClick(contact->notesField(), Qt::Key_Return);
    EXPECT_EQ(session.contactCount(), 0);
    EXPECT_EQ(contact->notesField()->toPlainText(), u"\n"_s);
    contact->emailField()->setFocus();
    QTest::keyClick(contact->emailField(), Qt::Key_Return);
    EXPECT_EQ(session.contactCount(), 1);
    EXPECT_EQ(session.contact(1).email, "ann@example.org");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window->openWindows().empty());

    window->runCommand(MainCommand::AddCampaignGroup);
    auto* group = qobject_cast<contacts::AddGroupDialog*>(onlyOtherWindow());
    ASSERT_NE(group, nullptr);
    const auto groupsBefore = session.groupCount();
    auto* name = group->findChild<QLineEdit*>();
    ASSERT_NE(name, nullptr);
    name->setFocus();
    QTest::keyClicks(name, u"Spring"_s);
    QTest::keyClick(name, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(session.groupCount(), groupsBefore + 1);

    // Return on a focused Cancel cancels, as in any dialog.
    window->runCommand(MainCommand::AddContact);
    contact = qobject_cast<contacts::ContactDialog*>(onlyOtherWindow());
    ASSERT_NE(contact, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == contact; }));
    QTest::keyClicks(contact->emailField(), u"bob@example.org"_s);
    contact->cancelButton()->setFocus();
    QTest::keyClick(contact->cancelButton(), Qt::Key_Return);
    EXPECT_EQ(session.contactCount(), 1);
}

TEST_F(WindowBehaviourTest, ConfirmDeleteAnswersNoToReturn) {
    platform::QtPrompter real(window.get());
    platform::PromptAnswer answer = platform::PromptAnswer::Yes;
    QTimer::singleShot(0, [] {
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }));
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
    });
    answer = real.message("Confirm Delete", "Delete?", platform::PromptButtons::YesNoDefaultNo);
    EXPECT_EQ(answer, platform::PromptAnswer::No);
    // Other questions keep Yes as their default.
    QTimer::singleShot(0, [] {
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }));
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
    });
    answer = real.message("Confirm", "Go on?", platform::PromptButtons::YesNo);
    EXPECT_EQ(answer, platform::PromptAnswer::Yes);
}

TEST_F(WindowBehaviourTest, HandoffKeepsFilterSearchAndChecksAndShowsTheStamps) {
    store::SessionSettings settings = session.settings();
    settings.deliveryMethod = code(store::DeliveryMethod::DefaultMailClient);
    settings.fromAddress = "me@x.org";
    session.setSettings(settings);
    const auto ann = add("ann@x.org", 0);
    add("bob@x.org", 0);
    add("cid@y.org", 1);
    store::Contact entry = session.contact(ann);
    entry.id = ann;
    session.addMailtrayEntry(entry);
    window->refreshViews();

    QTest::mouseClick(window->searchField(), Qt::LeftButton);
    QTest::keyClicks(window->searchField(), u"x.org"_s);
    QTreeWidgetItem* subscribers = treeItem(1000);
    ASSERT_NE(subscribers, nullptr);
    subscribers->setCheckState(0, Qt::Checked);
    window->runCommand(MainCommand::ApplyFilters);
    views::ContactListModel* all = window->listModel(views::ViewTab::AllEntries);
    ASSERT_EQ(all->rowCount(), 2);
    const QString caption = window->tabs()->tabText(4);

    window->runCommand(MainCommand::Compose);
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(window->searchField()->text(), u"x.org"_s);
    EXPECT_EQ(treeItem(1000)->checkState(0), Qt::Checked);
    EXPECT_EQ(all->rowCount(), 2);
    EXPECT_EQ(window->tabs()->tabText(4), caption);
    EXPECT_EQ(window->statusField()->text(),
              u"Total Records: 3 - Mailtray: 1 - Contacted Today: 1"_s);
    // The stamped date shows in the rows as they are.
    QStringList dates;
    for (int row = 0; row < all->rowCount(); ++row) {
        dates << all->data(all->index(row, 3)).toString();
    }
    EXPECT_TRUE(dates.contains(u"12/07/2026"_s)) << dates.join(u","_s).toStdString();
}

TEST_F(WindowBehaviourTest, HelpWithoutAProgramForTheManualSaysSo) {
    launcher.handles = [](const std::string&) { return false; };
    window->runCommand(MainCommand::Help);
    ASSERT_EQ(launcher.opened.size(), 1u);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              "No program was found to open the manual at " + launcher.opened[0] + ".");
    launcher.handles = [](const std::string&) { return true; };
    window->runCommand(MainCommand::Help);
    EXPECT_EQ(prompter.shown.size(), 1u);
}

TEST_F(WindowBehaviourTest, EveryColumnCaptionShowsAtTheStartSize) {
    for (int tab = 0; tab < 5; ++tab) {
        QTableView* view = window->listView(static_cast<views::ViewTab>(tab));
        window->tabs()->setCurrentIndex(tab);
        ASSERT_TRUE(QTest::qWaitFor([view] { return view->isVisible(); }));
        const QHeaderView* header = view->horizontalHeader();
        const int width = header->viewport()->width();
        for (int column = 0; column < header->count(); ++column) {
            const int left = header->sectionViewportPosition(column);
            const int caption = header->fontMetrics().horizontalAdvance(
                view->model()->headerData(column, Qt::Horizontal).toString());
            EXPECT_LE(left + std::min(caption, header->sectionSize(column)), width)
                << "tab " << tab << " column " << column;
        }
        // Notes fills the rest of the list.
        EXPECT_EQ(header->sectionViewportPosition(header->count() - 1) +
                      header->sectionSize(header->count() - 1),
                  width);
    }
}

} // namespace velmora::app
