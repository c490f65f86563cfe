#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/native_path.h"
#include "gui/shell/help_window.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/view.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace qarsilo;

namespace {

// Views that write what happens to them into one shared log.
QStringList g_log;

class LoggingView : public CView {
public:
    LoggingView(int id, QWidget* parent, QList<ViewButton> buttons = {})
        : CView(id, parent)
        , m_buttons(std::move(buttons)) {
        g_log << QStringLiteral("create %1").arg(id);
    }
    ~LoggingView() override { g_log << QStringLiteral("destroy %1").arg(templateId()); }
    void onInitialUpdate() override {
        g_log << QStringLiteral("update %1").arg(templateId());
        if (!m_buttons.isEmpty())
            host()->setViewButtons(m_buttons);
    }
    bool onCommand(int command) override {
        g_log << QStringLiteral("command %1").arg(command);
        return true;
    }
    bool isCommandEnabled(int command) const override {
        for (const ViewButton& b : m_buttons)
            if (b.command == command)
                return true;
        return false;
    }

private:
    QList<ViewButton> m_buttons;
};

constexpr int kAllViews[] = {view::Start,       view::PDApplication, view::GeneralInfo,
                             view::PDL2,        view::PDL3,          view::SingleNode,
                             view::TraceSingle, view::CaptureDecode, view::PacketSize,
                             view::PDv6L3,      view::PDv4v6L3};

ViewRegistry loggingRegistry(const QList<int>& ids = QList<int>(std::begin(kAllViews),
                                                                std::end(kAllViews))) {
    ViewRegistry r;
    for (int id : ids) {
        QList<ViewButton> buttons;
        if (id == view::CaptureDecode)
            buttons = {{cmd::Stop, viewimage::Stop},
                       {cmd::AddressBookPlus, viewimage::AddressBookPlus}};
        r.add(id, QStringLiteral("View%1").arg(id), [id, buttons](QWidget* parent) -> CView* {
            return new LoggingView(id, parent, buttons);
        });
    }
    return r;
}

// The menu as text, one line per entry: indentation by level, then the text
// and the command number; separators as "-".
QStringList describe(const QMenu* menu, int level) {
    QStringList out;
    const QString indent(level * 2, QLatin1Char(' '));
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            out << indent + QStringLiteral("-");
        else if (a->menu()) {
            out << indent + a->text();
            out << describe(a->menu(), level + 1);
        } else
            out << indent + a->text() + QStringLiteral(" = ") + QString::number(a->data().toInt());
    }
    return out;
}

} // namespace

class TestMainFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void init() {
        // Every test starts from a settings file of its own.
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                  QStringLiteral("qarsilo"))
            .clear();
        g_log.clear();
        app::setCumulative(false);
        app::setSelectedAdapter(QStringLiteral("eth0"));
    }

    void menuTreeAsSpecified() {
        CMainFrame frame(loggingRegistry());
        QStringList actual;
        for (QAction* top : frame.menuBar()->actions()) {
            actual << top->text();
            actual << describe(top->menu(), 1);
        }
        const QStringList expected = {
            QStringLiteral("File"),
            QStringLiteral("  &Select Adapter = 32793"),
            QStringLiteral("  Open Capture File... = 32830"),
            QStringLiteral("  Save Captured Frames... = 32831"),
            QStringLiteral("  Address Book Location... = 32840"),
            QStringLiteral("  -"),
            QStringLiteral("  Recent Capture Files"),
            QStringLiteral("  -"),
            QStringLiteral("  &Exit = 57665"),
            // Added beside the specified menus, for the analyzer.
            QStringLiteral("Edit"),
            QStringLiteral("  &Find... = 32860"),
            QStringLiteral("  Find &Next = 32861"),
            QStringLiteral("  Find &Previous = 32862"),
            QStringLiteral("View"),
            QStringLiteral("  &Time Format"),
            QStringLiteral("    As captured = 32864"),
            QStringLiteral("    Date and time of day = 32865"),
            QStringLiteral("    Seconds since first frame = 32866"),
            QStringLiteral("  &Replay Speed"),
            QStringLiteral("    Real time = 32867"),
            QStringLiteral("    10x = 32868"),
            QStringLiteral("    As fast as possible = 32869"),
            QStringLiteral("Go"),
            QStringLiteral("  &Go to Frame... = 32863"),
            QStringLiteral("Network Statistics"),
            QStringLiteral("  &General = 32782"),
            QStringLiteral("  Single = 32783"),
            QStringLiteral("  Conversations = 32870"),
            QStringLiteral("  Endpoints = 32871"),
            QStringLiteral("Network Charts"),
            QStringLiteral("  Packet Size Distribution = 32784"),
            QStringLiteral("  &Protocol Distribution"),
            QStringLiteral("    &Network Layer Protocol = 32797"),
            QStringLiteral("    &IPv4-based Protocol = 32798"),
            QStringLiteral("    &Application Layer Protocol = 32802"),
            QStringLiteral("    IPv&6-based Protocol = 32819"),
            QStringLiteral("    &IPv4 and IPv6 Comparison  = 32820"),
            QStringLiteral("  -"),
            QStringLiteral("  &Cummulative Statistic = 32812"),
            QStringLiteral("Network Analyzer"),
            QStringLiteral("  &Capture And Decode = 32785"),
            QStringLiteral("Network Trace"),
            QStringLiteral("  &Single = 32788"),
            QStringLiteral("&Tools"),
            QStringLiteral("  &Address Book = 32792"),
            QStringLiteral("  Spill Folder... = 32841"),
            QStringLiteral("&Help"),
            QStringLiteral("  Contents = 32816"),
            QStringLiteral("  Index = 57666"),
            QStringLiteral("  Search = 32817"),
            QStringLiteral("  -"),
            QStringLiteral("  About = 57664"),
        };
        QCOMPARE(actual, expected);
    }

    void frameAndBars() {
        CMainFrame frame(loggingRegistry());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QCOMPARE(frame.windowTitle(), QStringLiteral("Main View"));
        QCOMPARE(frame.size(), QSize(1024, 768));

        QCOMPARE(frame.statusText(), QStringLiteral("Ready"));
        frame.setLinkSpeedText(QStringLiteral("100 Mbps"));
        QCOMPARE(frame.linkSpeedText(), QStringLiteral("100 Mbps"));

        // Both toolbars share the top row, the view toolbar right of the main one.
        QCOMPARE(frame.toolBarArea(frame.mainToolBar()), Qt::TopToolBarArea);
        QCOMPARE(frame.toolBarArea(frame.viewToolBar()), Qt::TopToolBarArea);
        QCOMPARE(frame.mainToolBar()->y(), frame.viewToolBar()->y());
        QVERIFY(frame.viewToolBar()->x() > frame.mainToolBar()->x());
    }

    // The frame follows the operator's size, its view fills what is between
    // the toolbars and the status bar, and the size is back in the next run
    // without leaving the screen.
    void frameSizing_data() {
        QTest::addColumn<QString>("storedSize");     // written before the first frame
        QTest::addColumn<QString>("storedPosition"); // the same
        QTest::addColumn<QSize>("resizeTo");         // invalid: not resized
        QTest::addColumn<bool>("maximize");
        QTest::addColumn<bool>("reopen");    // the checks run on a second frame
        QTest::addColumn<QSize>("expected"); // invalid: the screen's available size
        QTest::addColumn<bool>("pulledIn");  // into the screen's bottom right corner
        const QSize screen;
        const bool any = false;
        QTest::newRow("resized: the view fills the client area")
            << ""
            << "" << QSize(800, 700) << false << false << QSize(800, 700) << any;
        QTest::newRow("never smaller than its views fit in (nor than the screen)")
            << ""
            << "" << QSize(500, 400) << false << false
            << CMainFrame::kMinimumSize.boundedTo(
                   QGuiApplication::primaryScreen()->availableGeometry().size())
            << any;
        QTest::newRow("maximized: the view fills the screen")
            << ""
            << "" << QSize() << true << false << screen << any;
        QTest::newRow("size is back in a new frame")
            << ""
            << "" << QSize(800, 700) << false << true << QSize(800, 700) << any;
        QTest::newRow("maximized is back in a new frame")
            << ""
            << "" << QSize() << true << true << screen << any;
        QTest::newRow("stored size larger than the screen opens as large as the screen")
            << "5000,4000"
            << "" << QSize() << false << false << screen << any;
        QTest::newRow("stored place half off the screen opens wholly on it")
            << "800,700"
            << "500,400" << QSize() << false << false << QSize(800, 700) << true;
    }

    void frameSizing() {
        QFETCH(QString, storedSize);
        QFETCH(QString, storedPosition);
        QFETCH(QSize, resizeTo);
        QFETCH(bool, maximize);
        QFETCH(bool, reopen);
        QFETCH(QSize, expected);
        QFETCH(bool, pulledIn);
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        // The rows' sizes and places are chosen for the offscreen screen (800 by 800).
        QVERIFY(available.contains(QRect(0, 0, 800, 700)));
        QVERIFY(available.contains(QRect(500, 400, 800, 700)) == false);
        if (!expected.isValid())
            expected = available.size();
        if (!storedSize.isEmpty())
            QVERIFY(SettingsStore().writeString(setting::windowSize, storedSize));
        if (!storedPosition.isEmpty())
            QVERIFY(SettingsStore().writeString(setting::windowPosition, storedPosition));

        auto frame = std::make_unique<CMainFrame>(loggingRegistry());
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        if (resizeTo.isValid())
            frame->resize(resizeTo);
        if (maximize) {
            frame->showMaximized();
            // A maximized window's frame (not its client area) covers the screen.
            QTRY_COMPARE(frame->frameGeometry(), available);
        }
        if (reopen) {
            frame.reset();
            frame = std::make_unique<CMainFrame>(loggingRegistry());
            frame->show();
            QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        }
        if (maximize)
            QTRY_COMPARE(frame->frameGeometry(), available);
        else
            QTRY_COMPARE(frame->size(), expected);
        QCOMPARE(frame->isMaximized(), maximize);
        if (pulledIn)
            QCOMPARE(frame->pos(), available.bottomRight() + QPoint(1, 1) -
                                       QPoint(expected.width(), expected.height()));
        // A window manager offers to maximize only a window that may grow to the screen.
        QVERIFY(frame->maximumWidth() >= available.width() &&
                frame->maximumHeight() >= available.height());
        // The view takes the whole client area.
        const QWidget* view = frame->centralWidget();
        QVERIFY(view == frame->activeView());
        QCOMPARE(view->geometry(), QRect(QPoint(0, frame->viewToolBar()->geometry().bottom() + 1),
                                         QPoint(frame->width() - 1, frame->statusBar()->y() - 1)));
    }

    void toolbarButtons_data() {
        QTest::addColumn<bool>("mainBar");
        QTest::addColumn<QStringList>("tips");
        QTest::addColumn<QList<int>>("commands");
        QTest::addColumn<int>("side");
        QTest::newRow("main") << true
                              << QStringList{QStringLiteral("Network Statistic"),
                                             QStringLiteral("Network Chart"),
                                             QStringLiteral("Network Address Book"),
                                             QStringLiteral("Network Analyzer"),
                                             QStringLiteral("Network Trace")}
                              << QList<int>{32809, 32810, 32792, 32808, 32807} << 34;
        QTest::newRow("view") << false
                              << QStringList{QStringLiteral("Bar Graph"),
                                             QStringLiteral("Pie Chart"), QStringLiteral("Start"),
                                             QStringLiteral("Stop"),
                                             QStringLiteral("Address Book+")}
                              << QList<int>{32795, 32796, 32790, 32791, 32801} << 32;
    }

    void toolbarButtons() {
        QFETCH(bool, mainBar);
        QFETCH(QStringList, tips);
        QFETCH(QList<int>, commands);
        QFETCH(int, side);
        CMainFrame frame(loggingRegistry());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QToolBar* bar = mainBar ? frame.mainToolBar() : frame.viewToolBar();
        QCOMPARE(bar->iconSize(), QSize(32, 32));
        const auto actions = bar->actions();
        QCOMPARE(actions.size(), tips.size());
        for (int i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions[i]->toolTip(), tips[i]);
            QCOMPARE(actions[i]->data().toInt(), commands[i]);
            auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(actions[i]));
            QVERIFY(button);
            QCOMPARE(button->size(), QSize(side, side));
            QVERIFY(button->autoRaise()); // flat
            // Normal, hot and disabled images are three different drawings.
            const QIcon icon = actions[i]->icon();
            const QImage normal = icon.pixmap(QSize(32, 32), QIcon::Normal).toImage();
            const QImage hot = icon.pixmap(QSize(32, 32), QIcon::Active).toImage();
            const QImage disabled = icon.pixmap(QSize(32, 32), QIcon::Disabled).toImage();
            QCOMPARE(normal.size(), QSize(32, 32));
            QVERIFY(normal != hot);
            QVERIFY(normal != disabled);
        }
    }

    void switchDestroysTheOldViewBeforeTheNewViewStarts() {
        CMainFrame frame(loggingRegistry());
        QCOMPARE(frame.activeTemplate(), int(view::Start));
        g_log.clear();
        QVERIFY(frame.switchToView(view::CaptureDecode));
        QCOMPARE(g_log, (QStringList{QStringLiteral("create 150"), QStringLiteral("destroy 101"),
                                     QStringLiteral("update 150")}));
        QCOMPARE(frame.activeTemplate(), int(view::CaptureDecode));
        QCOMPARE(frame.centralWidget(), frame.activeView());
    }

    // A window's stream source: the wait shows in the status bar, and a
    // source that fails before its capture puts the window back to stopped.
    void streamWaitIsShown() {
        test::ScriptedMessageService messages;
        CMainFrame frame(loggingRegistry());
        QVERIFY(frame.switchToView(view::CaptureDecode));
        CaptureSession session(CaptureWindow::CaptureDecodeView);
        QVERIFY(session.start(QStringLiteral("pipe:sleep 600")).ok());
        QCOMPARE(
            frame.statusText(),
            QStringLiteral("Waiting for the capture stream from sleep 600 (Stop ends the wait)"));
        session.stop();
        QCOMPARE(frame.statusText(), QStringLiteral("Ready"));

        g_log.clear();
        QVERIFY(session.start(QStringLiteral("pipe:echo 'no route' >&2; exit 1")).ok());
        QTRY_COMPARE_WITH_TIMEOUT(messages.shown().size(), 1, 10000);
        QVERIFY(messages.shown()[0].text.endsWith(QLatin1String("no route")));
        QTRY_COMPARE(g_log, QStringList{QStringLiteral("command %1").arg(cmd::Stop)});
        QCOMPARE(frame.statusText(), QStringLiteral("Ready"));
    }

    void sameViewAgainIsAFreshView() {
        CMainFrame frame(loggingRegistry());
        frame.switchToView(view::PDL2);
        QPointer<CView> first = frame.activeView();
        g_log.clear();
        // The network layer chart is not among the commands disabled while shown.
        QVERIFY(frame.sendCommand(cmd::PDNetworkLayer));
        QCOMPARE(g_log, (QStringList{QStringLiteral("create 145"), QStringLiteral("destroy 145"),
                                     QStringLiteral("update 145")}));
        QVERIFY(first.isNull());
        QVERIFY(frame.activeView());
    }

    void unknownViewKeepsTheCurrentOne() {
        CMainFrame frame(loggingRegistry({view::Start}));
        CView* before = frame.activeView();
        g_log.clear();
        QVERIFY(!frame.switchToView(view::GeneralInfo));
        QCOMPARE(frame.activeView(), before);
        QVERIFY(g_log.isEmpty());
    }

    // Which view commands are offered while a given view is shown.
    void commandEnabling_data() {
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("enabled");
        const int viewCommands[] = {cmd::General,        cmd::Single, cmd::PacketSize,
                                    cmd::PDNetworkLayer, cmd::PDIPv4, cmd::PDApplication,
                                    cmd::PDIPv6,         cmd::PDv4v6, cmd::CaptureDecode,
                                    cmd::TraceSingle};
        const int notWhileShown[] = {cmd::General, cmd::Single, cmd::PacketSize, cmd::TraceSingle,
                                     cmd::PDApplication};
        for (int shown : kAllViews)
            for (int c : viewCommands) {
                bool enabled = true;
                for (int n : notWhileShown)
                    if (n == c && viewForCommand(c) == shown)
                        enabled = false;
                QTest::addRow("view %d, command %d", shown, c) << shown << c << enabled;
            }
    }

    void commandEnabling() {
        QFETCH(int, shown);
        QFETCH(int, command);
        QFETCH(bool, enabled);
        CMainFrame frame(loggingRegistry());
        QVERIFY(frame.switchToView(shown));
        frame.updateCommandUi();
        QCOMPARE(frame.action(command)->isEnabled(), enabled);
        // Commands that are not view commands are always offered.
        for (int c : {int(cmd::SelectAdapter), int(cmd::Exit), int(cmd::Cumulative),
                      int(cmd::HelpContents), int(cmd::HelpIndex), int(cmd::HelpSearch),
                      int(cmd::About), int(cmd::ToolbarStatistic), int(cmd::ToolbarChart),
                      int(cmd::ToolbarAnalyzer), int(cmd::ToolbarTrace)})
            QVERIFY2(frame.action(c)->isEnabled(), qPrintable(QString::number(c)));
    }

    void viewsThatDoNotExistAreNotOffered() {
        CMainFrame frame(loggingRegistry({view::Start, view::CaptureDecode}));
        frame.updateCommandUi();
        QVERIFY(frame.action(cmd::CaptureDecode)->isEnabled());
        for (int c : {int(cmd::General), int(cmd::Single), int(cmd::PacketSize),
                      int(cmd::PDNetworkLayer), int(cmd::TraceSingle)}) {
            QVERIFY(!frame.action(c)->isEnabled());
            QVERIFY(!frame.sendCommand(c));
        }
        QCOMPARE(frame.activeTemplate(), int(view::Start));

        // The address book is offered once it can be opened, from menu and toolbar alike.
        QVERIFY(!frame.action(cmd::AddressBook)->isEnabled());
        QAction* toolbarBook = frame.mainToolBar()->actions().at(2);
        QVERIFY(!toolbarBook->isEnabled());
        int opened = 0;
        frame.setAddressBookOpener([&opened](QWidget*) { ++opened; });
        QVERIFY(frame.action(cmd::AddressBook)->isEnabled());
        QVERIFY(toolbarBook->isEnabled());
        QVERIFY(frame.sendCommand(cmd::AddressBook));
        toolbarBook->trigger();
        QCOMPARE(opened, 2);
    }

    void viewToolbarBelongsToTheView() {
        CMainFrame frame(loggingRegistry());
        frame.updateCommandUi();
        // The start view handles none of the five: all shown, all disabled.
        QCOMPARE(frame.viewToolBar()->actions().size(), 5);
        for (QAction* a : frame.viewToolBar()->actions())
            QVERIFY(!a->isEnabled());

        QVERIFY(frame.switchToView(view::CaptureDecode));
        const auto actions = frame.viewToolBar()->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions[0]->toolTip(), QStringLiteral("Stop"));
        QCOMPARE(actions[1]->toolTip(), QStringLiteral("Address Book+"));
        QVERIFY(actions[0]->isEnabled());
        g_log.clear();
        QVERIFY(frame.sendCommand(cmd::Stop));
        QCOMPARE(g_log, QStringList{QStringLiteral("command 32791")});
        QVERIFY(!frame.sendCommand(cmd::Start)); // not on the toolbar now

        // A view that sets no buttons does not inherit the analyzer's.
        QVERIFY(frame.switchToView(view::PDL2));
        QCOMPARE(frame.viewToolBar()->actions().size(), 5);
        for (QAction* a : frame.viewToolBar()->actions())
            QVERIFY(!a->isEnabled());
    }

    void cumulativeToggles() {
        CMainFrame frame(loggingRegistry());
        QAction* item = frame.action(cmd::Cumulative);
        QVERIFY(item->isCheckable());
        QVERIFY(!item->isChecked());
        QVERIFY(!app::cumulative());
        QVERIFY(frame.sendCommand(cmd::Cumulative));
        QVERIFY(item->isChecked());
        QVERIFY(app::cumulative());
        QVERIFY(frame.sendCommand(cmd::Cumulative));
        QVERIFY(!item->isChecked());
        QVERIFY(!app::cumulative());
    }

    void toolbarPopups_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("menu");
        QTest::newRow("statistic") << int(cmd::ToolbarStatistic) << "Network Statistics";
        QTest::newRow("chart") << int(cmd::ToolbarChart) << "Network Charts";
        QTest::newRow("analyzer") << int(cmd::ToolbarAnalyzer) << "Network Analyzer";
        QTest::newRow("trace") << int(cmd::ToolbarTrace) << "Network Trace";
    }

    void toolbarPopups() {
        QFETCH(int, command);
        QFETCH(QString, menu);
        CMainFrame frame(loggingRegistry());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        app::setCumulative(true);
        QAction* button = frame.action(command);
        QVERIFY(frame.mainToolBar()->actions().contains(button));
        button->trigger();
        QMenu* popup = frame.lastPopup();
        QVERIFY(popup);
        QCOMPARE(popup->title(), menu);
        QTRY_VERIFY(popup->isVisible());
        // The chart menu carries the cumulative check mark as it stands.
        QVERIFY(frame.action(cmd::Cumulative)->isChecked());
        // It opens at its button.
        const QWidget* b = frame.mainToolBar()->widgetForAction(button);
        const QRect buttonRect(b->mapToGlobal(QPoint(0, 0)), b->size());
        QVERIFY(qAbs(popup->geometry().left() - buttonRect.left()) < 16);
        QVERIFY(qAbs(popup->geometry().top() - buttonRect.bottom()) < 16);
        popup->close();
    }

    void generalWithoutAdapterIsRefused() {
        test::ScriptedMessageService messages;
        CMainFrame frame(loggingRegistry());
        app::setSelectedAdapter(QString());
        g_log.clear();
        QVERIFY(frame.sendCommand(cmd::General));
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text, QStringLiteral("Please select appropriate Adapter"));
        QCOMPARE(messages.shown()[0].caption, QStringLiteral("Adapter Failure"));
        QCOMPARE(messages.shown()[0].buttons, MessageService::Buttons::Ok);
        QCOMPARE(frame.activeTemplate(), int(view::Start));
        QVERIFY(g_log.isEmpty());

        // Other view commands do not check the adapter.
        QVERIFY(frame.sendCommand(cmd::Single));
        QCOMPARE(frame.activeTemplate(), int(view::SingleNode));

        app::setSelectedAdapter(QStringLiteral("eth0"));
        QVERIFY(frame.sendCommand(cmd::General));
        QCOMPARE(frame.activeTemplate(), int(view::GeneralInfo));
        QCOMPARE(messages.shown().size(), 1);
    }

    void selectAdapterRunsTheDialog() {
        CMainFrame frame(loggingRegistry());
        int runs = 0;
        frame.setAdapterDialogRunner([&runs, &frame](QWidget* parent) {
            QCOMPARE(parent, &frame);
            ++runs;
        });
        QVERIFY(frame.sendCommand(cmd::SelectAdapter));
        QCOMPARE(runs, 1);
        // The view in place keeps running under the dialog.
        QCOMPARE(frame.activeTemplate(), int(view::Start));
    }

    void openCaptureFile() {
        test::ScriptedMessageService messages;
        CMainFrame frame(loggingRegistry());
        frame.switchToView(view::PDL2);
        const QString good = test::pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap");
        QString chosen = good;
        frame.setCaptureFileChooser([&chosen](QWidget*) { return chosen; });

        g_log.clear();
        QVERIFY(frame.sendCommand(cmd::OpenCaptureFile));
        QCOMPARE(app::selectedAdapter(), QStringLiteral("file:") + good);
        // The view shown starts afresh, now on the file.
        QCOMPARE(g_log, (QStringList{QStringLiteral("create 145"), QStringLiteral("destroy 145"),
                                     QStringLiteral("update 145")}));
        QVERIFY(messages.shown().isEmpty());

        // Cancelled: nothing changes.
        chosen.clear();
        g_log.clear();
        QVERIFY(frame.sendCommand(cmd::OpenCaptureFile));
        QCOMPARE(app::selectedAdapter(), QStringLiteral("file:") + good);
        QVERIFY(g_log.isEmpty());

        // Not a capture file: said so, and the adapter stays as it was.
        chosen = test::testDataDir() + QStringLiteral("/not-a-capture.txt");
        QVERIFY(frame.sendCommand(cmd::OpenCaptureFile));
        QCOMPARE(messages.shown().size(), 1);
        QVERIFY(
            messages.shown()[0].text.startsWith(QStringLiteral("Cannot read the capture file")));
        QCOMPARE(messages.shown()[0].icon, MessageService::Icon::Error);
        QCOMPARE(app::selectedAdapter(), QStringLiteral("file:") + good);
        QVERIFY(g_log.isEmpty());
    }

    // Sources that went wrong before: each is refused with its reason (a named
    // pipe without a writer is not even opened, since that would wait for
    // ever), and a name that is not UTF-8 opens as any other.
    void droppedFileOpens() {
        test::ScriptedMessageService messages;
        CMainFrame frame(loggingRegistry());
        const QString file = test::pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&frame, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &drop);
        QTRY_COMPARE(app::selectedAdapter(), captureFileAdapterName(file));
        QCOMPARE(frame.activeTemplate(), int(view::CaptureDecode));
        // Text or two files at once are not taken.
        QMimeData text;
        text.setText(QStringLiteral("hello"));
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton,
                                Qt::NoModifier);
        QApplication::sendEvent(&frame, &refused);
        QVERIFY(!refused.isAccepted());
    }

    void openCaptureFileRefusesWhatItCannotRead_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("refusal"); // empty: opened
        QTest::newRow("named pipe") << QByteArray("fifo") << QStringLiteral("not a regular file");
        QTest::newRow("raw IP") << QByteArray("raw.pcap")
                                << QStringLiteral("not Ethernet (link type RAW)");
        QTest::newRow("name not UTF-8") << QByteArray("n\xffu\xfe.pcap") << QString();
        QTest::newRow("empty") << QByteArray("empty.pcap") << QStringLiteral("the file is empty");
        QTest::newRow("a folder") << QByteArray("folder.pcap")
                                  << QStringLiteral("a folder, not a capture file");
        QTest::newRow("not a capture")
            << QByteArray("notes.txt") << QStringLiteral("unknown file format");
    }

    void openCaptureFileRefusesWhatItCannotRead() {
        QFETCH(QByteArray, name);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QByteArray native = QFile::encodeName(dir.path()) + '/' + name;
        if (name == "fifo") {
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (name == "folder.pcap") {
            QCOMPARE(::mkdir(native.constData(), 0700), 0);
        } else if (name == "empty.pcap" || name == "notes.txt") {
            QFile f(QFile::decodeName(native));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(name == "notes.txt" ? QByteArray("these are words, not frames\n")
                                        : QByteArray());
        } else {
            QFile in(test::pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap"));
            QVERIFY(in.open(QIODevice::ReadOnly));
            QByteArray bytes = in.readAll();
            if (name == "raw.pcap")
                bytes[20] = char(101); // LINKTYPE_RAW, in the file header (little-endian)
            const int fd = ::open(native.constData(), O_WRONLY | O_CREAT, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
            ::close(fd);
        }
        const QString path = fileNameFromNative(native);
        test::ScriptedMessageService messages;
        CMainFrame frame(loggingRegistry());
        app::setSelectedAdapter(QStringLiteral("eth0"));
        QCOMPARE(frame.openCaptureFile(path), refusal.isEmpty());
        if (refusal.isEmpty()) {
            QVERIFY(messages.shown().isEmpty());
            QCOMPARE(app::selectedAdapter(), captureFileAdapterName(path));
        } else {
            QCOMPARE(messages.shown().size(), 1);
            QVERIFY2(messages.shown()[0].text.contains(refusal),
                     qPrintable(messages.shown()[0].text));
            QCOMPARE(app::selectedAdapter(), QStringLiteral("eth0"));
        }
    }

    // A settings file that is not settings, or holds values of the wrong
    // kind: the frame opens with the defaults, and the operator's commands
    // work without writing over a damaged file.
    void garbageSettingsOpenWithDefaults_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("damaged");
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + i / 13) & 0xFF);
        QTest::newRow("binary noise") << noise << true;
        QTest::newRow("values of the wrong kind")
            << QByteArray("[General]\nTime%20Format=7\nWindow%20Position=a,b\n"
                          "Recent%20Files=\\0\\n\\n\nAnalyzer%20Layout=!!\n")
            << false;
    }
    void garbageSettingsOpenWithDefaults() {
        QFETCH(QByteArray, content);
        QFETCH(bool, damaged);
        QTemporaryDir dir;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("qarsilo"))));
        QFile f(dir.filePath(QStringLiteral("qarsilo/qarsilo.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        if (damaged)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("is damaged")));
        {
            CMainFrame frame(loggingRegistry());
            frame.show();
            QCOMPARE(storedTimeFormat(), 0u);
            QVERIFY(CMainFrame::recentFiles().size() <= 1);
            QVERIFY(frame.sendCommand(cmd::TimeSinceFirstFrame));
            frame.move(frame.pos() + QPoint(5, 5));
            QCOMPARE(storedTimeFormat(), damaged ? 0u : 2u);
        }
        QVERIFY(f.open(QIODevice::ReadOnly));
        if (damaged)
            QCOMPARE(f.readAll(), content);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void helpCommandsOpenTheirPage_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("tab");
        QTest::newRow("contents") << int(cmd::HelpContents) << 0;
        QTest::newRow("index") << int(cmd::HelpIndex) << 1;
        QTest::newRow("search") << int(cmd::HelpSearch) << 2;
    }

    void helpCommandsOpenTheirPage() {
        QFETCH(int, command);
        QFETCH(int, tab);
        CMainFrame frame(loggingRegistry());
        QVERIFY(frame.sendCommand(command));
        HelpWindow* help = frame.helpWindow();
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QCOMPARE(help->tabs()->currentIndex(), tab);
        // One help window, reused by the next command.
        QVERIFY(frame.sendCommand(cmd::HelpContents));
        QCOMPARE(frame.helpWindow(), help);
        QCOMPARE(help->tabs()->currentIndex(), 0);
    }

    void keyboardReachesTheMenus() {
        CMainFrame frame(loggingRegistry());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.activateWindow();
        QTest::keyClick(&frame, Qt::Key_F10);
        QTRY_VERIFY(frame.menuBar()->activeAction());
        QCOMPARE(frame.menuBar()->activeAction()->text(), QStringLiteral("File"));
        QTRY_VERIFY(frame.menuBar()->activeAction()->menu()->isVisible());
        frame.menuBar()->activeAction()->menu()->close();
    }

    void exitClosesTheFrame() {
        CMainFrame frame(loggingRegistry());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        g_log.clear();
        QVERIFY(frame.sendCommand(cmd::Exit));
        QVERIFY(!frame.isVisible());
    }

    void destroyingTheFrameDestroysTheView() {
        {
            CMainFrame frame(loggingRegistry());
            frame.switchToView(view::TraceSingle);
            g_log.clear();
        }
        QCOMPARE(g_log, QStringList{QStringLiteral("destroy 149")});
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestMainFrame)
#include "tst_main_frame.moc"
