#include "core/app/settings_store.h"
#include "core/discovery/discovery_database.h"
#include "core/discovery/discovery_tables.h"
#include "gui/addressbook/address_book_dlg.h"
#include "gui/addressbook/book_location_dlg.h"
#include "gui/widgets/report_list.h"
#include "support/address_test_util.h"
#include "support/scripted_message_service.h"

#include <QDateTime>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

// A node the autodiscovery found.
DiscoveredNode discovered(int writer, int i) {
    DiscoveredNode n;
    n.mac = {0x02, 0, 0, 0, static_cast<std::uint8_t>(i / 256), static_cast<std::uint8_t>(i % 256)};
    n.ip = (10u << 24) | static_cast<std::uint32_t>(i);
    n.name = QStringLiteral("W%1-%2").arg(writer).arg(i);
    n.time = QDateTime(QDate(2020, 1, 1), QTime(10, 0)).toSecsSinceEpoch();
    return n;
}

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

CliRun cli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QARSILO_CLI_PATH), args);
    CliRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class TestSharedBook : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        if (testServerUrl().isEmpty())
            QSKIP("no PostgreSQL server programs were found when the tests were built");
        m_book = std::make_unique<ScratchServerBook>();
        QVERIFY2(m_book->ok(), qPrintable(m_book->error()));
    }
    void cleanup() { m_book.reset(); }

    // Two programs save overlapping discoveries into one book at once, while
    // a third reads: every node arrives once, and a reader only ever sees
    // whole saves (never a part of one).
    void twoWritersAtOnce() {
        const QString url = m_book->url();
        store(url, {});
        constexpr int perWriter = 400, overlap = 150;
        QList<DiscoveredNode> rows[2];
        for (int i = 0; i < perWriter; ++i) {
            rows[0] << discovered(1, i);
            rows[1] << discovered(2, perWriter - overlap + i);
        }
        std::atomic<bool> go{false}, done{false};
        std::atomic<int> failures{0};
        QString why;
        QSet<qsizetype> counts;
        const auto saver = [&](int w) {
            return QThread::create([&, w] {
                AddressDatabase db(url);
                QStringList log;
                const bool opened = db.open();
                while (!go)
                    QThread::yieldCurrentThread();
                if (!opened || !saveDiscoveredNodes(db, rows[w], rowsToSave({}, perWriter), log)) {
                    if (failures.fetch_add(1) == 0)
                        why = db.lastError();
                }
            });
        };
        std::unique_ptr<QThread> reader(QThread::create([&] {
            AddressDatabase db(url);
            if (!db.open())
                return;
            while (!done) {
                QList<QStringList> seen;
                if (db.listNodeTexts(seen))
                    counts.insert(seen.size());
            }
        }));
        std::unique_ptr<QThread> a(saver(0)), b(saver(1));
        reader->start();
        a->start();
        b->start();
        go = true;
        a->wait();
        b->wait();
        done = true;
        reader->wait();
        QVERIFY2(failures == 0, qPrintable(why));
        const QList<NodeRecord> nodes = nodesIn(url);
        QCOMPARE(nodes.size(), 2 * perWriter - overlap);
        QSet<QString> macs;
        for (const NodeRecord& n : nodes)
            macs.insert(n.mac.toLower());
        QCOMPARE(macs.size(), nodes.size());
        counts.remove(0);
        counts.remove(perWriter);
        counts.remove(2 * perWriter - overlap);
        QVERIFY2(counts.isEmpty(), "a reader saw a save half-way");
    }

    // A window on a shared book shows what another program saved within a
    // second, through the search it shows, with the selection kept.
    void windowFollowsOtherWriters() {
        const QString url = m_book->url();
        store(url, {node("00:00:00:00:00:01", "10.0.0.1", "BRAVO")});
        ScriptedMessageService messages;
        CAddressBookDlg dlg(nullptr, url);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.nameField()->setText(QStringLiteral("b"));
        QCOMPARE(dlg.list()->rowCount(), 1);
        dlg.list()->selectRow(0);
        store(url, {node("00:00:00:00:00:02", "10.0.0.2", "ALPHA"),
                    node("00:00:00:00:00:03", "10.0.0.3", "BETA")});
        QTRY_COMPARE_WITH_TIMEOUT(dlg.list()->rowCount(), 2, 1500);
        QCOMPARE(dlg.list()->text(1, 3), QStringLiteral("BETA"));
        QCOMPARE(dlg.list()->selectedRowNumbers(), QList<int>{0});
        QVERIFY(messages.shown().isEmpty());
    }

    // File > Address Book Location: a book that does not open is reported
    // (its password not shown) and the old value stays; one that opens is
    // kept in the settings and used from then on.
    void locationIsCheckedBeforeItIsKept() {
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath(QStringLiteral("s.ini")));
        ScriptedMessageService messages;
        QString typed;
        const auto typeAndOk = [&typed](QDialog& d) {
            auto& dlg = static_cast<CBookLocationDlg&>(d);
            dlg.field()->setText(typed);
            dlg.accept();
            return dlg.result();
        };
        typed = m_book->url().replace(QStringLiteral("?host="),
                                      QStringLiteral("x?password=s3cr3tpw&host="));
        QVERIFY(!changeBookLocation(nullptr, settings, typeAndOk));
        QCOMPARE(messages.shown().size(), 1);
        QVERIFY2(messages.shown()[0].text.contains(QLatin1String("does not exist")),
                 qPrintable(messages.shown()[0].text));
        QVERIFY(!messages.shown()[0].text.contains(QLatin1String("s3cr3tpw")));
        QVERIFY(settings.string(setting::addressBook).isEmpty());
        QCOMPARE(AddressDatabase::defaultFileName(), QStringLiteral("address.mdb"));

        typed = m_book->url();
        QVERIFY(changeBookLocation(nullptr, settings, typeAndOk));
        QCOMPARE(settings.string(setting::addressBook), typed);
        QCOMPARE(AddressDatabase().fileName(), typed);
        AddressDatabase::setDefaultFileName(QString());
    }

    // A book copied file -> server -> file arrives whole and in order; a
    // target that holds anything is refused and left as it was.
    void copyBothWays() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a.mdb"));
        QList<NodeRecord> nodes;
        for (int i = 0; i < 300; ++i)
            nodes << node(qPrintable(discoveryMacText(discovered(0, i).mac)),
                          qPrintable(nodeIpText(discovered(0, i))),
                          qPrintable(QStringLiteral("N%1").arg(i)),
                          qPrintable(QStringLiteral("WG%1").arg(i % 7)), i % 2 ? "B" : "A");
        nodes[5].description = QStringLiteral("it's \"quoted\"\nand two lines; ünïcode");
        store(file, nodes, {QStringLiteral("EMPTY GROUP")});
        const QString url = m_book->url();
        const QString back = dir.filePath(QStringLiteral("b.mdb"));

        CliRun r = cli({QStringLiteral("book"), QStringLiteral("copy"), file, url});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(r.out,
                 QStringLiteral("copied 300 nodes, 8 workgroups, 2 locations, 2 IP ranges\n"));
        r = cli({QStringLiteral("book"), QStringLiteral("copy"), url, back});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        for (const QString& copy : {url, back}) {
            QCOMPARE(nodesIn(copy), nodes);
            for (GroupTable t : {GroupTable::Workgroup, GroupTable::Location, GroupTable::Subnet})
                QCOMPARE(groupsIn(copy, t), groupsIn(file, t));
        }

        // Refused: a target with nodes, and one with only a group name.
        const QString groupOnly = dir.filePath(QStringLiteral("c.mdb"));
        store(groupOnly, {}, {QStringLiteral("X")});
        for (const QString& target : {url, groupOnly}) {
            r = cli({QStringLiteral("book"), QStringLiteral("copy"), back, target});
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(
                         QLatin1String("is not empty: a book is copied only into an empty one")),
                     qPrintable(r.err));
        }
        QCOMPARE(nodesIn(url).size(), nodes.size());
        QVERIFY(nodesIn(groupOnly).isEmpty());
        r = cli({QStringLiteral("book"), QStringLiteral("copy"),
                 dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("d.mdb"))});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("d.mdb"))));
    }

private:
    std::unique_ptr<ScratchServerBook> m_book;
};

QTEST_MAIN(TestSharedBook)
#include "tst_shared_book.moc"
