#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // The default store lives in the user's configuration folder; point
        // that folder at a temporary one so the test never touches real settings.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void stringsRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("adapter") << setting::adapterName << QStringLiteral("eth0");
        QTest::newRow("capture file adapter")
            << setting::adapterName << captureFileAdapterName(QStringLiteral("/tmp/a b/lan.pcap"));
        QTest::newRow("filter") << setting::filter
                                << QStringLiteral("ether host 00:11:22:33:44:55 and not arp");
        QTest::newRow("mac") << setting::macAddress << QStringLiteral("00:1B:21:3A:4F:10");
        QTest::newRow("empty filter") << setting::filter << QString();
        // Longer than the 128 bytes older stores could hold: kept whole.
        QTest::newRow("long filter") << setting::filter << QString(300, QLatin1Char('x'));
        QTest::newRow("non-ascii") << setting::filter << QStringLiteral("host caf\u00e9-\u00fc");
        QTest::newRow("ini specials")
            << setting::filter << QStringLiteral("a=b; c,d \"q\" [x] #h \\n");
    }

    void stringsRoundTrip() {
        QFETCH(QString, name);
        QFETCH(QString, value);
        {
            SettingsStore writer;
            QVERIFY(writer.writeString(name, value));
        }
        // A fresh store, as the next run of the program would open it.
        SettingsStore reader;
        QString read = QStringLiteral("previous");
        QVERIFY(reader.readString(name, read));
        QCOMPARE(read, value);
        QVERIFY(reader.fileName().startsWith(m_dir.path()));
    }

    void numberRoundTrip_data() {
        QTest::addColumn<quint32>("value");
        QTest::newRow("zero") << quint32(0);
        QTest::newRow("layer 2") << quint32(2);
        QTest::newRow("max") << quint32(0xFFFFFFFFu);
    }

    void numberRoundTrip() {
        QFETCH(quint32, value);
        QVERIFY(SettingsStore().writeNumber(setting::layer, value));
        quint32 read = 12345;
        QVERIFY(SettingsStore().readNumber(setting::layer, read));
        QCOMPARE(read, value);
    }

    void absentValuesKeepPreviousContent() {
        SettingsStore store(m_dir.filePath(QStringLiteral("empty.ini")));
        QString text = QStringLiteral("kept");
        QVERIFY(!store.readString(setting::macAddress, text));
        QCOMPARE(text, QStringLiteral("kept"));
        quint32 layer = 7;
        QVERIFY(!store.readNumber(setting::layer, layer));
        QCOMPARE(layer, 7u);
        QCOMPARE(store.string(setting::adapterName), QString());
    }

    void numberThatIsNotANumberIsIgnored() {
        SettingsStore store(m_dir.filePath(QStringLiteral("odd.ini")));
        store.writeString(setting::layer, QStringLiteral("two"));
        quint32 layer = 1;
        QVERIFY(!store.readNumber(setting::layer, layer));
        QCOMPARE(layer, 1u);
        store.writeString(setting::layer, QStringLiteral("4294967296")); // 2^32
        QVERIFY(!store.readNumber(setting::layer, layer));
        QCOMPARE(layer, 1u);
    }

    void valuesAreIndependent() {
        SettingsStore store(m_dir.filePath(QStringLiteral("four.ini")));
        store.writeString(setting::adapterName, QStringLiteral("eth1"));
        store.writeString(setting::filter, QStringLiteral("ip"));
        store.writeString(setting::macAddress, QStringLiteral("AA:BB:CC:DD:EE:FF"));
        store.writeNumber(setting::layer, 1);
        store.writeString(setting::filter, QStringLiteral("arp")); // overwrite one
        QCOMPARE(store.string(setting::adapterName), QStringLiteral("eth1"));
        QCOMPARE(store.string(setting::filter), QStringLiteral("arp"));
        QCOMPARE(store.string(setting::macAddress), QStringLiteral("AA:BB:CC:DD:EE:FF"));
        quint32 layer = 0;
        QVERIFY(store.readNumber(setting::layer, layer));
        QCOMPARE(layer, 1u);
    }

    void unwritableFileIsReported() {
        // A folder where the file should be: the write cannot succeed.
        const QString path = m_dir.filePath(QStringLiteral("blocked.ini"));
        QVERIFY(QDir().mkpath(path));
        SettingsStore store(path);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not write")));
        QVERIFY(!store.writeString(setting::filter, QStringLiteral("ip")));
    }

    // A file that is not settings: what can be read is read (and checked by
    // its users), the rest is absent, the operator is told once, and the file
    // is never written over.
    void garbageFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<QString>("timeFormat"); // as read; empty: absent
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + i / 13) & 0xFF);
        QTest::newRow("binary noise") << noise << true << QString();
        QTest::newRow("another format")
            << QByteArray("<?xml version=\"1.0\"?>\n<settings><a>1</a></settings>\n") << true
            << QString();
        QTest::newRow("broken section")
            << QByteArray("[General\nTime Format=1\n") << true << QStringLiteral("1");
        QTest::newRow("values of the wrong kind")
            << QByteArray("[General]\nTime Format=banana\nWindow Position=a,b\n") << false
            << QStringLiteral("banana");
    }
    void garbageFile() {
        QFETCH(QByteArray, content);
        QFETCH(bool, damaged);
        QFETCH(QString, timeFormat);
        const QString path = m_dir.filePath(
            QStringLiteral("garbage-%1.ini").arg(QString::fromLatin1(QTest::currentDataTag())));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        SettingsStore store(path);
        if (damaged)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("is damaged")));
        QCOMPARE(store.string(setting::timeFormat), timeFormat);
        quint32 number = 7;
        QVERIFY(!store.readNumber(setting::timeFormat, number) || number == 1);
        QCOMPARE(store.writeString(setting::filter, QStringLiteral("ip")), !damaged);
        QVERIFY(f.open(QIODevice::ReadOnly));
        if (damaged)
            QCOMPARE(f.readAll(), content);
        else
            QCOMPARE(store.string(setting::filter), QStringLiteral("ip"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
