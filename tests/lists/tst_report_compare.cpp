#include "core/lists/report_compare.h"

#include <QLocale>
#include <QTest>

using namespace qarsilo;

class TestReportCompare : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The sign of compare(a, b); the first text decides how both are read.
    void compare_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("numbers, not text") << "10"
                                           << "9" << 1;
        QTest::newRow("numbers equal with leading zeros") << "007"
                                                          << "7" << 0;
        QTest::newRow("first text decides: 10a is text") << "10a"
                                                         << "9" << -1;
        QTest::newRow("first text decides: 9 reads 10a as 10") << "9"
                                                               << "10a" << -1;
        QTest::newRow("empty counts as the number 0") << ""
                                                      << "5" << -1;
        QTest::newRow("empty against a text without digits") << ""
                                                             << "abc" << 0;
        QTest::newRow("other text without digits reads 0") << "0"
                                                           << "xyz" << 0;
        QTest::newRow("longer than 64 bits") << "123456789012345678901234567890"
                                             << "123456789012345678901234567889" << 1;
        QTest::newRow("huge against small") << "99999999999999999999"
                                            << "3" << 1;
        QTest::newRow("date: year first") << "01/02/2003"
                                          << "31/01/2004" << -1;
        QTest::newRow("date: then month") << "01/02/2003"
                                          << "31/12/2002" << 1;
        QTest::newRow("date: then day") << "02/05/2010"
                                        << "01/05/2010" << 1;
        QTest::newRow("date equal") << "15/06/2020"
                                    << "15/06/2020" << 0;
        QTest::newRow("date against a short text") << "01/01/2000"
                                                   << "12" << 1;
        QTest::newRow("date against empty") << "01/01/2000"
                                            << "" << 1;
        QTest::newRow("not a date: wrong separator") << "01-02-2003"
                                                     << "01-02-2003" << 0;
        QTest::newRow("text, case-sensitive") << "abc"
                                              << "ABC" << -2; // any non-zero
        QTest::newRow("text") << "apple"
                              << "banana" << -1;
        QTest::newRow("text equal") << "same"
                                    << "same" << 0;
    }

    void compare() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        const int got = compareReportTexts(a, b);
        QVERIFY(got >= -1 && got <= 1);
        if (expected == -2)
            QVERIFY(got != 0);
        else
            QCOMPARE(got, expected);
    }

    // The prepared order of a sort gives what compareReportTexts gives, pair
    // for pair, in the text order of several languages.
    void columnOrderAgrees_data() {
        QTest::addColumn<QString>("locale");
        QTest::newRow("C") << "C";
        QTest::newRow("English") << "en_US";
        QTest::newRow("Swedish") << "sv_SE";
        QTest::newRow("German") << "de_DE";
    }

    void columnOrderAgrees() {
        QFETCH(QString, locale);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        const QStringList texts = {QStringLiteral("apple"),
                                   QStringLiteral("Apple"),
                                   QStringLiteral("\u00e4pple"),
                                   QStringLiteral("banana"),
                                   QStringLiteral("z"),
                                   QStringLiteral("\u00f6"),
                                   QStringLiteral("o"),
                                   QStringLiteral("e\u0301"),
                                   QStringLiteral("\u00e9"),
                                   QStringLiteral("E"),
                                   QStringLiteral("a-b"),
                                   QStringLiteral("ab"),
                                   QStringLiteral("a b"),
                                   QStringLiteral("10a"),
                                   QStringLiteral("9"),
                                   QString(),
                                   QStringLiteral("01/02/2003"),
                                   QStringLiteral("31/12/2002"),
                                   QStringLiteral("x1"),
                                   QStringLiteral("X1"),
                                   QStringLiteral("\u0001"),
                                   QStringLiteral("HOST00012"),
                                   QStringLiteral("host00012"),
                                   QStringLiteral("192.168.1.5"),
                                   QStringLiteral("07 Dec 2026, 08:00:00"),
                                   QStringLiteral("\u00df"),
                                   QStringLiteral("ss")};
        const ReportColumnOrder order(texts);
        for (qsizetype a = 0; a < texts.size(); ++a)
            for (qsizetype b = 0; b < texts.size(); ++b)
                QVERIFY2(order.compare(a, b) == compareReportTexts(texts[a], texts[b]),
                         qPrintable(texts[a] + QStringLiteral(" / ") + texts[b]));
        if (locale == QLatin1String("sv_SE")) // the language's order is really in use
            QVERIFY(compareReportTexts(QStringLiteral("\u00f6"), QStringLiteral("z")) > 0);
        if (locale == QLatin1String("en_US"))
            QVERIFY(compareReportTexts(QStringLiteral("\u00f6"), QStringLiteral("z")) < 0);
        QLocale::setDefault(before);
    }

    void kinds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::newRow("empty") << "" << int(ReportTextKind::Number);
        QTest::newRow("digits") << "0123" << int(ReportTextKind::Number);
        QTest::newRow("negative is text") << "-5" << int(ReportTextKind::Text);
        QTest::newRow("date") << "31/12/1999" << int(ReportTextKind::Date);
        QTest::newRow("date too long") << "31/12/19999" << int(ReportTextKind::Text);
        QTest::newRow("date with letter") << "3a/12/1999" << int(ReportTextKind::Text);
        QTest::newRow("non-ASCII digits are text")
            << QStringLiteral("\u0661\u0662") << int(ReportTextKind::Text);
        QTest::newRow("ip address") << "192.168.1.1" << int(ReportTextKind::Text);
    }

    void kinds() {
        QFETCH(QString, text);
        QFETCH(int, kind);
        QCOMPARE(int(reportTextKind(text)), kind);
    }
};

QTEST_GUILESS_MAIN(TestReportCompare)
#include "tst_report_compare.moc"
