#include "core/addressbook/node_snapshot.h"
#include "support/address_test_util.h"
#include "support/test_util.h"

#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

QStringList macs(const QList<QStringList>& rows) {
    QStringList out;
    for (const QStringList& r : rows)
        out << r.value(0);
    return out;
}

QList<NodeRecord> threeNodes() {
    return {node("00:00:00:00:00:01", "10.0.0.1", "ALPHA", "WG1"),
            node("00:00:00:00:00:02", "10.0.0.2", "beta", "WG2"),
            node("00:00:00:00:00:03", "10.0.1.3", "alpine", "wg1")};
}

} // namespace

class TestNodeSnapshot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_file = m_dir->filePath(QStringLiteral("address.mdb"));
        store(m_file, threeNodes());
    }

    // The table is read again exactly when something was written since the
    // last read, and the rows then show that write.
    void readsAgainOnlyAfterAWrite_data() {
        QTest::addColumn<QString>("between");
        QTest::addColumn<int>("reads");
        QTest::addColumn<int>("rows");
        QTest::newRow("nothing") << "nothing" << 1 << 3;
        QTest::newRow("another connection reads") << "other reads" << 1 << 3;
        QTest::newRow("another connection adds") << "other adds" << 2 << 4;
        QTest::newRow("another connection deletes") << "other deletes" << 2 << 2;
        QTest::newRow("a refused add elsewhere") << "other fails" << 1 << 3;
        QTest::newRow("this connection adds") << "own adds" << 2 << 4;
        QTest::newRow("the connection is opened anew") << "reopen" << 2 << 3;
    }

    void readsAgainOnlyAfterAWrite() {
        QFETCH(QString, between);
        QFETCH(int, reads);
        QFETCH(int, rows);
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        NodeSnapshot snapshot;
        QVERIFY(snapshot.refresh(db));
        QCOMPARE(snapshot.reads(), 1);
        QCOMPARE(macs(snapshot.rows()), macsIn(m_file));
        {
            AddressDatabase other(m_file);
            QVERIFY(other.open());
            const NodeRecord fourth = node("00:00:00:00:00:04", "10.0.0.4", "NEW");
            if (between == QLatin1String("other reads")) {
                QList<NodeRecord> all;
                QVERIFY(other.listNodes(all));
            } else if (between == QLatin1String("other adds")) {
                QVERIFY(other.addNode(fourth));
            } else if (between == QLatin1String("other deletes")) {
                QCOMPARE(other.deleteNode(QStringLiteral("00:00:00:00:00:02")),
                         AddressDatabase::Outcome::Done);
            } else if (between == QLatin1String("other fails")) {
                QVERIFY(!other.addNode(threeNodes()[0]));
            } else if (between == QLatin1String("own adds")) {
                QVERIFY(db.addNode(fourth));
            } else if (between == QLatin1String("reopen")) {
                QVERIFY(db.open());
            }
        }
        QVERIFY(snapshot.refresh(db));
        QVERIFY(snapshot.refresh(db));
        QCOMPARE(snapshot.reads(), reads);
        QCOMPARE(snapshot.rows().size(), rows);
        QCOMPARE(macs(snapshot.rows()), macsIn(m_file));
    }

    void selectFiltersInTableOrder_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("found");
        using K = NodeFilter::Kind;
        QTest::newRow("all") << int(K::All) << ""
                             << words({"00:00:00:00:00:01", "00:00:00:00:00:02",
                                       "00:00:00:00:00:03"});
        QTest::newRow("name start, case aside")
            << int(K::Name) << "AL" << words({"00:00:00:00:00:01", "00:00:00:00:00:03"});
        QTest::newRow("workgroup, case aside")
            << int(K::Workgroup) << "WG1" << words({"00:00:00:00:00:01", "00:00:00:00:00:03"});
        QTest::newRow("address prefix")
            << int(K::Address) << "10.0.1" << words({"00:00:00:00:00:03"});
        QTest::newRow("nothing") << int(K::Name) << "zz" << QStringList();
    }

    void selectFiltersInTableOrder() {
        QFETCH(int, kind);
        QFETCH(QString, value);
        QFETCH(QStringList, found);
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        NodeSnapshot snapshot;
        QVERIFY(snapshot.refresh(db));
        const QList<QStringList> rows = snapshot.select({NodeFilter::Kind(kind), value});
        QCOMPARE(macs(rows), found);
        for (const QStringList& r : rows)
            QCOMPARE(r.size(), 11);
    }

    // A write of this connection is patched into the rows when it is the only
    // change; with another connection's write in between, the rows are read.
    void ownWritesArePatchedIn_data() {
        QTest::addColumn<bool>("otherWritesFirst");
        QTest::addColumn<int>("reads");
        QTest::newRow("alone: patched") << false << 1;
        QTest::newRow("after another write: read again") << true << 2;
    }

    void ownWritesArePatchedIn() {
        QFETCH(bool, otherWritesFirst);
        QFETCH(int, reads);
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        NodeSnapshot snapshot;
        QVERIFY(snapshot.refresh(db));
        if (otherWritesFirst)
            store(m_file, {node("00:00:00:00:00:09", "10.0.0.9", "OTHER")});
        const QString gone = QStringLiteral("00:00:00:00:00:02");
        QCOMPARE(db.deleteNode(gone), AddressDatabase::Outcome::Done);
        bool patched = false;
        snapshot.applyOwnWrite(db, [&](QList<QStringList>& rows) {
            patched = true;
            rows.removeIf([&](const QStringList& r) { return r[0] == gone; });
        });
        QCOMPARE(patched, !otherWritesFirst);
        QVERIFY(snapshot.refresh(db));
        QCOMPARE(snapshot.reads(), reads);
        QCOMPARE(macs(snapshot.rows()), macsIn(m_file));
    }

    // A table that cannot be read is read again next time, not taken as empty.
    void failedReadIsNotKept() {
        AddressDatabase db(m_file);
        NodeSnapshot snapshot;
        QVERIFY(!snapshot.refresh(db)); // not open
        QVERIFY(snapshot.rows().isEmpty());
        QVERIFY(db.open());
        QVERIFY(snapshot.refresh(db));
        QCOMPARE(snapshot.rows().size(), 3);
        snapshot.invalidate();
        const int before = snapshot.reads();
        QVERIFY(snapshot.refresh(db));
        QCOMPARE(snapshot.reads(), before + 1);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
};

QTEST_GUILESS_MAIN(TestNodeSnapshot)
#include "tst_node_snapshot.moc"
