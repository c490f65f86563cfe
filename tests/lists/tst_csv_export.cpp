#include "core/addressbook/address_database.h"
#include "gui/addressbook/address_book_dlg.h"
#include "gui/widgets/report_list.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;

namespace {

// The rows of a CSV file (or of `text`) as Python's csv module reads them:
// an independent reader of RFC 4180 files.
QList<QStringList> readCsv(const QString& file, bool* hadBom = nullptr) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    if (hadBom)
        *hadBom = bytes.startsWith("\xEF\xBB\xBF");
    QProcess py;
    py.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import csv,json,sys,io\n"
                        "t=io.TextIOWrapper(sys.stdin.buffer,encoding='utf-8-sig',newline='')\n"
                        "print(json.dumps(list(csv.reader(t, strict=True))))")});
    py.write(bytes);
    py.closeWriteChannel();
    if (!py.waitForFinished(30000) || py.exitCode() != 0)
        return {};
    QList<QStringList> rows;
    for (const QJsonValue& r : QJsonDocument::fromJson(py.readAllStandardOutput()).array()) {
        QStringList row;
        for (const QJsonValue& v : r.toArray())
            row << v.toString();
        rows << row;
    }
    return rows;
}

const QList<QStringList>& awkwardRows() {
    static const QList<QStringList> rows = {
        {QStringLiteral("Smith, John"), QStringLiteral("say \"hi\""), QStringLiteral("10")},
        {QStringLiteral("Zoë Ångström"), QStringLiteral("東京"), QStringLiteral("9")},
        {QStringLiteral("two\nlines"), QStringLiteral(" padded "), QString()},
    };
    return rows;
}

void openMenu(CReportList& list) {
    const QPoint at(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &event);
}

QStringList actionTexts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QString() : a->text());
    return out;
}

} // namespace

class TestCsvExport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void exportsRowsAsShown() {
        CReportList list(1);
        list.declareColumns(QStringLiteral("Name,100;Note,100;Count,50"));
        for (const QStringList& r : awkwardRows())
            list.addRow(r);
        list.reportModel()->sortBy(2, true); // numeric: "", 9, 10
        const QString file = m_dir.filePath(QStringLiteral("list.csv"));
        QVERIFY(list.exportCsv(file));
        bool bom = false;
        const QList<QStringList> back = readCsv(file, &bom);
        QVERIFY(bom); // spreadsheets take the file as UTF-8
        QCOMPARE(back.size(), 4);
        QCOMPARE(back[0], (QStringList{QStringLiteral("Name"), QStringLiteral("Note"),
                                       QStringLiteral("Count")}));
        QCOMPARE(back[1], awkwardRows()[2]);
        QCOMPARE(back[2], awkwardRows()[1]);
        QCOMPARE(back[3], awkwardRows()[0]);
    }

    void failedExportIsReportedAndLeavesNoFile() {
        test::ScriptedMessageService messages;
        CReportList list(1);
        list.declareColumns(QStringLiteral("Name,100"));
        list.addRow({QStringLiteral("a")});
        const QString file = m_dir.filePath(QStringLiteral("no/such/dir/x.csv"));
        QVERIFY(!list.exportCsv(file));
        QCOMPARE(messages.shown().size(), 1);
        QVERIFY(messages.shown()[0].text.startsWith(QStringLiteral("Cannot export the list to ")));
        QVERIFY(!QFile::exists(file));
    }

    void everyListMenuOffersExport() {
        // A list with no menu of its own, and the address book's list, whose
        // owner opens its own menu.
        const QString file = m_dir.filePath(QStringLiteral("menu.csv"));
        CReportList::setExportFileChooser([&](QWidget*) { return file; });
        CReportList bare(2);
        bare.declareColumns(QStringLiteral("A,50"));
        bare.addRow({QStringLiteral("x,y")});
        openMenu(bare);
        QVERIFY(bare.contextMenu());
        QCOMPARE(actionTexts(bare.contextMenu()), (QStringList{QStringLiteral("Export...")}));
        bare.contextMenu()->actions().last()->trigger();
        QCOMPARE(readCsv(file),
                 (QList<QStringList>{{QStringLiteral("A")}, {QStringLiteral("x,y")}}));
        bare.contextMenu()->close();

        const QString db = m_dir.filePath(QStringLiteral("menu.mdb"));
        CAddressBookDlg dlg(nullptr, db);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        openMenu(*dlg.list());
        QVERIFY(dlg.contextMenu());
        QCOMPARE(dlg.contextMenu()->objectName(), QStringLiteral("ListMenuMin"));
        QCOMPARE(actionTexts(dlg.contextMenu()),
                 (QStringList{QStringLiteral("New"), QString(), QStringLiteral("Export...")}));
        dlg.contextMenu()->close();
        CReportList::setExportFileChooser(nullptr);
    }

    void cliBookExport_data() {
        QTest::addColumn<bool>("csv");
        QTest::newRow("tab-separated") << false;
        QTest::newRow("csv") << true;
    }

    void cliBookExport() {
        QFETCH(bool, csv);
        const QString db = m_dir.filePath(QStringLiteral("book.mdb"));
        if (!QFile::exists(db)) {
            AddressDatabase d(db);
            QVERIFY(d.open());
            const QStringList macs = {QStringLiteral("00:00:00:00:00:01"),
                                      QStringLiteral("00:00:00:00:00:02"),
                                      QStringLiteral("00:00:00:00:00:03")};
            for (int i = 0; i < 3; ++i) {
                NodeRecord n;
                n.mac = macs[i];
                n.ip = QStringLiteral("10.0.0.%1").arg(i + 1);
                n.name = awkwardRows()[i][0];
                n.description = awkwardRows()[i][1];
                n.workgroup = QStringLiteral("WG");
                n.location = QStringLiteral("Lab");
                n.subnet = QStringLiteral("10.0.0.0");
                n.type = QStringLiteral("-");
                QVERIFY2(d.addNode(n), qPrintable(d.lastError()));
            }
        }
        QProcess cli;
        QStringList args = {QStringLiteral("book"), QStringLiteral("export"),
                            QStringLiteral("--db"), db};
        if (csv)
            args << QStringLiteral("--csv");
        cli.start(test::cliPath(), args);
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray out = cli.readAllStandardOutput();
        QList<NodeRecord> nodes;
        AddressDatabase d(db);
        QVERIFY(d.open() && d.listNodes(nodes));
        QList<QStringList> expected = {QStringList{
            QStringLiteral("MAC Address"), QStringLiteral("IPv4 Address"),
            QStringLiteral("IPv6 Address"), QStringLiteral("Netbios Name"),
            QStringLiteral("Workgroup"), QStringLiteral("Domain Name"), QStringLiteral("Date"),
            QStringLiteral("Description"), QStringLiteral("Location"), QStringLiteral("Ip Range"),
            QStringLiteral("Type")}};
        for (const NodeRecord& n : nodes)
            expected << n.texts();
        if (csv) {
            const QString file = m_dir.filePath(QStringLiteral("cli.csv"));
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(out);
            f.close();
            bool bom = true;
            QCOMPARE(readCsv(file, &bom), expected);
            QVERIFY(!bom);
        } else {
            QList<QStringList> lines;
            for (const QString& l :
                 QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                lines << l.split(QLatin1Char('\t'));
            expected[3][3] = QStringLiteral("two lines"); // a line break inside a field
            QCOMPARE(lines, expected);
        }
    }

    void cliBookExportWithoutABook() {
        const QString db = m_dir.filePath(QStringLiteral("absent.mdb"));
        QProcess cli;
        cli.start(test::cliPath(),
                  {QStringLiteral("book"), QStringLiteral("export"), QStringLiteral("--db"), db});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY(!QFile::exists(db));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestCsvExport)
#include "tst_csv_export.moc"
