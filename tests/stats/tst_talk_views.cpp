// The conversations and endpoints windows: the display filter of a row
// selects exactly the frames the row counted (checked frame by frame against
// tables fed that one frame), and the views on a crafted capture in the
// frame: model consistency, tab titles, sorting, the filter box, names, the
// "other" row, CSV export and the analyzer shown from a right-click; the
// table that shows a screenful of a long list (keys, scrolling, re-sorts).

#include "app/builtin_views.h"
#include "core/addressbook/address_database.h"
#include "core/analysis/display_filter.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "core/stats/talk_filter.h"
#include "core/stats/talk_model.h"
#include "core/stats/talk_tables.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/shell/main_frame.h"
#include "gui/stats/talk_table.h"
#include "gui/stats/talk_view.h"
#include "support/capture_test_util.h"
#include "support/test_paths.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <set>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

constexpr long long kStart = 1'700'000'000'000'000; // microseconds

// An Ethernet frame of `length` bytes from 10.0.0.`src`:`sport` to
// 10.0.0.`dst`:`dport` (MACs 02:00:00:00:00:src and dst), TCP or UDP,
// behind a VLAN tag when `vlan`.
QByteArray ipFrame(int src, int dst, int sport, int dport, int length, bool udp = false,
                   bool vlan = false) {
    QByteArray f(length, '\0');
    const char dstMac[6] = {0x02, 0, 0, 0, 0, static_cast<char>(dst)};
    const char srcMac[6] = {0x02, 0, 0, 0, 0, static_cast<char>(src)};
    f.replace(0, 6, QByteArray(dstMac, 6));
    f.replace(6, 6, QByteArray(srcMac, 6));
    int at = 12;
    if (vlan) {
        f[at] = char(0x81);
        f[at + 1] = 0;
        f[at + 2] = 0;
        f[at + 3] = 5;
        at += 4;
    }
    f[at] = 0x08;
    f[at + 1] = 0;
    const int ip = at + 2;
    const int total = length - ip;
    f[ip] = 0x45;
    f[ip + 2] = static_cast<char>(total >> 8);
    f[ip + 3] = static_cast<char>(total & 0xff);
    f[ip + 8] = 64;
    f[ip + 9] = udp ? 17 : 6;
    const char addrs[8] = {10, 0, 0, static_cast<char>(src), 10, 0, 0, static_cast<char>(dst)};
    f.replace(ip + 12, 8, QByteArray(addrs, 8));
    const int l4 = ip + 20;
    f[l4] = static_cast<char>(sport >> 8);
    f[l4 + 1] = static_cast<char>(sport & 0xff);
    f[l4 + 2] = static_cast<char>(dport >> 8);
    f[l4 + 3] = static_cast<char>(dport & 0xff);
    if (udp) {
        f[l4 + 4] = static_cast<char>((total - 20) >> 8);
        f[l4 + 5] = static_cast<char>((total - 20) & 0xff);
    } else {
        f[l4 + 12] = 0x50;
    }
    return f;
}

struct Frame {
    pcap_pkthdr header;
    QByteArray bytes;
};

std::vector<Frame> readFrames(const QString& path) {
    std::vector<Frame> out;
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!p)
        return out;
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(p, &h, &bytes) == 1)
        out.push_back({*h, QByteArray(reinterpret_cast<const char*>(bytes), int(h->caplen))});
    pcap_close(p);
    return out;
}

TalkTables::Options oneThread() {
    TalkTables::Options o;
    o.threadSafe = false;
    o.rates = false;
    return o;
}

using Key = std::pair<TalkAddress, TalkAddress>;

// The rows a single frame makes in a type's table (A and B; an endpoint's in both).
std::set<Key> rowsOfFrame(const Frame& f, TalkType type, bool conversations) {
    TalkTables t(oneThread());
    t.add(f.header, reinterpret_cast<const std::uint8_t*>(f.bytes.constData()));
    std::set<Key> keys;
    if (conversations)
        for (const ConversationRow& r : t.conversations(type))
            keys.insert({r.a, r.b});
    else
        for (const EndpointRow& r : t.endpoints(type))
            keys.insert({r.address, r.address});
    return keys;
}

int countMatching(const std::vector<Frame>& frames, const QString& expression) {
    DisplayFilter filter;
    QString error;
    if (!filter.compile(expression, &error))
        return -1;
    int n = 0;
    for (const Frame& f : frames)
        n += filter.matches(frameHeaderFrom(f.header),
                            reinterpret_cast<const std::uint8_t*>(f.bytes.constData()))
                 ? 1
                 : 0;
    return n;
}

CTalkView* openView(CMainFrame& frame, int command) {
    if (!frame.sendCommand(command))
        return nullptr;
    auto* view = qobject_cast<CTalkView*>(frame.activeView());
    if (!view)
        return nullptr;
    if (!QTest::qWaitFor([view] { return view->session().loopEnd() == LoopEnd::EndOfFile; }))
        return nullptr;
    view->pickUp();
    for (int t = 0; t < kTalkTypeCount; ++t)
        view->model(t)->settle();
    return view;
}

int rowOf(const TalkModel* m, const QString& addressA) {
    for (int r = 0; r < m->rowCount(); ++r)
        if (m->exportText(r, 0) == addressA)
            return r;
    return -1;
}

} // namespace

class TestTalkViews : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        AddressDatabase::setDefaultFileName(m_dir.filePath(QStringLiteral("address.mdb")));
        // Three TCP conversations whose byte totals and addresses sort
        // differently as texts: .9:1000-.10:80 9000 bytes, .10:2000-.100:80
        // 10000, .2:3000-.9:80 8000 (half of it behind a VLAN tag).
        std::vector<TestFrame> frames;
        long long at = kStart;
        for (int i = 0; i < 9; ++i)
            frames.push_back({at += 1000, ipFrame(9, 10, 1000, 80, 1000)});
        for (int i = 0; i < 10; ++i)
            frames.push_back({at += 1000, i % 2 ? ipFrame(100, 10, 80, 2000, 1000)
                                                : ipFrame(10, 100, 2000, 80, 1000)});
        for (int i = 0; i < 100; ++i)
            frames.push_back({at += 1000, ipFrame(2, 9, 3000, 80, 80, false, i % 2 == 1)});
        m_crafted = m_dir.filePath(QStringLiteral("talk.pcap"));
        QVERIFY(writeCapture(m_crafted, DLT_EN10MB, frames));
        // Six UDP conversations, one frame each.
        frames.clear();
        for (int i = 0; i < 6; ++i)
            frames.push_back({kStart + i * 1000, ipFrame(1, 2, 5000 + i, 53, 100, true)});
        m_six = m_dir.filePath(QStringLiteral("six.pcap"));
        QVERIFY(writeCapture(m_six, DLT_EN10MB, frames));
        {
            AddressDatabase db;
            QVERIFY(db.open());
            NodeRecord n;
            n.mac = QStringLiteral("02:00:00:00:00:09");
            n.name = QStringLiteral("HOST9");
            n.ip = QStringLiteral("10.0.0.9");
            n.workgroup = n.location = n.subnet = QStringLiteral("-");
            QVERIFY2(db.addNode(n), qPrintable(db.lastError()));
        }
    }

    void init() { app::setSelectedAdapter(captureFileAdapterName(m_crafted)); }

    void cleanup() {
        m_frame.reset();
        SettingsStore().writeNumber(setting::talkRowLimit, kDefaultTalkRowLimit);
        SettingsStore().writeNumber(setting::resolveNames, 1);
        SettingsStore().writeString(setting::macAddress, QString());
    }

    // Every row's display filter, on every frame of a capture, takes the
    // frames that make that row when fed alone to the tables; TCP and UDP
    // over IPv6 behind extension headers are taken never (libpcap cannot
    // follow them to the ports), so there the filter may take fewer.
    void displayFilterSelectsTheRowsFrames_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("conversations");
        const char* files[] = {"ndpi__telegram.pcap",
                               "tcpdump__802.1ad_QinQ.pcap",
                               "ndpi__ip_fragmented_garbage.pcap",
                               "tcpdump__dns_udp.pcap",
                               "libpcap__ipv6_ext_headers.pcap",
                               "tcpdump__icmpv6.pcap",
                               "ndpi__teredo.pcap",
                               "scapy__bgp_fragmented.pcap"};
        for (const char* f : files) {
            QTest::addRow("%s conversations", f)
                << pcapDir() + QLatin1Char('/') + QLatin1String(f) << true;
            QTest::addRow("%s endpoints", f)
                << pcapDir() + QLatin1Char('/') + QLatin1String(f) << false;
        }
        QTest::addRow("crafted VLAN conversations") << QString() << true;
        QTest::addRow("crafted VLAN endpoints") << QString() << false;
    }
    void displayFilterSelectsTheRowsFrames() {
        QFETCH(QString, file);
        QFETCH(bool, conversations);
        if (file.isEmpty())
            file = m_crafted;
        const std::vector<Frame> frames = readFrames(file);
        QVERIFY(!frames.empty());
        for (int t = 0; t < kTalkTypeCount; ++t) {
            const auto type = static_cast<TalkType>(t);
            // Each frame's own rows, counted per row.
            std::map<Key, int> expected;
            for (const Frame& f : frames)
                for (const Key& k : rowsOfFrame(f, type, conversations))
                    ++expected[k];
            int checked = 0;
            for (const auto& [key, count] : expected) {
                if (++checked > 60)
                    break;
                const QString expression = conversations
                                               ? talkConversationFilter(type, key.first, key.second)
                                               : talkEndpointFilter(type, key.first);
                const int got = countMatching(frames, expression);
                const QString what = QStringLiteral("%1 %2: %3")
                                         .arg(t)
                                         .arg(talkAddressText(key.first, type), expression);
                QVERIFY2(got >= 0, qPrintable(QStringLiteral("does not compile: ") + what));
                const bool portsBehindV6 =
                    (type == TalkType::Tcp || type == TalkType::Udp) && key.first.family == 6;
                if (portsBehindV6 && file.contains(QLatin1String("ext_headers")))
                    QVERIFY2(got <= count, qPrintable(what));
                else
                    QVERIFY2(got == count, qPrintable(QStringLiteral("%1 taken, %2 counted, %3")
                                                          .arg(got)
                                                          .arg(count)
                                                          .arg(what)));
            }
        }
    }

    // Changes applied a slice at a time from the event loop, while sorting
    // and filtering passes run and rows are folded, end as the tables are.
    void modelFollowsTheTables_data() {
        QTest::addColumn<int>("sortKind"); // a TalkModel::Kind, -1 unsorted
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("rowLimit");
        QTest::newRow("as they came") << -1 << QString() << 0;
        QTest::newRow("by bytes, re-sorted") << int(TalkModel::Bytes) << QString() << 0;
        QTest::newRow("by address B") << int(TalkModel::AddressB) << QString() << 0;
        QTest::newRow("filtered") << -1 << QStringLiteral("10.0.0.1") << 0;
        QTest::newRow("filtered, by frames") << int(TalkModel::Frames) << QStringLiteral(":7") << 0;
        QTest::newRow("folded") << int(TalkModel::Bytes) << QString() << 700;
        QTest::newRow("folded, filtered") << -1 << QStringLiteral("10.0.0.2") << 700;
    }
    void modelFollowsTheTables() {
        QFETCH(int, sortKind);
        QFETCH(QString, filter);
        QFETCH(int, rowLimit);
        TalkTables::Options o;
        o.rowLimit = std::size_t(rowLimit);
        o.endpoints = false;
        TalkTables tables(o);
        TalkModel model(tables, TalkType::Tcp, true);
        QAbstractItemModelTester tester(&model);
        if (sortKind >= 0)
            model.sort(model.column(TalkModel::Kind(sortKind)), Qt::DescendingOrder);
        model.setFilterText(filter);
        long long at = kStart;
        auto add = [&](int src, int dst, int sport, int length) {
            const QByteArray f = ipFrame(src, dst, sport, 80, length);
            pcap_pkthdr h{};
            at += 1000;
            h.ts.tv_sec = at / 1'000'000;
            h.ts.tv_usec = at % 1'000'000;
            h.caplen = h.len = std::uint32_t(f.size());
            tables.add(h, reinterpret_cast<const std::uint8_t*>(f.constData()));
        };
        for (int round = 0; round < 12; ++round) {
            for (int i = 0; i < 150; ++i)
                add(1 + (round + i) % 3, 9, 1000 + round * 150 + i, 60 + i);
            for (int i = 0; i < 40; ++i) // old ones again, to change their counts
                add(1 + i % 3, 9, 1000 + i * 7, 1000);
            model.queueChanges(tables.conversationChanges(TalkType::Tcp));
            // Some of it now, the rest with the next batch.
            QCoreApplication::processEvents();
            if (round == 6)
                model.sort(sortKind >= 0 ? model.column(TalkModel::Kind(sortKind)) : -1,
                           Qt::AscendingOrder);
        }
        QTRY_VERIFY(!model.applying());
        model.settle();

        const std::vector<ConversationRow> rows = tables.conversations(TalkType::Tcp);
        std::map<Key, std::uint64_t> expected;
        std::uint64_t other = 0;
        for (const ConversationRow& r : rows) {
            if (r.isOther())
                other = r.foldedRows;
            else if (filter.isEmpty() || talkAddressText(r.a, TalkType::Tcp).contains(filter) ||
                     talkAddressText(r.b, TalkType::Tcp).contains(filter))
                expected[{r.a, r.b}] = r.bytesAB + r.bytesBA;
        }
        QCOMPARE(model.tableRows(), rows.size() - (other ? 1 : 0));
        QCOMPARE(model.rowCount(), int(expected.size()) + (other ? 1 : 0));
        const int bytes = model.column(TalkModel::Bytes);
        for (int r = 0; r < model.rowCount(); ++r) {
            if (model.isOther(r)) {
                QCOMPARE(r, model.rowCount() - 1);
                QCOMPARE(model.exportText(r, 0),
                         QStringLiteral("other (%1 rows)").arg(groupedNumber(other)));
                continue;
            }
            const auto found = expected.find({model.addressA(r), model.addressB(r)});
            QVERIFY(found != expected.end());
            QCOMPARE(model.exportText(r, bytes).toULongLong(), found->second);
            if (r > 0 && !model.isOther(r - 1) && sortKind == int(TalkModel::AddressB))
                QVERIFY(!(model.addressB(r) < model.addressB(r - 1)));
            if (r > 0 && !model.isOther(r - 1) && sortKind == int(TalkModel::Bytes))
                QVERIFY(model.exportText(r - 1, bytes).toULongLong() <=
                        model.exportText(r, bytes).toULongLong());
        }
    }

    // The views in the frame on the crafted capture.
    void views_data() {
        QTest::addColumn<int>("command");
        QTest::newRow("conversations") << int(cmd::Conversations);
        QTest::newRow("endpoints") << int(cmd::Endpoints);
    }
    void views() {
        QFETCH(int, command);
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        CTalkView* view = openView(*m_frame, command);
        QVERIFY(view);
        std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
        for (int t = 0; t < kTalkTypeCount; ++t)
            testers.push_back(std::make_unique<QAbstractItemModelTester>(view->model(t)));
        const bool conversations = command == cmd::Conversations;
        QCOMPARE(view->framesCounted(), std::uint64_t(119));
        QCOMPARE(m_frame->viewStatusText(), QStringLiteral("Frames: 119 (end of file)"));
        // Titles count the tables' rows.
        QCOMPARE(view->tabs()->tabText(int(TalkType::IPv6)), QStringLiteral("IPv6 (0)"));
        QCOMPARE(view->tabs()->tabText(int(TalkType::Udp)), QStringLiteral("UDP (0)"));
        for (TalkType type : {TalkType::Ethernet, TalkType::IPv4, TalkType::Tcp}) {
            const std::size_t n = view->tables().rowCount(type, conversations);
            QCOMPARE(view->tabs()->tabText(int(type)), CTalkView::tabTitle(type, n));
            QCOMPARE(view->model(int(type))->rowCount(), int(n));
        }
        QCOMPARE(view->model(int(TalkType::IPv4))->rowCount(), conversations ? 3 : 4);
        QCOMPARE(view->model(int(TalkType::Tcp))->rowCount(), conversations ? 3 : 6);

        // Numbers sort as numbers, addresses in byte order.
        TalkModel* tcp = view->model(int(TalkType::Tcp));
        const int bytes = tcp->column(TalkModel::Bytes);
        view->table(int(TalkType::Tcp))->sortByColumn(bytes, Qt::DescendingOrder);
        tcp->settle();
        for (int r = 1; r < tcp->rowCount(); ++r)
            QVERIFY(tcp->exportText(r - 1, bytes).toULongLong() >=
                    tcp->exportText(r, bytes).toULongLong());
        if (conversations)
            QCOMPARE(tcp->exportText(0, 0), QStringLiteral("10.0.0.10:2000"));
        view->table(int(TalkType::Tcp))->sortByColumn(0, Qt::AscendingOrder);
        tcp->settle();
        for (int r = 1; r < tcp->rowCount(); ++r)
            QVERIFY(tcp->addressA(r - 1) < tcp->addressA(r));
        QCOMPARE(tcp->exportText(0, 0), QStringLiteral("10.0.0.2:3000"));

        // Names beside the address book's station, on and off.
        TalkModel* v4 = view->model(int(TalkType::IPv4));
        const int name = v4->column(TalkModel::NameA);
        const int host9 = rowOf(v4, QStringLiteral("10.0.0.9"));
        QVERIFY(host9 >= 0);
        QCOMPARE(v4->index(host9, name).data().toString(), QStringLiteral("HOST9"));
        QVERIFY(!view->table(int(TalkType::IPv4))->isColumnHidden(name));
        view->resolveNamesBox()->setChecked(false);
        QCOMPARE(v4->index(host9, name).data().toString(), QString());
        QVERIFY(view->table(int(TalkType::IPv4))->isColumnHidden(name));
        quint32 stored = 1;
        QVERIFY(SettingsStore().readNumber(setting::resolveNames, stored));
        QCOMPARE(stored, 0u);
        view->resolveNamesBox()->setChecked(true);
        QCOMPARE(v4->index(host9, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("10.0.0.9"));
        QVERIFY(!view->model(0)->index(0, 0).data(Qt::ToolTipRole).toString().isEmpty());

        // Export: every row under the titles, numbers plain.
        const QString csv = m_dir.filePath(QStringLiteral("tcp.csv"));
        QVERIFY(view->exportCsv(int(TalkType::Tcp), csv));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = f.readAll().split('\n');
        QVERIFY(lines.first().startsWith("\xEF\xBB\xBF"));
        QCOMPARE(lines.size() - 2, tcp->rowCount());
        QVERIFY2(lines.first().contains(conversations ? "Address A,Name A,Address B,Name B,Frames"
                                                      : "Address,Name,Frames Sent"),
                 lines.first().constData());
        const QByteArray first = lines.value(1);
        QVERIFY2(first.startsWith("10.0.0.2:3000,"), first.constData());
        QVERIFY2(first.contains(",100,8000,0,0,100,8000,"), first.constData());
    }

    // The filter box keeps the rows whose address or name texts hold its
    // text, on every tab; Ctrl+F reaches it.
    void filterBox_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("shown"); // address A of each row, busiest first
        QTest::newRow("address") << QStringLiteral("10.0.0.9") << int(TalkType::Tcp)
                                 << QStringList{QStringLiteral("10.0.0.9:1000"),
                                                QStringLiteral("10.0.0.2:3000")};
        QTest::newRow("longer address")
            << QStringLiteral("10.0.0.10") << int(TalkType::IPv4)
            << QStringList{QStringLiteral("10.0.0.10"), QStringLiteral("10.0.0.9")};
        QTest::newRow("name, any case")
            << QStringLiteral("host9") << int(TalkType::IPv4)
            << QStringList{QStringLiteral("10.0.0.9"), QStringLiteral("10.0.0.2")};
        QTest::newRow("port") << QStringLiteral(":2000") << int(TalkType::Tcp)
                              << QStringList{QStringLiteral("10.0.0.10:2000")};
        QTest::newRow("MAC") << QStringLiteral("00:64") << int(TalkType::Ethernet)
                             << QStringList{QStringLiteral("02:00:00:00:00:0a")};
        QTest::newRow("nothing") << QStringLiteral("192.168.") << int(TalkType::IPv4)
                                 << QStringList{};
    }
    void filterBox() {
        QFETCH(QString, text);
        QFETCH(int, tab);
        QFETCH(QStringList, shown);
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        CTalkView* view = openView(*m_frame, cmd::Conversations);
        QVERIFY(view);
        QAbstractItemModelTester tester(view->model(tab));
        view->table(tab)->setFocus();
        QTest::keyClick(view->table(tab)->view(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(view->filterBox()->hasFocus());
        QTest::keyClicks(view->filterBox(), text);
        TalkModel* m = view->model(tab);
        m->settle();
        QStringList got;
        for (int r = 0; r < m->rowCount(); ++r)
            got << m->exportText(r, 0);
        QCOMPARE(got, shown);
        // The title still counts the whole table.
        QCOMPARE(view->tabs()->tabText(tab),
                 CTalkView::tabTitle(static_cast<TalkType>(tab),
                                     view->tables().rowCount(static_cast<TalkType>(tab), true)));
        QTest::keyClick(view->filterBox(), Qt::Key_Escape);
        m->settle();
        QCOMPARE(m->rowCount(), int(view->tables().rowCount(static_cast<TalkType>(tab), true)));
    }

    // Without a pick-up of all at once, the timer takes one table after the
    // other: every table's rows come in, each into its own tab.
    void timedPickUp_data() {
        QTest::addColumn<int>("command");
        QTest::newRow("conversations") << int(cmd::Conversations);
        QTest::newRow("endpoints") << int(cmd::Endpoints);
    }
    void timedPickUp() {
        QFETCH(int, command);
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        QVERIFY(m_frame->sendCommand(command));
        auto* view = qobject_cast<CTalkView*>(m_frame->activeView());
        QVERIFY(view);
        QTRY_COMPARE(view->session().loopEnd(), LoopEnd::EndOfFile);
        const bool conversations = command == int(cmd::Conversations);
        for (int t = 0; t < kTalkTypeCount; ++t) {
            const auto type = static_cast<TalkType>(t);
            const std::size_t rows = view->tables().rowCount(type, conversations);
            QTRY_COMPARE(view->model(t)->rowCount(), int(rows));
            QCOMPARE(view->tabs()->tabText(t), CTalkView::tabTitle(type, rows));
        }
        QVERIFY(view->model(int(TalkType::Tcp))->rowCount() > 0);
        QVERIFY(view->model(int(TalkType::Ethernet))->rowCount() > 0);
    }

    // The table holds a screenful of a long list: keys move the current
    // row past the screen's edges, and the selected row is the same row
    // after scrolling away and back and after the order is reversed.
    void windowedTable_data() {
        QTest::addColumn<int>("sortKind");
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("pages"); // the expected row: pages * (page - 1) + rows,
        QTest::addColumn<int>("rows");  // counted from the end when negative
        QTest::newRow("arrows on screen")
            << int(TalkModel::Bytes) << 0 << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Up} << 0
            << 1;
        QTest::newRow("past the bottom edge")
            << int(TalkModel::Bytes) << 0
            << QList<int>{Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_Down} << 2 << 1;
        QTest::newRow("up at the top")
            << int(TalkModel::AddressA) << 0 << QList<int>{Qt::Key_Up} << 0 << 0;
        QTest::newRow("end") << int(TalkModel::AddressA) << 3 << QList<int>{Qt::Key_End} << 0 << -1;
        QTest::newRow("end, page up")
            << int(TalkModel::Bytes) << 3 << QList<int>{Qt::Key_End, Qt::Key_PageUp} << -1 << -1;
        QTest::newRow("end, home")
            << int(TalkModel::Bytes) << 7 << QList<int>{Qt::Key_End, Qt::Key_Home} << 0 << 0;
        QTest::newRow("past the top edge")
            << int(TalkModel::AddressA) << 0
            << QList<int>{Qt::Key_End, Qt::Key_Up, Qt::Key_PageUp, Qt::Key_PageUp} << -2 << -2;
    }
    void windowedTable() {
        QFETCH(int, sortKind);
        QFETCH(int, start);
        QFETCH(QList<int>, keys);
        QFETCH(int, pages);
        QFETCH(int, rows);
        TalkTables tables;
        TalkModel model(tables, TalkType::Tcp, true);
        constexpr int n = 500;
        TalkChanges<ConversationRow> changes;
        for (int i = 0; i < n; ++i) {
            ConversationRow r;
            r.a.family = r.b.family = 4;
            r.a.bytes = {10, 0, std::uint8_t(i >> 8), std::uint8_t(i)};
            r.b.bytes = {172, 16, 0, 1};
            r.a.port = std::uint16_t(1024 + i);
            r.b.port = 443;
            r.framesAB = 1;
            r.bytesAB = std::uint64_t((i * 37) % n + 1); // distinct, not in the address order
            changes.ids.push_back(std::uint32_t(i));
            changes.rows.push_back(r);
        }
        model.queueChanges(std::move(changes));
        model.finishQueued();
        CTalkTable table(&model);
        table.resize(800, 300);
        table.show();
        QVERIFY(QTest::qWaitForWindowExposed(&table));
        const int column = model.column(TalkModel::Kind(sortKind));
        table.sortByColumn(column, Qt::AscendingOrder);
        model.settle();
        QCoreApplication::processEvents();
        const int page = table.pageRows();
        QVERIFY2(page > 3 && page < 20, qPrintable(QString::number(page)));
        auto shownMatches = [&] {
            const QAbstractItemModel* w = table.view()->model();
            if (w->rowCount() < std::min(page, model.rowCount() - table.firstRow()))
                return false;
            for (int r = 0; r < w->rowCount(); ++r)
                if (w->index(r, 0).data() != model.index(table.firstRow() + r, 0).data())
                    return false;
            return true;
        };
        auto drawnSelected = [&](int row) {
            const int r = row - table.firstRow();
            return r >= 0 && r < table.view()->model()->rowCount() &&
                   table.view()->selectionModel()->isRowSelected(r, {});
        };

        table.selectRow(start);
        for (int key : keys)
            QTest::keyClick(table.view(), Qt::Key(key));
        const bool fromEnd = pages < 0 || rows < 0;
        const int expected =
            fromEnd ? n - 1 + pages * (page - 1) + rows + 1 : pages * (page - 1) + rows;
        QCOMPARE(table.currentRow(), expected);
        QCOMPARE(table.selectedRows(), QList<int>{expected});
        QVERIFY(table.firstRow() <= expected && expected < table.firstRow() + page);
        QVERIFY(shownMatches());
        QVERIFY(drawnSelected(expected));
        const QString address = model.exportText(expected, 0);

        // Scrolled away and back: the same row, still selected.
        QScrollBar* bar = table.scrollBar();
        bar->setValue(expected < n / 2 ? bar->maximum() : 0);
        QVERIFY(shownMatches());
        QVERIFY(!drawnSelected(expected));
        table.scrollToRow(expected);
        QVERIFY(drawnSelected(expected));

        // Reversed: the row moves, the selection and the current row follow it.
        table.sortByColumn(column, Qt::DescendingOrder);
        model.settle();
        QCoreApplication::processEvents();
        const int moved = table.currentRow();
        QCOMPARE(moved, n - 1 - expected);
        QCOMPARE(model.exportText(moved, 0), address);
        QCOMPARE(table.selectedRows(), QList<int>{moved});
        QVERIFY(shownMatches());
        QVERIFY(table.firstRow() <= moved && moved < table.firstRow() + page);
        QVERIFY(drawnSelected(moved));
        QCOMPARE(table.view()->model()->index(moved - table.firstRow(), 0).data().toString(),
                 address);
    }

    // Past the row limit the rest is one "other" row, last, that says how
    // many rows it holds; nothing is lost from the totals.
    void otherRow() {
        SettingsStore().writeNumber(setting::talkRowLimit, 3);
        app::setSelectedAdapter(captureFileAdapterName(m_six));
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        CTalkView* view = openView(*m_frame, cmd::Conversations);
        QVERIFY(view);
        TalkModel* udp = view->model(int(TalkType::Udp));
        QAbstractItemModelTester tester(udp);
        QCOMPARE(udp->rowCount(), 4);
        QVERIFY(udp->isOther(3));
        QCOMPARE(udp->exportText(3, 0), QStringLiteral("other (3 rows)"));
        QCOMPARE(view->tabs()->tabText(int(TalkType::Udp)), QStringLiteral("UDP (3)"));
        quint64 frames = 0;
        for (int r = 0; r < udp->rowCount(); ++r)
            frames += udp->exportText(r, udp->column(TalkModel::Frames)).toULongLong();
        QCOMPARE(frames, quint64(6));
        // Still last when sorted, and offers no frames to show.
        view->table(int(TalkType::Udp))->sortByColumn(0, Qt::DescendingOrder);
        udp->settle();
        QVERIFY(udp->isOther(3));
        std::unique_ptr<QMenu> menu(view->rowMenu(int(TalkType::Udp), 3, 0));
        QVERIFY(!menu->actions().at(0)->isEnabled());
        QVERIFY(udp->displayFilter(3).isEmpty());
    }

    // The right-click commands: the analyzer shows exactly the row's frames;
    // the station goes to the single node statistics and the trace.
    void rightClick_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("addressA");
        QTest::addColumn<int>("frames");
        QTest::newRow("TCP conversation, half tagged")
            << int(cmd::Conversations) << int(TalkType::Tcp) << QStringLiteral("10.0.0.2:3000")
            << 100;
        QTest::newRow("Ethernet conversation") << int(cmd::Conversations) << int(TalkType::Ethernet)
                                               << QStringLiteral("02:00:00:00:00:0a") << 10;
        QTest::newRow("IPv4 endpoint")
            << int(cmd::Endpoints) << int(TalkType::IPv4) << QStringLiteral("10.0.0.9") << 109;
        QTest::newRow("TCP endpoint")
            << int(cmd::Endpoints) << int(TalkType::Tcp) << QStringLiteral("10.0.0.9:80") << 100;
    }
    void rightClick() {
        QFETCH(int, command);
        QFETCH(int, tab);
        QFETCH(QString, addressA);
        QFETCH(int, frames);
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        CTalkView* view = openView(*m_frame, command);
        QVERIFY(view);
        const int row = rowOf(view->model(tab), addressA);
        QVERIFY(row >= 0);
        std::unique_ptr<QMenu> menu(view->rowMenu(tab, row, 0));
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.at(0)->text(), QStringLiteral("Show Frames in Analyzer"));
        QVERIFY(items.at(0)->isEnabled());
        QVERIFY(items.at(1)->text().startsWith(QStringLiteral("Single Node Statistics")));
        QVERIFY(items.at(2)->text().startsWith(QStringLiteral("Trace")));
        QCOMPARE(items.at(4)->text(), QStringLiteral("Copy"));
        QCOMPARE(items.at(5)->text(), QStringLiteral("Export CSV..."));

        // Copy: the selected row, tab-separated.
        view->table(tab)->selectRow(row);
        QCOMPARE(view->selectedText(tab),
                 view->model(tab)->exportRow(row).join(QLatin1Char('\t')) + QLatin1Char('\n'));

        const QString station = view->stationOf(tab, row, 0);
        const QString filter = view->model(tab)->displayFilter(row);
        items.at(0)->trigger();
        menu.reset();
        QTRY_COMPARE(m_frame->activeTemplate(), int(view::CaptureDecode));
        auto* analyzer = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QVERIFY(analyzer);
        QCOMPARE(analyzer->displayFilterBar()->text(), filter);
        QTRY_COMPARE(analyzer->session().loopEnd(), LoopEnd::EndOfFile);
        QTRY_COMPARE(analyzer->store().size(), std::size_t(119));
        analyzer->waitForDisplayFilter();
        QTRY_COMPARE(analyzer->model()->rowCount(), frames);

        // The station: the row's MAC, or the address book's for its IPv4 address.
        QCOMPARE(station, addressA.startsWith(QLatin1String("10.0.0.9"))
                              ? QStringLiteral("02:00:00:00:00:09")
                          : addressA.startsWith(QLatin1String("02:")) ? addressA
                                                                      : QString());
        if (station.isEmpty())
            return;
        view = openView(*m_frame, command);
        QVERIFY(view);
        menu.reset(view->rowMenu(tab, rowOf(view->model(tab), addressA), 0));
        menu->actions().at(1)->trigger();
        menu.reset(); // before the switch takes its view
        QCOMPARE(SettingsStore().string(setting::macAddress), station);
        QTRY_COMPARE(m_frame->activeTemplate(), int(view::SingleNode));
    }

private:
    QTemporaryDir m_dir;
    QString m_crafted;
    QString m_six;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(TestTalkViews)
#include "tst_talk_views.moc"
