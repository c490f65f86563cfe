#include "core/app/help_catalog.h"
#include "gui/shell/help_window.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

using namespace qarsilo;

namespace {
void write(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}
} // namespace

class TestHelp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { initHelpResources(); }

    // Every topic and keyword of the shipped manual leads to a page and an
    // anchor that exist: a broken link in help is a dead end for the reader.
    void shippedManualHasNoDeadLinks() {
        const HelpCatalog manual;
        QVERIFY2(manual.errors().isEmpty(), qPrintable(manual.errors().join(QLatin1Char('\n'))));
        QVERIFY(manual.contents().size() >= 5);
        QVERIFY(manual.index().size() >= 10);
        QStringList targets;
        for (const auto& t : manual.contents())
            targets << t.target;
        for (const auto& k : manual.index())
            targets << k.target;
        for (const QString& target : targets) {
            const QString page = target.section(QLatin1Char('#'), 0, 0);
            const QString anchor = target.section(QLatin1Char('#'), 1);
            QVERIFY2(manual.pages().contains(page), qPrintable(target));
            if (anchor.isEmpty())
                continue;
            QFile f(QStringLiteral(":/help/") + page);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(f.readAll());
            QVERIFY2(html.contains(QStringLiteral("id=\"") + anchor + QLatin1Char('"')),
                     qPrintable(target));
        }
        // Pages that every newcomer needs.
        for (const char* topic : {"Capture rights", "Choosing an adapter", "Getting started"}) {
            bool found = false;
            for (const auto& t : manual.contents())
                found = found || t.title == QLatin1String(topic);
            QVERIFY2(found, topic);
        }
    }

    void indexIsSortedWithoutRegardToCase() {
        const HelpCatalog manual;
        for (int i = 1; i < manual.index().size(); ++i)
            QVERIFY(manual.index()[i - 1].keyword.compare(manual.index()[i].keyword,
                                                          Qt::CaseInsensitive) <= 0);
    }

    void search_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("pages"); // expected hits, best first
        QTest::newRow("one word") << "setcap"
                                  << QStringList{QStringLiteral("capture-rights.html"),
                                                 QStringLiteral("starting.html")};
        QTest::newRow("case and spacing")
            << "  CAP_NET_RAW  " << QStringList{QStringLiteral("capture-rights.html")};
        QTest::newRow("all words must occur")
            << "loopback tunnels" << QStringList{QStringLiteral("adapter.html")};
        QTest::newRow("nowhere") << "zeppelin" << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("markup is not text") << "href" << QStringList{};
    }

    void search() {
        QFETCH(QString, query);
        QFETCH(QStringList, pages);
        QTemporaryDir dir;
        // A small manual with known counts, so the order is known too.
        write(dir.filePath(QStringLiteral("capture-rights.html")),
              "<html><head><title>Rights</title></head><body>setcap setcap cap_net_raw "
              "<a href=\"x.html\">link</a></body></html>");
        write(dir.filePath(QStringLiteral("starting.html")),
              "<html><head><title>Start</title></head><body>run setcap</body></html>");
        write(dir.filePath(QStringLiteral("adapter.html")),
              "<html><head><title>Adapter</title></head><body>loopback and "
              "<b>tunnels</b></body></html>");
        write(dir.filePath(QStringLiteral("other.html")),
              "<html><head><title>Other</title></head><body>loopback only</body></html>");
        write(dir.filePath(QStringLiteral("contents.txt")), "0|Start|starting.html\n");
        write(dir.filePath(QStringLiteral("keywords.txt")), "");
        const HelpCatalog catalog(dir.path());
        QStringList found;
        for (const auto& hit : catalog.search(query))
            found << hit.target;
        QCOMPARE(found, pages);
    }

    void brokenCatalogLinesAreReported() {
        QTemporaryDir dir;
        write(dir.filePath(QStringLiteral("a.html")), "<title>A</title>");
        write(dir.filePath(QStringLiteral("contents.txt")),
              "# comment\n0|A|a.html\nnot a topic\n\n1|B|a.html#b\n");
        write(dir.filePath(QStringLiteral("keywords.txt")), "k|a.html\nbroken\n");
        const HelpCatalog catalog(dir.path());
        QCOMPARE(catalog.contents().size(), 2);
        QCOMPARE(catalog.contents()[1].level, 1);
        QCOMPARE(catalog.index().size(), 1);
        QCOMPARE(catalog.errors().size(), 2);
        QCOMPARE(catalog.pageTitle(QStringLiteral("a.html#b")), QStringLiteral("A"));
    }

    void windowShowsPagesFromEachTab() {
        HelpWindow help;
        help.showContents();
        QCOMPARE(help.tabs()->currentIndex(), 0);
        QVERIFY(help.contentsTree()->topLevelItemCount() > 0);
        QVERIFY(!help.browser()->toPlainText().isEmpty()); // first topic shown

        help.showIndex();
        QCOMPARE(help.tabs()->currentIndex(), 1);
        help.indexField()->setText(QStringLiteral("setc"));
        QVERIFY(help.indexList()->currentItem());
        QCOMPARE(help.indexList()->currentItem()->text(), QStringLiteral("setcap"));
        QTest::keyClick(help.indexField(), Qt::Key_Return);
        QVERIFY(
            help.browser()->source().toString().startsWith(QStringLiteral("capture-rights.html")));

        help.showSearch();
        QCOMPARE(help.tabs()->currentIndex(), 2);
        help.search(QStringLiteral("Adapter Failure"));
        QVERIFY(help.searchResults()->count() >= 1);
        QCOMPARE(help.searchResults()->item(0)->text(), QStringLiteral("Choosing an adapter"));
        help.search(QStringLiteral("zeppelin"));
        QCOMPARE(help.searchResults()->count(), 1);
        QCOMPARE(help.searchResults()->item(0)->text(), QStringLiteral("No topics found"));
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
