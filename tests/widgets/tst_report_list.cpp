#include "gui/widgets/report_list.h"
#include "support/test_util.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using qarsilo::test::words;

namespace {

QSettings listSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                     QStringLiteral("qarsilo"));
}

void storeEntry(int id, const QByteArray& entry) {
    QSettings s = listSettings();
    s.setValue(QStringLiteral("ListCtrls/%1").arg(id), entry);
    s.sync();
}

QByteArray rawEntry(std::initializer_list<qint32> values) {
    QByteArray b;
    for (qint32 v : values)
        for (int i = 0; i < 4; ++i)
            b.append(char((quint32(v) >> (8 * i)) & 0xFF));
    return b;
}

// Pixels of the title row's right part in the palette's arrow colours.
int arrowPixels(CReportList& list, int column) {
    QHeaderView* header = list.horizontalHeader();
    const QImage img = header->grab().toImage();
    const int right = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
    const int q = header->height() / 4;
    const QColor light = header->palette().color(QPalette::Light);
    const QColor dark = header->palette().color(QPalette::Dark);
    int count = 0;
    for (int x = qMax(0, right - 3 * q - 2); x <= right; ++x)
        for (int y = 0; y < img.height(); ++y) {
            const QColor c = img.pixelColor(x, y);
            count += (c == light || c == dark) ? 1 : 0;
        }
    return count;
}

// The divider at the right end of `column`'s title.
QPoint divider(QHeaderView* header, int column) {
    return {header->sectionViewportPosition(column) + header->sectionSize(column) - 1,
            header->height() / 2};
}

// Drags the divider right of `column` by `dx` pixels, as a hand does.
void dragDivider(QHeaderView* header, int column, int dx) {
    const QPoint from = divider(header, column);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, from);
    const QPoint to = from + QPoint(dx, 0);
    QMouseEvent move(QEvent::MouseMove, to, header->viewport()->mapToGlobal(to), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &move);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, to);
}

} // namespace

class TestReportList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }
    void init() { listSettings().remove(QStringLiteral("ListCtrls")); }

    void columnsTakeTheirDeclaredWidths() {
        CReportList list(500);
        QAbstractItemModelTester tester(list.model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(list.declareColumns(QStringLiteral("Workgroup,100;Info,130")));
        QCOMPARE(list.columnWidth(0), 100);
        QCOMPARE(list.columnWidth(1), 130);
        QVERIFY(list.showGrid());
        QCOMPARE(list.selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    // Saved widths apply only when they name as many columns as the list has.
    void restoreWidths_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QList<int>>("widths");
        QTest::newRow("matching") << rawEntry({3, 40, 50, 60}) << QList<int>{40, 50, 60};
        QTest::newRow("other count") << rawEntry({2, 40, 50}) << QList<int>{10, 20, 30};
        QTest::newRow("count says more than stored")
            << rawEntry({3, 40, 50}) << QList<int>{10, 20, 30};
        QTest::newRow("truncated") << rawEntry({3, 40, 50, 60}).left(14) << QList<int>{10, 20, 30};
        QTest::newRow("negative width") << rawEntry({3, 40, -5, 60}) << QList<int>{10, 20, 30};
        QTest::newRow("absurd width") << rawEntry({3, 40, 5000000, 60}) << QList<int>{10, 20, 30};
        QTest::newRow("empty") << QByteArray() << QList<int>{10, 20, 30};
    }

    void restoreWidths() {
        QFETCH(QByteArray, entry);
        QFETCH(QList<int>, widths);
        storeEntry(77, entry);
        CReportList list(77);
        list.declareColumns(QStringLiteral("A,10;B,20;C,30"));
        for (int c = 0; c < 3; ++c)
            QCOMPARE(list.columnWidth(c), widths[c]);
    }

    void widthsSurviveTheList() {
        {
            CReportList list(12);
            list.declareColumns(QStringLiteral("A,10;B,20"));
            list.setColumnWidth(1, 222);
            list.saveWidths();
        }
        QCOMPARE(listSettings().value(QStringLiteral("ListCtrls/12")).toByteArray(),
                 rawEntry({2, 10, 222}));
        CReportList again(12);
        again.declareColumns(QStringLiteral("A,10;B,20"));
        QCOMPARE(again.columnWidth(1), 222);
        // Another list keeps its own.
        CReportList other(13);
        other.declareColumns(QStringLiteral("A,10;B,20"));
        QCOMPARE(other.columnWidth(1), 20);
    }

    void clickingATitleSorts() {
        CReportList list(1);
        list.declareColumns(QStringLiteral("N,80;T,80"));
        list.reportModel()->addRows({words({"10", "b"}), words({"9", "a"}), words({"100", "c"})});
        list.resize(300, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QHeaderView* header = list.horizontalHeader();
        const QPoint title0(header->sectionViewportPosition(0) + 10, header->height() / 2);
        const QPoint title1(header->sectionViewportPosition(1) + 10, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title0);
        QCOMPARE(list.text(0, 0), QStringLiteral("9"));
        QCOMPARE(list.text(2, 0), QStringLiteral("100"));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title0);
        QCOMPARE(list.text(0, 0), QStringLiteral("100"));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title1);
        QCOMPARE(list.reportModel()->sortColumn(), 1);
        QCOMPARE(list.text(0, 1), QStringLiteral("a"));
    }

    // The sorted column, and only it, carries the arrow; its direction flips.
    void titleArrowMarksTheSortedColumn() {
        CReportList list(2);
        list.declareColumns(QStringLiteral("First,120;Second,120"));
        list.addRow(words({"1", "2"}));
        list.resize(300, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QCOMPARE(arrowPixels(list, 0), 0);
        list.reportModel()->sortBy(0, true);
        const QImage up = list.horizontalHeader()->grab().toImage();
        QVERIFY(arrowPixels(list, 0) > 0);
        QCOMPARE(arrowPixels(list, 1), 0);
        list.reportModel()->sortBy(0, false);
        const QImage down = list.horizontalHeader()->grab().toImage();
        QVERIFY(arrowPixels(list, 0) > 0);
        QVERIFY(up != down);
    }

    // A double-click on a title's right divider fits the column to its title
    // and widest text; widths set by hand are back in the next list of that number.
    void columnWidthsByHand_data() {
        QTest::addColumn<QString>("declaration");
        QTest::addColumn<QStringList>("cells"); // of column 0
        QTest::addColumn<bool>("drag");         // else a double-click
        QTest::addColumn<bool>("reopen");
        QTest::newRow("double-click widens a cut address column to its widest address")
            << "MAC Address,30;Type,100"
            << QStringList{QStringLiteral("00:04:23:5a:bc:de"), QStringLiteral("00:04:23:5a:bc:1")}
            << false << false;
        QTest::newRow("double-click narrows a wide column to its title")
            << "Type,300;MAC Address,100" << QStringList{QStringLiteral("PC")} << false << false;
        QTest::newRow("double-clicked width is back in the next list")
            << "MAC Address,30;Type,100" << QStringList{QStringLiteral("00:04:23:5a:bc:de")}
            << false << true;
        QTest::newRow("dragged width is back in the next list")
            << "MAC Address,30;Type,100" << QStringList{QStringLiteral("00:04:23:5a:bc:de")} << true
            << true;
    }

    void columnWidthsByHand() {
        QFETCH(QString, declaration);
        QFETCH(QStringList, cells);
        QFETCH(bool, drag);
        QFETCH(bool, reopen);
        constexpr int kId = 77;
        auto list = std::make_unique<CReportList>(kId);
        list->declareColumns(declaration);
        for (const QString& c : cells)
            list->addRow({c, QStringLiteral("x")});
        list->resize(600, 200);
        list->show();
        QVERIFY(QTest::qWaitForWindowExposed(list.get()));
        QHeaderView* header = list->horizontalHeader();
        const int declared = list->columnWidth(0);
        if (drag)
            dragDivider(header, 0, 70);
        else
            QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, divider(header, 0));
        const int set = list->columnWidth(0);
        if (drag) {
            QCOMPARE(set, declared + 70);
        } else {
            // Room for the widest text (or title) and its margins, and not much more.
            const QFontMetrics cellFont = list->fontMetrics();
            const QFontMetrics titleFont = header->fontMetrics();
            const QString title = list->reportModel()->columnTitle(0);
            int text = titleFont.horizontalAdvance(title) + header->height() * 5 / 4;
            for (const QString& c : cells)
                text = qMax(text, cellFont.horizontalAdvance(c) + 6);
            QVERIFY2(set >= text && set <= text + 30,
                     qPrintable(QStringLiteral("%1 for %2").arg(set).arg(text)));
        }
        if (reopen) {
            list.reset();
            CReportList again(kId);
            again.declareColumns(declaration);
            QCOMPARE(again.columnWidth(0), set);
            CReportList other(kId + 1);
            other.declareColumns(declaration);
            QCOMPARE(other.columnWidth(0), declared);
        }
    }

    void selectedRowsComeLowestFirst() {
        CReportList list(3);
        list.declareColumns(QStringLiteral("A,10"));
        for (int i = 0; i < 5; ++i)
            list.addRow({QString::number(i)});
        list.selectRow(3);
        list.selectionModel()->select(list.model()->index(1, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(list.selectedRowNumbers(), (QList<int>{1, 3}));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestReportList)
#include "tst_report_list.moc"
