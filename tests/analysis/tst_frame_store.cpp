#include "core/analysis/frame_store.h"

#include "core/analysis/frame.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
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

// A classic pcap file written byte for byte: byte order, time stamp
// resolution and snapshot length as asked. Frame n is frameBytes(n), with
// frame `large` (if any) made longer than a read-back group's usual span.
struct CaptureFile {
    bool swapped = false;
    bool nano = false;
    quint32 snaplen = 65535;
    std::size_t large = SIZE_MAX;
};

std::vector<std::uint8_t> fileFrame(const CaptureFile& c, std::size_t n) {
    std::vector<std::uint8_t> bytes = frameBytes(n);
    if (n == c.large)
        bytes.resize(200'000, std::uint8_t(n));
    return bytes;
}

void writeCapture(const QString& path, const CaptureFile& c, std::size_t count) {
    QByteArray out;
    auto put32 = [&](quint32 v) {
        if (c.swapped)
            v = __builtin_bswap32(v);
        out.append(reinterpret_cast<const char*>(&v), 4);
    };
    auto put16 = [&](quint16 v) {
        if (c.swapped)
            v = __builtin_bswap16(v);
        out.append(reinterpret_cast<const char*>(&v), 2);
    };
    put32(c.nano ? 0xa1b23c4du : 0xa1b2c3d4u);
    put16(2);
    put16(4);
    put32(0);
    put32(0);
    put32(c.snaplen);
    put32(DLT_EN10MB);
    for (std::size_t n = 0; n < count; ++n) {
        const auto bytes = fileFrame(c, n);
        put32(quint32(1'700'000'000 + n));
        put32(quint32(c.nano ? (n % 1'000'000) * 1000 + 999 : n % 1'000'000));
        put32(quint32(bytes.size()));
        put32(quint32(bytes.size() + n % 3));
        out.append(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(out), out.size());
}

struct Read {
    FrameHeader header;
    std::vector<std::uint8_t> bytes;
};

// Reads `path` as the analyzer's capture thread does, into `store` (frames
// below `skip` passed over, as a resumed read does) and into `seen`.
void readInto(FrameStore& store, const QString& path, std::size_t skip, std::size_t stopAt,
              std::vector<Read>* seen, quint32 cut = UINT32_MAX) {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    QVERIFY2(p, errbuf);
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    std::size_t n = 0;
    while (n < stopAt && pcap_next_ex(p, &h, &bytes) == 1) {
        // Cut as the capture session cuts frames to the window's length.
        const FrameHeader header = frameHeaderFrom(*h);
        h->caplen = std::min(h->caplen, cut);
        if (n++ < skip) {
            store.passOver(header);
            continue;
        }
        store.append({header.tsSec, header.tsUsec, h->caplen, header.wireLen}, bytes);
        if (seen)
            seen->push_back({{header.tsSec, header.tsUsec, h->caplen, header.wireLen},
                             std::vector<std::uint8_t>(bytes, bytes + h->caplen)});
    }
    pcap_close(p);
}

bool sameAsRead(const FrameStore::Frame& f, const Read& r) {
    return f.bytes && f.header.tsSec == r.header.tsSec && f.header.tsUsec == r.header.tsUsec &&
           f.header.capLen == r.header.capLen && f.header.wireLen == r.header.wireLen &&
           std::equal(r.bytes.begin(), r.bytes.end(), f.bytes);
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

    // Frames past the budget of a capture file read whole are read back from
    // the file itself: every one as libpcap gave it, and no spill file made.
    void readsBackFromTheSourceFile_data() {
        QTest::addColumn<bool>("swapped");
        QTest::addColumn<bool>("nano");
        QTest::addColumn<quint32>("snaplen");     // frames longer are cut by libpcap
        QTest::addColumn<qulonglong>("large");    // a frame spanning groups; -1: none
        QTest::addColumn<qulonglong>("resumeAt"); // a read stopped and resumed there; 0: none
        QTest::addColumn<qulonglong>("budget");
        QTest::addColumn<quint32>("cut"); // the reader's own cut, as the window's
        QTest::newRow("all past the budget")
            << false << false << 65535u << ~0ull << 0ull << (1ull << 20) << ~0u;
        QTest::newRow("part in memory")
            << false << false << 65535u << ~0ull << 0ull << (4ull << 20) << ~0u;
        QTest::newRow("other byte order, nanoseconds")
            << true << true << 65535u << ~0ull << 0ull << (1ull << 20) << ~0u;
        QTest::newRow("frames cut to the snapshot")
            << false << false << 100u << ~0ull << 0ull << (1ull << 20) << ~0u;
        QTest::newRow("snapshot 0 (libpcap's largest)")
            << false << false << 0u << ~0ull << 0ull << (1ull << 20) << ~0u;
        QTest::newRow("a large frame over a group's span")
            << false << false << 262144u << 300ull << 0ull << (1ull << 20) << ~0u;
        QTest::newRow("read stopped and resumed")
            << false << false << 65535u << ~0ull << 1234ull << (1ull << 20) << ~0u;
        QTest::newRow("resumed in memory, spilled from the file")
            << false << false << 65535u << ~0ull << 20ull << (4ull << 20) << ~0u;
        QTest::newRow("frames cut by the reader")
            << false << false << 65535u << ~0ull << 0ull << (1ull << 20) << 1000u;
        QTest::newRow("a large frame cut by the reader, resumed")
            << false << false << 262144u << 300ull << 77ull << (1ull << 20) << 1514u;
    }
    void readsBackFromTheSourceFile() {
        QFETCH(bool, swapped);
        QFETCH(bool, nano);
        QFETCH(quint32, snaplen);
        QFETCH(qulonglong, large);
        QFETCH(qulonglong, resumeAt);
        QFETCH(qulonglong, budget);
        QFETCH(quint32, cut);
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const QString path = tmp.filePath(QStringLiteral("source.pcap"));
        const std::size_t count = 12'000;
        writeCapture(path, {swapped, nano, snaplen, std::size_t(large)}, count);
        FrameStore store(budget);
        std::vector<Read> seen;
        store.setSource(path, cut);
        if (resumeAt) {
            readInto(store, path, 0, resumeAt, &seen, cut);
            store.setSource(path, cut);
        }
        readInto(store, path, resumeAt, SIZE_MAX, &seen, cut);
        store.flush();
        qunsetenv("TMPDIR");
        QCOMPARE(seen.size(), count);
        QCOMPARE(store.size(), count);
        QVERIFY(store.readsBackFromSource());
        QCOMPARE(spillFiles(tmp.path()), 0);
        QVERIFY(store.framesInMemory() < count);
        for (std::size_t n = 0; n < count; ++n)
            QVERIFY2(sameAsRead(store.at(n), seen[n]), qPrintable(QString::number(n)));
        for (std::size_t n = count; n-- > 0;) {
            const std::size_t i = (n * 7919) % count;
            QVERIFY2(sameAsRead(store.at(i), seen[i]), qPrintable(QString::number(i)));
        }
        QVERIFY(store.sourceChanged().isEmpty());
    }

    // Reading a file that is not a classic pcap file, with gaps in what the
    // store sees, or another source after it: frames past the budget go to a
    // spill file, and read back all the same.
    void spillsWhenTheSourceCannotServe_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("no source (a device)") << QStringLiteral("none");
        QTest::newRow("not a capture file") << QStringLiteral("other");
        QTest::newRow("another file after the first") << QStringLiteral("switch");
    }
    void spillsWhenTheSourceCannotServe() {
        QFETCH(QString, how);
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const QString path = tmp.filePath(QStringLiteral("source.pcap"));
        const std::size_t count = 12'000;
        writeCapture(path, {}, count);
        FrameStore store(std::size_t(1) << 20);
        std::vector<Read> seen;
        if (how == u"other") {
            QFile junk(tmp.filePath(QStringLiteral("junk")));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(64, 'x'));
            junk.close();
            store.setSource(junk.fileName());
        } else {
            store.setSource(how == u"switch" ? path : QString());
        }
        readInto(store, path, 0, how == u"switch" ? 5000 : SIZE_MAX, &seen);
        if (how == u"switch") {
            QVERIFY(store.readsBackFromSource());
            const QString copy = tmp.filePath(QStringLiteral("copy.pcap"));
            QVERIFY(QFile::copy(path, copy));
            store.setSource(QString()); // a device next
            readInto(store, copy, 5000, SIZE_MAX, &seen);
        }
        store.flush();
        qunsetenv("TMPDIR");
        QCOMPARE(store.size(), count);
        QCOMPARE(store.readsBackFromSource(), how == u"switch");
        QCOMPARE(spillFiles(tmp.path()), 1);
        for (std::size_t n = 0; n < count; ++n)
            QVERIFY2(sameAsRead(store.at(n), seen[n]), qPrintable(QString::number(n)));
    }

    // A source file that changes after it was read: frames read back from it
    // come empty and the store names the file, never showing other bytes.
    void sourceChangedAfterReading_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("noticed");
        QTest::newRow("truncated") << QStringLiteral("truncate") << true;
        QTest::newRow("a header written over") << QStringLiteral("header") << true;
        QTest::newRow("bytes written over") << QStringLiteral("bytes") << true;
        QTest::newRow("frames appended") << QStringLiteral("append") << false;
        QTest::newRow("replaced by another file") << QStringLiteral("replace") << false;
    }
    void sourceChangedAfterReading() {
        QFETCH(QString, change);
        QFETCH(bool, noticed);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("source.pcap"));
        const std::size_t count = 12'000;
        writeCapture(path, {}, count);
        FrameStore store(std::size_t(4) << 20);
        std::vector<Read> seen;
        store.setSource(path);
        readInto(store, path, 0, SIZE_MAX, &seen);
        QVERIFY(store.readsBackFromSource());
        // A frame of a whole group read back from the file, and where its record is.
        const std::size_t frame = count - 300;
        QVERIFY(frame > store.framesInMemory());
        qint64 record = 24;
        for (std::size_t n = 0; n < frame; ++n)
            record += qint64(16 + seen[n].bytes.size());
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
        // Nothing read back yet: the change meets the first reading.
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a newer file time
        QFile f(path);
        if (change == u"truncate") {
            QVERIFY(f.resize(record + 20));
        } else if (change == u"header" || change == u"bytes") {
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(record + (change == u"header" ? 0 : 20)));
            f.write("\x01\x02\x03\x04", 4);
            f.close();
            if (change == u"header") {
                // Its time kept as it was: the headers alone tell.
                const timespec times[2] = {before.st_atim, before.st_mtim};
                QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
            }
        } else if (change == u"append") {
            QVERIFY(f.open(QIODevice::Append));
            f.write(QByteArray(100, 'x'));
            f.close();
        } else {
            QVERIFY(QFile::remove(path));
            writeCapture(path, {true, true, 65535, SIZE_MAX}, 10);
        }
        const FrameStore::Frame f0 = store.at(frame);
        if (noticed) {
            QVERIFY(!f0.bytes);
            QCOMPARE(f0.header.capLen, 0u);
            QCOMPARE(store.sourceChanged(), path);
        } else {
            QVERIFY(sameAsRead(f0, seen[frame]));
            QVERIFY(store.sourceChanged().isEmpty());
        }
        // Frames kept in memory are not touched by it.
        QVERIFY(sameAsRead(store.at(0), seen[0]));
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
