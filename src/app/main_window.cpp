#include "app/main_window.h"

#include "app/file_commands.h"
#include "contacts/add_group_dialog.h"
#include "contacts/contact_commands.h"
#include "contacts/contact_dialog.h"
#include "contacts/contact_export.h"
#include "contacts/duplicates_window.h"
#include "contacts/email_list_dialog.h"
#include "contacts/export_contacts_dialog.h"
#include "contacts/import_contacts_dialog.h"
#include "contacts/mailtray_window.h"
#include "contacts/selection_dialog.h"
#include "delivery/keyring_password.h"
#include "delivery/mail_client.h"
#include "delivery/relay_pool.h"
#include "delivery/windows/delivery_settings_dialog.h"
#include "delivery/windows/feedback_window.h"
#include "delivery/windows/send_progress_window.h"
#include "platform/qt_images.h"
#include "platform/qt_menus.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"
#include "views/contact_list_model.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <algorithm>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace velmora::app {

using platform::toQString;

namespace {

// Start geometry of the controls that follow the window's size; they never
// shrink below it.
constexpr int kButtonRowHeight = 35;
constexpr int kLeftColumnWidth = 195;
constexpr int kFilterTreeHeight = 476;
constexpr int kTabPanelWidth = 605;
constexpr int kTabPanelHeight = 530;
constexpr int kLogoX = 382;
constexpr int kLogoWidth = 420;
constexpr int kLogoHeight = 35;
constexpr int kWindowWidth = 810;
constexpr int kWindowHeight = 610;

const QColor kPlaceholderColour(0x44, 0x44, 0x44);

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

void MainWindow::WindowHooks::setWindowTitle(const std::string& title) {
    window_.setWindowTitle(toQString(title));
}

MainWindow::MainWindow(store::Session& session, const platform::ProgramImages& images,
                       MainWindowServices services, QWidget* parent)
    : QMainWindow(parent), session_(session), images_(images), services_(std::move(services)),
      hooks_(*this) {
    setWindowTitle(toQString(store::kProductTitle) + u" - Please wait..."_s);
    buildMenus();
    buildControls();
    resize(kWindowWidth, kWindowHeight + menuBar()->sizeHint().height());
    // The controls that follow the window never shrink below their start
    // size, so neither does the window.
    setMinimumSize(size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

MainWindow::~MainWindow() {
    // The compose window reads the session and the views.
    delete composeWindow_;
    // The lists read the views and the session, which go before the child
    // widgets would: take the lists down first.
    delete takeCentralWidget();
}

void MainWindow::buildMenus() {
    platform::MenuPlacer menus(*menuBar(), kTopMenus);
    for (const MenuEntry& entry : mainMenu()) {
        QMenu* menu = menus.menuFor(entry.menu, entry.submenu);
        if (entry.kind == MenuEntry::Kind::Separator) {
            menu->addSeparator();
            continue;
        }
        QAction* item = platform::addMenuItem(*menu, entry.caption, entry.shortcut);
        const MainCommand command = entry.command;
        connect(item, &QAction::triggered, this, [this, command] { runCommand(command); });
        actions_[command] = item;
        if (command == MainCommand::OpenSession) {
            recentMenu_ = menu->addMenu(u"&Recent Sessions"_s);
        }
    }
    rebuildRecentSessionsMenu();
}

void MainWindow::buildControls() {
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Row of image buttons at their fixed places, the logo keeping its
    // distance to the right edge.
    auto* topRow = new QHBoxLayout;
    topRow->setContentsMargins(0, 0, kWindowWidth - kLogoX - kLogoWidth, 0);
    topRow->setSpacing(0);
    auto* buttonStrip = new QWidget(central);
    const auto& buttons = imageButtons();
    buttonStrip->setFixedSize(buttons.back().x + kImageButtonSize, kButtonRowHeight);
    for (const ImageButton& entry : buttons) {
        QToolButton* button = platform::addImageButton(
            *buttonStrip, QRect(entry.x, 0, kImageButtonSize, kImageButtonSize),
            images_.icon(entry.image), entry.tooltip);
        const MainCommand command = entry.command;
        connect(button, &QToolButton::clicked, this, [this, command] { runCommand(command); });
        imageButtons_.push_back(button);
    }
    topRow->addWidget(buttonStrip);
    topRow->addStretch(1);
    logo_ = new QLabel(central);
    logo_->setFixedSize(kLogoWidth, kLogoHeight);
    logo_->setPixmap(images_.pixmap(platform::ImageName::Banner));
    topRow->addWidget(logo_);
    outer->addLayout(topRow);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 5, 5);
    body->setSpacing(4);

    auto* left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(2);
    searchField_ = new QLineEdit(central);
    searchField_->setFixedSize(kLeftColumnWidth, 24);
    searchField_->installEventFilter(this);
    setSearchFieldText(toQString(views::kSearchPlaceholder), true);
    connect(searchField_, &QLineEdit::returnPressed, this,
            [this] { runCommand(MainCommand::ApplyFilters); });
    left->addWidget(searchField_);

    auto* filterButtons = new QHBoxLayout;
    filterButtons->setSpacing(0);
    clearButton_ = new QPushButton(u"Clear Filters"_s, central);
    clearButton_->setFixedSize(96, 24);
    applyButton_ = new QPushButton(u"Apply Filters"_s, central);
    applyButton_->setFixedSize(100, 24);
    connect(clearButton_, &QPushButton::clicked, this,
            [this] { runCommand(MainCommand::ClearFilters); });
    connect(applyButton_, &QPushButton::clicked, this,
            [this] { runCommand(MainCommand::ApplyFilters); });
    filterButtons->addWidget(clearButton_);
    filterButtons->addWidget(applyButton_);
    left->addLayout(filterButtons);
    left->addSpacing(2);

    filterTree_ = new QTreeWidget(central);
    filterTree_->setHeaderHidden(true);
    filterTree_->setColumnCount(1);
    filterTree_->setFixedWidth(kLeftColumnWidth);
    filterTree_->setMinimumHeight(kFilterTreeHeight);
    filterTree_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    left->addWidget(filterTree_, 1);
    body->addLayout(left);

    tabs_ = new QTabWidget(central);
    tabs_->setMinimumSize(kTabPanelWidth, kTabPanelHeight);
    tabs_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    for (int index = 0; index < views::kTabCount; ++index) {
        const auto tab = static_cast<views::ViewTab>(index);
        auto* page = new QWidget(tabs_);
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->setContentsMargins(3, 3, 3, 3);
        auto* view = new QTableView(page);
        auto* model = new views::ContactListModel(session_, views_, tab, &images_, view);
        view->setModel(model);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setShowGrid(false);
        view->setWordWrap(false);
        view->setIconSize(QSize(16, 16));
        view->verticalHeader()->hide();
        view->verticalHeader()->setDefaultSectionSize(20);
        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view->horizontalHeader()->setHighlightSections(false);
        // Notes takes the room that is left, so that its caption shows at
        // the start size; the others keep their widths, widened where this
        // style's font needs more for the caption.
        view->horizontalHeader()->setStretchLastSection(true);
        for (int column = 0; column + 1 < views::kListColumnCount; ++column) {
            view->setColumnWidth(
                column, std::max(views::kListColumns[static_cast<std::size_t>(column)].width,
                                 view->horizontalHeader()->sectionSizeHint(column)));
        }
        // The selection stays visible when the list loses the focus.
        QPalette palette = view->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         palette.color(QPalette::Active, QPalette::Highlight));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Active, QPalette::HighlightedText));
        view->setPalette(palette);
        pageLayout->addWidget(view);
        tabs_->addTab(page, toQString(tabCaption(tab)));
        lists_[static_cast<std::size_t>(index)] = view;
        models_[static_cast<std::size_t>(index)] = model;
    }
    body->addWidget(tabs_, 1);
    outer->addLayout(body, 1);
    setCentralWidget(central);

    statusField_ = new QLabel(this);
    statusField_->setMinimumWidth(600);
    statusField_->setText(toQString(views::statusLineText(store::Session())));
    statusBar()->addWidget(statusField_);
    statusBar()->setSizeGripEnabled(true);
}

QTableView* MainWindow::listView(views::ViewTab tab) const {
    return lists_[static_cast<std::size_t>(tabIndex(tab))];
}

views::ContactListModel* MainWindow::listModel(views::ViewTab tab) const {
    return models_[static_cast<std::size_t>(tabIndex(tab))];
}

QAction* MainWindow::action(MainCommand command) const {
    const auto found = actions_.find(command);
    return found == actions_.end() ? nullptr : found->second;
}

// --- search field

void MainWindow::setSearchFieldText(const QString& text, bool placeholder) {
    QPalette palette = searchField_->palette();
    palette.setColor(QPalette::Text, placeholder ? kPlaceholderColour : QColor(Qt::black));
    searchField_->setPalette(palette);
    searchField_->setText(text);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == searchField_) {
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::MouseButtonPress:
        case QEvent::KeyPress:
            // The first use of the field takes its placeholder away.
            if (searchField_->text() == toQString(views::kSearchPlaceholder)) {
                setSearchFieldText(QString(), false);
            }
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- views

void MainWindow::refreshViews() {
    if (searchField_->text() != toQString(views::kSearchPlaceholder)) {
        setSearchFieldText(QString(), false);
    }
    for (views::ContactListModel* model : models_) {
        model->beginRebuild();
    }
    views_.refresh(session_);
    for (views::ContactListModel* model : models_) {
        model->endRebuild();
    }
    tabs_->setTabText(tabIndex(views::ViewTab::AllEntries),
                      toQString(views_.caption(views::ViewTab::AllEntries)));
    rebuildFilterTree();
}

void MainWindow::rebuildFilterTree() {
    // Remember the selected item's position so that the same line stays
    // selected after the rebuild.
    int selectedPosition = -1;
    {
        int position = 0;
        for (QTreeWidgetItemIterator it(filterTree_); *it != nullptr; ++it, ++position) {
            if ((*it)->isSelected()) {
                selectedPosition = position;
                break;
            }
        }
    }
    filterTree_->clear();
    QTreeWidgetItem* heading = nullptr;
    std::vector<QTreeWidgetItem*> ordered;
    for (const views::FilterTreeItem& entry : views_.tree()) {
        QTreeWidgetItem* item = nullptr;
        if (entry.level == 0 || heading == nullptr) {
            item = new QTreeWidgetItem(filterTree_);
            heading = item;
        } else {
            item = new QTreeWidgetItem(heading);
        }
        item->setText(0, toQString(entry.caption));
        item->setData(0, Qt::UserRole, entry.number);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        ordered.push_back(item);
    }
    filterTree_->expandAll();
    if (selectedPosition >= 0 && static_cast<std::size_t>(selectedPosition) < ordered.size()) {
        filterTree_->setCurrentItem(ordered[static_cast<std::size_t>(selectedPosition)]);
    }
}

std::vector<std::int32_t> MainWindow::checkedTreeNumbers() const {
    std::vector<std::int32_t> numbers;
    for (QTreeWidgetItemIterator it(filterTree_); *it != nullptr; ++it) {
        if ((*it)->checkState(0) == Qt::Checked) {
            numbers.push_back((*it)->data(0, Qt::UserRole).toInt());
        }
    }
    return numbers;
}

std::int32_t MainWindow::selectedTreeItemNumber() const {
    const QList<QTreeWidgetItem*> selected = filterTree_->selectedItems();
    if (selected.isEmpty()) {
        return 0;
    }
    return selected.front()->data(0, Qt::UserRole).toInt();
}

void MainWindow::applyFilters() {
    views::ContactListModel* model = listModel(views::ViewTab::AllEntries);
    model->beginRebuild();
    views_.applyFilters(session_, searchField_->text().toStdString(), checkedTreeNumbers());
    model->endRebuild();
    tabs_->setCurrentIndex(tabIndex(views::ViewTab::AllEntries));
    tabs_->setTabText(tabIndex(views::ViewTab::AllEntries),
                      toQString(views_.caption(views::ViewTab::AllEntries)));
}

void MainWindow::clearFilters() {
    setSearchFieldText(QString(), false);
    tabs_->setTabText(tabIndex(views::ViewTab::AllEntries), toQString(views::kAllEntriesCaption));
    refreshViews();
}

void MainWindow::updateStatusLine() {
    statusField_->setText(toQString(views::statusLineText(session_)));
}

std::vector<std::int32_t> MainWindow::selectedRows() const {
    const int current = tabs_->currentIndex();
    if (current < 0 || current >= views::kTabCount) {
        return {};
    }
    const QTableView* view = lists_[static_cast<std::size_t>(current)];
    const views::ContactListModel* model = models_[static_cast<std::size_t>(current)];
    // Walk the selection's ranges rather than one index per cell: a select-all
    // of a million rows is a single range.
    std::vector<int> rows;
    for (const QItemSelectionRange& range : view->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            rows.push_back(row);
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<std::int32_t> chosen;
    chosen.reserve(rows.size());
    for (const int row : rows) {
        const std::int32_t slot = model->slotAt(row);
        if (slot != 0) {
            chosen.push_back(slot);
        }
    }
    return chosen;
}

const std::vector<std::int32_t>& MainWindow::filteredResults() const {
    return views_.list(views::ViewTab::AllEntries).rowSlots;
}

// --- dispatch

void MainWindow::runCommand(MainCommand command) {
    emit commandStarted(command);
    switch (command) {
    case MainCommand::NewSession:
    case MainCommand::OpenSession:
    case MainCommand::SaveSession:
    case MainCommand::SaveSessionAs:
        fileCommand(command);
        break;
    case MainCommand::ImportContacts:
        openImportContactsDialog();
        break;
    case MainCommand::ExportContacts:
        openExportContactsDialog();
        break;
    case MainCommand::Exit:
        close();
        break;
    case MainCommand::AddCampaignGroup:
        openAddCampaignGroupDialog();
        break;
    case MainCommand::RemoveCampaignGroup:
        removeCampaignGroup();
        break;
    case MainCommand::AddContact:
        openAddContactDialog();
        break;
    case MainCommand::AddEmailList:
        openAddEmailListDialog();
        break;
    case MainCommand::EditEntries:
        openEditEntriesDialog();
        break;
    case MainCommand::DeleteEntries:
        deleteSelectedEntries();
        break;
    case MainCommand::RemoveDuplicates:
        removeDuplicates();
        break;
    case MainCommand::SetGroup:
        openSetGroupDialog();
        break;
    case MainCommand::SetStatus:
        openSetStatusDialog();
        break;
    case MainCommand::SetTag:
        openSetTagDialog();
        break;
    case MainCommand::ApplyFilters:
        applyFilters();
        break;
    case MainCommand::ClearFilters:
        clearFilters();
        break;
    case MainCommand::Mailtray:
        openMailtrayWindow();
        break;
    case MainCommand::ServerSettings:
        openDeliverySettingsDialog();
        break;
    case MainCommand::ProcessFeedback:
        openFeedbackWindow();
        break;
    case MainCommand::Compose:
        compose();
        break;
    case MainCommand::Help:
        showHelp();
        break;
    case MainCommand::About:
        showAbout();
        break;
    }
}

FileCommandContext MainWindow::fileContext() {
    return FileCommandContext{session_, hooks_, services_.prompter, services_.profileDirectory,
                              &sessionFile_};
}

void MainWindow::fileCommand(MainCommand command) {
    FileCommandContext context = fileContext();
    const std::string before = session_.sessionFileName;
    switch (command) {
    case MainCommand::NewSession:
        newSessionCommand(context);
        break;
    case MainCommand::OpenSession: {
        openSessionCommand(context);
        // The password first: a resumed run sends at once.
        fetchPasswordAfterLoad();
        if (session_.sessionFileName != before) {
            offerResume();
        }
        break;
    }
    case MainCommand::SaveSession:
        saveSessionCommand(context);
        break;
    case MainCommand::SaveSessionAs:
        saveSessionAsCommand(context);
        break;
    default:
        break;
    }
    showSessionFileState();
    rememberSessionFile(before);
}

void MainWindow::showSessionFileState() {
    setWindowTitle(toQString(openSessionTitle(session_, sessionFile_)));
    action(MainCommand::SaveSession)->setEnabled(!sessionFile_.readOnly);
}

bool MainWindow::openSessionFile(const std::string& path) {
    FileCommandContext context = fileContext();
    const std::string before = session_.sessionFileName;
    const bool loaded = openSessionFileCommand(context, path);
    showSessionFileState();
    if (loaded) {
        fetchPasswordAfterLoad();
        rememberSessionFile(before);
        if (session_.sessionFileName != before) {
            offerResume();
        }
    } else {
        // A Recent Sessions entry that no longer opens goes from the list.
        rebuildRecentSessionsMenu();
    }
    return loaded;
}

// A session that keeps its password in the desktop keyring gets it now, so
// that sending needs no further question.
void MainWindow::fetchPasswordAfterLoad() {
    if (services_.passwords != nullptr && delivery::relaysUseKeyring(session_.settings())) {
        for (const std::string& problem :
             delivery::fetchRelayPasswords(session_, *services_.passwords)) {
            services_.prompter.message("Information", problem);
        }
    }
    if (!delivery::keepsPasswordInKeyring(session_.settings()) ||
        !session_.settings().password.empty()) {
        return;
    }
    if (services_.passwords == nullptr) {
        services_.prompter.message("Information", delivery::kNoKeyringInThisBuildText);
    } else if (const auto problem =
                   delivery::fetchKeyringPassword(session_, *services_.passwords)) {
        services_.prompter.message("Information", *problem);
    }
}

// A session that now has a file of its own (opened, or saved under a new
// name) goes to the front of Recent Sessions.
void MainWindow::rememberSessionFile(const std::string& before) {
    if (services_.recentSessions == nullptr || session_.isUntitled() ||
        session_.sessionFileName == before) {
        return;
    }
    services_.recentSessions->save(
        withRecentSession(services_.recentSessions->load(), session_.sessionFileName));
    rebuildRecentSessionsMenu();
}

void MainWindow::rebuildRecentSessionsMenu() {
    recentMenu_->clear();
    std::vector<std::string> paths;
    if (services_.recentSessions != nullptr) {
        const std::vector<std::string> stored = services_.recentSessions->load();
        paths = existingRecentSessions(stored, &pathExists);
        if (paths != stored) {
            services_.recentSessions->save(paths);
        }
    }
    int number = 1;
    for (const std::string& path : paths) {
        QString caption = toQString(path);
        caption.replace(u'&', u"&&"_s);
        QAction* item = recentMenu_->addAction(u"&%1 %2"_s.arg(number++).arg(caption));
        item->setData(toQString(path));
        connect(item, &QAction::triggered, this, [this, path] { openSessionFile(path); });
    }
    recentMenu_->setEnabled(!paths.empty());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    FileCommandContext context = fileContext();
    const bool mayClose = mayDiscardSession(context);
    showSessionFileState(); // its Save may have gone through Save As
    if (!mayClose) {
        event->ignore();
        return;
    }
    event->accept();
    emit quitRequested();
}

void MainWindow::compose() {
    const ComposeRoute route = composeRoute(session_.settings());
    switch (route) {
    case ComposeRoute::NoDeliveryMethod:
    case ComposeRoute::NoServer:
        services_.prompter.message("Information", std::string(composeRefusalText(route)));
        break;
    case ComposeRoute::OpenComposeWindow:
        if (!offerResume()) {
            openComposeWindow(session_.settings().editorFormat);
        }
        break;
    case ComposeRoute::DefaultMailClient:
    case ComposeRoute::CustomMailClient:
        handOffToMailClient();
        break;
    case ComposeRoute::Nothing:
        break;
    }
}

bool MainWindow::offerResume() {
    const std::optional<delivery::RunRecord> run = delivery::interruptedRun(session_);
    if (!run ||
        services_.prompter.message("Confirm", resumeQuestion(*run),
                                   platform::PromptButtons::YesNo) != platform::PromptAnswer::Yes) {
        return false;
    }
    delivery::MessageDraft draft;
    delivery::DeliveryPlan plan;
    std::string error;
    if (prepareResume(session_, *run, draft, plan, error)) {
        delivery::openSendProgressWindow(this, services_.passwords)
            ->resume(session_, draft, plan, deliveryEnvironment());
    } else {
        services_.prompter.message("Information", error);
    }
    refreshViews();
    updateStatusLine();
    return true;
}

delivery::SendRunEnvironment MainWindow::deliveryEnvironment() {
    return delivery::SendRunEnvironment{services_.clock, contentTypes_, delivery::tcpConnections(),
                                        delivery::localHostName()};
}

void MainWindow::showHelp() {
    const std::string manual =
        helpFilePath(session_.startDirectory, services_.installedManuals, &pathExists);
    if (!services_.launcher.openDocument(manual)) {
        services_.prompter.message("Information", noManualHandlerText(manual));
    }
}

void MainWindow::showAbout() {
    services_.prompter.message(kAboutTitle, aboutText());
}

// --- where the contact, Mailtray, delivery and composer windows plug in.

bool MainWindow::raiseSingleWindow(SingleWindow kind) {
    const auto found = singleWindows_.find(kind);
    if (found == singleWindows_.end() || found->second.isNull()) {
        return false;
    }
    platform::bringToFront(*found->second);
    return true;
}

void MainWindow::showSingleWindow(SingleWindow kind, QWidget* window) {
    singleWindows_[kind] = window;
    platform::placeOver(*window, this);
    window->show();
}

std::vector<QWidget*> MainWindow::openWindows() const {
    std::vector<QWidget*> windows;
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && widget->isWindow() && widget->isVisible()) {
            windows.push_back(widget);
        }
    }
    return windows;
}

void MainWindow::openAddContactDialog() {
    if (!raiseSingleWindow(SingleWindow::AddContact)) {
        showSingleWindow(SingleWindow::AddContact,
                         new contacts::ContactDialog(session_, hooks_, services_.clock, this));
    }
}

void MainWindow::openAddEmailListDialog() {
    if (!raiseSingleWindow(SingleWindow::AddEmailList)) {
        showSingleWindow(SingleWindow::AddEmailList,
                         new contacts::EmailListDialog(session_, hooks_, services_.prompter,
                                                       services_.clipboard, services_.clock, this));
    }
}

void MainWindow::openImportContactsDialog() {
    const std::optional<std::string> path = services_.prompter.openFileName(
        contacts::kImportContactsTitle, contacts::kImportContactsFilter, "");
    if (path) {
        (new contacts::ImportContactsDialog(session_, hooks_, services_.clock, *path, this))
            ->show();
    }
}

void MainWindow::openExportContactsDialog() {
    const auto tab = static_cast<views::ViewTab>(tabs_->currentIndex());
    contacts::ShownLists lists;
    lists.currentCaption = std::string(views_.caption(tab));
    lists.currentRows = views_.list(tab).rowSlots;
    lists.filtered = views_.isFiltered();
    lists.filteredRows = views_.list(views::ViewTab::AllEntries).rowSlots;
    (new contacts::ExportContactsDialog(
         session_, std::move(lists), services_.prompter,
         contacts::exportStartPath(session_, services_.profileDirectory), this))
        ->show();
}

void MainWindow::openEditEntriesDialog() {
    contacts::ContactDialog::openForEdit(session_, hooks_, services_.prompter, this);
}

void MainWindow::deleteSelectedEntries() {
    deleteEntriesCommand(session_, hooks_, services_.prompter);
}

void MainWindow::removeDuplicates() {
    if (raiseSingleWindow(SingleWindow::RemoveDuplicates)) {
        return;
    }
    auto* window = new contacts::DuplicatesWindow(session_, hooks_, this);
    singleWindows_[SingleWindow::RemoveDuplicates] = window;
    window->run();
}

void MainWindow::openSelectionDialog(int kind) {
    const auto dialogKind = static_cast<contacts::SelectionDialog::Kind>(kind);
    const SingleWindow single =
        dialogKind == contacts::SelectionDialog::Kind::Group    ? SingleWindow::SetGroup
        : dialogKind == contacts::SelectionDialog::Kind::Status ? SingleWindow::SetStatus
                                                                : SingleWindow::SetTag;
    if (!raiseSingleWindow(single)) {
        showSingleWindow(single, new contacts::SelectionDialog(dialogKind, session_, hooks_,
                                                               services_.prompter, &images_, this));
    }
}

void MainWindow::openSetGroupDialog() {
    openSelectionDialog(static_cast<int>(contacts::SelectionDialog::Kind::Group));
}

void MainWindow::openSetStatusDialog() {
    openSelectionDialog(static_cast<int>(contacts::SelectionDialog::Kind::Status));
}

void MainWindow::openSetTagDialog() {
    openSelectionDialog(static_cast<int>(contacts::SelectionDialog::Kind::Tag));
}

void MainWindow::openAddCampaignGroupDialog() {
    if (!raiseSingleWindow(SingleWindow::AddCampaignGroup)) {
        showSingleWindow(SingleWindow::AddCampaignGroup,
                         new contacts::AddGroupDialog(session_, hooks_, this));
    }
}

void MainWindow::removeCampaignGroup() {
    removeCampaignGroupCommand(session_, hooks_, services_.prompter);
}

void MainWindow::openMailtrayWindow() {
    if (!raiseSingleWindow(SingleWindow::Mailtray)) {
        showSingleWindow(SingleWindow::Mailtray,
                         new contacts::MailtrayWindow(session_, hooks_, services_.prompter,
                                                      services_.clipboard, services_.clock,
                                                      &images_, this));
    }
}

// A second copy of the settings would put back old values when applied
// after the first: the open one comes to the front instead.
void MainWindow::openDeliverySettingsDialog() {
    if (!raiseSingleWindow(SingleWindow::DeliverySettings)) {
        showSingleWindow(SingleWindow::DeliverySettings,
                         new delivery::DeliverySettingsDialog(session_, services_.prompter, this,
                                                              services_.passwords,
                                                              &services_.launcher));
    }
}

void MainWindow::openFeedbackWindow() {
    if (raiseSingleWindow(SingleWindow::Feedback)) {
        return;
    }
    delivery::FeedbackWindowServices services{
        session_, services_.prompter, services_.clock, services_.passwords, [this] {
            // Read-only, Save would ask for another file; the ledger stays beside this one.
            if (sessionFile_.readOnly) {
                return false;
            }
            FileCommandContext context = fileContext();
            const std::string before = session_.sessionFileName;
            const bool saved = saveSessionCommand(context);
            rememberSessionFile(before);
            showSessionFileState();
            return saved;
        }};
    showSingleWindow(SingleWindow::Feedback, new delivery::FeedbackWindow(services, this));
}

void MainWindow::openComposeWindow(std::int32_t editorFormat) {
    const store::EditorFormat format = editorFormat == code(store::EditorFormat::Html)
                                           ? store::EditorFormat::Html
                                           : store::EditorFormat::PlainText;
    compose::ComposeServices services{session_,
                                      images_,
                                      services_.prompter,
                                      [this] { return filteredResults(); },
                                      [this] { showHelp(); },
                                      [this] { showAbout(); },
                                      services_.profileDirectory,
                                      deliveryEnvironment(),
                                      &services_.clipboard};
    services.keyring = services_.passwords;
    // Both programs are installed into the same folder; else the one on PATH.
    const QString besideUs = QCoreApplication::applicationDirPath() + u"/mailtray"_s;
    if (QFileInfo(besideUs).isExecutable()) {
        services.mailtrayProgram = besideUs.toStdString();
    }
    compose::openComposeWindow(format, services, composeWindow_);
}
// The hand-off only stamps dates: the status line and the shown dates change,
// while the lists keep their rows, filter, search text and checks.
void MainWindow::showHandoffStamps() {
    updateStatusLine();
    for (views::ContactListModel* model : models_) {
        model->refreshCells();
    }
}

// The hand-off stamps the Mailtray's contacts whatever the client does; the
// status line shows the new count before the client starts.
void MainWindow::handOffToMailClient() {
    std::int32_t leftOut = 0;
    const delivery::HandoffResult result = delivery::handOffToMailClient(
        session_, services_.launcher, formatContactDate(services_.clock.now()), &leftOut);
    showHandoffStamps();
    if (leftOut > 0) {
        services_.prompter.message("Information", delivery::leftOutOfHandoffText(leftOut));
    }
    if (result == delivery::HandoffResult::CouldNotStart) {
        services_.prompter.message("Information",
                                   delivery::mailClientFailedText(session_.settings()));
    }
}

} // namespace velmora::app
