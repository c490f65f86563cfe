// Writes the fuzzers' seeds from the test captures:
//   make_seeds PCAP_DIR OUT_DIR
// OUT_DIR/frames holds frame-record inputs, OUT_DIR/files the captures themselves.
#include "seed_frames.h"

#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_seeds PCAP_DIR OUT_DIR\n", stderr);
        return 2;
    }
    const QDir in(QFile::decodeName(argv[1]));
    const QDir out(QFile::decodeName(argv[2]));
    if (!out.mkpath(QStringLiteral("frames")) || !out.mkpath(QStringLiteral("files"))) {
        std::fprintf(stderr, "make_seeds: cannot make folders in %s\n", argv[2]);
        return 1;
    }
    int frames = 0;
    int files = 0;
    for (const QFileInfo& capture : in.entryInfoList({QStringLiteral("*.pcap*")}, QDir::Files)) {
        const QString copy = out.filePath(QStringLiteral("files/") + capture.fileName());
        QFile::remove(copy);
        if (QFile::copy(capture.filePath(), copy))
            ++files;
        const QList<QByteArray> seeds = qarsilo::fuzz::frameSeeds(capture.filePath());
        for (qsizetype i = 0; i < seeds.size(); ++i) {
            QFile f(out.filePath(QStringLiteral("frames/%1-%2").arg(capture.baseName()).arg(i)));
            if (!f.open(QIODevice::WriteOnly) || f.write(seeds[i]) != seeds[i].size()) {
                std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(f.fileName()));
                return 1;
            }
            ++frames;
        }
    }
    std::printf("make_seeds: %d frame inputs, %d capture files\n", frames, files);
    return files > 0 ? 0 : 1;
}
