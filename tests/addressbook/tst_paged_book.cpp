#include "core/addressbook/node_columns.h"
#include "core/addressbook/node_query.h"
#include "core/lists/report_list_model.h"
#include "gui/addressbook/address_book_dlg.h"
#include "gui/widgets/report_list.h"
#include "support/address_test_util.h"
#include "support/scripted_message_service.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

// Names, addresses and groups that probe the matching rules: letter case,
// LIKE's wildcards and escape, letters beyond ASCII, prefixes of numbers.
QList<NodeRecord> generatedBook(int n) {
    static const char* const names[] = {"host", "HOST", "Host_a", "hostXa", "100%",  "10x%",
                                        "a\\b", "ab",   "",       "Ärger",  "ärger", " host"};
    static const char* const groups[] = {"WG", "wg", "Wg2", "Ärger", "ärger", "w_"};
    QList<NodeRecord> out;
    for (int i = 0; i < n; ++i) {
        NodeRecord r = node("", "", "");
        r.mac = QStringLiteral("00:00:00:00:%1:%2")
                    .arg(i / 256, 2, 16, QLatin1Char('0'))
                    .arg(i % 256, 2, 16, QLatin1Char('0'));
        r.ip = QStringLiteral("10.%1.%2.%3").arg(i % 3 == 0 ? 1 : 10).arg(i % 7).arg(i % 11);
        r.name = QString::fromUtf8(names[i % 12]) + QString::number(i % 5);
        r.workgroup = QString::fromUtf8(groups[i % 6]);
        r.location = QString::fromUtf8(groups[(i + 1) % 6]);
        r.subnet = r.ip.section(QLatin1Char('.'), 0, 2) + QStringLiteral(".0");
        out << r;
    }
    return out;
}

// Sort probes: ties, empty texts, blanks, dots and hyphens; "mixed" adds
// texts the database cannot order as the list does (letter case, numbers,
// letters beyond ASCII, upper-case MACs).
QList<NodeRecord> sortBook(int n, bool mixed) {
    QStringList names = {QStringLiteral("HOST-1"), QStringLiteral("HOST 2"),
                         QStringLiteral("H.3"),    QString(),
                         QStringLiteral("HOST10"), QStringLiteral("A"),
                         QStringLiteral("ZZ.9"),   QStringLiteral("HOST")};
    if (mixed)
        names << QStringLiteral("Host_a") << QStringLiteral("host") << QStringLiteral("123")
              << QStringLiteral("Ärger");
    QList<NodeRecord> out;
    for (int i = 0; i < n; ++i) {
        NodeRecord r = node("", "", "");
        r.mac = QStringLiteral("00:00:%1:00:%2:%3")
                    .arg(i * 37 % 256, 2, 16, QLatin1Char('0'))
                    .arg(i / 256, 2, 16, QLatin1Char('0'))
                    .arg(i % 256, 2, 16, QLatin1Char('0'));
        if (mixed && i % 5 == 0)
            r.mac = r.mac.toUpper();
        r.ip = i % 9 == 0 ? QString()
                          : QStringLiteral("10.%1.%2.%3").arg(i % 3 * 5).arg(i % 7).arg(i % 11);
        r.name = names[i * 7 % names.size()];
        if (!r.name.isEmpty() && i % 4)
            r.name += QString::number(i % 13);
        r.workgroup = i % 3 ? QStringLiteral("WG") : QStringLiteral("WG2");
        r.location = QStringLiteral("floor %1").arg(i % 5);
        r.subnet = r.ip.section(QLatin1Char('.'), 0, 2) + QStringLiteral(".0");
        r.date = QStringLiteral("%1 Jan 2020, 1%2:00:00")
                     .arg(i % 3 + 1, 2, 10, QLatin1Char('0'))
                     .arg(i % 2);
        r.type = i % 4 ? QStringLiteral("-") : QStringLiteral("ROUTER");
        out << r;
    }
    return out;
}

} // namespace

class TestPagedBook : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data() {
        QTest::addColumn<bool>("server");
        QTest::newRow("file") << false;
        QTest::newRow("postgresql") << true;
    }

    void init() {
        QFETCH_GLOBAL(bool, server);
        m_server = server;
        m_dir = std::make_unique<QTemporaryDir>();
        m_file = m_dir->filePath(QStringLiteral("address.mdb"));
        m_messages = std::make_unique<ScriptedMessageService>();
        CAddressBookDlg::setAutodiscoveryRunner({});
        if (server) {
            if (testServerUrl().isEmpty())
                QSKIP("no PostgreSQL server programs were found when the tests were built");
            m_book = std::make_unique<ScratchServerBook>();
            QVERIFY2(m_book->ok(), qPrintable(m_book->error()));
            m_file = m_book->url();
        }
    }

    void cleanup() {
        CAddressBookDlg::setPagedFrom(CAddressBookDlg::kPagedFrom);
        m_messages.reset(); // before the next one takes its place
        m_book.reset();
    }

    // The database's filter lists the same nodes in the same order as the
    // filter the window applies in memory.
    void sqlFilterListsWhatMemoryLists_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        using K = NodeFilter::Kind;
        const struct {
            const char* tag;
            K kind;
            const char* value;
        } rows[] = {
            {"all", K::All, ""},
            {"name prefix, case aside", K::Name, "hO"},
            {"name with %", K::Name, "10"},
            {"name % literal", K::Name, "10x%"},
            {"name _ literal", K::Name, "host_"},
            {"name backslash", K::Name, "a\\"},
            {"name blank first", K::Name, " h"},
            {"address 10.1 also finds 10.10", K::Address, "10.1"},
            {"address full", K::Address, "10.10.3.3"},
            {"workgroup, case aside", K::Workgroup, "wg"},
            {"workgroup _ literal", K::Workgroup, "W_"},
            {"location", K::Location, "wG2"},
            {"ip range", K::IpRange, "10.1.2.0"},
            {"nothing", K::Name, "zz"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.tag) << int(r.kind) << QString::fromUtf8(r.value);
    }

    void sqlFilterListsWhatMemoryLists() {
        QFETCH(int, kind);
        QFETCH(QString, value);
        const QList<NodeRecord> book = generatedBook(240);
        store(m_file, book);
        AddressDatabase db(m_file);
        QVERIFY(db.open());
        db.ensureSearchIndexes();
        const NodeFilter filter{NodeFilter::Kind(kind), value};
        QList<QStringList> expected;
        for (const NodeRecord& r : book)
            if (filter.matches(r))
                expected << r.texts();
        for (bool scan : {false, true}) {
            const std::optional<NodeFilterSql> sql = nodeFilterSql(filter, m_server, scan);
            QVERIFY(sql);
            qint64 count = -1;
            QVERIFY2(db.countNodes(sql->where, sql->binds, count), qPrintable(db.lastError()));
            QCOMPARE(count, qint64(expected.size()));
            // Two pages, the second read on from the first.
            QList<QStringList> rows;
            qint64 last = -1;
            QVERIFY(db.readNodePage(sql->where, sql->binds, 0, 7, rows, -1, &last));
            QVERIFY(db.readNodePage(sql->where, sql->binds, 7, 1000, rows,
                                    rows.size() == 7 ? last : -1));
            QCOMPARE(rows, expected);
        }
        // Only a server estimates a count.
        qint64 guess = -1;
        QCOMPARE(db.estimateNodes(filter.column() < 0 ? QString() : QStringLiteral("NAME <> ?"),
                                  filter.column() < 0 ? QVariantList() : QVariantList{value},
                                  guess),
                 m_server);
        // A prefix is counted by the nodes outside it too (each counted once).
        if (const auto parts = nodePrefixComplement(filter, m_server)) {
            qint64 outside = 0;
            for (const NodeFilterSql& part : *parts) {
                qint64 n = 0;
                QVERIFY(db.countNodes(part.where, part.binds, n));
                outside += n;
            }
            QCOMPARE(book.size() - outside, qint64(expected.size()));
            // And by a range of the index.
            const std::optional<NodeFilterSql> range = nodePrefixRange(filter, m_server);
            QVERIFY(range);
            qint64 inside = -1;
            QVERIFY2(db.countNodes(range->where, range->binds, inside), qPrintable(db.lastError()));
            QCOMPARE(inside, qint64(expected.size()));
        }
        qint64 capped = -1;
        QVERIFY(db.countNodes({}, {}, capped, 5));
        QCOMPARE(capped, 5);
        // Letters beyond ASCII are left to the memory filter.
        QVERIFY(!nodeFilterSql({NodeFilter::Kind(kind), QStringLiteral("ä")}, m_server));
    }

    // A large book is listed in pages: every row readable, searches, delete,
    // sort and another writer's change behave as with the rows read whole.
    void windowPagesALargeBook() {
        const QList<NodeRecord> book = generatedBook(700);
        store(m_file, book);
        CAddressBookDlg::setPagedFrom(500);
        CAddressBookDlg dlg(nullptr, m_file);
        QAbstractItemModelTester tester(dlg.list()->model());
        dlg.show();
        QVERIFY(dlg.isPaged());
        QCOMPARE(dlg.snapshot().reads(), 0);
        QCOMPARE(dlg.list()->rowCount(), 700);
        for (int r : {0, 255, 256, 699})
            QCOMPARE(dlg.list()->reportModel()->rowTexts(r), book[r].texts());

        QTest::keyClicks(dlg.nameField(), QStringLiteral("HOST_"));
        // "Host_a" names (every 12th node), not "hostXa".
        QCOMPARE(dlg.list()->rowCount(), 59);
        QCOMPARE(dlg.list()->text(58, 0), book[698].mac);
        dlg.list()->selectRow(1);
        m_messages->answerNext(MessageService::Answer::Ok);
        dlg.deleteNode();
        QCOMPARE(dlg.list()->rowCount(), 58);
        QCOMPARE(dlg.list()->text(1, 0), book[26].mac);
        QCOMPARE(nodesIn(m_file).size(), 699);

        Q_EMIT dlg.list()->horizontalHeader()->sectionClicked(0);
        Q_EMIT dlg.list()->horizontalHeader()->sectionClicked(0);
        QCOMPARE(dlg.list()->text(0, 0), book[698].mac);
        QCOMPARE(dlg.list()->rowCount(), 58);

        // Another program adds a matching node: listed anew within a second,
        // in table order, the sort dropped.
        store(m_file, {node("00:00:00:00:ff:ff", "10.9.9.9", "host_new")});
        QTRY_COMPARE_WITH_TIMEOUT(dlg.list()->rowCount(), 59, 3000);
        QCOMPARE(dlg.list()->text(58, 3), QStringLiteral("host_new"));
        QCOMPARE(dlg.list()->reportModel()->sortColumn(), -1);
        QVERIFY(dlg.isPaged());
        dlg.nameField()->clear();
        QCOMPARE(dlg.list()->rowCount(), 700);
        QCOMPARE(dlg.snapshot().reads(), 0);
        QVERIFY(m_messages->shown().size() == 1);
    }

    // A paged book sorted by the database lists the rows in the order the
    // list's own sort gives them, ties and earlier sorts included, read from
    // the end, onward and from the middle; the current row stays current.
    void databaseSortsAsTheList_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("mixed");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QList<int>>("sorts"); // column + 1, negative: descending
        QTest::addColumn<bool>("inDatabase");
        const auto row = [](const char* tag, const char* locale, bool mixed, const char* search,
                            QList<int> sorts, bool inDatabase) {
            QTest::newRow(tag) << QString::fromLatin1(locale) << mixed
                               << QString::fromLatin1(search) << sorts << inDatabase;
        };
        row("name up", "en_US", false, "", {4}, true);
        row("name down", "en_US", false, "", {-4}, true);
        row("workgroup then name", "en_US", false, "", {-4, 5}, true);
        row("ip down, workgroup, location", "en_US", false, "", {-2, 5, -9}, true);
        row("mac, subnet down", "en_US", false, "", {1, -10}, true);
        row("searched, ip", "en_US", false, "HOST", {2, -2}, true);
        row("letter case: name", "en_US", true, "", {4}, false);
        row("upper-case macs", "en_US", true, "", {-1}, false);
        row("C locale: ip", "C", true, "", {2}, true);
        row("C locale: number in names", "C", true, "", {-4}, false);
        row("description after ip", "en_US", false, "", {2, 8}, true);
        row("type: ties", "en_US", false, "", {11}, true);
        row("name, type down", "en_US", false, "", {4, -11}, true);
        row("C locale: date, ties", "C", false, "", {7}, true);
        row("C locale: ip, date down", "C", true, "", {-2, -7}, true);
        row("date: commas sort in the list", "en_US", false, "", {7}, false);
        // Columns of one text throughout leave the rows as the keys before
        // them (or the table) order them.
        row("domain of one text: table order", "en_US", false, "", {6}, true);
        row("name, then description of one text down", "en_US", false, "", {4, -8}, true);
        row("C locale: searched, ip down, ipv6 of one text", "C", false, "HOST", {-2, 3}, true);
        row("type, then domain of one text", "en_US", false, "", {-11, 6}, true);
        // The first page within the rows of the first key's first text, or
        // not (fewer rows than a page).
        row("location down: first text's rows", "en_US", false, "", {-9}, true);
        row("C locale: name down, first text's rows few", "C", false, "", {-4}, true);
        row("C locale: searched, workgroup down then type", "C", false, "HOST", {11, -5}, true);
        // Texts the database cannot order only outside the search.
        row("C locale: searched names fit, others not", "C", true, "HOST", {-4}, true);
        row("searched, name with letter case", "en_US", true, "HOST", {4}, false);
    }

    void databaseSortsAsTheList() {
        QFETCH(QString, locale);
        QFETCH(bool, mixed);
        QFETCH(QString, search);
        QFETCH(QList<int>, sorts);
        QFETCH(bool, inDatabase);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        const QList<NodeRecord> book = sortBook(1100, mixed);
        store(m_file, book);
        CAddressBookDlg::setPagedFrom(500);
        CAddressBookDlg dlg(nullptr, m_file);
        dlg.show();
        if (!search.isEmpty())
            QTest::keyClicks(dlg.nameField(), search);
        QVERIFY(dlg.isPaged());
        ReportListModel expected;
        expected.declareColumns(nodeListColumns());
        QList<QStringList> rows;
        for (const NodeRecord& r : book)
            if (search.isEmpty() || r.name.startsWith(search, Qt::CaseInsensitive))
                rows << r.texts();
        expected.setRows(rows);
        ReportListModel* model = dlg.list()->reportModel();
        QCOMPARE(model->rowCount(), rows.size());
        const int current = int(rows.size()) * 2 / 3;
        dlg.list()->setCurrentIndex(model->index(current, 0));
        const QString currentMac = model->text(current, 0);
        for (int sort : sorts) {
            model->sortBy(qAbs(sort) - 1, sort > 0);
            expected.sortBy(qAbs(sort) - 1, sort > 0);
        }
        QCOMPARE(model->isPaged(), inDatabase);
        QCOMPARE(dlg.list()->currentIndex().isValid(), true);
        QCOMPARE(model->text(dlg.list()->currentIndex().row(), 0), currentMac);
        const int n = model->rowCount();
        for (int r : {n - 1, n / 2 + 3})
            QCOMPARE(model->rowTexts(r), expected.rowTexts(r));
        for (int r = 0; r < n; ++r)
            QCOMPARE(model->rowTexts(r), expected.rowTexts(r));
        QCOMPARE(m_messages->shown().size(), 0);
        // A delete moves the rows after it up, also those read from the end.
        const int gone = dlg.list()->currentIndex().row();
        const QString goneMac = model->text(gone, 0);
        dlg.list()->selectRow(gone);
        m_messages->answerNext(MessageService::Answer::Ok);
        dlg.deleteNode();
        expected.deleteRow(gone);
        QCOMPARE(model->rowCount(), n - 1);
        for (int r : {n - 2, gone, n / 2 + 1})
            QCOMPARE(model->rowTexts(r), expected.rowTexts(r));
        // A new listing comes in table order, without the sort.
        dlg.reloadAll();
        QVERIFY(model->isPaged());
        QCOMPARE(model->sortColumn(), -1);
        QCOMPARE(model->rowTexts(0)[0], book[0].mac == goneMac ? book[1].mac : book[0].mac);
        QLocale::setDefault(before);
    }

    // A column holds one text only when every selected row holds it byte
    // for byte: letter case, blanks, accents and empty texts all differ.
    void holdsOneText_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("search"); // name prefix selecting the rows
        QTest::addColumn<bool>("one");
        const auto row = [](const char* tag, const char* column,
                            std::initializer_list<const char*> utf8, const char* search, bool one) {
            QStringList texts;
            for (const char* t : utf8)
                texts << QString::fromUtf8(t);
            QTest::newRow(tag) << QString::fromLatin1(column) << texts
                               << QString::fromLatin1(search) << one;
        };
        row("all equal", "TYPE", {"-", "-", "-"}, "", true);
        row("one row", "TYPE", {"ROUTER"}, "", true);
        row("letter case", "TYPE", {"router", "ROUTER", "router"}, "", false);
        row("trailing blank", "DESCRIPTION", {"a", "a ", "a"}, "", false);
        row("accents", "WORKGROUP", {"\u00c4rger", "\u00e4rger"}, "", false);
        row("non-ASCII equal", "WORKGROUP", {"\u00c4rger", "\u00c4rger"}, "", true);
        row("empty and not", "LOCATION", {"", "x", ""}, "", false);
        row("all empty", "LOCATION", {"", "", ""}, "", true);
        row("names by letter case", "NAME", {"host", "HOST"}, "", false);
        row("differing outside the search", "TYPE", {"-", "ROUTER", "-"}, "n0", true);
        row("differing inside the search", "TYPE", {"-", "-", "ROUTER"}, "n", false);
        row("nothing selected", "TYPE", {"-", "-"}, "zz", false);
    }

    void holdsOneText() {
        QFETCH(QString, column);
        QFETCH(QStringList, texts);
        QFETCH(QString, search);
        QFETCH(bool, one);
        QList<NodeRecord> nodes;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            NodeRecord r = node("", "", "");
            r.mac = QStringLiteral("00:00:00:00:00:%1").arg(i, 2, 16, QLatin1Char('0'));
            r.name = QStringLiteral("n%1").arg(i);
            QStringList all = r.texts();
            const int at = int(QStringList{
                QStringLiteral("MAC"), QStringLiteral("IP"), QStringLiteral("IPv6"),
                QStringLiteral("NAME"), QStringLiteral("WORKGROUP"), QStringLiteral("DOMAINNAME"),
                QStringLiteral("DATE"), QStringLiteral("DESCRIPTION"), QStringLiteral("LOCATION"),
                QStringLiteral("SUBNET"), QStringLiteral("TYPE")}
                                   .indexOf(column));
            all[at] = texts[i];
            nodes << NodeRecord::fromTexts(all);
        }
        store(m_file, nodes);
        AddressDatabase db(m_file);
        QVERIFY2(db.open(), qPrintable(db.lastError()));
        const std::optional<NodeFilterSql> sql = nodeFilterSql(
            search.isEmpty() ? NodeFilter{NodeFilter::Kind::All, {}} : NodeFilter::forName(search),
            db.isServer());
        QVERIFY(sql);
        bool out = !one;
        QVERIFY2(db.holdsOneText(sql->where, sql->binds, column, out), qPrintable(db.lastError()));
        QCOMPARE(out, one);
    }

    // Whether a column sorts by its bytes is kept in the book for the next
    // connection, while no node is added or changed by any program.
    void keptByteOrderFollowsWrites_data() {
        QTest::addColumn<int>("nodes"); // more than 2048 names: read whole
        QTest::addColumn<QString>("write");
        QTest::addColumn<bool>("bytewise");
        const QString accented = QStringLiteral("'\u00c4rger'");
        const auto row = [](const char* tag, int nodes, const QString& write, bool bytewise) {
            QTest::newRow(tag) << nodes << write << bytewise;
        };
        row("nothing written", 5, {}, true);
        row("another tool adds", 5,
            QStringLiteral("INSERT INTO node (MAC, NAME) VALUES ('02:00:00:00:00:01', %1)")
                .arg(accented),
            false);
        row("another tool changes", 5,
            QStringLiteral("UPDATE node SET NAME = %1 WHERE NAME = 'HOST3'").arg(accented), false);
        row("another tool changes, many names", 2100,
            QStringLiteral("UPDATE node SET NAME = %1 WHERE NAME = 'HOST2077'").arg(accented),
            false);
        row("this program adds", 5, QStringLiteral("add"), false);
        row("this program changes", 8, QStringLiteral("change"), false);
        row("deleting keeps it", 5, QStringLiteral("DELETE FROM node WHERE NAME = 'HOST1'"), true);
        row("node table made anew", 5,
            QStringLiteral("DROP TABLE node;CREATE TABLE node (MAC TEXT, IP TEXT, IPv6 TEXT, NAME "
                           "TEXT, WORKGROUP TEXT, DOMAINNAME TEXT, DATE TEXT, DESCRIPTION TEXT, "
                           "LOCATION TEXT, SUBNET TEXT, TYPE TEXT);INSERT INTO node (MAC, NAME) "
                           "VALUES ('02:00:00:00:00:01', 'HOST1'), ('02:00:00:00:00:02', %1)")
                .arg(accented),
            false);
    }

    void keptByteOrderFollowsWrites() {
        QFETCH(int, nodes);
        QFETCH(QString, write);
        QFETCH(bool, bytewise);
        QList<NodeRecord> book;
        for (int i = 0; i < nodes; ++i)
            book << node(qPrintable(QStringLiteral("00:00:00:00:%1:%2")
                                        .arg(i / 256, 2, 16, QLatin1Char('0'))
                                        .arg(i % 256, 2, 16, QLatin1Char('0'))),
                         "10.0.0.1", qPrintable(QStringLiteral("HOST%1").arg(i)));
        store(m_file, book);
        const auto check = [&](bool& out) {
            AddressDatabase db(m_file);
            return db.open() && db.sortsByBytes({}, {}, QStringLiteral("NAME"), out);
        };
        bool out = false;
        QVERIFY(check(out));
        QVERIFY(out);
        NodeRecord changed = node("02:00:00:00:00:01", "10.0.0.2", "");
        changed.name = QStringLiteral("\u00c4rger");
        AddressDatabase writer(m_file);
        QVERIFY(writer.open());
        if (write == QLatin1String("add")) {
            QVERIFY(writer.addNode(changed));
        } else if (write == QLatin1String("change")) {
            changed.mac = book[7].mac;
            QCOMPARE(writer.updateNode(changed), AddressDatabase::Outcome::Done);
        } else if (!write.isEmpty()) {
            const QStringList statements = write.split(QLatin1Char(';'));
            if (m_server)
                for (const QString& statement : statements)
                    QVERIFY2(m_book->sql(statement), qPrintable(statement));
            else
                QVERIFY(rawSql(m_file, statements));
        }
        writer.close();
        // Read only: nothing is kept or mended on the way.
        AddressDatabase reader(m_file);
        QVERIFY2(reader.openForReading(), qPrintable(reader.lastError()));
        out = !bytewise;
        QVERIFY(reader.sortsByBytes({}, {}, QStringLiteral("NAME"), out));
        QCOMPARE(out, bytewise);
        // And a connection that may write, which adds what a new table lacks.
        out = !bytewise;
        QVERIFY(check(out));
        QCOMPARE(out, bytewise);
    }

    // A plain SQL insert by another tool shows in an open window within a
    // second; the program's own writes do not count as another's.
    void otherToolsChangesShow() {
        store(m_file, {node("00:00:00:00:00:01", "10.0.0.1", "ONE")});
        CAddressBookDlg dlg(nullptr, m_file);
        dlg.show();
        QCOMPARE(dlg.list()->rowCount(), 1);
        const QString insert = QStringLiteral(
            "INSERT INTO node (MAC, IP, NAME) VALUES ('00:00:00:00:00:02', '10.0.0.2', 'TWO')");
        QVERIFY(m_server ? m_book->sql(insert) : rawSql(m_file, {insert}));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.list()->rowCount(), 2, 1500);
        QCOMPARE(dlg.list()->text(1, 3), QStringLiteral("TWO"));

        AddressDatabase db(m_file);
        QVERIFY(db.open());
        const auto before = db.changeStamp();
        QVERIFY(db.addNode(node("00:00:00:00:00:03", "10.0.0.3", "THREE")));
        const auto after = db.changeStamp();
        QVERIFY(before && after);
        QCOMPARE(after->dataVersion, before->dataVersion);
    }

private:
    bool m_server = false;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScratchServerBook> m_book;
    std::unique_ptr<ScriptedMessageService> m_messages;
    QString m_file;
};

QTEST_MAIN(TestPagedBook)
#include "tst_paged_book.moc"
