// The hex dump text: offsets, padding of the last line, the character column,
// the closing line, and how much of the frame it covers.
#include "core/analysis/hex_dump.h"

#include <QTest>

#include <cstring>
#include <memory>

using namespace qarsilo;

namespace {

// Bytes 0, 1, 2, ... in a heap block of exactly `size` bytes.
QString dumpOfCounting(std::size_t size, quint32 wireLen) {
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return hexDump(FrameHeader{1, 0, static_cast<quint32>(size), wireLen}, bytes.get());
}

QString dumpOf(const QByteArray& frame) {
    const auto size = static_cast<std::size_t>(frame.size());
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
    std::memcpy(bytes.get(), frame.constData(), size);
    return hexDump(FrameHeader{1, 0, static_cast<quint32>(size), static_cast<quint32>(size)},
                   bytes.get());
}

QString blanks(int n) {
    return QString(n, QLatin1Char(' '));
}

QString str(const char* s) {
    return QString::fromLatin1(s);
}

} // namespace

class TestHexDump : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void minimumFrame() {
        // Four lines, the last with 12 bytes and 12 blanks before its characters.
        const QString expected =
            str("0000 : 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ................\r\n"
                "0010 : 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F ................\r\n"
                "0020 : 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F  !\"#$%&'()*+,-./\r\n"
                "0030 : 30 31 32 33 34 35 36 37 38 39 3A 3B ") +
            blanks(12) + str("0123456789:;\r\n\r\n");
        QCOMPARE(dumpOfCounting(60, 60), expected);
    }

    void lineLengths_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << 0 << str("\r\n");
        QTest::newRow("one byte") << 1 << str("0000 : 00 ") + blanks(45) + str(".\r\n\r\n");
        QTest::newRow("one full line") << 16
                                       << str("0000 : 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E "
                                              "0F ................\r\n\r\n");
        QTest::newRow("one past a line")
            << 17
            << str("0000 : 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ................\r\n"
                   "0010 : 10 ") +
                   blanks(45) + str(".\r\n\r\n");
        QTest::newRow("fifteen") << 15
                                 << str("0000 : 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E ") +
                                        blanks(3) + str("...............\r\n\r\n");
    }
    void lineLengths() {
        QFETCH(int, size);
        QFETCH(QString, expected);
        QCOMPARE(dumpOfCounting(static_cast<std::size_t>(size), static_cast<quint32>(size)),
                 expected);
    }

    void characterColumn() {
        // Only 0x20 to 0x7E show as themselves.
        const QString dump = dumpOf(QByteArray::fromHex("1f207e7f80ff41") + QByteArray("a\r\n", 3));
        QCOMPARE(dump, str("0000 : 1F 20 7E 7F 80 FF 41 61 0D 0A ") + blanks(18) +
                           str(". ~...Aa..\r\n\r\n"));
    }

    void coversWireLengthWithinCapturedBytes_data() {
        QTest::addColumn<int>("captured");
        QTest::addColumn<int>("wire");
        QTest::addColumn<int>("lines"); // including the closing empty line
        QTest::addColumn<QString>("lastLine");
        // A frame cut by the snapshot length: only the captured bytes.
        QTest::newRow("wire longer")
            << 20 << 1514 << 3 << str("0010 : 10 11 12 13 ") + blanks(36) + str("....");
        // A wire length below the captured one: the dump stops at it.
        QTest::newRow("wire shorter")
            << 60 << 18 << 3 << str("0010 : 10 11 ") + blanks(42) + str("..");
        QTest::newRow("nothing on the wire") << 60 << 0 << 1 << QString();
        QTest::newRow("nothing captured") << 0 << 60 << 1 << QString();
    }
    void coversWireLengthWithinCapturedBytes() {
        QFETCH(int, captured);
        QFETCH(int, wire);
        QFETCH(int, lines);
        QFETCH(QString, lastLine);
        const QStringList dump =
            dumpOfCounting(static_cast<std::size_t>(captured), static_cast<quint32>(wire))
                .split(str("\r\n"));
        // Splitting leaves an empty piece after the final line end.
        QCOMPARE(dump.size(), lines + 1);
        QCOMPARE(dump.value(lines - 2), lastLine);
        QCOMPARE(dump.value(lines - 1), QString());
    }

    void noBytesAtAll() {
        QCOMPARE(hexDump(FrameHeader{0, 0, 0, 60}, nullptr), str("\r\n"));
        // A null buffer holds nothing, whatever the header claims.
        QCOMPARE(hexDump(FrameHeader{0, 0, 60, 60}, nullptr), str("\r\n"));
    }

    void offsetsPastFourDigits() {
        // "%04lx" widens past 0xffff instead of wrapping.
        const QStringList dump = dumpOfCounting(65552 + 3, 65552 + 3).split(str("\r\n"));
        // 4098 lines, the closing empty line and the piece after its line end.
        QCOMPARE(dump.size(), 4098 + 2);
        QVERIFY(dump[4095].startsWith(str("fff0 : F0 F1")));
        QVERIFY(dump[4096].startsWith(str("10000 : 00 01 02")));
        QCOMPARE(dump[4097], str("10010 : 10 11 12 ") + blanks(39) + str("..."));
        QCOMPARE(dump[0x0AB].left(7), str("0ab0 : ")); // lower-case offsets
    }
};

QTEST_APPLESS_MAIN(TestHexDump)
#include "tst_hex_dump.moc"
