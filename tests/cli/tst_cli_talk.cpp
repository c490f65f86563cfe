// qarsilo-cli conversations and endpoints over kept captures, every row
// against tshark's own tables of the same captures; the standard input, bad
// arguments and --max-rows with its "other" line.
//
// The captures are ones where tshark's rules and ours agree: no tunnels
// (tshark also counts the inner headers of GRE, IP-in-IP, 6in4, Teredo or
// VXLAN), no IPv4 fragments of TCP or UDP (tshark counts the reassembled
// datagram, with the length of the frame that completes it), no frames whose
// transport headers tshark finds in ICMP error payloads or trailers, no IP
// header whose length fields disagree with the frame (tshark leaves such a
// frame out of its IP tables, these tables count any header read whole), no
// IPv6 routing header of type 0 (tshark takes its last address as the
// destination). A frame cut short by the capture counts its length on the
// wire in both (tcpdump__tcp_rst_data-trunc.pcap).

#include "support/capture_test_util.h"
#include "support/run_process.h"
#include "support/test_paths.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace qarsilo::test;

namespace {

// Frames and bytes each way, by (A, B) or by address (B empty).
struct Counts {
    qulonglong frames0 = 0, bytes0 = 0, frames1 = 0, bytes1 = 0;
    QString bytesUnit0, bytesUnit1; // tshark's units for conversations ("bytes", "kB", "MB")
};
using Table = std::map<std::pair<QString, QString>, Counts>;

// tshark writes "addr:port" for IPv6 too; ours has brackets.
QString portAddress(const QString& text) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    const QString host = text.left(colon);
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) +
           text.mid(colon);
}

// tshark's table: endpoints (address [port] packets bytes tx-packets
// tx-bytes rx-packets rx-bytes) or conversations (A <-> B, frames and bytes
// B to A, then A to B, bytes with a unit).
Table tsharkTable(const QString& tshark, const QString& file, bool conversations,
                  const QString& type) {
    const ProcessResult r = runProcess(
        tshark, {QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-z"),
                 (conversations ? QStringLiteral("conv,") : QStringLiteral("endpoints,")) + type,
                 QStringLiteral("-r"), file});
    Table table;
    if (!r.exited || r.exitCode != 0)
        return table;
    const bool ports = type == QLatin1String("tcp") || type == QLatin1String("udp");
    static const QRegularExpression endpoint(
        QStringLiteral(R"(^(\S+)\s+(?:(\d+)\s+)?\d+\s+\d+\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s*$)"));
    static const QRegularExpression conversation(QStringLiteral(
        R"(^(\S+)\s+<->\s+(\S+)\s+(\d+)\s+(\d+) (bytes|kB|MB)\s+(\d+)\s+(\d+) (bytes|kB|MB)\s)"));
    for (const QString& line : QString::fromUtf8(r.out).split(QLatin1Char('\n'))) {
        if (conversations) {
            const QRegularExpressionMatch m = conversation.match(line);
            if (!m.hasMatch())
                continue;
            const QString a = ports ? portAddress(m.captured(1)) : m.captured(1);
            const QString b = ports ? portAddress(m.captured(2)) : m.captured(2);
            // "->" (A to B) comes after "<-".
            Counts& c = table[{a, b}];
            c.frames0 = m.captured(6).toULongLong();
            c.bytes0 = m.captured(7).toULongLong();
            c.bytesUnit0 = m.captured(8);
            c.frames1 = m.captured(3).toULongLong();
            c.bytes1 = m.captured(4).toULongLong();
            c.bytesUnit1 = m.captured(5);
        } else {
            const QRegularExpressionMatch m = endpoint.match(line);
            if (!m.hasMatch() || m.captured(2).isEmpty() == ports)
                continue;
            const QString address =
                ports ? portAddress(m.captured(1) + QLatin1Char(':') + m.captured(2))
                      : m.captured(1);
            table[{address, QString()}] = {m.captured(3).toULongLong(),
                                           m.captured(4).toULongLong(),
                                           m.captured(5).toULongLong(),
                                           m.captured(6).toULongLong(),
                                           {},
                                           {}};
        }
    }
    return table;
}

// tshark prints 10,000 bytes and more in whole kB (and MB), cut down.
bool sameBytes(qulonglong ours, qulonglong theirs, const QString& unit) {
    if (unit.isEmpty() || unit == QLatin1String("bytes"))
        return ours == theirs;
    return ours / (unit == QLatin1String("kB") ? 1000 : 1'000'000) == theirs;
}

ProcessResult talk(const QStringList& args) {
    return runProcess(cliPath(), args);
}

const char* const kTypes[] = {"eth", "ip", "ipv6", "tcp", "udp"};

QByteArray be16(int v) {
    return QByteArray(1, static_cast<char>(v >> 8)) + QByteArray(1, static_cast<char>(v));
}
QByteArray byte(int v) {
    return QByteArray(1, static_cast<char>(v));
}

// An Ethernet frame from station `src` to `dst` (02:00:00:00:00:NN) with
// these VLAN tag types before `type`.
QByteArray ether(int src, int dst, const QList<int>& tags, int type, const QByteArray& payload) {
    QByteArray f = QByteArray::fromHex("0200000000") + byte(dst) +
                   QByteArray::fromHex("0200000000") + byte(src);
    for (const int tag : tags)
        f += be16(tag) + be16(100);
    return f + be16(type) + payload;
}

// A UDP or TCP header from port `sp` to `dp`, with some payload.
QByteArray transport(int proto, int sp, int dp) {
    const QByteArray h = be16(sp) + be16(dp);
    if (proto == 6)
        return h + QByteArray::fromHex("00000001000000005002200000000000") + QByteArray(40, 'x');
    return h + be16(8 + 40) + be16(0) + QByteArray(40, 'x');
}

QByteArray ipv4(int src, int dst, int proto, int sp, int dp) {
    const QByteArray l4 = transport(proto, sp, dp);
    return QByteArray::fromHex("4500") + be16(20 + int(l4.size())) +
           QByteArray::fromHex("0000400040") + byte(proto) + QByteArray(2, 0) +
           QByteArray::fromHex("0a0000") + byte(src) + QByteArray::fromHex("0a0000") + byte(dst) +
           l4;
}

// IPv6 with hop-by-hop options, then destination options, before the transport header.
QByteArray ipv6(int src, int dst, int proto, int sp, int dp) {
    const QByteArray rest = QByteArray::fromHex("3c00010400000000") + byte(proto) +
                            QByteArray::fromHex("00010400000000") + transport(proto, sp, dp);
    const QByteArray prefix = QByteArray::fromHex("20010db80000000000000000000000");
    return QByteArray::fromHex("60000000") + be16(int(rest.size())) + byte(0) + byte(64) + prefix +
           byte(src) + prefix + byte(dst) + rest;
}

} // namespace

class TestCliTalk : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        // VLAN tags and IPv6 options, which the kept captures lack, both
        // ways, and a station that sends to itself.
        QVERIFY(m_dir.isValid());
        const long long t = 1'700'000'000'000'000;
        QVERIFY(writeCapture(
            m_dir.filePath(QStringLiteral("crafted.pcap")), DLT_EN10MB,
            {{t, ether(1, 2, {0x8100}, 0x0800, ipv4(1, 2, 6, 40000, 80))},
             {t + 10, ether(2, 1, {0x8100}, 0x0800, ipv4(2, 1, 6, 80, 40000))},
             {t + 20, ether(3, 2, {0x88a8, 0x8100}, 0x0800, ipv4(3, 2, 17, 5000, 53))},
             {t + 30, ether(4, 3, {0x9100, 0x8100}, 0x86dd, ipv6(4, 3, 17, 5353, 5353))},
             {t + 40, ether(3, 4, {}, 0x86dd, ipv6(3, 4, 6, 443, 50000))},
             {t + 50, ether(5, 5, {}, 0x0800, ipv4(5, 5, 17, 9, 9))}}));
    }

    void againstTshark_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("type");
        for (const char* file :
             {"ndpi__telegram.pcap", "tcpdump__802.1ad_QinQ.pcap", "ndpi__smbv1.pcap",
              "tcpdump__dhcpv6-ia-na.pcap", "tcpdump__tcp_rst_data-trunc.pcap"})
            for (const char* type : kTypes)
                QTest::addRow("%s %s", file, type)
                    << pcapDir() + QLatin1Char('/') + QLatin1String(file)
                    << QString::fromLatin1(type);
        for (const char* type : kTypes)
            QTest::addRow("crafted %s", type)
                << m_dir.filePath(QStringLiteral("crafted.pcap")) << QString::fromLatin1(type);
    }
    void againstTshark() {
        QFETCH(QString, file);
        QFETCH(QString, type);
        if (m_tshark.isEmpty())
            QSKIP("tshark is not installed (scripts/setup installs it)");
        for (const bool conversations : {false, true}) {
            const ProcessResult r =
                talk({conversations ? QStringLiteral("conversations") : QStringLiteral("endpoints"),
                      file, QStringLiteral("--type"), type});
            QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
            const Table theirs = tsharkTable(m_tshark, file, conversations, type);
            const QStringList lines =
                QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), qsizetype(theirs.size()));
            qulonglong previousTotal = ~0ull;
            for (const QString& line : lines) {
                const QStringList f = line.split(QLatin1Char('\t'));
                QCOMPARE(f.size(), conversations ? 8 : 5);
                const int at = conversations ? 2 : 1;
                Counts ours{f[at].toULongLong(),
                            f[at + 1].toULongLong(),
                            f[at + 2].toULongLong(),
                            f[at + 3].toULongLong(),
                            {},
                            {}};
                // Largest total first.
                const qulonglong total = ours.bytes0 + ours.bytes1;
                QVERIFY2(total <= previousTotal, qPrintable(line));
                previousTotal = total;
                const QString a = f[0];
                const QString b = conversations ? f[1] : QString();
                // tshark's A is the side it saw first: ours may be its B.
                auto it = theirs.find({a, b});
                if (it == theirs.end() && conversations) {
                    it = theirs.find({b, a});
                    std::swap(ours.frames0, ours.frames1);
                    std::swap(ours.bytes0, ours.bytes1);
                }
                QVERIFY2(it != theirs.end(),
                         qPrintable(QStringLiteral("not in tshark's table: ") + line));
                const Counts& t = it->second;
                QVERIFY2(ours.frames0 == t.frames0 && ours.frames1 == t.frames1 &&
                             sameBytes(ours.bytes0, t.bytes0, t.bytesUnit0) &&
                             sameBytes(ours.bytes1, t.bytes1, t.bytesUnit1),
                         qPrintable(QStringLiteral("%1 against tshark's %2 %3 %4 %5")
                                        .arg(line)
                                        .arg(t.frames0)
                                        .arg(t.bytes0)
                                        .arg(t.frames1)
                                        .arg(t.bytes1)));
                if (conversations) {
                    static const QRegularExpression stamp(QStringLiteral(R"(^\d+\.\d{6}$)"));
                    QVERIFY(stamp.match(f[6]).hasMatch() && stamp.match(f[7]).hasMatch());
                    QVERIFY(f[6].toDouble() <= f[7].toDouble());
                }
            }
        }
    }

    // The standard input gives what the file gives.
    void standardInput() {
        const QString file = pcapDir() + QStringLiteral("/ndpi__telegram.pcap");
        const ProcessResult direct = talk(
            {QStringLiteral("endpoints"), file, QStringLiteral("--type"), QStringLiteral("udp")});
        const ProcessResult piped = runProcess(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("exec \"$0\" endpoints - --type udp < \"$1\""),
             cliPath(), file});
        QVERIFY2(piped.exited && piped.exitCode == 0, piped.err.constData());
        QVERIFY(!direct.out.isEmpty());
        QCOMPARE(piped.out, direct.out);
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString file = pcapDir() + QStringLiteral("/ndpi__telegram.pcap");
        QTest::newRow("bad type") << QStringList{QStringLiteral("conversations"), file,
                                                 QStringLiteral("--type"), QStringLiteral("icmp")}
                                  << 2 << "the type is eth, ip, ipv6, tcp or udp, not 'icmp'";
        QTest::newRow("no type") << QStringList{QStringLiteral("endpoints"), file} << 2
                                 << "--type is missing";
        QTest::newRow("no source")
            << QStringList{QStringLiteral("endpoints"), QStringLiteral("--type=ip")} << 2
            << "usage: qarsilo-cli endpoints SOURCE";
        QTest::newRow("bad max-rows")
            << QStringList{QStringLiteral("endpoints"), file, QStringLiteral("--type=ip"),
                           QStringLiteral("--max-rows"), QStringLiteral("0")}
            << 2 << "--max-rows needs a number of rows above 0, not '0'";
        QTest::newRow("missing file")
            << QStringList{QStringLiteral("conversations"),
                           pcapDir() + QStringLiteral("/no such file.pcap"),
                           QStringLiteral("--type"), QStringLiteral("ip")}
            << 1 << "qarsilo-cli conversations: cannot open capture file";
    }
    void badArguments() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const ProcessResult r = talk(args);
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }

    // Past --max-rows the least recently active rows are one "other" line,
    // last, and the totals stay whole.
    void maxRows_data() {
        QTest::addColumn<bool>("conversations");
        QTest::newRow("conversations") << true;
        QTest::newRow("endpoints") << false;
    }
    void maxRows() {
        QFETCH(bool, conversations);
        const QString command =
            conversations ? QStringLiteral("conversations") : QStringLiteral("endpoints");
        const QString file = pcapDir() + QStringLiteral("/ndpi__telegram.pcap");
        const ProcessResult all =
            talk({command, file, QStringLiteral("--type"), QStringLiteral("ip")});
        const ProcessResult some = talk({command, file, QStringLiteral("--type"),
                                         QStringLiteral("ip"), QStringLiteral("--max-rows=5")});
        QVERIFY2(some.exited && some.exitCode == 0, some.err.constData());
        const QList<QByteArray> allLines = all.out.trimmed().split('\n');
        const QList<QByteArray> lines = some.out.trimmed().split('\n');
        QVERIFY(allLines.size() > 6);
        QCOMPARE(lines.size(), 6);
        const QList<QByteArray> other = lines.last().split('\t');
        QCOMPARE(other[0], QByteArray("other"));
        if (conversations)
            QCOMPARE(other[1], QByteArray());
        // A row that comes back after it was folded is a new row, and may be folded again.
        static const QRegularExpression note(QStringLiteral(
            R"(: (\d+) rows beyond --max-rows 5 were folded into the "other" row\n)"));
        const QRegularExpressionMatch m = note.match(QString::fromUtf8(some.err));
        QVERIFY2(m.hasMatch(), some.err.constData());
        QVERIFY(m.captured(1).toLongLong() >= allLines.size() - 5);
        QCOMPARE(other.size(), conversations ? 8 : 5);
        const int at = conversations ? 2 : 1;
        const auto sum = [at](const QList<QByteArray>& rows) {
            std::array<qulonglong, 4> s{};
            for (const QByteArray& row : rows) {
                const QList<QByteArray> f = row.split('\t');
                for (int i = 0; i < 4; ++i)
                    s[std::size_t(i)] += f[at + i].toULongLong();
            }
            return s;
        };
        QCOMPARE(sum(lines), sum(allLines));
    }

private:
    QString m_tshark;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestCliTalk)
#include "tst_cli_talk.moc"
