#include "gui/shell/main_frame.h"

#include "core/capture/capture_session.h"
#include "core/capture/native_path.h"

#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "core/app/toolbar_art.h"
#include "core/capture/adapter_list.h"
#include "core/capture/adapter_name.h"
#include "gui/shell/about_dialog.h"
#include "gui/shell/help_window.h"
#include "gui/shell/select_adapter_dialog.h"
#include "gui/shell/view.h"

#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <utility>

using namespace qarsilo;

namespace {

// The menu as a flat table: level 0 are the menu bar's titles, a row without a
// command opens a submenu, a row without text is a separator.
struct MenuRow {
    int level;
    const char* text;
    int command;
};

constexpr MenuRow kMenu[] = {
    {0, "File", 0},
    {1, "&Select Adapter", cmd::SelectAdapter},
    {1, "Open Capture File...", cmd::OpenCaptureFile},
    {1, "Save Captured Frames...", cmd::SaveFrames},
    {1, "Address Book Location...", cmd::AddressBookLocation},
    {1, nullptr, 0},
    {1, "Recent Capture Files", 0},
    {1, nullptr, 0},
    {1, "&Exit", cmd::Exit},
    {0, "Edit", 0},
    {1, "&Find...", cmd::Find},
    {1, "Find &Next", cmd::FindNext},
    {1, "Find &Previous", cmd::FindPrevious},
    {0, "View", 0},
    {1, "&Time Format", 0},
    {2, "As captured", cmd::TimeAsCaptured},
    {2, "Date and time of day", cmd::TimeDateAndTime},
    {2, "Seconds since first frame", cmd::TimeSinceFirstFrame},
    {1, "&Replay Speed", 0},
    {2, "Real time", cmd::ReplayRealTime},
    {2, "10x", cmd::ReplayTenTimes},
    {2, "As fast as possible", cmd::ReplayFastest},
    {0, "Go", 0},
    {1, "&Go to Frame...", cmd::GoToFrame},
    {0, "Network Statistics", 0},
    {1, "&General", cmd::General},
    {1, "Single", cmd::Single},
    {1, "Conversations", cmd::Conversations},
    {1, "Endpoints", cmd::Endpoints},
    {0, "Network Charts", 0},
    {1, "Packet Size Distribution", cmd::PacketSize},
    {1, "&Protocol Distribution", 0},
    {2, "&Network Layer Protocol", cmd::PDNetworkLayer},
    {2, "&IPv4-based Protocol", cmd::PDIPv4},
    {2, "&Application Layer Protocol", cmd::PDApplication},
    {2, "IPv&6-based Protocol", cmd::PDIPv6},
    {2, "&IPv4 and IPv6 Comparison ", cmd::PDv4v6},
    {1, nullptr, 0},
    {1, "&Cummulative Statistic", cmd::Cumulative},
    {0, "Network Analyzer", 0},
    {1, "&Capture And Decode", cmd::CaptureDecode},
    {0, "Network Trace", 0},
    {1, "&Single", cmd::TraceSingle},
    {0, "&Tools", 0},
    {1, "&Address Book", cmd::AddressBook},
    {1, "Spill Folder...", cmd::SpillFolder},
    {0, "&Help", 0},
    {1, "Contents", cmd::HelpContents},
    {1, "Index", cmd::HelpIndex},
    {1, "Search", cmd::HelpSearch},
    {1, nullptr, 0},
    {1, "About", cmd::About},
};

// Prompts shown in the status bar while a command is under the mouse.
struct Prompt {
    int command;
    const char* text;
};

constexpr Prompt kPrompts[] = {
    {cmd::SelectAdapter, "Choose the network adapter to capture on"},
    {cmd::OpenCaptureFile, "Read the frames of a capture file instead of an adapter"},
    {cmd::SaveFrames, "Write the analyzer's frames to a pcap file"},
    {cmd::AddressBookLocation, "Choose the address book: a file or a shared PostgreSQL book"},
    {cmd::Exit, "Quit the program"},
    {cmd::General, "Statistics of the whole segment"},
    {cmd::Single, "Statistics of one station"},
    {cmd::Conversations, "Traffic between each pair of addresses"},
    {cmd::Endpoints, "Traffic of each address"},
    {cmd::PacketSize, "Traffic by frame size"},
    {cmd::PDNetworkLayer, "Traffic by network layer protocol"},
    {cmd::PDIPv4, "Traffic by IPv4-based protocol"},
    {cmd::PDApplication, "Traffic by application layer protocol"},
    {cmd::PDIPv6, "Traffic by IPv6-based protocol"},
    {cmd::PDv4v6, "IPv4 traffic beside IPv6 traffic"},
    {cmd::Cumulative, "Charts add up since they opened instead of showing each second"},
    {cmd::ReplayRealTime, "Charts replay capture files as they were captured"},
    {cmd::ReplayTenTimes, "Charts replay capture files ten times faster than captured"},
    {cmd::ReplayFastest, "Charts replay capture files as fast as they can be read"},
    {cmd::CaptureDecode, "Capture frames and decode them"},
    {cmd::TraceSingle, "Draw the conversations of one station"},
    {cmd::AddressBook, "Open the network address book"},
    {cmd::SpillFolder, "Choose where the analyzer keeps the frames past its memory budget"},
    {cmd::HelpContents, "Contents of the manual"},
    {cmd::HelpIndex, "Index of the manual"},
    {cmd::HelpSearch, "Search the manual"},
    {cmd::About, "Program name and version"},
};

struct ToolButtonRow {
    int command;
    const char* tip;
};

constexpr ToolButtonRow kMainButtons[] = {
    {cmd::ToolbarStatistic, "Network Statistic"}, {cmd::ToolbarChart, "Network Chart"},
    {cmd::AddressBook, "Network Address Book"},   {cmd::ToolbarAnalyzer, "Network Analyzer"},
    {cmd::ToolbarTrace, "Network Trace"},
};

// Tool tips of the view toolbar's images, by image number.
constexpr const char* kViewImageTips[] = {"Bar Graph", "Pie Chart", "Start", "Stop",
                                          "Address Book+"};

// The view toolbar as the frame first shows it: every image once.
const QList<ViewButton> kDefaultViewButtons = {
    {cmd::BarGraph, viewimage::BarGraph},
    {cmd::PieChart, viewimage::PieChart},
    {cmd::Start, viewimage::Start},
    {cmd::Stop, viewimage::Stop},
    {cmd::AddressBookPlus, viewimage::AddressBookPlus},
};

// The commands that are disabled while their own view is shown.
constexpr int kNotWhileShown[] = {cmd::General,     cmd::Single,        cmd::PacketSize,
                                  cmd::TraceSingle, cmd::PDApplication, cmd::Conversations,
                                  cmd::Endpoints};

QIcon makeIcon(const QImage& normal, const QImage& hot, const QImage& disabled) {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(hot), QIcon::Active);
    icon.addPixmap(QPixmap::fromImage(disabled), QIcon::Disabled);
    return icon;
}

QList<QIcon> icons(ToolbarStrip strip) {
    const auto normal = toolbarImages(strip, ImageState::Normal);
    const auto hot = toolbarImages(strip, ImageState::Hot);
    const auto disabled = toolbarImages(strip, ImageState::Disabled);
    QList<QIcon> out;
    for (int i = 0; i < normal.size(); ++i)
        out << makeIcon(normal[i], hot[i], disabled[i]);
    return out;
}

} // namespace

CMainFrame::CMainFrame(ViewRegistry registry, QWidget* parent)
    : QMainWindow(parent)
    , m_registry(std::move(registry)) {
    setWindowTitle(QStringLiteral("Main View"));
    setWindowIcon(QIcon(QPixmap::fromImage(applicationImage())));
    // Smaller than this, the statistics and trace views cut their labels;
    // never larger than the screen, though.
    const QScreen* screen = QGuiApplication::primaryScreen();
    setMinimumSize(screen ? kMinimumSize.boundedTo(screen->availableGeometry().size())
                          : kMinimumSize);
    resize(kWidth, kHeight);
    setDockOptions(QMainWindow::AnimatedDocks);

    buildMenu();
    buildToolBars();
    buildStatusBar();
    setAcceptDrops(true);
    restorePosition();

    m_adapterDialog = runSelectAdapterDialog;
    m_fileChooser = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(
            parent, QStringLiteral("Open Capture File"), QString(),
            QStringLiteral("Capture files (*.pcap *.pcapng *.cap *.dmp);;All files (*)"));
    };
    m_folderChooser = [](QWidget* parent, const QString& current) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Spill Folder"), current);
    };

    // Toolbar buttons follow the state of their commands, as menus do when opened.
    auto* uiTimer = new QTimer(this);
    connect(uiTimer, &QTimer::timeout, this, &CMainFrame::updateCommandUi);
    uiTimer->start(250);

    // A stream source may take a while to send its capture (a remote login):
    // the operator sees what the window waits for, and that Stop ends it.
    qarsilo::CaptureSession::setStreamWaitHandler(
        [this](qarsilo::StreamWait state, const QString& adapter) {
            onStreamWait(static_cast<int>(state), adapter);
        });

    switchToView(view::Start);
}

void CMainFrame::onStreamWait(int state, const QString& adapter) {
    using qarsilo::StreamWait;
    const qarsilo::AdapterName name = qarsilo::parseAdapterName(adapter);
    const QString source = name.kind == qarsilo::AdapterKind::StandardInput
                               ? QStringLiteral("the standard input")
                               : name.argument;
    switch (static_cast<StreamWait>(state)) {
    case StreamWait::Waiting:
        showStatusMessage(
            QStringLiteral("Waiting for the capture stream from %1 (Stop ends the wait)")
                .arg(source),
            0);
        break;
    case StreamWait::Arrived:
        showStatusMessage(QStringLiteral("Capture stream from %1 arrived").arg(source));
        break;
    case StreamWait::Stopped:
        statusBar()->clearMessage();
        break;
    case StreamWait::Failed:
        // The failure has been told; the window returns to its stopped state
        // as after the operator's own Stop. A modal dialog that captures
        // (autodiscovery) owns the failed source itself, not the view behind it.
        statusBar()->clearMessage();
        QTimer::singleShot(0, this, [this] {
            if (m_view && !QApplication::activeModalWidget())
                m_view->onCommand(cmd::Stop);
            updateCommandUi();
        });
        break;
    }
}

CMainFrame::~CMainFrame() {
    qarsilo::CaptureSession::setStreamWaitHandler({});
    // Views stop their captures in their destructors; do it while the frame
    // is still whole.
    delete takeCentralWidget();
    m_view = nullptr;
}

void CMainFrame::buildMenu() {
    QMenu* levels[3] = {nullptr, nullptr, nullptr};
    for (const MenuRow& row : kMenu) {
        if (row.level == 0) {
            levels[0] = menuBar()->addMenu(QString::fromLatin1(row.text));
            m_topMenus << levels[0];
            connect(levels[0], &QMenu::aboutToShow, this, &CMainFrame::updateCommandUi);
            continue;
        }
        QMenu* parentMenu = levels[row.level - 1];
        if (!row.text) {
            parentMenu->addSeparator();
        } else if (row.command == 0) {
            levels[row.level] = parentMenu->addMenu(QString::fromLatin1(row.text));
            if (std::strcmp(row.text, "Recent Capture Files") == 0)
                m_recentMenu = levels[row.level];
        } else {
            QAction* a = parentMenu->addAction(QString::fromLatin1(row.text));
            a->setData(row.command);
            m_actions[row.command] = a;
            const int id = row.command;
            connect(a, &QAction::triggered, this, [this, id] { handleCommand(id); });
        }
    }
    for (const Prompt& p : kPrompts)
        if (QAction* a = action(p.command))
            a->setStatusTip(QString::fromLatin1(p.text));

    QAction* cumulative = action(cmd::Cumulative);
    cumulative->setCheckable(true);
    cumulative->setChecked(app::cumulative());
    action(cmd::HelpContents)->setShortcut(QKeySequence::HelpContents);
    action(cmd::OpenCaptureFile)->setShortcut(QKeySequence::Open);
    action(cmd::Find)->setShortcut(QKeySequence::Find);
    action(cmd::FindNext)->setShortcut(QKeySequence::FindNext);
    action(cmd::FindPrevious)->setShortcut(QKeySequence::FindPrevious);
    action(cmd::GoToFrame)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    auto* timeFormats = new QActionGroup(this);
    const quint32 format = qarsilo::storedTimeFormat();
    for (int c :
         {int(cmd::TimeAsCaptured), int(cmd::TimeDateAndTime), int(cmd::TimeSinceFirstFrame)}) {
        QAction* a = action(c);
        a->setCheckable(true);
        a->setChecked(quint32(c - cmd::TimeAsCaptured) == format);
        timeFormats->addAction(a);
    }
    auto* replaySpeeds = new QActionGroup(this);
    const quint32 speed = qarsilo::storedReplaySpeed();
    for (int c : {int(cmd::ReplayRealTime), int(cmd::ReplayTenTimes), int(cmd::ReplayFastest)}) {
        QAction* a = action(c);
        a->setCheckable(true);
        a->setChecked(quint32(c - cmd::ReplayRealTime) == speed);
        replaySpeeds->addAction(a);
    }
    connect(m_recentMenu, &QMenu::aboutToShow, this, &CMainFrame::fillRecentMenu);
    // F10 opens the menu bar from the keyboard, as on other desktops; the
    // menu titles themselves carry no mnemonics.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this, [this] {
        menuBar()->setFocus(Qt::MenuBarFocusReason);
        menuBar()->setActiveAction(menuBar()->actions().value(0));
    });

    // Routed to a handler that does nothing; kept so its number stays taken.
    auto* nothing = new QAction(this);
    nothing->setData(cmd::Nothing);
    m_actions[cmd::Nothing] = nothing;
}

void CMainFrame::buildToolBars() {
    const QList<QIcon> mainIcons = icons(ToolbarStrip::Main);
    m_mainBar = new QToolBar(QStringLiteral("Main toolbar"), this);
    m_mainBar->setObjectName(QStringLiteral("mainToolBar"));
    m_mainBar->setIconSize(QSize(32, 32));
    m_mainBar->setAllowedAreas(Qt::AllToolBarAreas);
    for (int i = 0; i < int(std::size(kMainButtons)); ++i) {
        const ToolButtonRow& row = kMainButtons[i];
        const QString tip = QString::fromLatin1(row.tip);
        QAction* a = nullptr;
        if (row.command == cmd::AddressBook) {
            // Same command as the menu item, with the toolbar's own image.
            a = new QAction(mainIcons[i], tip, this);
            a->setData(row.command);
            connect(a, &QAction::triggered, this, [this] { handleCommand(cmd::AddressBook); });
            m_toolbarTwins[row.command] = a;
        } else {
            a = new QAction(mainIcons[i], tip, this);
            a->setData(row.command);
            m_actions[row.command] = a;
            const int id = row.command;
            connect(a, &QAction::triggered, this, [this, id] { handleCommand(id); });
        }
        a->setToolTip(tip);
        a->setStatusTip(tip);
        m_mainBar->addAction(a);
        if (auto* button = qobject_cast<QToolButton*>(m_mainBar->widgetForAction(a))) {
            button->setFixedSize(34, 34);
            button->setAutoRaise(true);
        }
    }

    m_viewIcons = icons(ToolbarStrip::View);
    m_viewBar = new QToolBar(QStringLiteral("View toolbar"), this);
    m_viewBar->setObjectName(QStringLiteral("viewToolBar"));
    m_viewBar->setIconSize(QSize(32, 32));
    m_viewBar->setAllowedAreas(Qt::AllToolBarAreas);

    addToolBar(Qt::TopToolBarArea, m_mainBar);
    addToolBar(Qt::TopToolBarArea, m_viewBar);
    setViewButtons(kDefaultViewButtons);
}

void CMainFrame::buildStatusBar() {
    statusBar()->setSizeGripEnabled(false); // the frame has a fixed size
    m_readyPane = new QLabel(QStringLiteral("Ready"), this);
    statusBar()->addWidget(m_readyPane, 1);
    m_linkPane = new QLabel(this);
    m_linkPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_linkPane->setAlignment(Qt::AlignCenter);
    m_linkPane->setMinimumWidth(
        m_linkPane->fontMetrics().horizontalAdvance(QStringLiteral("LINK SPEED")) + 16);
    m_linkPane->setToolTip(QStringLiteral("Link speed of the adapter"));
    // The view's own figures sit before the link speed; hidden while empty.
    m_viewStatusPane = new QLabel(this);
    m_viewStatusPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_viewStatusPane->hide();
    statusBar()->addPermanentWidget(m_viewStatusPane);
    statusBar()->addPermanentWidget(m_linkPane);
    buildCaptureFilterPane();
}

void CMainFrame::buildCaptureFilterPane() {
    // The filter the view's capture uses, before the view's own figures;
    // hidden for views that capture nothing.
    m_filterPane = new QLabel(this);
    m_filterPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_filterPane->setTextFormat(Qt::RichText);
    m_filterPane->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_filterPane->hide();
    statusBar()->insertPermanentWidget(1, m_filterPane); // after "Ready", the only other pane
    // Queued: the command changes the pane that sent the click.
    connect(
        m_filterPane, &QLabel::linkActivated, this,
        [this] {
            if (m_filterCommand)
                sendCommand(m_filterCommand);
        },
        Qt::QueuedConnection);
}

void CMainFrame::setCaptureFilters(const QStringList& filters, int changeCommand) {
    m_filterCommand = changeCommand;
    const QString text = ::captureFilterText(filters);
    // A long expression is cut short here and shown whole in the tooltip.
    const QString shown = m_filterPane->fontMetrics().elidedText(text, Qt::ElideRight, 360);
    const QString escaped = shown.toHtmlEscaped();
    m_filterPane->setText(
        QStringLiteral("Capture filter: ") +
        (changeCommand ? QStringLiteral("<a href=\"change\">%1</a>").arg(escaped) : escaped));
    m_filterPane->setToolTip(QStringLiteral("Capture filter: ") + text +
                             (changeCommand ? QStringLiteral("\nClick to change it")
                                            : QStringLiteral("\nSet by this window")));
    m_filterPane->show();
}

QString CMainFrame::captureFilterText() const {
    if (m_filterPane->isHidden())
        return {};
    QTextDocument doc;
    doc.setHtml(m_filterPane->text());
    return doc.toPlainText();
}

void CMainFrame::setViewStatusText(const QString& text) {
    m_viewStatusPane->setText(text);
    m_viewStatusPane->setVisible(!text.isEmpty());
}

QString CMainFrame::viewStatusText() const {
    return m_viewStatusPane->text();
}

void CMainFrame::setViewButtons(const QList<ViewButton>& buttons) {
    m_viewButtons = buttons;
    m_viewBar->clear();
    m_viewBarActions.clear();
    for (const ViewButton& b : buttons) {
        const bool known = b.image >= 0 && b.image < m_viewIcons.size();
        const QString tip = known ? QString::fromLatin1(kViewImageTips[b.image]) : QString();
        auto* a = new QAction(known ? m_viewIcons[b.image] : QIcon(), tip, m_viewBar);
        a->setData(b.command);
        a->setToolTip(tip);
        a->setStatusTip(tip);
        const int id = b.command;
        connect(a, &QAction::triggered, this, [this, id] {
            if (m_view)
                m_view->onCommand(id);
            updateCommandUi();
        });
        m_viewBar->addAction(a);
        if (auto* button = qobject_cast<QToolButton*>(m_viewBar->widgetForAction(a))) {
            button->setFixedSize(32, 32);
            button->setAutoRaise(true);
        }
        m_viewBarActions << a;
    }
    updateCommandUi();
}

void CMainFrame::setLinkSpeedText(const QString& text) {
    m_linkPane->setText(text);
}

QString CMainFrame::linkSpeedText() const {
    return m_linkPane->text();
}

void CMainFrame::showStatusMessage(const QString& text, int milliseconds) {
    statusBar()->showMessage(text, milliseconds);
}

QString CMainFrame::statusText() const {
    const QString temporary = statusBar()->currentMessage();
    return temporary.isEmpty() ? m_readyPane->text() : temporary;
}

QAction* CMainFrame::action(int command) const {
    const auto it = m_actions.find(command);
    return it == m_actions.end() ? nullptr : it->second;
}

QMenu* CMainFrame::menu(const QString& title) const {
    for (QMenu* m : m_topMenus)
        if (m->title() == title)
            return m;
    return nullptr;
}

int CMainFrame::activeTemplate() const {
    return m_view ? m_view->templateId() : 0;
}

void CMainFrame::setAddressBookOpener(std::function<void(QWidget*)> opener) {
    m_addressBook = std::move(opener);
    updateCommandUi();
}

void CMainFrame::setBookLocationRunner(std::function<void(QWidget*)> runner) {
    m_bookLocation = std::move(runner);
    updateCommandUi();
}

void CMainFrame::setCaptureFileChooser(std::function<QString(QWidget*)> chooser) {
    m_fileChooser = std::move(chooser);
}

void CMainFrame::setSpillFolderChooser(
    std::function<QString(QWidget*, const QString& current)> chooser) {
    m_folderChooser = std::move(chooser);
}

void CMainFrame::chooseSpillFolder() {
    QString current = SettingsStore().string(setting::spillFolder);
    if (current.isEmpty())
        current = QDir::tempPath();
    const QString folder = m_folderChooser ? m_folderChooser(this, current) : QString();
    if (folder.isEmpty())
        return;
    SettingsStore().writeString(setting::spillFolder, folder);
    showStatusMessage(QStringLiteral("The analyzer keeps the frames past its memory budget in ") +
                      QDir::toNativeSeparators(folder));
}

void CMainFrame::setAdapterDialogRunner(std::function<void(QWidget*)> runner) {
    m_adapterDialog = std::move(runner);
}

bool CMainFrame::switchToView(int templateId) {
    CView* next = m_registry.create(templateId, this);
    if (!next)
        return false;
    next->hide();
    // The old view goes first: its destructor stops its capture, so two views
    // never capture at once.
    QWidget* old = takeCentralWidget();
    m_view = nullptr;
    delete old;
    m_view = next;
    // The new view sets its own buttons; one that sets none (or fails to
    // start) shows the whole set, disabled, not the old view's buttons.
    setViewButtons(kDefaultViewButtons);
    setViewStatusText(QString());
    m_filterPane->hide();
    next->initialUpdate(this);
    setCentralWidget(next);
    next->show();
    next->setFocus();
    updateCommandUi();
    return true;
}

void CMainFrame::switchToViewLater(int templateId) {
    // Queued on the frame: the switch destroys the view that asked for it.
    QTimer::singleShot(0, this, [this, templateId] { switchToView(templateId); });
}

void CMainFrame::switchToViewAndStartLater(int templateId) {
    QTimer::singleShot(0, this, [this, templateId] {
        if (switchToView(templateId) && m_view)
            m_view->onCommand(cmd::Start);
    });
}

void CMainFrame::showFramesInAnalyzerLater(const QString& displayFilter) {
    QTimer::singleShot(0, this, [this, displayFilter] {
        if (switchToView(view::CaptureDecode) && m_view)
            m_view->applyDisplayFilterFromHost(displayFilter);
    });
}

bool CMainFrame::isCommandAvailable(int command) const {
    if (const int target = viewForCommand(command)) {
        if (!m_registry.has(target))
            return false;
        for (int c : kNotWhileShown)
            if (c == command && activeTemplate() == target)
                return false;
        return true;
    }
    if (command == cmd::AddressBook)
        return bool(m_addressBook);
    if (command == cmd::AddressBookLocation)
        return bool(m_bookLocation);
    switch (command) {
    case cmd::SaveFrames: // the view that holds frames says
    case cmd::Find:
    case cmd::FindNext:
    case cmd::FindPrevious:
    case cmd::GoToFrame:
        return m_view && m_view->isCommandEnabled(command);
    default:
        break;
    }
    return true;
}

void CMainFrame::updateCommandUi() {
    for (auto& [command, a] : m_actions)
        a->setEnabled(isCommandAvailable(command));
    for (auto& [command, a] : m_toolbarTwins)
        a->setEnabled(isCommandAvailable(command));
    for (QAction* a : m_viewBarActions)
        a->setEnabled(m_view && m_view->isCommandEnabled(a->data().toInt()));
    if (QAction* c = action(cmd::Cumulative))
        c->setChecked(app::cumulative());
}

bool CMainFrame::sendCommand(int command) {
    updateCommandUi();
    for (QAction* a : m_viewBarActions)
        if (a->data().toInt() == command) {
            if (!a->isEnabled())
                return false;
            a->trigger();
            return true;
        }
    QAction* a = action(command);
    if (!a || !a->isEnabled())
        return false;
    a->trigger();
    return true;
}

void CMainFrame::handleCommand(int command) {
    if (const int target = viewForCommand(command)) {
        if (command == cmd::General && app::selectedAdapter().isEmpty()) {
            MessageService::message(QStringLiteral("Please select appropriate Adapter"),
                                    QStringLiteral("Adapter Failure"));
            return;
        }
        switchToView(target);
        return;
    }
    switch (command) {
    case cmd::SelectAdapter:
        runAdapterDialog();
        break;
    case cmd::OpenCaptureFile:
        openCaptureFile();
        break;
    case cmd::Exit:
        close();
        break;
    case cmd::Cumulative:
        app::setCumulative(action(cmd::Cumulative)->isChecked());
        break;
    case cmd::AddressBook:
        if (m_addressBook)
            m_addressBook(this);
        break;
    case cmd::AddressBookLocation:
        if (m_bookLocation)
            m_bookLocation(this);
        break;
    case cmd::SpillFolder:
        chooseSpillFolder();
        break;
    case cmd::HelpContents:
    case cmd::HelpIndex:
    case cmd::HelpSearch:
        showHelp(command);
        break;
    case cmd::About:
        showAbout();
        break;
    case cmd::ToolbarStatistic:
        popupMenu(command, QStringLiteral("Network Statistics"));
        break;
    case cmd::ToolbarChart:
        popupMenu(command, QStringLiteral("Network Charts"));
        break;
    case cmd::ToolbarAnalyzer:
        popupMenu(command, QStringLiteral("Network Analyzer"));
        break;
    case cmd::ToolbarTrace:
        popupMenu(command, QStringLiteral("Network Trace"));
        break;
    case cmd::Nothing:
        break;
    case cmd::TimeAsCaptured:
    case cmd::TimeDateAndTime:
    case cmd::TimeSinceFirstFrame:
        SettingsStore().writeNumber(setting::timeFormat, quint32(command - cmd::TimeAsCaptured));
        if (m_view)
            m_view->onCommand(command);
        break;
    case cmd::ReplayRealTime:
    case cmd::ReplayTenTimes:
    case cmd::ReplayFastest:
        SettingsStore().writeNumber(setting::replaySpeed, quint32(command - cmd::ReplayRealTime));
        if (m_view)
            m_view->onCommand(command);
        break;
    default:
        if (m_view)
            m_view->onCommand(command);
        break;
    }
    updateCommandUi();
}

void CMainFrame::popupMenu(int command, const QString& title) {
    QMenu* m = menu(title);
    if (!m)
        return;
    updateCommandUi();
    QPoint at = mapToGlobal(QPoint(0, 0));
    if (QAction* a = action(command))
        if (QWidget* button = m_mainBar->widgetForAction(a))
            at = button->mapToGlobal(QPoint(4, button->height() - 4));
    m_lastPopup = m;
    m->popup(at);
}

void CMainFrame::showHelp(int command) {
    if (!m_help) {
        m_help = new HelpWindow(this);
        m_help->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    switch (command) {
    case cmd::HelpIndex:
        m_help->showIndex();
        break;
    case cmd::HelpSearch:
        m_help->showSearch();
        break;
    default:
        m_help->showContents();
        break;
    }
}

void CMainFrame::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMainFrame::openCaptureFile() {
    const QString path = m_fileChooser ? m_fileChooser(this) : QString();
    if (path.isEmpty())
        return;
    QString error;
    if (!canReadCaptureFile(path, &error)) {
        MessageService::message(QStringLiteral("Cannot read the capture file ") +
                                    displayFileName(path) + QStringLiteral(":\n") + error,
                                QString(), MessageService::Icon::Error);
        return;
    }
    // The file takes the adapter's place for this run; the stored adapter stays.
    app::setSelectedAdapter(captureFileAdapterName(path));
    rememberRecentFile(path);
    statusBar()->showMessage(QStringLiteral("Reading ") + displayFileName(path), 5000);
    // A capturing view starts again on the file; from the start view the
    // file opens in the analyzer.
    if (m_view && m_view->templateId() != view::Start)
        switchToView(m_view->templateId());
    else
        switchToView(view::CaptureDecode);
}

namespace {
// The one local file of a drop, or empty.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls()[0].isLocalFile())
        return {};
    return data->urls()[0].toLocalFile();
}
} // namespace

QStringList CMainFrame::recentFiles() {
    QStringList files = SettingsStore().string(setting::recentFiles).split(QLatin1Char('\n'));
    files.removeAll(QString());
    return files.mid(0, kRecentFiles);
}

void CMainFrame::rememberRecentFile(const QString& path) {
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    SettingsStore().writeString(setting::recentFiles,
                                files.mid(0, kRecentFiles).join(QLatin1Char('\n')));
}

void CMainFrame::fillRecentMenu() {
    m_recentMenu->clear();
    const QStringList files = recentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        QAction* a = m_recentMenu->addAction(
            QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(displayFileName(path)));
        connect(a, &QAction::triggered, this, [this, path] { openCaptureFile(path); });
    }
    if (files.isEmpty())
        m_recentMenu->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

bool CMainFrame::isNormalSized() const {
    return !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized));
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // A maximized frame's place is the screen's corner; the normal one is kept.
    if (isVisible() && isNormalSized())
        SettingsStore().writeString(setting::windowPosition,
                                    QStringLiteral("%1,%2").arg(pos().x()).arg(pos().y()));
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isVisible() && isNormalSized())
        SettingsStore().writeString(setting::windowSize,
                                    QStringLiteral("%1,%2").arg(width()).arg(height()));
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isVisible() && !isMinimized())
        SettingsStore().writeNumber(setting::windowMaximized, isMaximized() ? 1 : 0);
}

void CMainFrame::restoreSize() {
    const QStringList wh = SettingsStore().string(setting::windowSize).split(QLatin1Char(','));
    bool okW = false;
    bool okH = false;
    const QSize stored(wh.value(0).toInt(&okW), wh.value(1).toInt(&okH));
    if (okW && okH && stored.width() > 0 && stored.height() > 0) {
        // Never larger than the screen it opens on.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize room = screen ? screen->availableGeometry().size() : stored;
        resize(stored.boundedTo(room).expandedTo(minimumSizeHint().boundedTo(room)));
    }
    quint32 maximized = 0;
    if (SettingsStore().readNumber(setting::windowMaximized, maximized) && maximized == 1)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void CMainFrame::restorePosition() {
    restoreSize();
    const QStringList xy = SettingsStore().string(setting::windowPosition).split(QLatin1Char(','));
    bool okX = false;
    bool okY = false;
    const QPoint at(xy.value(0).toInt(&okX), xy.value(1).toInt(&okY));
    if (!okX || !okY)
        return;
    // Only where the window is still seen on a screen now, and wholly on it.
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect room = screen->availableGeometry();
        if (room.intersects(
                QRect(at, size()).adjusted(0, 0, -size().width() / 2, -size().height() / 2))) {
            move(
                std::clamp(at.x(), room.left(), std::max(room.left(), room.right() + 1 - width())),
                std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() + 1 - height())));
            return;
        }
    }
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // The drag source waits for the drop to end; the file opens just after.
    QTimer::singleShot(0, this, [this, path] { openCaptureFile(path); });
}

bool CMainFrame::openCaptureFile(const QString& path) {
    auto chooser = std::exchange(m_fileChooser, [path](QWidget*) { return path; });
    openCaptureFile();
    m_fileChooser = std::move(chooser);
    return isCaptureFileAdapter(app::selectedAdapter()) &&
           captureFilePath(app::selectedAdapter()) == path;
}

void CMainFrame::runAdapterDialog() {
    if (m_adapterDialog)
        m_adapterDialog(this);
}
