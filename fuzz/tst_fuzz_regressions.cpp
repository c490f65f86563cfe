// Runs the fuzz targets' code in the ordinary sanitizer build: every input
// that ever made a target fail (tests/data/fuzz/<target>/), then the seeds
// the fuzzers start from (the test captures, whole or frame by frame).
#include "fuzz_targets.h"
#include "seed_frames.h"
#include "support/test_paths.h"

#include <QDir>
#include <QTest>

#include <cstring>
#include <memory>
#include <string_view>

using namespace qarsilo;

#define QARSILO_DECLARE(name, kind)                                                                \
    extern "C" int qarsilo_fuzz_##name(const std::uint8_t* data, std::size_t size);
QARSILO_FUZZ_TARGETS(QARSILO_DECLARE)

namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);
struct TargetInfo {
    const char* name;
    Target run;
    bool frames;
};
#define QARSILO_ROW(name, kind) {#name, &qarsilo_fuzz_##name, std::string_view(#kind) == "Frames"},
const TargetInfo kTargets[] = {QARSILO_FUZZ_TARGETS(QARSILO_ROW)};

int runOne(Target run, const QByteArray& input) {
    // A copy of exactly the input's size, as libFuzzer hands it over.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[static_cast<std::size_t>(input.size())]);
    std::memcpy(copy.get(), input.constData(), static_cast<std::size_t>(input.size()));
    return run(copy.get(), static_cast<std::size_t>(input.size()));
}

} // namespace

class TestFuzzRegressions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void inputs_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("seeds");
        const QDir regressions(test::testDataDir() + QStringLiteral("/fuzz"));
        const QFileInfoList captures = QDir(test::pcapDir()).entryInfoList(QDir::Files);
        QVERIFY(!captures.isEmpty());
        for (int t = 0; t < int(std::size(kTargets)); ++t) {
            const QString name = QLatin1String(kTargets[t].name);
            for (const QFileInfo& f :
                 QDir(regressions.filePath(name)).entryInfoList(QDir::Files, QDir::Name))
                QTest::addRow("%s/%s", kTargets[t].name, qPrintable(f.fileName()))
                    << t << f.filePath() << false;
            for (const QFileInfo& f : captures)
                if (f.suffix().startsWith(QLatin1String("pcap")))
                    QTest::addRow("%s seeds %s", kTargets[t].name, qPrintable(f.fileName()))
                        << t << f.filePath() << true;
        }
    }
    void inputs() {
        QFETCH(int, target);
        QFETCH(QString, path);
        QFETCH(bool, seeds);
        const TargetInfo& info = kTargets[target];
        QList<QByteArray> inputs;
        if (seeds && info.frames) {
            inputs = fuzz::frameSeeds(path);
        } else {
            QFile f(path);
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
            inputs << f.readAll();
        }
        QVERIFY(!inputs.isEmpty());
        // A failing target aborts the program; a returned value other than 0 is no input of it.
        for (const QByteArray& input : inputs)
            QCOMPARE(runOne(info.run, input), 0);
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzz_regressions.moc"
