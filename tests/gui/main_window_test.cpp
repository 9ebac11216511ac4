#include "app/loading_window.h"
#include "app/main_window.h"
#include "contacts/export_contacts_dialog.h"
#include "contacts/import_contacts_dialog.h"
#include "main_window_fixture.h"
#include "platform/qt_images.h"
#include "platform/qt_recent_session_store.h"
#include "platform/qt_text.h"
#include "store/session_file.h"
#include "support/qt_app.h"
#include "support/test_support.h"
#include "views/contact_list_model.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace velmora::app {

using platform::toQString;

using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

class MainWindowTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override {
        // Files open; of the links only mailto has a handler here.
        launcher.handles = [](const std::string& pathOrLink) {
            return pathOrLink.rfind("mailto:", 0) == 0 || pathOrLink.rfind('/', 0) == 0;
        };
        MainWindowFixture::SetUp();
    }
    // Resizes the shown window and waits until it has taken its new size,
    // which its layout follows in the same resize event.
    void resizeAndSettle(QSize size) {
        window->resize(size);
        const QSize expected = size.expandedTo(window->minimumSize());
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == expected; }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    QString allEntriesCaption() const { return window->tabs()->tabText(4); }
};

// "Menu/Submenu/Item" lines, "-" for separators.
QStringList describeMenu(const QMenu* menu, const QString& path) {
    QStringList lines;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            lines << path + u"/-"_s;
        } else if (action->menu() != nullptr) {
            lines << describeMenu(action->menu(), path + u"/"_s + action->text());
        } else {
            lines << path + u"/"_s + action->text();
        }
    }
    return lines;
}

} // namespace

TEST_F(MainWindowTest, MenusHaveTheirCaptionsInOrder) {
    QStringList lines;
    for (QAction* top : window->menuBar()->actions()) {
        lines << describeMenu(top->menu(), top->text());
    }
    // "&" marks each item's key letter: Alt+F opens File.
    const QStringList expected{
        u"&File/&New Session"_s,
        u"&File/&Open Session.."_s,
        u"&File/-"_s,
        u"&File/&Save Session"_s,
        u"&File/Save Session &As.."_s,
        u"&File/-"_s,
        u"&File/&Import Contacts (CSV, vCard)..."_s,
        u"&File/&Export Contacts..."_s,
        u"&File/-"_s,
        u"&File/E&xit"_s,
        u"&Groups/&Add Campaign Group.."_s,
        u"&Groups/&Remove Campaign Group"_s,
        u"&Tools/&Mailing List/Add &Contact.."_s,
        u"&Tools/&Mailing List/Add E&mail List.."_s,
        u"&Tools/&Mailing List/&Edit Entries.."_s,
        u"&Tools/&Mailing List/&Delete Entries"_s,
        u"&Tools/&Mailing List/-"_s,
        u"&Tools/&Mailing List/&Remove Duplicates..."_s,
        u"&Tools/&Contacts/Set &Group.."_s,
        u"&Tools/&Contacts/Set &Status.."_s,
        u"&Tools/&Contacts/Set &Tag"_s,
        u"&Tools/&Apply Filters"_s,
        u"&Tools/C&lear Filters"_s,
        u"&Tools/-"_s,
        u"&Tools/Mail&tray.."_s,
        u"&Tools/&Server Settings.."_s,
        u"&Tools/Process &Replies and Bounces..."_s,
        u"&Tools/-"_s,
        u"&Tools/C&ompose Mail.."_s,
        u"&Help/&Help..."_s,
        u"&Help/-"_s,
        u"&Help/&About"_s,
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(window->action(MainCommand::NewSession)->shortcut(), QKeySequence(u"Ctrl+N"_s));
    EXPECT_EQ(window->action(MainCommand::OpenSession)->shortcut(), QKeySequence(u"Ctrl+O"_s));
    EXPECT_EQ(window->action(MainCommand::SaveSession)->shortcut(), QKeySequence(u"Ctrl+S"_s));
    EXPECT_EQ(window->action(MainCommand::Help)->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(MainWindowTest, ImageButtonsCarryTheirTooltipsAndRunTheMenuCommand) {
    const QStringList tooltips{u"Add Single Contact"_s,
                               u"Add Email-Address List"_s,
                               u"Edit Selected Entries"_s,
                               u"Delete Selected Entries"_s,
                               u"Add Campaign Group"_s,
                               u"Set Group"_s,
                               u"Set Status"_s,
                               u"Set Tag"_s,
                               u"Mailtray (recipients)"_s,
                               u"Server / Delivery Settings"_s,
                               u"Compose Email"_s};
    const auto& buttons = window->imageButtonWidgets();
    ASSERT_EQ(buttons.size(), 11u);
    QSignalSpy started(window.get(), &MainWindow::commandStarted);
    // Delete Entries asks before it acts, once from the button, once from the menu.
    prompter.answers = {platform::PromptAnswer::No, platform::PromptAnswer::No};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i]->toolTip(), tooltips[static_cast<qsizetype>(i)]);
        EXPECT_EQ(buttons[i]->size(), QSize(32, 32));
        EXPECT_EQ(buttons[i]->geometry().x(), imageButtons()[i].x);
        EXPECT_FALSE(buttons[i]->icon().isNull());
        // Compose asks about the server first; the fake prompter answers.
        buttons[i]->click();
        window->action(imageButtons()[i].command)->trigger();
        ASSERT_EQ(started.count(), 2);
        EXPECT_EQ(started.at(0).at(0).value<MainCommand>(), imageButtons()[i].command);
        EXPECT_EQ(started.at(1).at(0).value<MainCommand>(), imageButtons()[i].command);
        started.clear();
    }
}

TEST_F(MainWindowTest, StartsUntitledWithTheStatusLine) {
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - <untitled>"_s);
    EXPECT_EQ(window->statusField()->text(),
              u"Total Records: 0 - Mailtray: 0 - Contacted Today: 0"_s);
    EXPECT_EQ(window->logo()->size(), QSize(420, 35));
    const QStringList captions{u"Subscribers"_s, u"Prospects"_s, u"Customers"_s,
                               u"Do Not Contact"_s, u"All Entries"_s};
    ASSERT_EQ(window->tabs()->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(window->tabs()->tabText(i), captions[i]);
    }
}

TEST_F(MainWindowTest, SearchFieldPlaceholderGoesAtFirstUse) {
    QLineEdit* field = window->searchField();
    EXPECT_EQ(field->text(), u"Search Filter..."_s);
    EXPECT_EQ(field->palette().color(QPalette::Text), QColor(0x44, 0x44, 0x44));
    showWindow();
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_EQ(field->text(), u""_s);
    EXPECT_EQ(field->palette().color(QPalette::Text), QColor(Qt::black));
    QTest::keyClicks(field, u"Search Filter..."_s);
    EXPECT_EQ(field->text(), u"Search Filter..."_s);
}

TEST_F(MainWindowTest, ReturnAppliesTheFiltersOnlyInTheSearchField) {
    add("ann@acme.example", 0);
    add("bob@example.org", 1);
    window->refreshViews();
    showWindow();
    window->listView(views::ViewTab::Subscribers)->setFocus();
    QTest::keyClick(window->listView(views::ViewTab::Subscribers), Qt::Key_Return);
    EXPECT_EQ(allEntriesCaption(), u"All Entries"_s);

    QLineEdit* field = window->searchField();
    field->setFocus();
    QTest::keyClicks(field, u"ACME"_s);
    EXPECT_EQ(allEntriesCaption(), u"All Entries"_s); // typing alone never filters
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(allEntriesCaption(), u"All Entries ( filtered )"_s);
    EXPECT_EQ(window->tabs()->currentIndex(), 4);
    EXPECT_EQ(window->filteredResults(), std::vector<std::int32_t>{1});

    // A change to the contacts refreshes: the filter and its text go.
    add("cy@example.org", 2);
    window->refreshViews();
    EXPECT_EQ(allEntriesCaption(), u"All Entries"_s);
    EXPECT_EQ(field->text(), u""_s);
    EXPECT_EQ(window->filteredResults(), (std::vector<std::int32_t>{1, 2, 3}));
}

TEST_F(MainWindowTest, ApplyAndClearFiltersSetTheFifthCaptionAndResetTheTree) {
    add("ann@example.org", 0);
    add("bob@example.org", 2, 1);
    window->refreshViews();
    QTreeWidgetItem* customers = treeItem(1002);
    ASSERT_NE(customers, nullptr);
    customers->setCheckState(0, Qt::Checked);
    window->applyFiltersButton()->click();
    EXPECT_EQ(allEntriesCaption(), u"All Entries ( filtered )"_s);
    EXPECT_EQ(window->filteredResults(), std::vector<std::int32_t>{2});
    EXPECT_EQ(treeItem(1002)->checkState(0), Qt::Checked); // marks stay

    window->searchField()->setText(u"something"_s);
    window->clearFiltersButton()->click();
    EXPECT_EQ(allEntriesCaption(), u"All Entries"_s);
    EXPECT_EQ(window->searchField()->text(), u""_s);
    EXPECT_EQ(treeItem(1002)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(window->filteredResults(), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(MainWindowTest, RefreshKeepsThePlaceholderButClearsTypedText) {
    window->refreshViews();
    EXPECT_EQ(window->searchField()->text(), u"Search Filter..."_s);
    window->searchField()->setText(u"typed"_s);
    window->refreshViews();
    EXPECT_EQ(window->searchField()->text(), u""_s);
    EXPECT_EQ(window->searchField()->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(MainWindowTest, FilterTreeHasACheckBoxAndNumberOnEveryItem) {
    session.addCampaignGroup(-1, "Fair", "");
    window->refreshViews();
    QStringList seen;
    for (QTreeWidgetItemIterator it(window->filterTree()); *it != nullptr; ++it) {
        EXPECT_TRUE((*it)->flags() & Qt::ItemIsUserCheckable);
        EXPECT_EQ((*it)->checkState(0), Qt::Unchecked);
        seen << (*it)->text(0) + u"="_s + (*it)->data(0, Qt::UserRole).toString();
        if ((*it)->childCount() > 0) {
            EXPECT_TRUE((*it)->isExpanded());
        }
    }
    EXPECT_EQ(seen, (QStringList{u"Group Select=101"_s, u"Main (Default)=2001"_s, u"Fair=2002"_s,
                                 u"Status Select=201"_s, u"Subscribers=1000"_s, u"Prospects=1001"_s,
                                 u"Customers=1002"_s, u"Do Not Contact=999"_s}));
    // The selected line stays selected across a rebuild.
    window->filterTree()->setCurrentItem(treeItem(2002));
    window->refreshViews();
    EXPECT_EQ(window->selectedTreeItemNumber(), 2002);
}

TEST_F(MainWindowTest, SelectedRowsComeFromTheCurrentTab) {
    for (int i = 0; i < 6; ++i) {
        add("p" + std::to_string(i) + "@example.org", i % 2); // slots 1..6
    }
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
    for (int tab = 0; tab < views::kTabCount; ++tab) {
        testers.push_back(std::make_unique<QAbstractItemModelTester>(
            window->listModel(static_cast<views::ViewTab>(tab)),
            QAbstractItemModelTester::FailureReportingMode::Fatal));
    }
    window->refreshViews();
    QTableView* prospects = window->listView(views::ViewTab::Prospects);
    EXPECT_EQ(prospects->model()->rowCount(), 3);
    window->tabs()->setCurrentIndex(1);
    prospects->selectionModel()->select(prospects->model()->index(2, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    prospects->selectionModel()->select(prospects->model()->index(0, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(window->selectedRows(), (std::vector<std::int32_t>{2, 6}));
    window->tabs()->setCurrentIndex(0);
    EXPECT_TRUE(window->selectedRows().empty());
    window->listView(views::ViewTab::Subscribers)->selectAll();
    EXPECT_EQ(window->selectedRows(), (std::vector<std::int32_t>{1, 3, 5}));
    // The selection stays visible when the list loses the focus.
    EXPECT_EQ(prospects->palette().color(QPalette::Inactive, QPalette::Highlight),
              prospects->palette().color(QPalette::Active, QPalette::Highlight));
    EXPECT_EQ(prospects->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(prospects->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(MainWindowTest, ControlsFollowTheWindowSizeButNeverShrink) {
    showWindow();
    const QRect tree = window->filterTree()->geometry();
    const QRect tabs = window->tabs()->geometry();
    const QRect logo = window->logo()->geometry();
    const QRect list = window->listView(views::ViewTab::Subscribers)->geometry();
    const QSize start = window->size();
    EXPECT_EQ(tabs.topLeft(), QPoint(200, 35));
    EXPECT_EQ(tree.x(), 0);
    EXPECT_GE(tabs.width(), 605);
    EXPECT_GE(tabs.height(), 530);
    EXPECT_EQ(tree.width(), 195);
    EXPECT_GE(tree.height(), 476);

    resizeAndSettle(start + QSize(300, 200));
    EXPECT_EQ(window->tabs()->geometry(), tabs.adjusted(0, 0, 300, 200));
    EXPECT_EQ(window->filterTree()->geometry(), tree.adjusted(0, 0, 0, 200));
    EXPECT_EQ(window->logo()->geometry(), logo.translated(300, 0));
    EXPECT_EQ(window->listView(views::ViewTab::Subscribers)->geometry().size(),
              list.size() + QSize(300, 200));

    resizeAndSettle(start);
    EXPECT_EQ(window->tabs()->geometry(), tabs);
    EXPECT_EQ(window->filterTree()->geometry(), tree);
    EXPECT_EQ(window->logo()->geometry(), logo);

    // Below the smallest size the window stays at it.
    resizeAndSettle(start - QSize(200, 150));
    EXPECT_EQ(window->tabs()->geometry(), tabs);
    EXPECT_EQ(window->filterTree()->size(), tree.size());
    EXPECT_EQ(window->logo()->size(), logo.size());
}

TEST_F(MainWindowTest, TitleFollowsNewOpenAndSaveAs) {
    add("ann@example.org", 0);
    prompter.files.push_back(dir.file("first"));
    window->action(MainCommand::SaveSessionAs)->trigger();
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - first.qmz"_s);

    window->action(MainCommand::NewSession)->trigger();
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - <untitled>"_s);
    EXPECT_EQ(session.contactCount(), 0);
    EXPECT_EQ(window->statusField()->text(),
              u"Total Records: 0 - Mailtray: 0 - Contacted Today: 0"_s);

    prompter.files.push_back(dir.file("first.qmz"));
    window->action(MainCommand::OpenSession)->trigger();
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - first.qmz"_s);
    EXPECT_EQ(window->statusField()->text(),
              u"Total Records: 1 - Mailtray: 0 - Contacted Today: 0"_s);
    EXPECT_EQ(window->listModel(views::ViewTab::Subscribers)->rowCount(), 1);
    EXPECT_TRUE(prompter.shown.empty()); // nothing was unsaved at any point
}

namespace {

struct MemoryRecentSessions final : platform::RecentSessionStore {
    std::vector<std::string> load() const override { return paths; }
    void save(const std::vector<std::string>& list) override { paths = list; }
    std::vector<std::string> paths;
};

QStringList recentEntries(const QMenu* menu) {
    QStringList paths;
    for (const QAction* entry : menu->actions()) {
        paths << entry->data().toString();
    }
    return paths;
}

} // namespace

TEST_F(MainWindowTest, RecentSessionsListsOpenedAndSavedFilesAndOpensThem) {
    MemoryRecentSessions recent;
    recent.paths = {dir.file("gone.qmz")};
    window = std::make_unique<MainWindow>(
        session, images,
        MainWindowServices{
            prompter, launcher, dir.path() + "/", {}, clock, clipboard, &recent, nullptr});
    newSession(session, window->sessionHooks());
    QMenu* menu = window->recentSessionsMenu();
    ASSERT_NE(menu, nullptr);
    // Under File, right after Open Session...
    const QList<QAction*> fileItems = window->menuBar()->actions().at(0)->menu()->actions();
    ASSERT_GE(fileItems.size(), 3);
    EXPECT_EQ(fileItems.at(1)->text(), u"&Open Session.."_s);
    EXPECT_EQ(fileItems.at(2)->text(), u"&Recent Sessions"_s);
    // The vanished file is dropped from the menu and the store.
    EXPECT_TRUE(menu->actions().isEmpty());
    EXPECT_FALSE(menu->isEnabled());
    EXPECT_TRUE(recent.paths.empty());

    add("ann@example.org", 0);
    prompter.files.push_back(dir.file("first"));
    window->action(MainCommand::SaveSessionAs)->trigger();
    add("bob@example.org", 0);
    prompter.files.push_back(dir.file("second"));
    window->action(MainCommand::SaveSessionAs)->trigger();
    EXPECT_EQ(recentEntries(menu),
              (QStringList{toQString(dir.file("second.qmz")), toQString(dir.file("first.qmz"))}));
    EXPECT_TRUE(menu->isEnabled());
    EXPECT_EQ(menu->actions().at(0)->text(), u"&1 "_s + toQString(dir.file("second.qmz")));

    // Choosing an entry opens it, which brings it to the front.
    menu->actions().at(1)->trigger();
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - first.qmz"_s);
    EXPECT_EQ(session.contactCount(), 1);
    EXPECT_EQ(recent.paths.front(), dir.file("first.qmz"));

    // An entry whose file went meanwhile reports it as Open does and goes.
    std::remove(dir.file("second.qmz").c_str());
    menu->actions().at(1)->trigger();
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Error");
    EXPECT_EQ(recentEntries(menu), QStringList{toQString(dir.file("first.qmz"))});
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - first.qmz"_s);
}

TEST(QtRecentSessionStoreTest, KeepsTheListInItsSettingsFile) {
    testing_support::qtApp();
    TempDir dir;
    const QString file = toQString(dir.file("config/velmora-mailtray.conf"));
    platform::QtRecentSessionStore(file).save({"/home/ann/a b.qmz", "/home/ann/c.qmz"});
    EXPECT_EQ(platform::QtRecentSessionStore(file).load(),
              (std::vector<std::string>{"/home/ann/a b.qmz", "/home/ann/c.qmz"}));
    EXPECT_TRUE(platform::QtRecentSessionStore(toQString(dir.file("none.conf"))).load().empty());
    // The program's own store sits in the desktop's settings folder.
    EXPECT_TRUE(platform::QtRecentSessionStore().settingsFile().endsWith(
        u"/velmora-mailtray/velmora-mailtray.conf"_s));
}

// The desktop program against the command-line tool on one session file.
TEST_F(MainWindowTest, AnOpenSessionIsLockedAgainstTheCommandLineTool) {
    add("ann@example.org", 0);
    prompter.files.push_back(dir.file("shared.qmz"));
    window->action(MainCommand::SaveSessionAs)->trigger();
    testing_support::writeFileBytes(dir.file("list.txt"), "bob@example.org\n");
    const auto importList = [&] {
        return std::make_unique<testing_support::ChildProcess>(
            std::vector<std::string>{testing_support::mailtrayProgram(), "import-addresses",
                                     dir.file("shared.qmz"), dir.file("list.txt")});
    };
    auto refused = importList();
    EXPECT_EQ(refused->wait(), 1);
    EXPECT_EQ(refused->err(), "Session file \"" + dir.file("shared.qmz") +
                                  "\" is in use by another Velmora Mailtray (process " +
                                  std::to_string(::getpid()) + ").\n");

    // Once the window lets go of it, the tool may change it ...
    window->action(MainCommand::NewSession)->trigger();
    auto imported = importList();
    EXPECT_EQ(imported->wait(), 0) << imported->err();
    // ... and a session opened again sees the change.
    prompter.files.push_back(dir.file("shared.qmz"));
    window->action(MainCommand::OpenSession)->trigger();
    EXPECT_EQ(session.contactCount(), 2);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(MainWindowTest, ASessionAnotherProgramHoldsSaysReadOnlyAndSaveIsOff) {
    add("ann@example.org", 0);
    prompter.files.push_back(dir.file("held.qmz"));
    window->action(MainCommand::SaveSessionAs)->trigger();
    window->action(MainCommand::NewSession)->trigger();
    store::SessionLock other;
    ASSERT_EQ(other.acquire(dir.file("held.qmz")), store::SessionLock::Outcome::Acquired);
    ASSERT_TRUE(window->openSessionFile(dir.file("held.qmz")));
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - held.qmz (read-only)"_s);
    EXPECT_FALSE(window->action(MainCommand::SaveSession)->isEnabled());
    // Saved under a name of its own, the session is writable again.
    prompter.files.push_back(dir.file("mine.qmz"));
    window->action(MainCommand::SaveSessionAs)->trigger();
    EXPECT_EQ(window->windowTitle(), u"Velmora Mailtray v1.1 - mine.qmz"_s);
    EXPECT_TRUE(window->action(MainCommand::SaveSession)->isEnabled());
}

TEST_F(MainWindowTest, ClosingWithUnsavedChangesAsksAndCancelKeepsTheWindow) {
    showWindow();
    add("ann@example.org", 0);
    QSignalSpy quit(window.get(), &MainWindow::quitRequested);
    prompter.answers.push_back(platform::PromptAnswer::Cancel);
    window->action(MainCommand::Exit)->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(quit.count(), 0);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "The current session has unsaved changes. Save them first?");

    prompter.answers.push_back(platform::PromptAnswer::No);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(quit.count(), 1);
}

TEST_F(MainWindowTest, ExitWithoutChangesAsksNothing) {
    showWindow();
    QSignalSpy quit(window.get(), &MainWindow::quitRequested);
    window->action(MainCommand::Exit)->trigger();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(MainWindowTest, ComposeGuardsShowTheirInformation) {
    store::SessionSettings settings = session.settings();
    settings.smtpServer = "   ";
    session.setSettings(settings);
    window->runCommand(MainCommand::Compose);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "Information");
    EXPECT_EQ(prompter.shown[0].text, composeRefusalText(ComposeRoute::NoServer));
    settings.deliveryMethod = code(store::DeliveryMethod::None);
    session.setSettings(settings);
    window->runCommand(MainCommand::Compose);
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].text, composeRefusalText(ComposeRoute::NoDeliveryMethod));
}

TEST_F(MainWindowTest, ComposeWithTheDefaultClientHandsOverTheMailtrayAndStamps) {
    store::SessionSettings settings = session.settings();
    settings.deliveryMethod = code(store::DeliveryMethod::DefaultMailClient);
    settings.fromAddress = "me@x.org";
    session.setSettings(settings);
    const auto slot = add("a@x.org", 0);
    store::Contact entry = session.contact(slot);
    entry.id = slot;
    session.addMailtrayEntry(entry);
    window->runCommand(MainCommand::Compose);
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0], "mailto:me@x.org?bcc=a@x.org");
    EXPECT_EQ(session.contact(slot).lastContacted, "12/07/2026");
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(window->statusField()->text(),
              u"Total Records: 1 - Mailtray: 1 - Contacted Today: 1"_s);
}

TEST_F(MainWindowTest, HelpOpensTheManualAndAboutNamesTheProduct) {
    window->runCommand(MainCommand::Help);
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0], dir.path() + "/help/manual.html");
    window->runCommand(MainCommand::About);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].title, "About");
    EXPECT_NE(prompter.shown[0].text.find("Velmora Mailtray v1.1"), std::string::npos);
    EXPECT_NE(prompter.shown[0].text.find("Copyright"), std::string::npos);
}

TEST_F(MainWindowTest, F1RunsHelp) {
    showWindow();
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_F1);
    EXPECT_EQ(launcher.opened.size(), 1u);
}

TEST(LoadingWindowTest, ShowsProgressUpToOneHundredWithoutCloseBox) {
    testing_support::qtApp();
    LoadingWindow loading;
    EXPECT_EQ(loading.windowTitle(), u"Loading..."_s);
    EXPECT_EQ(loading.size(), QSize(281, 50));
    EXPECT_TRUE(loading.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(loading.windowFlags() & Qt::WindowCloseButtonHint);
    for (const int step : {5, 10, 25, 20, 30}) {
        loading.advanceStartupProgress(step);
    }
    EXPECT_EQ(loading.progress(), 90);
    loading.advanceStartupProgress(500);
    EXPECT_EQ(loading.progress(), 100);
}

TEST_F(MainWindowTest, FileImportAndExportContactsWorkOnTheShownLists) {
    add("old@x.org", code(store::ContactStatus::Customers));
    window->refreshViews();
    writeFileBytes(dir.file("in.csv"), "Email,Name\nnew@x.org,Ann\n");
    prompter.files = {dir.file("in.csv")};
    window->action(MainCommand::ImportContacts)->trigger();
    ASSERT_EQ(prompter.fileRequests.size(), 1u);
    EXPECT_EQ(prompter.fileRequests[0].title, "Import Contacts (CSV, vCard)...");
    auto* importer = window->findChild<contacts::ImportContactsDialog*>();
    ASSERT_NE(importer, nullptr);
    importer->importButton()->click();
    EXPECT_EQ(window->tabs()->tabText(4), u"All Entries"_s);
    EXPECT_EQ(window->statusField()->text(),
              u"Total Records: 2 - Mailtray: 0 - Contacted Today: 0"_s);
    importer->close();

    window->tabs()->setCurrentIndex(tabIndex(views::ViewTab::Customers));
    prompter.files = {dir.file("out.csv")};
    window->action(MainCommand::ExportContacts)->trigger();
    auto* exporter = window->findChild<contacts::ExportContactsDialog*>();
    ASSERT_NE(exporter, nullptr);
    EXPECT_EQ(exporter->currentChoice()->text(), u"Current list: Customers"_s);
    exporter->exportButton()->click();
    const std::string written = readFileBytes(dir.file("out.csv"));
    EXPECT_NE(written.find("old@x.org"), std::string::npos);
    EXPECT_EQ(written.find("new@x.org"), std::string::npos);
}

} // namespace velmora::app
