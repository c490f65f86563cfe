#include "layering/include_graph.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <functional>

namespace qarsilo::test {

namespace {

const QStringList kProjectRoots{QStringLiteral("core/"), QStringLiteral("gui/"),
                                QStringLiteral("app/"), QStringLiteral("cli/"),
                                QStringLiteral("capture-helper/")};

bool isProjectPath(const QString& target) {
    return std::any_of(kProjectRoots.begin(), kProjectRoots.end(),
                       [&](const QString& r) { return target.startsWith(r); });
}

QString moduleOf(const QString& path) {
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path : path.left(dot);
}

QString fileNameOf(const QString& target) {
    return target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
}

const Layer* layerOf(const QString& path, const QList<Layer>& layers) {
    for (const Layer& l : layers)
        if (path.startsWith(l.folder))
            return &l;
    return nullptr;
}

QSet<QString> entries(const QString& dir) {
    const QStringList names = QDir(dir).entryList(QDir::Files);
    return QSet<QString>(names.begin(), names.end());
}

} // namespace

IncludeGraph IncludeGraph::read(const QString& root) {
    static const QRegularExpression line(QStringLiteral(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])"),
                                         QRegularExpression::MultilineOption);
    IncludeGraph g;
    QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QList<Include>& incs = g.files[QDir(root).relativeFilePath(path)];
        const QString text = QString::fromUtf8(f.readAll());
        for (auto m = line.globalMatch(text); m.hasNext();) {
            const auto match = m.next();
            incs.append({match.captured(2), match.captured(1) == QLatin1String("<")});
        }
    }
    return g;
}

QList<Layer> houseLayers() {
    auto l = [](const char* folder, std::initializer_list<const char*> below) {
        Layer layer{QString::fromUtf8(folder), {}};
        for (const char* b : below)
            layer.mayInclude << QString::fromUtf8(b);
        return layer;
    };
    // Core, bottom first: what every part shares, then capture, frames,
    // the subsystems' computations.
    const char* kWindows[] = {"core/", "gui/widgets/", "gui/shell/view.h",
                              "gui/shell/capture_view.h"};
    QList<Layer> layers{
        l("core/app/", {}),
        l("core/capture/", {"core/app/"}),
        l("core/analysis/", {"core/app/", "core/capture/"}),
        l("core/lists/", {"core/app/"}),
        l("core/trace/", {"core/app/", "core/capture/", "core/analysis/"}),
        l("core/stats/", {"core/app/", "core/capture/", "core/analysis/"}),
        l("core/addressbook/", {"core/app/", "core/lists/"}),
        l("core/discovery/",
          {"core/app/", "core/capture/", "core/analysis/", "core/lists/", "core/addressbook/"}),
        l("gui/widgets/", {"core/"}),
        l("gui/shell/", {"core/", "gui/widgets/"}),
    };
    // The windows of each subsystem see core, the widgets and the view host,
    // never each other: the program wires them together.
    for (const char* sub : {"analysis", "stats", "trace", "discovery", "addressbook"}) {
        Layer layer{QStringLiteral("gui/%1/").arg(QString::fromUtf8(sub)), {}};
        for (const char* w : kWindows)
            layer.mayInclude << QString::fromUtf8(w);
        layers.append(layer);
    }
    layers.append(l("app/", {"core/", "gui/"}));
    layers.append(l("cli/", {"core/"}));
    layers.append(l("capture-helper/", {"core/capture/live_open.h"}));
    return layers;
}

QSet<QString> windowHeaderNames(const QString& qtHeaderDir) {
    QSet<QString> names = entries(qtHeaderDir + QStringLiteral("/QtWidgets")) +
                          entries(qtHeaderDir + QStringLiteral("/QtPrintSupport"));
    // Qt Widgets keeps forwarding headers for classes that moved to Qt Gui.
    names -= entries(qtHeaderDir + QStringLiteral("/QtGui"));
    names -= entries(qtHeaderDir + QStringLiteral("/QtCore"));
    return names;
}

QStringList windowIncludesInCore(const IncludeGraph& graph, const QSet<QString>& windowHeaders) {
    QStringList out;
    for (const auto& [path, incs] : graph.files) {
        if (!path.startsWith(QLatin1String("core/")))
            continue;
        for (const Include& inc : incs) {
            const bool qtWindows = inc.target.startsWith(QLatin1String("QtWidgets/")) ||
                                   inc.target.startsWith(QLatin1String("QtPrintSupport/")) ||
                                   windowHeaders.contains(fileNameOf(inc.target));
            if (qtWindows)
                out << (inc.angled ? QStringLiteral("%1: <%2>") : QStringLiteral("%1: \"%2\""))
                           .arg(path, inc.target);
            else if (!inc.angled && (inc.target.startsWith(QLatin1String("gui/")) ||
                                     inc.target.startsWith(QLatin1String("app/"))))
                out << path + QStringLiteral(" -> ") + inc.target;
        }
    }
    return out;
}

QStringList layerViolations(const IncludeGraph& graph, const QList<Layer>& layers) {
    QStringList out;
    for (const auto& [path, incs] : graph.files) {
        const Layer* layer = layerOf(path, layers);
        if (!layer)
            continue;
        for (const Include& inc : incs) {
            if (inc.angled || !isProjectPath(inc.target) || inc.target.startsWith(layer->folder))
                continue;
            const bool allowed =
                std::any_of(layer->mayInclude.begin(), layer->mayInclude.end(),
                            [&](const QString& m) { return inc.target.startsWith(m); });
            if (!allowed)
                out << path + QStringLiteral(" -> ") + inc.target;
        }
    }
    return out;
}

QStringList unplacedFiles(const IncludeGraph& graph, const QList<Layer>& layers) {
    QStringList out;
    for (const auto& entry : graph.files)
        if (!layerOf(entry.first, layers))
            out << entry.first;
    return out;
}

QStringList includersOutside(const IncludeGraph& graph, const QString& header,
                             const QStringList& allowed) {
    QStringList out;
    for (const auto& [path, incs] : graph.files) {
        if (std::any_of(allowed.begin(), allowed.end(),
                        [&](const QString& a) { return path.startsWith(a); }))
            continue;
        for (const Include& inc : incs)
            if (!inc.angled && inc.target == header)
                out << path + QStringLiteral(" -> ") + header;
    }
    return out;
}

QStringList includeLoops(const IncludeGraph& graph) {
    // Modules and their edges, from includes that name a file of the tree.
    std::map<QString, QSet<QString>> edges;
    for (const auto& [path, incs] : graph.files) {
        QSet<QString>& to = edges[moduleOf(path)];
        for (const Include& inc : incs)
            if (!inc.angled && graph.files.count(inc.target) &&
                moduleOf(inc.target) != moduleOf(path))
                to.insert(moduleOf(inc.target));
    }
    // Tarjan's strongly connected components.
    std::map<QString, int> index, low;
    QStringList stack;
    QSet<QString> onStack;
    QStringList out;
    int next = 0;
    std::function<void(const QString&)> visit = [&](const QString& v) {
        index[v] = low[v] = next++;
        stack.append(v);
        onStack.insert(v);
        QStringList targets(edges[v].begin(), edges[v].end());
        targets.sort();
        for (const QString& w : targets) {
            if (!index.count(w)) {
                visit(w);
                low[v] = std::min(low[v], low[w]);
            } else if (onStack.contains(w)) {
                low[v] = std::min(low[v], index[w]);
            }
        }
        if (low[v] != index[v])
            return;
        QStringList component;
        QString w;
        do {
            w = stack.takeLast();
            onStack.remove(w);
            component.append(w);
        } while (w != v);
        if (component.size() > 1) {
            component.sort();
            out << (component + QStringList{component.first()}).join(QStringLiteral(" -> "));
        }
    };
    for (const auto& entry : edges)
        if (!index.count(entry.first))
            visit(entry.first);
    return out;
}

} // namespace qarsilo::test
