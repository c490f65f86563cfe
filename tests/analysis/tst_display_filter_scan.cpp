#include "core/analysis/display_filter_scan.h"

#include "support/capture_frames.h"
#include "support/test_paths.h"

#include <QTest>

#include <memory>
#include <vector>

using namespace qarsilo;

namespace {

const QString kCapture = QStringLiteral("tcpdump__eapon1.pcap"); // 114 frames, mixed

// `copies` rounds of the capture's frames, one after the other.
void fill(FrameStore& store, int copies) {
    std::vector<test::CapturedFrame> frames;
    const QString error =
        test::readCaptureFile(test::pcapDir() + QLatin1Char('/') + kCapture, frames);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(frames.size(), std::size_t(114));
    for (int c = 0; c < copies; ++c)
        for (const test::CapturedFrame& f : frames)
            QVERIFY(store.append(f.header, f.bytes.get()));
}

// The frames below `end` that `filter` matches, one at a time on this thread.
std::vector<std::uint32_t> plainLoop(const FrameStore& store, const DisplayFilter& filter,
                                     std::size_t end) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < end; ++i) {
        const FrameStore::Frame f = store.at(i);
        if (filter.matches(f.header, f.bytes))
            out.push_back(std::uint32_t(i));
    }
    return out;
}

std::unique_ptr<DisplayFilter> compiled(const char* expression) {
    auto filter = std::make_unique<DisplayFilter>();
    [&] { QVERIFY(filter->compile(QString::fromLatin1(expression))); }();
    return filter;
}

// Enough frames that a pass takes far longer than starting and stopping it.
constexpr int kManyCopies = 4000; // 456,000 frames

} // namespace

class TestDisplayFilterScan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The pass on its thread finds what a plain loop finds, in order; an
    // empty expression and one that does not compile match every frame.
    void matchesPlainLoop_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<bool>("compiles");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("everyFrame");
        QTest::newRow("udp") << QStringLiteral("udp") << true << 1 << false;
        QTest::newRow("arp, three rounds") << QStringLiteral("arp") << true << 3 << false;
        QTest::newRow("broadcast") << QStringLiteral("ether broadcast") << true << 1 << false;
        QTest::newRow("port and not, many batches")
            << QStringLiteral("udp port 138 and not arp") << true << 400 << false;
        QTest::newRow("empty") << QString() << true << 2 << true;
        QTest::newRow("blank") << QStringLiteral("   ") << true << 1 << true;
        QTest::newRow("invalid") << QStringLiteral("udp prot 53") << false << 2 << true;
        QTest::newRow("no frames") << QStringLiteral("udp") << true << 0 << true;
    }
    void matchesPlainLoop() {
        QFETCH(QString, expression);
        QFETCH(bool, compiles);
        QFETCH(int, copies);
        QFETCH(bool, everyFrame);
        FrameStore store;
        fill(store, copies);
        auto filter = std::make_unique<DisplayFilter>();
        QCOMPARE(filter->compile(expression), compiles);
        const std::vector<std::uint32_t> expected = plainLoop(store, *filter, store.size());
        QCOMPARE(expected.size() == store.size(), everyFrame);
        const DisplayFilter* given = filter.get();

        DisplayFilterScan scan;
        scan.start(store, std::move(filter));
        QVERIFY(scan.running());
        QCOMPARE(scan.end(), store.size());
        QTRY_VERIFY(scan.finished());
        QCOMPARE(scan.done(), store.size());

        DisplayFilterScan::Result result = scan.take();
        QVERIFY(!scan.running());
        QCOMPARE(result.filter.get(), given);
        QCOMPARE(result.end, store.size());
        QCOMPARE(result.matches, expected);
        // Taken once: nothing is left to take.
        QVERIFY(!scan.take().filter);
    }

    // Frames stored after the start are left to the list, which tests them as they come.
    void framesAfterTheStartAreLeftOut() {
        FrameStore store;
        fill(store, 100);
        const std::size_t before = store.size();
        DisplayFilterScan scan;
        scan.start(store, compiled("udp"));
        fill(store, 2);
        const DisplayFilterScan::Result result = scan.take();
        QCOMPARE(result.end, before);
        QCOMPARE(result.matches, plainLoop(store, *result.filter, before));
    }

    // Cancelling stops the pass early and hands back its filter; the next pass
    // runs to its end.
    void cancelWhileRunning() {
        FrameStore store;
        fill(store, kManyCopies);
        DisplayFilterScan scan;
        auto filter = compiled("udp");
        const DisplayFilter* given = filter.get();
        scan.start(store, std::move(filter));
        const std::unique_ptr<DisplayFilter> back = scan.cancel();
        QCOMPARE(back.get(), given);
        QVERIFY(!scan.running());
        QVERIFY(scan.done() < scan.end());
        QVERIFY(!scan.take().filter);
        QVERIFY(!scan.cancel()); // nothing runs

        scan.start(store, compiled("arp"));
        const DisplayFilterScan::Result result = scan.take();
        QCOMPARE(result.end, store.size());
        QCOMPARE(result.matches, plainLoop(store, *result.filter, store.size()));
    }

    // A new start replaces the pass that runs: its filter and its result.
    void startWhileRunning() {
        FrameStore store;
        fill(store, kManyCopies);
        DisplayFilterScan scan;
        scan.start(store, compiled("udp"));
        auto arp = compiled("arp");
        const DisplayFilter* given = arp.get();
        scan.start(store, std::move(arp));
        const DisplayFilterScan::Result result = scan.take();
        QCOMPARE(result.filter.get(), given);
        QCOMPARE(result.matches, plainLoop(store, *given, store.size()));
    }

    // Going away while the pass runs stops and joins it: the store can be
    // emptied right after.
    void destroyWhileRunning() {
        FrameStore store;
        fill(store, kManyCopies);
        auto scan = std::make_unique<DisplayFilterScan>();
        scan->start(store, compiled("tcp or udp"));
        QVERIFY(scan->running());
        scan.reset();
        store.clear();
        QCOMPARE(store.size(), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestDisplayFilterScan)
#include "tst_display_filter_scan.moc"
