#include "core/analysis/file_resume.h"
#include "core/capture/adapter_name.h"

#include <QTest>

using namespace qarsilo;

namespace {

QString file(const char* name) {
    return captureFileAdapterName(QStringLiteral("/captures/") + QString::fromLatin1(name));
}

// Frames of `count` offered to the running read that it keeps.
int admitted(FileResume& resume, int count) {
    int kept = 0;
    for (int i = 0; i < count; ++i)
        kept += resume.admit();
    return kept;
}

} // namespace

class TestFileResume : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A first read of `first` gives some frames and stops (at the file's end
    // or not), the list is maybe emptied, then Start is given with `second`
    // selected: refused, or started passing over the frames listed already.
    void secondStart_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<bool>("readToEnd");
        QTest::addColumn<bool>("cleared");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<int>("skip");
        const QString a = file("a.pcap");
        const QString b = file("b.pcap");
        const QString eth = QStringLiteral("eth0");
        QTest::newRow("same file after its end") << a << true << false << a << false << 0;
        QTest::newRow("same file stopped half-way") << a << false << false << a << true << 5;
        QTest::newRow("same file after its end, list emptied")
            << a << true << true << a << true << 0;
        QTest::newRow("same file half-way, list emptied") << a << false << true << a << true << 0;
        QTest::newRow("another file after the end") << a << true << false << b << true << 0;
        QTest::newRow("another file half-way") << a << false << false << b << true << 0;
        QTest::newRow("a device after a file's end") << a << true << false << eth << true << 0;
        QTest::newRow("a device again") << eth << false << false << eth << true << 0;
        QTest::newRow("a file after a device") << eth << false << false << a << true << 0;
    }
    void secondStart() {
        QFETCH(QString, first);
        QFETCH(bool, readToEnd);
        QFETCH(bool, cleared);
        QFETCH(QString, second);
        QFETCH(bool, starts);
        QFETCH(int, skip);

        FileResume resume;
        QVERIFY(resume.begin(first));
        QCOMPARE(admitted(resume, 5), 5);
        resume.end(readToEnd);
        if (cleared)
            resume.forget();

        QCOMPARE(resume.begin(second), starts);
        if (!starts)
            return;
        QCOMPARE(resume.skip(), std::size_t(skip));
        // The read goes on behind the frames passed over, and counts the new ones.
        QCOMPARE(admitted(resume, skip + 3), 3);
        QCOMPARE(resume.frames(), std::size_t(skip + 3));
    }

    // One file over several starts: half-way, on to its end, refused, then
    // read from the start again once another source came between.
    void fileOverSeveralStarts() {
        const QString a = file("a.pcap");
        FileResume resume;
        QVERIFY(resume.begin(a));
        QCOMPARE(admitted(resume, 4), 4);
        resume.end(false);

        QVERIFY(resume.begin(a));
        QCOMPARE(admitted(resume, 10), 6);
        resume.end(true);
        QCOMPARE(resume.frames(), std::size_t(10));
        QVERIFY(resume.finished());

        QVERIFY(!resume.begin(a));
        QVERIFY(!resume.begin(a)); // asking again changes nothing
        QVERIFY(resume.begin(QStringLiteral("eth0")));
        QVERIFY(resume.adapter().isEmpty());
        resume.end(false);
        QVERIFY(resume.begin(a));
        QCOMPARE(resume.skip(), std::size_t(0));
        QCOMPARE(admitted(resume, 2), 2);
    }
};

QTEST_GUILESS_MAIN(TestFileResume)
#include "tst_file_resume.moc"
