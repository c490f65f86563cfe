#include "address_test_util.h"
#include "addressbook/address_database.h"
#include "support/test_util.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

class TestAddressDatabase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_file = m_dir->filePath(QStringLiteral("address.mdb"));
    }

    void defaultFileIsInTheWorkingDirectory() {
        QCOMPARE(AddressDatabase::defaultFileName(), QStringLiteral("address.mdb"));
        AddressDatabase::setDefaultFileName(m_file);
        QCOMPARE(AddressDatabase().fileName(), m_file);
        AddressDatabase::setDefaultFileName(QString());
        QCOMPARE(AddressDatabase().fileName(), QStringLiteral("address.mdb"));
    }

    void missingFileIsCreatedWithItsFourTables() {
        AddressDatabase db(m_file);
        QVERIFY2(db.open(), qPrintable(db.lastError()));
        QVERIFY(QFile::exists(m_file));
        QList<NodeRecord> nodes;
        QVERIFY(db.listNodes(nodes));
        QVERIFY(nodes.isEmpty());
        for (GroupTable t : {GroupTable::Workgroup, GroupTable::Location, GroupTable::Subnet}) {
            QStringList names;
            QVERIFY(db.listGroups(t, names));
            QVERIFY(names.isEmpty());
        }
        // Table names are the same table in either letter case.
        QVERIFY(rawSql(m_file, {QStringLiteral("INSERT INTO Node (MAC) VALUES ('x')"),
                                QStringLiteral("INSERT INTO WorkgroupTree VALUES ('w')")}));
        QCOMPARE(macsIn(m_file), QStringList{QStringLiteral("x")});
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), QStringList{QStringLiteral("w")});
    }

    // What the operator is told when the file cannot be used.
    void openFailures_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("inMissingFolder");
        QTest::newRow("not a database")
            << QByteArray("Standard Jet DB, not SQLite") + QByteArray(2000, 'x') << false;
        QTest::newRow("folder does not exist") << QByteArray() << true;
    }

    void openFailures() {
        QFETCH(QByteArray, content);
        QFETCH(bool, inMissingFolder);
        QString file = m_file;
        if (inMissingFolder) {
            file = m_dir->filePath(QStringLiteral("no/such/folder/address.mdb"));
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        AddressDatabase db(file);
        QVERIFY(!db.open());
        QVERIFY(!db.isOpen());
        QVERIFY(!db.lastError().isEmpty());
        // A failed open leaves the file as it was.
        if (!inMissingFolder) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), content);
        }
        QList<NodeRecord> nodes;
        QVERIFY(!db.listNodes(nodes));
    }

    void nodesComeBackInTheOrderAdded() {
        const QList<NodeRecord> nodes = {node("00:00:00:00:00:03", "10.0.0.3", "C"),
                                         node("00:00:00:00:00:01", "10.0.0.1", "A"),
                                         node("00:00:00:00:00:02", "10.0.0.2", "B")};
        store(m_file, nodes);
        QCOMPARE(nodesIn(m_file), nodes);
    }

    void addingANodeAddsItsGroupNames() {
        store(m_file, {node("aa:00:00:00:00:01", "192.168.100.27", "PC1", "OFFICE", "Floor 1")});
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"OFFICE"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Location), words({"Floor 1"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Subnet), words({"192.168.100.0"}));
        // The same names again change nothing; another letter case is another name.
        store(m_file, {node("aa:00:00:00:00:02", "192.168.100.28", "PC2", "OFFICE", "floor 1")});
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"OFFICE"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Location), words({"Floor 1", "floor 1"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Subnet), words({"192.168.100.0"}));
    }

    // The MAC is the node's key: a second row for it is refused, whatever the
    // letter case, and the refused add leaves every table as it was.
    void duplicateMac_data() {
        QTest::addColumn<QString>("second");
        QTest::newRow("same text") << "00:11:22:aa:bb:cc";
        QTest::newRow("other letter case") << "00:11:22:AA:BB:CC";
    }

    void duplicateMac() {
        QFETCH(QString, second);
        store(m_file, {node("00:11:22:aa:bb:cc", "10.1.1.1", "FIRST", "WG1", "L1")});
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        NodeRecord dup = node("", "10.2.2.2", "SECOND", "WG2", "L2");
        dup.mac = second;
        QVERIFY(!db.addNode(dup));
        QVERIFY(!db.lastError().isEmpty());
        QCOMPARE(nodesIn(m_file).size(), 1);
        QCOMPARE(nodesIn(m_file).first().name, QStringLiteral("FIRST"));
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"WG1"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Location), words({"L1"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Subnet), words({"10.1.1.0"}));
    }

    void emptyGroupNamesAreNames() {
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        QVERIFY(db.addGroupIfAbsent(GroupTable::Location, QString()));
        QVERIFY(db.addGroupIfAbsent(GroupTable::Location, QStringLiteral("")));
        QVERIFY(db.addGroupIfAbsent(GroupTable::Location, QStringLiteral(" x ")));
        QCOMPARE(groupsIn(m_file, GroupTable::Location), words({"", " x "}));
    }

    // Names are data, never SQL.
    void quotesAndLineBreaksAreStoredAsTyped() {
        NodeRecord n = node("00:00:00:00:00:09", "1.2.3.4", "O'Brien\"; DROP TABLE node; --");
        n.description = QStringLiteral("two\nlines");
        store(m_file, {n});
        QCOMPARE(nodesIn(m_file), QList<NodeRecord>{n});
    }

    void findIsExact() {
        store(m_file, {node("00:0a:00:00:00:01", "10.0.0.1", "A")});
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        NodeRecord found;
        QCOMPARE(db.findNode(QStringLiteral("00:0a:00:00:00:01"), found),
                 AddressDatabase::Outcome::Done);
        QCOMPARE(found.name, QStringLiteral("A"));
        QCOMPARE(db.findNode(QStringLiteral("00:0A:00:00:00:01"), found),
                 AddressDatabase::Outcome::NotFound);
        QCOMPARE(db.findNode(QString(), found), AddressDatabase::Outcome::NotFound);
    }

    void updateChangesOnlyTheEditableColumns() {
        const NodeRecord before = node("00:00:00:00:00:01", "10.0.0.1", "OLD", "WG", "Lab");
        const NodeRecord other = node("00:00:00:00:00:02", "10.0.0.2", "OTHER");
        store(m_file, {before, other});
        NodeRecord edited = before;
        edited.ip = QStringLiteral("not an address");
        edited.name = QStringLiteral("NEW");
        edited.workgroup = QStringLiteral("NEWWG");
        edited.date = QStringLiteral("02 Feb 2021, 11:12:13");
        edited.description = QStringLiteral("changed");
        edited.subnet = QStringLiteral("anything");
        edited.location = QStringLiteral("NEWLOC");
        edited.ipv6 = QStringLiteral("fe80::1");
        edited.domainName = QStringLiteral("ignored");
        edited.type = QStringLiteral("ignored");
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        QCOMPARE(db.updateNode(edited), AddressDatabase::Outcome::Done);
        NodeRecord expected = edited;
        expected.domainName = before.domainName;
        expected.type = before.type;
        QCOMPARE(nodesIn(m_file), (QList<NodeRecord>{expected, other}));
        // Group tables are left alone by an edit.
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"WG"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Location), words({"Lab"}));
    }

    // A key that is not (or no longer) stored changes nothing.
    void missingKeysChangeNothing() {
        const QList<NodeRecord> nodes = {node("00:00:00:00:00:01", "10.0.0.1", "A"),
                                         node("00:00:00:00:00:02", "10.0.0.2", "B")};
        store(m_file, nodes);
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        NodeRecord ghost = node("00:00:00:00:00:99", "10.9.9.9", "GHOST");
        QCOMPARE(db.updateNode(ghost), AddressDatabase::Outcome::NotFound);
        QCOMPARE(db.deleteNode(ghost.mac), AddressDatabase::Outcome::NotFound);
        QCOMPARE(db.deleteGroup(GroupTable::Workgroup, QStringLiteral("wg")),
                 AddressDatabase::Outcome::NotFound);
        QCOMPARE(nodesIn(m_file), nodes);
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"WG"}));
    }

    void deleteRemovesOneRow() {
        store(m_file, {node("00:00:00:00:00:01", "10.0.0.1", "A"),
                       node("00:00:00:00:00:02", "10.0.0.2", "B"),
                       node("00:00:00:00:00:03", "10.0.0.3", "C")});
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        QCOMPARE(db.deleteNode(QStringLiteral("00:00:00:00:00:02")),
                 AddressDatabase::Outcome::Done);
        QCOMPARE(macsIn(m_file), words({"00:00:00:00:00:01", "00:00:00:00:00:03"}));
        QVERIFY(db.addGroupIfAbsent(GroupTable::Workgroup, QStringLiteral("X")));
        QCOMPARE(db.deleteGroup(GroupTable::Workgroup, QStringLiteral("WG")),
                 AddressDatabase::Outcome::Done);
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"X"}));
        // Nodes that carry a deleted group name keep it.
        QCOMPARE(nodesIn(m_file).first().workgroup, QStringLiteral("WG"));
    }

    void clearAllEmptiesEveryTable() {
        store(m_file, {node("00:00:00:00:00:01", "10.0.0.1", "A")}, {QStringLiteral("EXTRA")});
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        QVERIFY(db.clearAll());
        QVERIFY(nodesIn(m_file).isEmpty());
        for (GroupTable t : {GroupTable::Workgroup, GroupTable::Location, GroupTable::Subnet})
            QVERIFY(groupsIn(m_file, t).isEmpty());
    }

    // Files written by other tools may hold NULLs; a NULL reads as empty text
    // and the rows after it are listed too.
    void nullsReadAsEmptyText() {
        QVERIFY(rawSql(
            m_file,
            {QStringLiteral("CREATE TABLE node (MAC TEXT UNIQUE, IP TEXT, IPv6 TEXT, NAME TEXT, "
                            "WORKGROUP TEXT, DOMAINNAME TEXT, DATE TEXT, DESCRIPTION TEXT, "
                            "LOCATION TEXT, SUBNET TEXT, TYPE TEXT)"),
             QStringLiteral("INSERT INTO node (MAC, IP, NAME) VALUES ('m1', '1.1.1.1', 'ONE')"),
             QStringLiteral("INSERT INTO node (MAC, IP, NAME, DOMAINNAME) VALUES "
                            "('m2', '2.2.2.2', 'TWO', NULL)"),
             QStringLiteral(
                 "INSERT INTO node (MAC, IP, NAME) VALUES ('m3', '3.3.3.3', 'THREE')")}));
        const QList<NodeRecord> nodes = nodesIn(m_file);
        QCOMPARE(nodes.size(), 3);
        QCOMPARE(nodes[1].name, QStringLiteral("TWO"));
        QCOMPARE(nodes[1].domainName, QString());
        // The missing group tables were added beside the existing node table.
        QVERIFY(groupsIn(m_file, GroupTable::Subnet).isEmpty());
    }

    void twoConnectionsSeeEachOthersChanges() {
        AddressDatabase a(m_file);
        AddressDatabase b(m_file);
        QVERIFY(a.open());
        QVERIFY(b.open());
        QVERIFY(a.addNode(node("00:00:00:00:00:01", "10.0.0.1", "A")));
        QList<NodeRecord> seen;
        QVERIFY(b.listNodes(seen));
        QCOMPARE(seen.size(), 1);
        QCOMPARE(b.deleteNode(QStringLiteral("00:00:00:00:00:01")), AddressDatabase::Outcome::Done);
        seen.clear();
        QVERIFY(a.listNodes(seen));
        QVERIFY(seen.isEmpty());
    }

    void namesByLowerCaseMac() {
        store(m_file, {node("00:AA:00:00:00:01", "10.0.0.1", "UPPER"),
                       node("00:bb:00:00:00:02", "10.0.0.2", "lower")});
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        QHash<QString, QString> names;
        QVERIFY(db.loadNames(names));
        QCOMPARE(names.value(QStringLiteral("00:aa:00:00:00:01")), QStringLiteral("UPPER"));
        QCOMPARE(names.value(QStringLiteral("00:bb:00:00:00:02")), QStringLiteral("lower"));
        QCOMPARE(names.size(), 2);
    }

    void closedConnectionFailsCleanly() {
        AddressDatabase db(m_file);
        QList<NodeRecord> nodes;
        QVERIFY(!db.listNodes(nodes));
        QVERIFY(!db.addNode(node("00:00:00:00:00:01", "1.1.1.1", "A")));
        NodeRecord n;
        QCOMPARE(db.findNode(QStringLiteral("x"), n), AddressDatabase::Outcome::Failed);
        QVERIFY(!db.clearAll());
        QVERIFY(!QFile::exists(m_file));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
};

QTEST_GUILESS_MAIN(TestAddressDatabase)
#include "tst_address_database.moc"
