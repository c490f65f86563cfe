#include "support/test_paths.h"

#include "support/test_util.h"
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// qarsilo-cli devices: "name<TAB>description<TAB>speed text" per device.
class TestCliDevices : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listsDevicesInTheStableFormat() {
        QProcess cli;
        cli.start(qarsilo::test::cliPath(), {QStringLiteral("devices")});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(cli.readAllStandardOutput());
        const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        static const QRegularExpression speed(QStringLiteral("^[0-9]+(\\.[0-9]+)? Mbps$"));
        bool sawLoopback = false;
        for (const QString& line : lines) {
            const QStringList f = line.split(QLatin1Char('\t'));
            QCOMPARE(f.size(), 3);
            QVERIFY2(!f[0].isEmpty() && !f[1].isEmpty(), qPrintable(line));
            QVERIFY2(speed.match(f[2]).hasMatch(), qPrintable(line));
            QVERIFY2(f[0] != QLatin1String("any") && !f[0].startsWith(QLatin1String("nflog")),
                     qPrintable(line));
            sawLoopback = sawLoopback || f[0] == QLatin1String("lo");
        }
        // Every Linux machine has a loopback interface, and it frames as Ethernet.
        QVERIFY2(sawLoopback, qPrintable(out));
    }

    void rejectsBadUse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("extra argument") << qarsilo::test::words({"devices", "eth0"}) << 2;
        QTest::newRow("unknown command") << qarsilo::test::words({"frobnicate"}) << 2;
        QTest::newRow("no command") << qarsilo::test::words({}) << 2;
    }

    void rejectsBadUse() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QProcess cli;
        cli.start(qarsilo::test::cliPath(), args);
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), exitCode);
        QVERIFY(!cli.readAllStandardError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliDevices)
#include "tst_cli_devices.moc"
