#include "gui/widgets/row_list_view.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

#include <climits>

namespace {

// Rows made up on demand, as many as asked: "row N" in every column.
class CountModel : public QAbstractTableModel {
public:
    int rows = 0;
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : rows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 3;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("row %1").arg(index.row()))
                                       : QVariant();
    }
    void grow(int more) {
        beginInsertRows({}, rows, rows + more - 1);
        rows += more;
        endInsertRows();
    }
};

// A view over `model` with `rows` rows of `rowHeight` pixels, shown.
void showView(RowListView& view, CountModel& model, int rows, int rowHeight) {
    model.rows = rows;
    view.setModel(&model);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setRowHeight(rowHeight);
    view.resize(300, 220);
    view.show();
}

} // namespace

class TestRowListView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A double-click on a title's divider fits the column to the widest row
    // text: of every row of a short list, of the rows in view of a long one.
    void dividerFitsTheColumn_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("widest");
        QTest::newRow("short list") << 20 << "row 19";
        QTest::newRow("long list scrolled to its end") << INT_MAX << "row 2147483646";
    }

    void dividerFitsTheColumn() {
        QFETCH(int, rows);
        QFETCH(QString, widest);
        CountModel model;
        RowListView view;
        showView(view, model, rows, 16);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setColumnWidth(0, 20);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        QHeaderView* header = view.horizontalHeader();
        QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                           QPoint(header->sectionSize(0) - 1, header->height() / 2));
        const int text = view.fontMetrics().horizontalAdvance(widest);
        QVERIFY2(view.columnWidth(0) >= text + 6 && view.columnWidth(0) <= text + 30,
                 qPrintable(QString::number(view.columnWidth(0))));
    }

    // Keys move the current row and keep it in view, on lists up to the
    // largest row count a model can have.
    void keys_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("selected"); // rows selected in the end
        const int page = 10;               // rows that fit (see keys())
        const int shift = int(Qt::ShiftModifier);
        // Focus makes the first row current, not selected.
        using Keys = QList<int>;
        QTest::newRow("down") << 100 << Keys{Qt::Key_Down} << 1 << 1;
        QTest::newRow("page down twice")
            << 100 << Keys{Qt::Key_PageDown, Qt::Key_PageDown} << 2 * page << 1;
        QTest::newRow("end, up") << 100 << Keys{Qt::Key_End, Qt::Key_Up} << 98 << 1;
        QTest::newRow("end then home") << 100 << Keys{Qt::Key_End, Qt::Key_Home} << 0 << 1;
        QTest::newRow("page down past the end")
            << 15 << Keys{Qt::Key_PageDown, Qt::Key_PageDown} << 14 << 1;
        QTest::newRow("shift extends")
            << 100 << Keys{Qt::Key_Down, shift | Qt::Key_PageDown} << 1 + page << page + 1;
        QTest::newRow("largest list, end") << INT_MAX << Keys{Qt::Key_End} << INT_MAX - 1 << 1;
        QTest::newRow("largest list, end, page up")
            << INT_MAX << Keys{Qt::Key_End, Qt::Key_PageUp} << INT_MAX - 1 - page << 1;
        QTest::newRow("largest list, shift from the end")
            << INT_MAX << Keys{Qt::Key_End, shift | Qt::Key_Up, shift | Qt::Key_Up} << INT_MAX - 3
            << 3;
    }
    void keys() {
        QFETCH(int, rows);
        QFETCH(QList<int>, keys);
        QFETCH(int, current);
        QFETCH(int, selected);
        CountModel model;
        RowListView view;
        showView(view, model, rows, 20);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.resize(300, view.height() - view.viewport()->height() + 10 * 20 + 5);
        QTRY_COMPARE(view.fullyVisibleRows(), 10);
        view.setFocus();
        for (int key : keys)
            QTest::keyClick(&view, Qt::Key(key & ~Qt::KeyboardModifierMask),
                            Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
        QCOMPARE(view.currentIndex().row(), current);
        const QRect rect = view.visualRect(view.currentIndex());
        QVERIFY2(view.viewport()->rect().contains(rect),
                 qPrintable(QStringLiteral("%1,%2").arg(rect.y()).arg(view.firstVisibleRow())));
        QCOMPARE(view.indexAt(rect.center()), view.currentIndex());
        QCOMPARE(view.selectionModel()->selectedRows().size(), selected);
        QCOMPARE(view.verticalScrollBar()->maximum(), rows - 10 < 0 ? 0 : rows - 10);
    }

    // A click picks the row under the pointer; shift+click takes every row
    // between, whatever the scroll position; rows added below follow on.
    void mouseAndGrowth() {
        CountModel model;
        RowListView view;
        showView(view, model, 1000, 16);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.scrollTo(model.index(500, 0), QAbstractItemView::PositionAtTop);
        QCOMPARE(view.firstVisibleRow(), 500);
        // The header sits above the rows, not over them.
        QCOMPARE(view.viewport()->geometry().top(),
                 view.horizontalHeader()->geometry().bottom() + 1);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(10, 16 * 3 + 8));
        QCOMPARE(view.currentIndex().row(), 503);
        view.scrollTo(model.index(700, 0), QAbstractItemView::PositionAtTop);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 8));
        QCOMPARE(view.selectionModel()->selectedRows().size(), 700 - 503 + 1);

        const int before = view.verticalScrollBar()->maximum();
        model.grow(250);
        QCOMPARE(view.verticalScrollBar()->maximum(), before + 250);
        view.scrollToBottom();
        QCOMPARE(view.indexAt(QPoint(10, (view.fullyVisibleRows() - 1) * 16 + 8)).row(), 1249);
        // The columns scroll sideways with their header.
        view.setColumnWidth(0, 400);
        view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
        QVERIFY(view.horizontalScrollBar()->maximum() > 0);
        QCOMPARE(view.horizontalHeader()->offset(), view.horizontalScrollBar()->maximum());
        QCOMPARE(view.indexAt(QPoint(view.viewport()->width() - 5, 8)).column(), 2);
    }
};

QTEST_MAIN(TestRowListView)
#include "tst_row_list_view.moc"
