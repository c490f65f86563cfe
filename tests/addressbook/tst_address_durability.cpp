// A writer killed (SIGKILL) at random moments in the middle of its saves:
// after every kill the file passes SQLite's integrity check and holds every
// row whose save the writer had reported done. The writer is this program
// started again with --writer FILE PREFIX; it prints "done MAC..." after
// each save returns true.

#include "support/address_test_util.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <random>

using namespace qarsilo;

namespace {

NodeRecord nodeNumber(const QString& prefix, int n) {
    const QByteArray mac = QStringLiteral("%1:%2:%3")
                               .arg(prefix)
                               .arg((n >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                               .arg(n & 0xFF, 2, 16, QLatin1Char('0'))
                               .toLatin1();
    const QByteArray ip = QStringLiteral("10.%1.%2.%3")
                              .arg(prefix.left(2).toInt(nullptr, 16))
                              .arg((n >> 8) & 0xFF)
                              .arg(n & 0xFF)
                              .toLatin1();
    return test::node(mac.constData(), ip.constData(), "N", "WG", "Lab");
}

// Alternates the two save paths the program has: one node with its group
// names (addNode), and a batch of rows in one transaction (as discovery saves).
int runWriter(const QString& file, const QString& prefix) {
    AddressDatabase db(file);
    if (!db.open())
        return 2;
    for (int n = 0; n < 60000;) {
        if (n % 2 == 0) {
            if (!db.addNode(nodeNumber(prefix, n)))
                return 3;
            std::printf("done %s\n", qPrintable(nodeNumber(prefix, n).mac));
            ++n;
        } else {
            const int first = n;
            const bool ok = db.inTransaction([&] {
                for (int k = 0; k < 5; ++k)
                    if (!db.insertNode(nodeNumber(prefix, first + k)))
                        return false;
                return true;
            });
            if (!ok)
                return 3;
            QByteArray line("done");
            for (int k = 0; k < 5; ++k)
                line += ' ' + nodeNumber(prefix, first + k).mac.toLatin1();
            std::printf("%s\n", line.constData());
            n += 5;
        }
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

class TestAddressDurability : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedWriterLosesNoReportedSave() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("address.mdb"));
        const unsigned seed = qEnvironmentVariableIsSet("QARSILO_SEED")
                                  ? qEnvironmentVariable("QARSILO_SEED").toUInt()
                                  : std::random_device{}();
        std::printf("seed %u (QARSILO_SEED to repeat)\n", seed);
        std::mt19937 rng(seed);
        // Kill moments: most a random time after the first save was reported,
        // every tenth a random time after start (opening, table set-up).
        std::uniform_int_distribution<int> delayMs(0, 40);
        QSet<QString> reported;
        int rounds = 0;
        int killedMidSave = 0;
        for (; rounds < 50; ++rounds) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--writer"), file,
                          QStringLiteral("%1:00:00:00").arg(rounds, 2, 16, QLatin1Char('0'))});
            QVERIFY(writer.waitForStarted());
            if (rounds % 10 != 0)
                while (writer.bytesAvailable() == 0 && writer.state() == QProcess::Running)
                    writer.waitForReadyRead(1000);
            const int delay = delayMs(rng);
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < delay && writer.state() == QProcess::Running)
                writer.waitForReadyRead(int(delay - t.elapsed()) + 1);
            writer.kill();
            QVERIFY(writer.waitForFinished());
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
            const QList<QByteArray> lines = writer.readAllStandardOutput().split('\n');
            for (const QByteArray& line : lines) {
                // A line cut short by the kill was not reported whole.
                if (line.startsWith("done ") && &line != &lines.last())
                    for (const QByteArray& mac : line.mid(5).split(' '))
                        reported.insert(QString::fromLatin1(mac));
            }
            killedMidSave += lines.size() > 1;

            {
                QSqlDatabase check =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
                check.setDatabaseName(file);
                QVERIFY(check.open());
                QSqlQuery q(check);
                QVERIFY(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
                QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("check"));
            const QStringList stored = test::macsIn(file);
            const QSet<QString> present(stored.begin(), stored.end());
            QCOMPARE(present.size(), stored.size());
            for (const QString& mac : reported)
                QVERIFY2(present.contains(mac),
                         qPrintable(QStringLiteral("round %1 lost %2").arg(rounds).arg(mac)));
        }
        std::printf("%d kill rounds (%d after saves had begun), %lld reported rows checked\n",
                    rounds, killedMidSave, qlonglong(reported.size()));
        // The kills must fall among the saves, not only before the first.
        QVERIFY(killedMidSave >= rounds / 2);
    }
};

int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], "--writer") == 0) {
        QCoreApplication app(argc, argv);
        return runWriter(QString::fromLocal8Bit(argv[2]), QString::fromLatin1(argv[3]));
    }
    QCoreApplication app(argc, argv);
    TestAddressDurability test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_address_durability.moc"
