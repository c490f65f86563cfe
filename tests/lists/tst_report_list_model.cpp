#include "core/lists/report_list_model.h"
#include "support/test_util.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace qarsilo;
using qarsilo::test::words;

namespace {

QStringList column(const ReportListModel& m, int c) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.text(r, c);
    return out;
}

} // namespace

class TestReportListModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void declareColumns_data() {
        QTest::addColumn<QString>("declaration");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QList<int>>("widths");
        QTest::newRow("two columns") << "Workgroup,100;Info,100" << true
                                     << words({"Workgroup", "Info"}) << QList<int>{100, 100};
        QTest::newRow("title with a comma")
            << "Name, first,75" << true << words({"Name, first"}) << QList<int>{75};
        QTest::newRow("trailing separator") << "A,10;" << true << words({"A"}) << QList<int>{10};
        QTest::newRow("missing width stops, earlier stay")
            << "A,10;B;C,30" << false << words({"A"}) << QList<int>{10};
        QTest::newRow("width not digits") << "A,10;B,x1" << false << words({"A"}) << QList<int>{10};
        QTest::newRow("negative width") << "A,-3" << false << QStringList() << QList<int>{};
        QTest::newRow("empty") << "" << true << QStringList() << QList<int>{};
    }

    void declareColumns() {
        QFETCH(QString, declaration);
        QFETCH(bool, ok);
        QFETCH(QStringList, titles);
        QFETCH(QList<int>, widths);
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(m.declareColumns(declaration), ok);
        QCOMPARE(m.columnCount(), titles.size());
        for (int c = 0; c < titles.size(); ++c) {
            QCOMPARE(m.headerData(c, Qt::Horizontal).toString(), titles[c]);
            QCOMPARE(m.declaredWidth(c), widths[c]);
            QCOMPARE(m.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                         Qt::AlignHorizontal_Mask,
                     Qt::Alignment(Qt::AlignLeft));
        }
    }

    void rowsKeepTheirTexts() {
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.declareColumns(QStringLiteral("A,10;B,10;C,10"));
        QCOMPARE(m.addRow(words({"a0", "b0", "c0"})), 0);
        QCOMPARE(m.addRow(words({"a1"})), 1);                      // missing texts are empty
        QCOMPARE(m.addRow(words({"a2", "b2", "c2", "extra"})), 2); // extra ones dropped
        QCOMPARE(m.rowTexts(1), words({"a1", "", ""}));
        QCOMPARE(m.rowTexts(2), words({"a2", "b2", "c2"}));
        QCOMPARE(m.setCell(1, 2, QStringLiteral("c1")), 1);
        QCOMPARE(m.text(1, 2), QStringLiteral("c1"));
        // Cells that do not exist change nothing.
        QCOMPARE(m.setCell(3, 0, QStringLiteral("x")), 0);
        QCOMPARE(m.setCell(0, 3, QStringLiteral("x")), 0);
        QCOMPARE(m.setCell(-1, 0, QStringLiteral("x")), 0);
        QCOMPARE(m.rowCount(), 3);
        // A line break is kept but shown as a blank.
        m.setCell(0, 1, QStringLiteral("two\nlines"));
        QCOMPARE(m.text(0, 1), QStringLiteral("two\nlines"));
        QCOMPARE(m.data(m.index(0, 1)).toString(), QStringLiteral("two lines"));
        m.deleteRow(7); // out of range: nothing
        m.deleteRow(0);
        QCOMPARE(column(m, 0), words({"a1", "a2"}));
        m.deleteAll();
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(m.columnCount(), 3);
        // A column declared later gives existing rows an empty cell.
        m.addRow(words({"x", "y", "z"}));
        m.declareColumns(QStringLiteral("D,5"));
        QCOMPARE(m.rowTexts(0), words({"x", "y", "z", ""}));
    }

    // Two-row sorts: which text comes first.
    void sortTwo_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("10 against 9 ascending is numeric")
            << words({"10", "9"}) << true << words({"9", "10"});
        QTest::newRow("10a against 9 is text")
            << words({"10a", "9"}) << true << words({"10a", "9"});
        QTest::newRow("descending numbers") << words({"9", "10"}) << false << words({"10", "9"});
        QTest::newRow("empty is 0") << words({"", "3"}) << true << words({"", "3"});
        QTest::newRow("date year then month")
            << words({"31/01/2004", "01/02/2003"}) << true << words({"01/02/2003", "31/01/2004"});
        QTest::newRow("date after an earlier year")
            << words({"01/02/2003", "31/12/2002"}) << true << words({"31/12/2002", "01/02/2003"});
        QTest::newRow("date descending")
            << words({"31/12/2002", "01/02/2003"}) << false << words({"01/02/2003", "31/12/2002"});
    }

    void sortTwo() {
        QFETCH(QStringList, rows);
        QFETCH(bool, ascending);
        QFETCH(QStringList, sorted);
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.declareColumns(QStringLiteral("Key,50"));
        for (const QString& r : rows)
            m.addRow({r});
        m.sortBy(0, ascending);
        QCOMPARE(column(m, 0), sorted);
        QCOMPARE(m.sortColumn(), 0);
        QCOMPARE(m.ascending(), ascending);
    }

    void titleClicksToggle() {
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.declareColumns(QStringLiteral("N,10;T,10"));
        m.addRows({words({"2", "b"}), words({"10", "c"}), words({"1", "a"})});
        QCOMPARE(m.sortColumn(), -1);
        QVERIFY(m.ascending());
        m.titleClicked(0);
        QCOMPARE(column(m, 0), words({"1", "2", "10"}));
        QVERIFY(m.ascending());
        m.titleClicked(0);
        QCOMPARE(column(m, 0), words({"10", "2", "1"}));
        QVERIFY(!m.ascending());
        m.titleClicked(0); // after a descending sort: ascending again
        QVERIFY(m.ascending());
        m.titleClicked(0);
        QVERIFY(!m.ascending());
        m.titleClicked(1); // another column: ascending
        QCOMPARE(m.sortColumn(), 1);
        QVERIFY(m.ascending());
        QCOMPARE(column(m, 1), words({"a", "b", "c"}));
        // Rows move whole.
        QCOMPARE(column(m, 0), words({"1", "2", "10"}));
    }

    void deletingAfterSortKeepsTextsWithTheirRows() {
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.declareColumns(QStringLiteral("Key,10;Value,10"));
        for (int i = 0; i < 20; ++i)
            m.addRow({QString::number((i * 7) % 20), QStringLiteral("v%1").arg((i * 7) % 20)});
        m.sortBy(0, false);
        m.deleteRow(3);
        m.deleteRow(0);
        m.sortBy(0, true);
        for (int r = 0; r < m.rowCount(); ++r)
            QCOMPARE(m.text(r, 1), QStringLiteral("v") + m.text(r, 0));
        QVERIFY(!column(m, 0).contains(QStringLiteral("19")));
        QVERIFY(!column(m, 0).contains(QStringLiteral("16")));
    }

    // Selections and other persistent indexes follow their rows.
    void persistentIndexesFollowTheSort() {
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.declareColumns(QStringLiteral("Key,10"));
        m.addRows({{QStringLiteral("c")}, {QStringLiteral("a")}, {QStringLiteral("b")}});
        QItemSelectionModel selection(&m);
        selection.select(m.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        m.sortBy(0, true);
        QCOMPARE(selection.selectedRows().size(), 1);
        QCOMPARE(m.text(selection.selectedRows().first().row(), 0), QStringLiteral("c"));
    }

    // Mixed columns make the comparison disagree with itself ("10a" < "9"
    // but "9" < "10a"); the sort must still finish with every row once.
    void mixedColumnSortsSafely() {
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.declareColumns(QStringLiteral("Mixed,10;Id,10"));
        QRandomGenerator rng(42);
        const QStringList pool =
            words({"9", "10", "10a", "", "1a", "01/02/2003", "x", "100", "31/12/2002", "b", "2"});
        QList<QStringList> rows;
        for (int i = 0; i < 3000; ++i)
            rows.append({pool[int(rng.bounded(pool.size()))], QString::number(i)});
        m.addRows(rows);
        for (bool asc : {true, false}) {
            m.sortBy(0, asc);
            QStringList ids = column(m, 1);
            std::sort(ids.begin(), ids.end(),
                      [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
            for (int i = 0; i < ids.size(); ++i)
                QCOMPARE(ids[i].toInt(), i);
        }
    }

    // A new listing replaces the rows in one reset: the view gets one update
    // however many rows there are, and the rows fit the columns.
    void setRowsIsOneReset() {
        ReportListModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.declareColumns(QStringLiteral("A,10;B,10"));
        m.addRows({words({"old", "1"}), words({"older", "2"})});
        m.sortBy(0, false);
        QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(&m, &QAbstractItemModel::rowsInserted);
        QSignalSpy removes(&m, &QAbstractItemModel::rowsRemoved);
        m.setRows({words({"a"}), words({"b", "2", "extra"}), words({"c", "3"})});
        QCOMPARE(resets.size(), 1);
        QCOMPARE(inserts.size(), 0);
        QCOMPARE(removes.size(), 0);
        QCOMPARE(m.rowCount(), 3);
        // The new rows take the sort the title shows (first column, down).
        QCOMPARE(m.sortColumn(), 0);
        QCOMPARE(m.rowTexts(0), words({"c", "3"}));
        QCOMPARE(m.rowTexts(1), words({"b", "2"}));
        QCOMPARE(m.rowTexts(2), words({"a", ""}));
        m.setRows({});
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(resets.size(), 2);
        m.setRows({});
        QCOMPARE(resets.size(), 2); // empty stays empty without an update
    }

    void sortIsStable() {
        ReportListModel m;
        m.declareColumns(QStringLiteral("Key,10;Order,10"));
        for (int i = 0; i < 50; ++i)
            m.addRow({QString::number(i % 3), QString::number(i)});
        m.sortBy(0, true);
        for (int r = 1; r < m.rowCount(); ++r)
            if (m.text(r, 0) == m.text(r - 1, 0))
                QVERIFY(m.text(r, 1).toInt() > m.text(r - 1, 1).toInt());
    }

    void sortOutsideTheColumnsOnlyRecords() {
        ReportListModel m;
        m.declareColumns(QStringLiteral("Key,10"));
        m.addRows({{QStringLiteral("b")}, {QStringLiteral("a")}});
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.sortBy(5, true);
        QCOMPARE(m.sortColumn(), 5);
        QCOMPARE(column(m, 0), words({"b", "a"}));
        // A list without columns takes a sort as well.
        ReportListModel empty;
        QAbstractItemModelTester emptyTester(
            &empty, QAbstractItemModelTester::FailureReportingMode::QtTest);
        empty.sortBy(0, false);
        QCOMPARE(empty.sortColumn(), 0);
        QVERIFY(!empty.ascending());
    }
};

QTEST_GUILESS_MAIN(TestReportListModel)
#include "tst_report_list_model.moc"
