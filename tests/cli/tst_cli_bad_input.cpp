// qarsilo-cli on input that has gone wrong before: output that cannot be
// written, sources that are not Ethernet, file names that are not UTF-8;
// capture files that are empty, folders or cut short; address books that are
// damaged, not address books, read-only or locked by another program.

#include "core/capture/native_path.h"
#include "support/capture_test_util.h"
#include "support/run_process.h"
#include "support/test_paths.h"

#include "core/addressbook/address_database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>

using namespace qarsilo;
using namespace qarsilo::test;

class TestCliBadInput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void badInput_data();
    void badInput();
    void cleanupTestCase() {
        ::unlink(nativeFileName(m_oddName).constData());
        for (const QString& name : {QStringLiteral("writing"), QStringLiteral("exclusive")})
            QSqlDatabase::database(name).rollback();
        QSqlDatabase::removeDatabase(QStringLiteral("writing"));
        QSqlDatabase::removeDatabase(QStringLiteral("exclusive"));
    }

private:
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    QTemporaryDir m_dir;
    QString m_oddName; // a copy of the DNS capture under a name that is not UTF-8
};

void TestCliBadInput::initTestCase() {
    QVERIFY(m_dir.isValid());
    QFile in(pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap"));
    QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(in.fileName()));
    const QByteArray bytes = in.readAll();
    const QByteArray odd = QFile::encodeName(m_dir.path()) + "/n\xffu\xfe.pcap";
    const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())),
             static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    m_oddName = fileNameFromNative(odd);
    QCOMPARE(nativeFileName(m_oddName), odd);

    const QByteArray ip(28, '\x45');
    QVERIFY(writeCapture(path("raw.pcap"), DLT_RAW, {{0, ip}}));
    QVERIFY(writeCapture(path("sll.pcap"), DLT_LINUX_SLL, {{0, QByteArray(44, 'x')}}));
    QVERIFY(writeCapture(path("wifi.pcap"), DLT_IEEE802_11, {{0, QByteArray(40, 'w')}}));

    QFile(path("empty.pcap")).open(QIODevice::WriteOnly);
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.pcap")));
    QFile eapon(pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap"));
    QVERIFY(eapon.open(QIODevice::ReadOnly));
    QFile cut(path("cut.pcap"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(eapon.readAll().chopped(int(eapon.size() / 2)));
    cut.close();

    // Address books: a good one and copies gone wrong.
    {
        AddressDatabase db(path("good.mdb"));
        QVERIFY(db.open());
        NodeRecord n = NodeRecord::fromTexts(
            QStringLiteral("00:11:22:33:44:55|10.0.0.1|::1|PC|WG|dom|date|desc|Lab|10.0.0.0|-")
                .split(QLatin1Char('|')));
        QVERIFY2(db.addNode(n), qPrintable(db.lastError()));
        AddressDatabase big(path("corrupt.mdb"));
        QVERIFY(big.open());
        QVERIFY(big.inTransaction([&] {
            for (int i = 0; i < 400; ++i) {
                n.mac = QString::number(i);
                n.description = QString(200, QLatin1Char('d'));
                if (!big.insertNode(n))
                    return false;
            }
            return true;
        }));
    }
    QFile corrupt(path("corrupt.mdb"));
    QVERIFY(corrupt.open(QIODevice::ReadWrite));
    // Garbage over every page after the schema's.
    QVERIFY(corrupt.seek(4096));
    corrupt.write(QByteArray(int(corrupt.size()) - 4096, '\x5a'));
    corrupt.close();
    for (const char* copy : {"readonly.mdb", "writing.mdb", "exclusive.mdb"})
        QVERIFY(QFile::copy(path("good.mdb"), path(copy)));
    QVERIFY(QFile::setPermissions(path("readonly.mdb"), QFile::ReadOwner | QFile::ReadOther));
    // Another program in the middle of a write, and one holding the file
    // exclusively, for the whole test.
    for (const char* name : {"writing", "exclusive"}) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(name));
        db.setDatabaseName(path(name) + QStringLiteral(".mdb"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        if (qstrcmp(name, "exclusive") == 0)
            QVERIFY(q.exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE")));
        QVERIFY(q.exec(qstrcmp(name, "exclusive") == 0 ? QStringLiteral("BEGIN EXCLUSIVE")
                                                       : QStringLiteral("BEGIN IMMEDIATE")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO node (MAC) VALUES ('uncommitted')")));
    }
}

// One row per fault: the command, where its output goes, and what must come
// of it. A row with `sameAs` prints exactly what that command prints.
void TestCliBadInput::badInput_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("stdoutFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("sameAs");

    const QString dns = pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap");
    const QString eapon = pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap");
    const auto a = [](std::initializer_list<QString> items) { return QStringList(items); };
    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    const QByteArray full("/dev/full");

    QTest::newRow("list, disk full")
        << a({s("list"), eapon}) << full << 1
        << s("cannot write the output: No space left on device") << QStringList();
    QTest::newRow("decode, disk full") << a({s("decode"), eapon, s("1")}) << full << 1
                                       << s("cannot write the output") << QStringList();
    QTest::newRow("chart, disk full") << a({s("chart"), s("size"), eapon}) << full << 1
                                      << s("cannot write the output") << QStringList();
    QTest::newRow("devices, disk full")
        << a({s("devices")}) << full << 1 << s("cannot write the output") << QStringList();
    QTest::newRow("list, raw IP") << a({s("list"), path("raw.pcap")}) << QByteArray() << 1
                                  << s("its frames are not Ethernet (link type RAW)")
                                  << QStringList();
    QTest::newRow("list, cooked") << a({s("list"), path("sll.pcap")}) << QByteArray() << 1
                                  << s("not Ethernet (link type LINUX_SLL)") << QStringList();
    QTest::newRow("list, 802.11") << a({s("list"), path("wifi.pcap")}) << QByteArray() << 1
                                  << s("not Ethernet (link type IEEE802_11)") << QStringList();
    QTest::newRow("list, name not UTF-8")
        << a({s("list"), m_oddName}) << QByteArray() << 0 << QString() << a({s("list"), dns});
    QTest::newRow("decode, name not UTF-8") << a({s("decode"), m_oddName, s("2")}) << QByteArray()
                                            << 0 << QString() << a({s("decode"), dns, s("2")});
    QTest::newRow("stats, name not UTF-8")
        << a({s("stats"), m_oddName}) << QByteArray() << 0 << QString() << a({s("stats"), dns});
    QTest::newRow("discover, name not UTF-8")
        << a({s("discover"), m_oddName, s("--mode"), s("ip")}) << QByteArray() << 0 << QString()
        << a({s("discover"), dns, s("--mode"), s("ip")});
    QTest::newRow("trace, name not UTF-8")
        << a({s("trace"), m_oddName, s("--node"), s("00:11:22:33:44:55")}) << QByteArray() << 0
        << QString() << a({s("trace"), dns, s("--node"), s("00:11:22:33:44:55")});
    QTest::newRow("chart, name not UTF-8")
        << a({s("chart"), s("network"), m_oddName}) << QByteArray() << 0 << QString()
        << a({s("chart"), s("network"), dns});
    QTest::newRow("list, empty file") << a({s("list"), path("empty.pcap")}) << QByteArray() << 1
                                      << s("the file is empty") << QStringList();
    QTest::newRow("list, a folder") << a({s("list"), path("folder.pcap")}) << QByteArray() << 1
                                    << s("Is a directory") << QStringList();
    QTest::newRow("decode, empty file")
        << a({s("decode"), path("empty.pcap"), s("1")}) << QByteArray() << 1
        << s("the file is empty") << QStringList();
    QTest::newRow("stats, cut short") << a({s("stats"), path("cut.pcap")}) << QByteArray() << 1
                                      << s("truncated dump file") << QStringList();
    const auto book = [&](const char* file) {
        return a({s("book"), s("export"), s("--db"), path(file)});
    };
    QTest::newRow("book, damaged") << book("corrupt.mdb") << QByteArray() << 1
                                   << s("database disk image is malformed") << QStringList();
    QTest::newRow("book, not an address book")
        << book("sll.pcap") << QByteArray() << 1 << s("file is not a database") << QStringList();
    QTest::newRow("book, read-only")
        << book("readonly.mdb") << QByteArray() << 0 << QString() << book("good.mdb");
    // Readers do not wait for a writer: what was saved is exported.
    QTest::newRow("book, another program writing")
        << book("writing.mdb") << QByteArray() << 0 << QString() << book("good.mdb");
    QTest::newRow("book, held exclusively")
        << book("exclusive.mdb") << QByteArray() << 1 << s("database is locked") << QStringList();
}

void TestCliBadInput::badInput() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, stdoutFile);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QStringList, sameAs);

    // Bad input changes nothing: every file named keeps its bytes. (Not the
    // books this process holds locked: closing any descriptor of a file drops
    // the process's locks on it.)
    QHash<QString, QByteArray> before;
    for (const QString& arg : args) {
        QFile f(arg);
        if (arg == path("writing.mdb") || arg == path("exclusive.mdb"))
            continue;
        if (QFileInfo(arg).isFile() && f.open(QIODevice::ReadOnly))
            before.insert(arg, f.readAll());
    }
    const ProcessResult r = runProcess(cliPath(), args, std::chrono::seconds(60), {},
                                       stdoutFile.isEmpty() ? nullptr : stdoutFile.constData());
    QVERIFY(r.exited);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    if (!message.isEmpty())
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
    if (!sameAs.isEmpty()) {
        const ProcessResult reference = runProcess(cliPath(), sameAs);
        QCOMPARE(reference.exitCode, 0);
        QVERIFY(!reference.out.isEmpty());
        // The discovery log stamps each line with the wall clock; the two runs
        // may straddle a second.
        static const QRegularExpression clock(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d : "),
                                              QRegularExpression::MultilineOption);
        QCOMPARE(QString::fromLocal8Bit(r.out).replace(clock, QStringLiteral("T : ")),
                 QString::fromLocal8Bit(reference.out).replace(clock, QStringLiteral("T : ")));
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QFile f(it.key());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY2(f.readAll() == it.value(), qPrintable(it.key()));
    }
}

QTEST_GUILESS_MAIN(TestCliBadInput)
#include "tst_cli_bad_input.moc"
