// The trace's core: slots, replacement and ageing of the side node table,
// the colours per layer, the packet handler and its bounds, the animation
// steps and the board's pixels.

#include "core/trace/trace_colours.h"
#include "core/trace/trace_model.h"
#include "support/trace_frames.h"

#include <QTest>

#include <climits>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

void feed(TraceModel& model, const QByteArray& frame) {
    model.handleFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                      static_cast<std::size_t>(frame.size()));
}

std::vector<int> slotsInTableOrder(const SideNodeTable& table) {
    std::vector<int> out;
    for (const SideNode& n : table.entries())
        out.push_back(n.slot);
    return out;
}

bool white(const QImage& image, int x, int y) {
    return image.pixel(x, y) == qRgb(255, 255, 255);
}

} // namespace

class TestTraceModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void slotCycleAndReplacement() {
        SideNodeTable table;
        for (int n = 0; n < 16; ++n)
            QCOMPARE(table.checkIn(peer(n), 0, 5).outcome, SideNodeTable::Outcome::Added);
        QCOMPARE(slotsInTableOrder(table),
                 (std::vector<int>{0, 8, 4, 12, 2, 10, 14, 6, 1, 5, 13, 9, 15, 7, 3, 11}));
        // Sixteen fresh peers: none gives its place.
        QCOMPARE(table.checkIn(peer(16), 0, 5).outcome, SideNodeTable::Outcome::NoSlot);
        // After two seconds all are at 3; peers 2 and 5 drop to 2 after a
        // third; the rest are renewed. The first of the lowest (peer 2, slot 4)
        // gives its place.
        table.age();
        table.age();
        for (int n = 0; n < 16; ++n)
            if (n != 2 && n != 5)
                table.checkIn(peer(n), 0, 5);
        table.age();
        const SideNodeTable::CheckIn in = table.checkIn(peer(16), 0x00C000, 5);
        QCOMPARE(in.outcome, SideNodeTable::Outcome::Replaced);
        QCOMPARE(in.slot, 4);
        QCOMPARE(table.entries()[2].mac, peer(16));
        QCOMPARE(table.entries()[2].life, 5);
        // A peer that goes and comes back later takes the next free slot of the
        // cycle, which goes on where it was.
        SideNodeTable fresh;
        fresh.checkIn(peer(0), 0, 2);
        for (int i = 0; i < 3; ++i)
            fresh.age();
        QVERIFY(fresh.entries().empty());
        QCOMPARE(fresh.checkIn(peer(1), 0, 2).slot, 8);
    }

    void ageing_data() {
        QTest::addColumn<int>("nodeLife");
        QTest::newRow("life 5") << 5;
        QTest::newRow("life 2") << 2;
        QTest::newRow("life 10") << 10;
    }
    void ageing() {
        QFETCH(int, nodeLife);
        SideNodeTable table;
        table.checkIn(peer(1), 0, nodeLife);
        // Still there after nodeLife ticks, gone at the next.
        for (int tick = 0; tick < nodeLife; ++tick)
            QCOMPARE(table.age()->size(), std::size_t(0));
        QCOMPARE(table.entries().size(), std::size_t(1));
        QCOMPARE(*table.age(), std::vector<int>{0});
        QVERIFY(table.entries().empty());
    }

    void colours_data() {
        QTest::addColumn<int>("layer");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("rgb"); // -1: the layer ignores the frame
        QTest::newRow("0: IPv4") << 0 << ipv4Frame(6) << 0x00C000;
        QTest::newRow("0: ARP") << 0 << etherFrame(0x0806) << 0xFF8F6B;
        QTest::newRow("0: 0x814C") << 0 << etherFrame(0x814C) << 0x800000;
        QTest::newRow("0: spanning tree") << 0 << llcFrame(0x42) << 0xFFFF00;
        QTest::newRow("0: 802.3 other SAP") << 0 << llcFrame(0xAA) << 0x000000;
        QTest::newRow("0: LLDP") << 0 << etherFrame(0x88CC) << 0x000000;
        QTest::newRow("0: header cut") << 0 << etherFrame(0x0800, 12) << -1;
        QTest::newRow("1: UDP") << 1 << ipv4Frame(17) << 0x0000C0;
        QTest::newRow("1: other") << 1 << ipv4Frame(4) << 0x000000;
        QTest::newRow("1: ARP") << 1 << etherFrame(0x0806) << -1;
        QTest::newRow("1: IPv6") << 1 << ipv6Frame(6) << -1;
        QTest::newRow("2: https") << 2 << ipv4Frame(6, 1024, 443) << 0x00C000;
        QTest::newRow("2: source port only") << 2 << ipv4Frame(6, 80, 1024) << 0x000000;
        QTest::newRow("2: H.323 11720") << 2 << ipv4Frame(6, 1, 11720) << 0xFF0000;
        {
            // A 24-byte IPv4 header: its options sit where the ports are
            // taken, as the list and the charts take them (behind 20 bytes).
            QByteArray withOptions = ipv4Frame(6, 0, 0, 64);
            withOptions[14] = 0x46;
            putPorts(withOptions, 34, 0x0101, 0x0101); // no-operation options
            putPorts(withOptions, 38, 1024, 80);
            QTest::newRow("2: IPv4 options") << 2 << withOptions << 0x000000;
            putPorts(withOptions, 34, 0x0101, 443);
            QTest::newRow("2: IPv4 options, 443 at 36") << 2 << withOptions << 0x00C000;
        }
        QTest::newRow("2: cut before port") << 2 << ipv4Frame(6, 1, 80).left(37) << 0x000000;
        QTest::newRow("2: ARP") << 2 << etherFrame(0x0806) << -1;
    }
    void colours() {
        QFETCH(int, layer);
        QFETCH(QByteArray, frame);
        QFETCH(int, rgb);
        const auto got = traceColour(layer, reinterpret_cast<const std::uint8_t*>(frame.data()),
                                     static_cast<std::size_t>(frame.size()));
        QCOMPARE(got ? static_cast<int>(*got) : -1, rgb);
    }

    // A frame counts once its whole Ethernet header was captured, type included.
    void shortFramesAreIgnored_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("events");
        QTest::newRow("half the type") << 13 << 0;
        QTest::newRow("whole header") << 14 << 1;
    }
    void shortFramesAreIgnored() {
        QFETCH(int, length);
        QFETCH(int, events);
        TraceModel model;
        model.setMonitored(kMonitored);
        model.setLayer(0);
        feed(model, between(peer(2), kMonitored, etherFrame(0x0806)).left(length));
        QCOMPARE(model.takeEvents().size(), std::size_t(events));
    }

    void handlerDirectionsAndNames() {
        TraceModel model;
        model.setMonitored(kMonitored);
        model.setLayer(1);
        AddressNames names;
        names.add(QStringLiteral("02:00:00:00:01:01"), QStringLiteral("-"));
        names.add(QStringLiteral("02-00-00-00-01-02"), QStringLiteral("ALPHA"));
        names.add(QStringLiteral("02:00:00:00:01:03"), QStringLiteral("BETA"));
        model.table().setNames(names);
        feed(model, toPeer(1));
        feed(model, between(kMonitored, peer(2), ipv4Frame(17)));
        feed(model, between(peer(3), peer(4), ipv4Frame(6)));          // not the monitored node's
        feed(model, between(kMonitored, peer(3), etherFrame(0x0806))); // ARP at the IP layer
        const std::vector<TraceEvent> events = model.takeEvents();
        QCOMPARE(events.size(), std::size_t(2));
        QCOMPARE(events[0].slot, 0);
        QVERIFY(events[0].direction == TraceDirection::Out);
        QCOMPARE(events[0].label, QStringLiteral("02:00:00:00:01:01"));
        QCOMPARE(events[0].rgb, 0xFF8F6Bu);
        QCOMPARE(events[1].slot, 8);
        QVERIFY(events[1].direction == TraceDirection::In);
        QCOMPARE(events[1].label, QStringLiteral("ALPHA"));
        QVERIFY(events[1].animate);
        QCOMPARE(model.table().entries().size(), std::size_t(2));
        QCOMPARE(model.animations(), 2);
        // Names found by address, whatever letter case the book stored.
        names.add(QStringLiteral("02:00:00:00:01:0A"), QStringLiteral("GAMMA"));
        model.table().setNames(names);
        QCOMPARE(model.table().label(peer(10)), QStringLiteral("GAMMA"));
        QCOMPARE(model.table().entries()[0].label, QStringLiteral("02:00:00:00:01:01"));
        QCOMPARE(model.table().entries()[1].label, QStringLiteral("ALPHA"));
    }

    void animationBound() {
        TraceModel model;
        model.setMonitored(kMonitored);
        for (int i = 0; i < TraceModel::kMaxAnimations + 5; ++i)
            feed(model, toPeer(i % 3));
        QCOMPARE(model.animations(), TraceModel::kMaxAnimations);
        QCOMPARE(model.takeEvents().size(), std::size_t(TraceModel::kMaxAnimations));
        QCOMPARE(model.drops().animationBound, std::uint64_t(5));
        // One ends: the next frame is taken again.
        model.animationEnded();
        feed(model, toPeer(0));
        QCOMPARE(model.animations(), TraceModel::kMaxAnimations);
        QCOMPARE(model.drops().animationBound, std::uint64_t(5));
    }

    void animationSteps_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<bool>("out");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QPoint>("last"); // the last square's centre, from the centre
        // Worked out from the start points and runs of each path.
        const int outSteps[16] = {47, 48, 47, 45, 44, 45, 47, 48, 47, 47, 50, 48, 44, 48, 50, 47};
        const int inSteps[16] = {46, 47, 47, 44, 43, 44, 47, 47, 46, 47, 50, 47, 46, 47, 50, 47};
        const QPoint outLast[16] = {{255, 0},  {200, 65},   {150, 125},   {65, 200},
                                    {0, 255},  {-65, 200},  {-150, 125},  {-200, 65},
                                    {-255, 0}, {-200, -60}, {-150, -125}, {-65, -200},
                                    {0, -240}, {65, -200},  {150, -125},  {200, -60}};
        const QPoint inLast[16] = {{20, 0},   {20, 5},  {10, 35},  {5, 35},   {0, 35},    {-5, 35},
                                   {-10, 35}, {-20, 5}, {-20, 0},  {-20, -5}, {-10, -20}, {-5, -20},
                                   {0, -18},  {5, -20}, {10, -20}, {20, -5}};
        for (int s = 0; s < 16; ++s) {
            QTest::addRow("slot %d out", s) << s << true << outSteps[s] << outLast[s];
            QTest::addRow("slot %d in", s) << s << false << inSteps[s] << inLast[s];
        }
    }
    void animationSteps() {
        QFETCH(int, slot);
        QFETCH(bool, out);
        QFETCH(int, steps);
        QFETCH(QPoint, last);
        TraceBoard board(QSize(600, 600));
        TraceModel model;
        TraceAnimator animator(board, model);
        const auto direction = out ? TraceDirection::Out : TraceDirection::In;
        QCOMPARE(traceMotion(board.centre(), slot, direction).totalSteps(), steps);
        // Count the squares drawn: one per step, each erased by the next.
        animator.start(slot, direction, 0xFF0000, 10, 0);
        int squares = 1;
        qint64 now = 0;
        while (animator.running() > 0) {
            const QImage before = board.image();
            now += 10;
            animator.advance(now);
            if (animator.running() > 0) {
                ++squares;
            } else {
                // The final step erased the square where it last stood.
                const QPoint corner = board.centre() + last - QPoint(3, 3);
                QCOMPARE(before.pixel(corner), qRgb(255, 0, 0));
                QVERIFY(white(board.image(), corner.x(), corner.y()));
            }
            QVERIFY(now < 10 * 100);
        }
        QCOMPARE(squares, steps);
        QCOMPARE(animator.steps(), std::uint64_t(steps));
        // The handler counts an animation in; its end counts it out.
        QCOMPARE(model.animations(), -1);
    }

    void clearingTheFlagEndsEveryAnimationAfterItsStep() {
        TraceBoard board(QSize(600, 600));
        TraceModel model;
        TraceAnimator animator(board, model);
        for (int slot = 0; slot < 5; ++slot)
            animator.start(slot, TraceDirection::Out, 0x0000C0, 10, 0);
        animator.advance(10);
        QCOMPARE(animator.running(), 5);
        model.setAnimationsAllowed(false);
        QCOMPARE(animator.advance(15), 0); // not due yet: the step runs to its end
        QCOMPARE(animator.advance(20), 5);
        QCOMPARE(animator.running(), 0);
        QCOMPARE(model.animations(), -5);
        // No square stays behind: outside the paths the board is white.
        const QImage image = board.image();
        const QPoint c = board.centre();
        QVERIFY(white(image, c.x() + 27, c.y() - 3)); // where slot 0's square stood, off every path
        // An animation started while the flag is clear ends at once.
        animator.start(3, TraceDirection::In, 0x0000C0, 10, 30);
        QCOMPARE(animator.running(), 0);
    }

    void boardPixels() {
        TraceBoard board(QSize(600, 600));
        QCOMPARE(board.centre(), QPoint(300, 300));
        board.drawHeader(QStringLiteral("PC"), QStringLiteral("02:00:00:00:00:aa"));
        const auto corner = [&board](int x, int y) {
            const QImage& im = board.image();
            return !white(im, x, y) && white(im, x - 1, y) && white(im, x, y - 1);
        };
        QVERIFY(corner(284, 284));
        QVERIFY(!white(board.image(), 284 + 31, 284 + 20));
        board.drawSideNode(0, QStringLiteral("02:00:00:00:01:01"));
        QVERIFY(corner(558, 292));
        QCOMPARE(traceSlotPlace(board.centre(), 0), QPoint(566, 300));
        QCOMPARE(traceSideNodeArea(board.centre(), 0), QRect(558, 292, 16, 16));

        // Paths: slot 2's corner and end, in its colour; white erases it.
        board.drawPath(2, 0x00C000);
        const QPoint c = board.centre();
        QCOMPARE(board.image().pixel(c + QPoint(10, 80)), qRgb(0, 0xC0, 0));
        QCOMPARE(board.image().pixel(c + QPoint(100, 125)), qRgb(0, 0xC0, 0));
        QVERIFY(white(board.image(), c.x() + 10, c.y() + 28));
        board.drawPath(2, 0xFFFFFF);
        QVERIFY(white(board.image(), c.x() + 10, c.y() + 80));
        board.drawPath(16, 0x000000); // no such slot: nothing drawn
        board.eraseSideNode(0);
        QVERIFY(white(board.image(), 558, 292));

        // A 25-character label is elided to the label width, centred under
        // the icon; its full text is there for a tooltip.
        const QString label(25, u'W');
        board.drawSideNode(4, label);
        const QPoint place = traceSlotPlace(c, 4);
        const QRect node = board.sideNodeRect(4);
        QVERIFY(node.width() <= kTraceLabelMax + 2);
        QVERIFY(std::abs(node.center().x() - place.x()) <= 1);
        QCOMPARE(board.labelAt(QPoint(place.x(), node.bottom() - 2)), label);
        QCOMPARE(board.labelAt(QPoint(place.x() + kTraceLabelMax, node.bottom() - 2)), QString());

        // The status line.
        board.writeStatus(QStringLiteral("Stopped"));
        bool ink = false;
        for (int x = 5; x < 80 && !ink; ++x)
            for (int y = 5; y < 23; ++y)
                ink = ink || !white(board.image(), x, y);
        QVERIFY(ink);

        // A sharp board on a high-density screen: twice the pixels, same places.
        TraceBoard sharp(QSize(600, 600), 2.0);
        sharp.drawSideNode(0, QString());
        QCOMPARE(sharp.image().size(), QSize(1200, 1200));
        QVERIFY(!white(sharp.image(), 2 * 558, 2 * 292));
        QVERIFY(white(sharp.image(), 2 * 558 - 1, 2 * 292));
    }

    // Every place's label whole and inside the board, and nothing left of a
    // node once it and its path are erased (the tick's ageing does both).
    void sideNodeLabels_data() {
        QTest::addColumn<int>("slot");
        for (int slot = 0; slot < kTraceSlots; ++slot)
            QTest::addRow("slot %d", slot) << slot;
    }

    void sideNodeLabels() {
        QFETCH(int, slot);
        TraceBoard board(QSize(596, 656)); // the window's board
        const QImage before = board.image();
        const QString label = QStringLiteral("02:00:00:00:01:0C");
        board.drawPath(slot, 0x0000C0);
        board.drawSideNode(slot, label);
        const QRect node = board.sideNodeRect(slot);
        QVERIFY2(QRect(QPoint(0, 0), board.size()).contains(node),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(node.x())
                                .arg(node.y())
                                .arg(node.width())
                                .arg(node.height())));
        // The ink of the label row: the whole text, not cut at either end.
        const QPoint place = traceSlotPlace(board.centre(), slot);
        int left = INT_MAX;
        int right = -1;
        for (int y = place.y() + 9; y <= node.bottom(); ++y)
            for (int x = node.left(); x <= node.right(); ++x)
                if (board.image().pixel(x, y) == qRgb(0, 0, 0) ||
                    qGray(board.image().pixel(x, y)) < 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        QVERIFY(right > left);
        QVERIFY2(left > node.left() && right < node.right(),
                 qPrintable(QStringLiteral("ink %1..%2 in %3..%4")
                                .arg(left)
                                .arg(right)
                                .arg(node.left())
                                .arg(node.right())));
        QCOMPARE(board.labelAt(QPoint((left + right) / 2, node.bottom() - 1)), label);

        board.eraseSideNode(slot);
        board.drawPath(slot, 0xFFFFFF);
        QCOMPARE(board.image(), before);
        QCOMPARE(board.sideNodeRect(slot), QRect());
    }

    // A path drawn later (a new frame on its slot, or white when its node
    // ages out) never runs through another node's label.
    void pathsStayUnderLabels_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<quint32>("rgb");
        for (int slot = 0; slot < kTraceSlots; ++slot) {
            QTest::addRow("slot %d in green", slot) << slot << quint32(0x00C000);
            QTest::addRow("slot %d erased", slot) << slot << quint32(0xFFFFFF);
        }
    }

    void pathsStayUnderLabels() {
        QFETCH(int, slot);
        QFETCH(quint32, rgb);
        TraceBoard board(QSize(596, 656));
        for (int s = 0; s < kTraceSlots; ++s) {
            board.drawPath(s, 0x0000C0);
            board.drawSideNode(s,
                               QStringLiteral("02:00:00:00:01:%1").arg(s, 2, 16, QLatin1Char('0')));
        }
        const QImage before = board.image();
        board.drawPath(slot, rgb);
        for (int s = 0; s < kTraceSlots; ++s) {
            if (s == slot)
                continue;
            for (const QRect& part :
                 {board.sideNodeLabelRect(s), traceSideNodeArea(board.centre(), s)})
                QCOMPARE(board.image().copy(part), before.copy(part));
        }
    }

    void macAddresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // empty: refused
        QTest::newRow("colons") << "02:AB:cd:00:01:ff"
                                << "02:ab:cd:00:01:ff";
        QTest::newRow("dashes") << "02-AB-CD-00-01-FF"
                                << "02:ab:cd:00:01:ff";
        QTest::newRow("bare") << "02abcd0001ff"
                              << "02:ab:cd:00:01:ff";
        QTest::newRow("template") << "__:__:__:__:__:__"
                                  << "";
        QTest::newRow("half typed") << "12:34:__:__:__:__"
                                    << "";
        QTest::newRow("mixed separators") << "02:ab-cd:00:01:ff"
                                          << "";
        QTest::newRow("not hex") << "02:ab:cd:00:01:fg"
                                 << "";
    }
    void macAddresses() {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        const std::optional<MacAddress> mac = parseMacAddress(text);
        QCOMPARE(mac ? macAddressText(*mac) : QString(), parsed);
    }
};

QTEST_MAIN(TestTraceModel)
#include "tst_trace_model.moc"
