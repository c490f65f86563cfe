#include "app/qarsilo_app.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "gui/addressbook/address_book_dlg.h"
#include "gui/discovery/autodiscovery_dlg.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/view.h"

#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace qarsilo;

// Start-up: where the adapter of the run comes from, and the window it shows.
class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void adapterAtStartup_data() {
        QTest::addColumn<QString>("stored");        // "Adapter Name" before start
        QTest::addColumn<QString>("dialogChooses"); // what the operator clicks; empty: nothing
        QTest::addColumn<QString>("defaultDevice"); // libpcap's default device
        QTest::addColumn<int>("dialogRuns");
        QTest::addColumn<QString>("selected"); // adapter of the run
        QTest::addColumn<QString>("storedAfter");

        QTest::newRow("stored adapter, no dialog") << "eth1"
                                                   << ""
                                                   << "eth0" << 0 << "eth1"
                                                   << "eth1";
        QTest::newRow("stored with blanks") << "  eth1 "
                                            << ""
                                            << "eth0" << 0 << "eth1"
                                            << "  eth1 ";
        QTest::newRow("stored capture file") << "file:/data/x.pcap"
                                             << ""
                                             << "eth0" << 0 << "file:/data/x.pcap"
                                             << "file:/data/x.pcap";
        QTest::newRow("nothing stored, operator chooses") << ""
                                                          << "wlan0"
                                                          << "eth0" << 1 << "wlan0"
                                                          << "wlan0";
        QTest::newRow("nothing stored, nothing chosen: default for this run only")
            << ""
            << ""
            << "eth0" << 1 << "eth0"
            << "";
        QTest::newRow("no devices at all") << ""
                                           << ""
                                           << "" << 1 << ""
                                           << "";
    }

    void adapterAtStartup() {
        QFETCH(QString, stored);
        QFETCH(QString, dialogChooses);
        QFETCH(QString, defaultDevice);
        QFETCH(int, dialogRuns);
        QFETCH(QString, selected);
        QFETCH(QString, storedAfter);

        QTemporaryDir dir;
        SettingsStore store(dir.filePath(QStringLiteral("s.ini")));
        if (!stored.isEmpty())
            store.writeString(setting::adapterName, stored);
        app::setSelectedAdapter(QString());

        int runs = 0;
        CqarsiloApp::Environment env;
        env.settings = store;
        env.runAdapterDialog = [&](QWidget*) {
            ++runs;
            // As the dialog does on OK.
            if (!dialogChooses.isEmpty()) {
                app::setSelectedAdapter(dialogChooses);
                store.writeString(setting::adapterName, dialogChooses);
            }
        };
        env.defaultDevice = [&] { return defaultDevice; };
        CqarsiloApp application(env);
        QVERIFY(application.initInstance());

        QCOMPARE(runs, dialogRuns);
        QCOMPARE(app::selectedAdapter(), selected);
        QCOMPARE(store.string(setting::adapterName), storedAfter);
    }

    void captureFileNamedAtStartOpensInTheAnalyzer() {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        SettingsStore store(dir.filePath(QStringLiteral("s.ini")));
        app::setSelectedAdapter(QString());
        int dialogs = 0;
        CqarsiloApp::Environment env;
        env.settings = store;
        env.runAdapterDialog = [&dialogs](QWidget*) { ++dialogs; };
        env.defaultDevice = [] { return QStringLiteral("eth0"); };
        env.captureFile = test::pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap");
        CqarsiloApp application(env);
        QVERIFY(application.initInstance());
        // No adapter is asked for: the file is what the operator wants to see.
        QCOMPARE(dialogs, 0);
        QCOMPARE(app::selectedAdapter(), QStringLiteral("file:") + env.captureFile);
        QCOMPARE(application.mainFrame()->activeTemplate(), int(view::CaptureDecode));
        // Nothing is stored: the next start uses the adapter as before.
        QCOMPARE(store.string(setting::adapterName), QString());
    }

    // `qarsilo ARG`: a file whose name spells a command is opened, never run.
    void captureArgument_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("existing"); // a file made in the working folder first
        QTest::addColumn<QString>("expected"); // "@/" stands for the working folder
        const auto s = [](const char* t) { return QString::fromUtf8(t); };
        const QString hostile = s("pipe:touch ran; cat x");
        QTest::newRow("file named like a command")
            << QStringList{hostile} << hostile << s("@/") + hostile;
        QTest::newRow("command") << QStringList{hostile} << QString() << hostile;
        QTest::newRow("standard input") << QStringList{s("-")} << QString() << s("-");
        QTest::newRow("after --, always a file")
            << QStringList{s("--"), hostile} << QString() << s("@/") + hostile;
        QTest::newRow("relative file") << QStringList{s("a.pcap")} << QString() << s("@/a.pcap");
        QTest::newRow("absolute file")
            << QStringList{s("/x/a.pcap")} << QString() << s("/x/a.pcap");
        QTest::newRow("none") << QStringList{} << QString() << QString();
    }

    void captureArgument() {
        QFETCH(QStringList, args);
        QFETCH(QString, existing);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (!existing.isEmpty()) {
            QFile file(dir.filePath(existing));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        std::vector<QByteArray> bytes{QByteArrayLiteral("qarsilo")};
        for (const QString& a : args)
            bytes.push_back(a.toUtf8());
        std::vector<char*> argv;
        for (QByteArray& b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString got = CqarsiloApp::captureArgument(int(bytes.size()), argv.data());
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(previous);
        QCOMPARE(got, QString(expected).replace(QStringLiteral("@/"), cwd + QLatin1Char('/')));
    }

    void showsTheFrameWithTheStartView() {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(QStringLiteral("s.ini")));
        store.writeString(setting::adapterName, QStringLiteral("eth0"));
        CqarsiloApp::Environment env;
        env.settings = store;
        env.defaultDevice = [] { return QString(); };
        CqarsiloApp application(env);
        QVERIFY(application.initInstance());
        CMainFrame* frame = application.mainFrame();
        QVERIFY(frame);
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        QCOMPARE(frame->windowTitle(), QStringLiteral("qarsilo"));
        QCOMPARE(frame->size(), QSize(1024, 768));
        QCOMPARE(frame->activeTemplate(), int(view::Start));
        QCOMPARE(frame->activeView()->windowTitle(), QStringLiteral("Main View"));
        QCOMPARE(frame->statusText(), QStringLiteral("Ready"));
    }

    // The program opens the address book and autodiscovery windows for each
    // other: the book offers autodiscovery, and autodiscovery offers the
    // group editor when no local range is known.
    void bookAndDiscoveryOpenEachOther() {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(QStringLiteral("s.ini")));
        store.writeString(setting::adapterName, QStringLiteral("eth0"));
        CqarsiloApp::Environment env;
        env.settings = store;
        env.defaultDevice = [] { return QString(); };
        CqarsiloApp application(env);
        QVERIFY(application.initInstance());
        const QString book = dir.filePath(QStringLiteral("address.mdb"));
        qarsilo::test::ScriptedMessageService messages;
        CAddressBookDlg addressBook(nullptr, book);
        QVERIFY(addressBook.button(CAddressBookDlg::Autodiscover)->isEnabled());
        CAutodiscoveryDlg discovery(nullptr, book);
        QString opened;
        QTimer::singleShot(0, &discovery, [&opened] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                opened = QString::fromLatin1(w->metaObject()->className());
                w->close();
            }
        });
        discovery.ipBox()->click();
        QCOMPARE(opened, QStringLiteral("CGroupEditorDlg"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
