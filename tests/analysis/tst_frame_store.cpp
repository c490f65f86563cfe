#include "core/analysis/frame_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <pcap/pcap.h>
#include <thread>
#include <vector>

using namespace qarsilo;

namespace {

// A frame whose every byte and header field follows from its number, so a
// reader can check any frame without keeping a copy.
std::vector<std::uint8_t> frameBytes(std::size_t n) {
    std::vector<std::uint8_t> bytes(14 + (n * 37) % 1500);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(n * 31 + i);
    return bytes;
}

FrameHeader frameHeader(std::size_t n, std::size_t capLen) {
    return FrameHeader{qint64(1'700'000'000 + n), qint64(n % 1'000'000), quint32(capLen),
                       quint32(capLen + n % 3)};
}

bool sameAsMade(const FrameStore::Frame& f, std::size_t n) {
    const auto bytes = frameBytes(n);
    const FrameHeader h = frameHeader(n, bytes.size());
    return f.header.tsSec == h.tsSec && f.header.tsUsec == h.tsUsec &&
           f.header.capLen == h.capLen && f.header.wireLen == h.wireLen &&
           std::equal(bytes.begin(), bytes.end(), f.bytes);
}

// Spill files open in this process, by the folder they were made in.
int spillFiles(const QString& folder) {
    int n = 0;
    for (const QFileInfo& fd :
         QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System))
        n += fd.symLinkTarget().startsWith(folder + QStringLiteral("/qarsilo-frames-"));
    return n;
}

void fill(FrameStore& store, std::size_t count) {
    for (std::size_t n = 0; n < count; ++n) {
        const auto bytes = frameBytes(n);
        QVERIFY(store.append(frameHeader(n, bytes.size()), bytes.data()));
    }
}

} // namespace

class TestFrameStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keepsEveryFrameAcrossBlocksAndChunks() {
        FrameStore store;
        // More than one header block, and several byte chunks.
        const std::size_t count = FrameStore::kRecordsPerBlock * 2 + 7;
        fill(store, count);
        QCOMPARE(store.size(), count);
        for (std::size_t n = 0; n < count; ++n)
            QVERIFY2(sameAsMade(store.at(n), n), qPrintable(QString::number(n)));
        QCOMPARE(store.dropped(), std::size_t(0));
    }

    void oddSizes() {
        FrameStore store;
        // Empty, one byte, larger than a whole chunk, then small again.
        std::vector<std::uint8_t> big(FrameStore::kChunkBytes + 100, 0xAB);
        const std::uint8_t one = 0x42;
        QVERIFY(store.append({1, 0, 0, 60}, nullptr));
        QVERIFY(store.append({2, 0, 1, 60}, &one));
        QVERIFY(store.append({3, 0, quint32(big.size()), quint32(big.size())}, big.data()));
        QVERIFY(store.append({4, 5, 1, 64}, &one));
        // Time stamps beyond 32 bits, and before 1970, keep their value.
        QVERIFY(store.append({qint64(1) << 40, 999'999, 1, 1}, &one));
        QVERIFY(store.append({-5, 0, 1, 1}, &one));
        QCOMPARE(store.at(4).header.tsSec, qint64(1) << 40);
        QCOMPARE(store.at(4).header.tsUsec, qint64(999'999));
        QCOMPARE(store.at(5).header.tsSec, qint64(-5));
        QCOMPARE(store.size(), std::size_t(6));
        QCOMPARE(store.at(0).header.capLen, 0u);
        QCOMPARE(store.at(0).header.wireLen, 60u);
        QCOMPARE(store.at(1).bytes[0], one);
        QVERIFY(std::all_of(store.at(2).bytes, store.at(2).bytes + big.size(),
                            [](std::uint8_t b) { return b == 0xAB; }));
        QCOMPARE(store.at(3).header.tsUsec, qint64(5));
        QCOMPARE(store.at(3).bytes[0], one);
    }

    void overheadPerFrameIsSmall() {
        FrameStore store;
        const std::size_t count = 1'000'000;
        std::vector<std::uint8_t> frame(60, 1);
        for (std::size_t n = 0; n < count; ++n)
            store.append({qint64(n), 0, 60, 60}, frame.data());
        // 60 bytes of frame and a 28-byte record, plus the unused end of the
        // last chunk and block.
        const double perFrame = double(store.memoryUsed()) / double(count);
        QVERIFY2(perFrame <= 60 + 32, qPrintable(QString::number(perFrame)));
    }

    void clearEmptiesAndStoresAgain() {
        FrameStore store;
        fill(store, 1000);
        store.clear();
        QCOMPARE(store.size(), std::size_t(0));
        QCOMPARE(store.memoryUsed(), std::size_t(0));
        fill(store, 10);
        QCOMPARE(store.size(), std::size_t(10));
        QVERIFY(sameAsMade(store.at(9), 9));
    }

    // Past a small budget the frames go to the spill file; every one reads
    // back as made, in order and out of order, and memory stays in the budget.
    void spillsPastTheBudgetAndReadsEveryFrameBack() {
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const std::size_t budget = std::size_t(4) << 20;
        FrameStore store(budget);
        const std::size_t count = 40'000; // about 30 MB of frames
        fill(store, count);
        store.flush();
        qunsetenv("TMPDIR");
        QCOMPARE(store.size(), count);
        QCOMPARE(store.dropped(), std::size_t(0));
        QVERIFY(store.framesInMemory() > 0 && store.framesInMemory() < count / 4);
        QVERIFY2(spillFiles(tmp.path()) == 1, "one spill file, in the temporary folder");
        for (std::size_t n = 0; n < count; ++n)
            QVERIFY2(sameAsMade(store.at(n), n), qPrintable(QString::number(n)));
        for (std::size_t n = count; n-- > 0;)
            QVERIFY2(sameAsMade(store.at((n * 7919) % count), (n * 7919) % count),
                     qPrintable(QString::number(n)));
        QVERIFY2(store.memoryUsed() <= budget, qPrintable(QString::number(store.memoryUsed())));
        store.clear();
        QCOMPARE(spillFiles(tmp.path()), 0);
        fill(store, 10);
        store.flush();
        QVERIFY(sameAsMade(store.at(9), 9));
    }

    // The spill file goes to the chosen folder; when it cannot be made there,
    // every frame past the budget is counted as dropped and the first failure
    // names the folder and the system's reason.
    void spillFolder_data() {
        QTest::addColumn<QString>("folder"); // under a fresh temporary folder
        QTest::addColumn<QString>("reason"); // empty: the spill works
        QTest::newRow("chosen folder") << QStringLiteral("spill") << QString();
        QTest::newRow("missing folder")
            << QStringLiteral("missing") << QString::fromLocal8Bit(std::strerror(ENOENT));
        QTest::newRow("a file, not a folder")
            << QStringLiteral("file") << QString::fromLocal8Bit(std::strerror(ENOTDIR));
    }
    void spillFolder() {
        QFETCH(QString, folder);
        QFETCH(QString, reason);
        QTemporaryDir tmp;
        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("spill")));
        QFile file(tmp.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString path = tmp.filePath(folder);
        // Nothing fits the budget: every frame goes to the spill file.
        FrameStore store(1);
        store.setSpillFolder(path);
        QCOMPARE(store.spillFolder(), path);
        const std::size_t count = 50;
        std::size_t accepted = 0;
        for (std::size_t n = 0; n < count; ++n) {
            const auto bytes = frameBytes(n);
            accepted += store.append(frameHeader(n, bytes.size()), bytes.data());
        }
        store.flush();
        const FrameStore::SpillFailure failure = store.spillFailure();
        if (reason.isEmpty()) {
            QCOMPARE(store.size(), count);
            QCOMPARE(store.dropped(), std::size_t(0));
            QCOMPARE(spillFiles(path), 1);
            QVERIFY(failure.folder.isEmpty());
            QVERIFY(sameAsMade(store.at(count - 1), count - 1));
        } else {
            QCOMPARE(accepted, std::size_t(0));
            QCOMPARE(store.size(), std::size_t(0));
            QCOMPARE(store.dropped(), count);
            QCOMPARE(failure.folder, path);
            QCOMPARE(failure.reason, reason);
            // A new capture starts with a clean slate.
            store.clear();
            QVERIFY(store.spillFailure().folder.isEmpty());
            QCOMPARE(store.dropped(), std::size_t(0));
        }
    }

    // One thread appends while another reads everything below size(): no
    // torn frame may ever be seen (run under ThreadSanitizer too), also while
    // frames go to the spill file.
    void readersSeeOnlyWholeFrames_data() {
        QTest::addColumn<std::size_t>("budget");
        QTest::newRow("in memory") << FrameStore::kDefaultBudget;
        QTest::newRow("spilled") << (std::size_t(3) << 20);
    }
    void readersSeeOnlyWholeFrames() {
        QFETCH(std::size_t, budget);
        FrameStore store(budget);
        const std::size_t count = 60'000;
        std::atomic<bool> done{false};
        std::atomic<std::size_t> bad{0};
        std::thread reader([&] {
            std::size_t checked = 0;
            while (!done.load() || checked < store.size()) {
                const std::size_t n = store.size();
                for (; checked < n; ++checked)
                    if (!sameAsMade(store.at(checked), checked))
                        ++bad;
                // Also look back at an early frame while later ones arrive.
                if (n > 0 && !sameAsMade(store.at(n / 2), n / 2))
                    ++bad;
            }
        });
        for (std::size_t n = 0; n < count; ++n) {
            const auto bytes = frameBytes(n);
            store.append(frameHeader(n, bytes.size()), bytes.data());
        }
        store.flush();
        done = true;
        reader.join();
        QCOMPARE(bad.load(), std::size_t(0));
        QCOMPARE(store.size(), count);
    }

    void savedFileReadsBackFrameForFrame_data() {
        QTest::addColumn<std::size_t>("budget");
        QTest::addColumn<std::size_t>("count");
        QTest::newRow("in memory") << FrameStore::kDefaultBudget << std::size_t(500);
        QTest::newRow("spilled") << (std::size_t(3) << 20) << std::size_t(20'000);
    }
    void savedFileReadsBackFrameForFrame() {
        QFETCH(std::size_t, budget);
        QFETCH(std::size_t, count);
        FrameStore store(budget);
        fill(store, count);
        store.flush();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("saved.pcap"));
        QString error;
        QVERIFY2(writePcapFile(store, store.size(), path, &error), qPrintable(error));
        QVERIFY(!QFile::exists(path + QStringLiteral(".partial")));

        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
        QVERIFY2(p, errbuf);
        QCOMPARE(pcap_datalink(p), DLT_EN10MB);
        std::size_t n = 0;
        pcap_pkthdr* h = nullptr;
        const u_char* bytes = nullptr;
        while (pcap_next_ex(p, &h, &bytes) == 1) {
            const FrameStore::Frame f{frameHeaderFrom(*h), bytes};
            QVERIFY2(sameAsMade(f, n), qPrintable(QString::number(n)));
            ++n;
        }
        pcap_close(p);
        QCOMPARE(n, count);
    }

    void otherToolsReadTheSavedFile() {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed");
        FrameStore store;
        fill(store, 50);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("saved.pcap"));
        QVERIFY(writePcapFile(store, store.size(), path, nullptr));
        QProcess proc;
        proc.start(tshark,
                   {QStringLiteral("-r"), path, QStringLiteral("-T"), QStringLiteral("fields"),
                    QStringLiteral("-e"), QStringLiteral("frame.time_epoch"), QStringLiteral("-e"),
                    QStringLiteral("frame.len"), QStringLiteral("-e"),
                    QStringLiteral("frame.cap_len")});
        QVERIFY(proc.waitForFinished(120000));
        QCOMPARE(proc.exitCode(), 0);
        const QStringList lines = QString::fromLatin1(proc.readAllStandardOutput())
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 50);
        for (int n = 0; n < 50; ++n) {
            const QStringList f = lines[n].split(QLatin1Char('\t'));
            QCOMPARE(f.size(), 3);
            const auto bytes = frameBytes(std::size_t(n));
            const FrameHeader h = frameHeader(std::size_t(n), bytes.size());
            const QString epoch =
                QStringLiteral("%1.%2").arg(h.tsSec).arg(h.tsUsec, 6, 10, QLatin1Char('0'));
            QVERIFY2(f[0].startsWith(epoch), qPrintable(f[0] + QStringLiteral(" vs ") + epoch));
            QCOMPARE(f[1].toUInt(), h.wireLen);
            QCOMPARE(f[2].toUInt(), h.capLen);
        }
    }

    void failedSaveLeavesNoFileAndKeepsTheOldOne() {
        FrameStore store;
        fill(store, 3);
        QTemporaryDir dir;
        QString error;
        QVERIFY(!writePcapFile(store, 3, dir.filePath(QStringLiteral("missing/folder/x.pcap")),
                               &error));
        QVERIFY(!error.isEmpty());

        // Saving over a folder fails at the rename; what was there stays.
        const QString folder = dir.filePath(QStringLiteral("taken"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside")));
        error.clear();
        QVERIFY(!writePcapFile(store, 3, folder, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(folder + QStringLiteral("/inside")).isDir());
        QVERIFY(!QFile::exists(folder + QStringLiteral(".partial")));
    }

    void saveTakesOnlyTheFramesAskedFor() {
        FrameStore store;
        fill(store, 20);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("part.pcap"));
        QVERIFY(writePcapFile(store, 7, path, nullptr));
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
        QVERIFY(p);
        int n = 0;
        pcap_pkthdr* h = nullptr;
        const u_char* bytes = nullptr;
        while (pcap_next_ex(p, &h, &bytes) == 1)
            ++n;
        pcap_close(p);
        QCOMPARE(n, 7);
    }
};

QTEST_GUILESS_MAIN(TestFrameStore)
#include "tst_frame_store.moc"
