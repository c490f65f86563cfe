// The house rules of the source tree, read from the includes of every file
// under src/: core builds without windows, every folder includes only the
// folders below it, views talk to a host instead of the main frame, and no
// include runs in a loop. Each check also runs over small planted trees, so a
// checker that stopped seeing violations would fail too.

#include "layering/include_graph.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo::test;

namespace {

QString sourceDir() {
    return QStringLiteral(QARSILO_SOURCE_DIR "/src");
}

QString qtHeaderDir() {
    return QStringLiteral(QARSILO_QT_HEADER_DIR);
}

// A tree of files written from (path, text) pairs, for the planted cases.
struct PlantedTree {
    QTemporaryDir dir;
    explicit PlantedTree(const QList<QPair<QString, QString>>& files) {
        for (const auto& [path, text] : files) {
            const QString full = dir.filePath(path);
            QDir().mkpath(QFileInfo(full).path());
            QFile f(full);
            if (f.open(QIODevice::WriteOnly))
                f.write(text.toUtf8());
        }
    }
};

QString joined(const QStringList& lines) {
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class TestLayering : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QDir(sourceDir()).exists(QStringLiteral("core")), qPrintable(sourceDir()));
        QVERIFY2(!windowHeaderNames(qtHeaderDir()).isEmpty(), qPrintable(qtHeaderDir()));
    }

    // Core builds without Qt Widgets and PrintSupport, however the header is
    // spelled, and without anything under gui/ or the program's wiring.
    void coreHasNoWindowHeaders() {
        const IncludeGraph graph = IncludeGraph::read(sourceDir());
        const QStringList bad = windowIncludesInCore(graph, windowHeaderNames(qtHeaderDir()));
        QVERIFY2(bad.isEmpty(), qPrintable(joined(bad)));
    }

    void foldersIncludeOnlyLowerLayers() {
        const IncludeGraph graph = IncludeGraph::read(sourceDir());
        const QStringList bad = layerViolations(graph, houseLayers());
        QVERIFY2(bad.isEmpty(), qPrintable(joined(bad)));
        // Every file lies in a folder the table knows.
        const QStringList unplaced = unplacedFiles(graph, houseLayers());
        QVERIFY2(unplaced.isEmpty(), qPrintable(joined(unplaced)));
    }

    void mainFrameIsIncludedOnlyByTheProgram() {
        const IncludeGraph graph = IncludeGraph::read(sourceDir());
        const QStringList bad =
            includersOutside(graph, QStringLiteral("gui/shell/main_frame.h"),
                             {QStringLiteral("gui/shell/main_frame."), QStringLiteral("app/")});
        QVERIFY2(bad.isEmpty(), qPrintable(joined(bad)));
    }

    void noIncludeLoops() {
        const IncludeGraph graph = IncludeGraph::read(sourceDir());
        const QStringList loops = includeLoops(graph);
        QVERIFY2(loops.isEmpty(), qPrintable(joined(loops)));
    }

    // The checkers themselves, on planted trees: each row plants one file (or
    // a pair) and names the finding the checks must report.
    void plantedViolations_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path2");
        QTest::addColumn<QString>("text2");
        QTest::addColumn<QString>("finding");

        auto row = [](const char* name, const char* path, const char* text, const char* finding,
                      const char* path2 = "", const char* text2 = "") {
            QTest::newRow(name) << QString::fromUtf8(path) << QString::fromUtf8(text)
                                << QString::fromUtf8(path2) << QString::fromUtf8(text2)
                                << QString::fromUtf8(finding);
        };
        row("class header", "core/stats/a.cpp", "#include <QWidget>\n",
            "core/stats/a.cpp: <QWidget>");
        row("module path", "core/stats/a.h", "#include <QtWidgets/QLabel>\n",
            "core/stats/a.h: <QtWidgets/QLabel>");
        row("module header", "core/stats/a.h", "  #  include <QtPrintSupport>\n",
            "core/stats/a.h: <QtPrintSupport>");
        row("lower-case file", "core/lists/a.cpp", "#include <qprinter.h>\n",
            "core/lists/a.cpp: <qprinter.h>");
        row("quoted", "core/lists/a.cpp", "#include \"QDialog\"\n",
            "core/lists/a.cpp: \"QDialog\"");
        row("gui from core", "core/capture/a.cpp", "#include \"gui/shell/view.h\"\n",
            "core/capture/a.cpp -> gui/shell/view.h");
        row("upward in core", "core/capture/a.cpp", "#include \"core/stats/b.h\"\n",
            "core/capture/a.cpp -> core/stats/b.h", "core/stats/b.h", "");
        row("sideways in gui", "gui/stats/a.cpp", "#include \"gui/trace/b.h\"\n",
            "gui/stats/a.cpp -> gui/trace/b.h", "gui/trace/b.h", "");
        row("main frame from a view", "gui/stats/a.cpp", "#include \"gui/shell/main_frame.h\"\n",
            "gui/stats/a.cpp -> gui/shell/main_frame.h", "gui/shell/main_frame.h", "");
        row("loop", "core/stats/a.h", "#include \"core/stats/b.h\"\n",
            "core/stats/a -> core/stats/b -> core/stats/a", "core/stats/b.h",
            "#include \"core/stats/a.h\"\n");
        row("window header allowed in gui", "gui/stats/a.cpp", "#include <QWidget>\n", "");
        row("gui header in Qt Gui", "core/stats/a.cpp",
            "#include <QAction>\n#include <qaction.h>\n", "");
    }
    void plantedViolations() {
        QFETCH(QString, path);
        QFETCH(QString, text);
        QFETCH(QString, path2);
        QFETCH(QString, text2);
        QFETCH(QString, finding);
        QList<QPair<QString, QString>> files{{path, text}};
        if (!path2.isEmpty())
            files.append({path2, text2});
        PlantedTree tree(files);
        const IncludeGraph graph = IncludeGraph::read(tree.dir.path());
        QStringList found = windowIncludesInCore(graph, windowHeaderNames(qtHeaderDir()));
        found += layerViolations(graph, houseLayers());
        found +=
            includersOutside(graph, QStringLiteral("gui/shell/main_frame.h"),
                             {QStringLiteral("gui/shell/main_frame."), QStringLiteral("app/")});
        found += includeLoops(graph);
        if (finding.isEmpty())
            QVERIFY2(found.isEmpty(), qPrintable(joined(found)));
        else
            QVERIFY2(found.contains(finding), qPrintable(joined(found)));
    }
};

QTEST_GUILESS_MAIN(TestLayering)
#include "tst_layering.moc"
