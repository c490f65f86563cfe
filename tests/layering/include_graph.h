#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <map>

namespace qarsilo::test {

/// One #include line: the text between the delimiters, and whether it was
/// written with angle brackets.
struct Include {
    QString target;
    bool angled = false;
};

/// The includes of every .h and .cpp file under a folder, by path relative to it.
struct IncludeGraph {
    std::map<QString, QList<Include>> files;
    static IncludeGraph read(const QString& root);
};

/// A folder of the tree and the folders (or single files) its files may
/// include besides their own folder.
struct Layer {
    QString folder;
    QStringList mayInclude;
};

/// The house: the two libraries by subsystem, bottom first, and the programs.
QList<Layer> houseLayers();

/// File names of Qt Widgets and Qt PrintSupport headers (class headers, lower-case
/// headers and module headers) that Qt Core and Qt Gui do not also have.
QSet<QString> windowHeaderNames(const QString& qtHeaderDir);

/// "path: <Header>" for each window header a core file includes, and
/// "path -> gui/..." for each include of a window or the program's wiring.
QStringList windowIncludesInCore(const IncludeGraph& graph, const QSet<QString>& windowHeaders);
/// "path -> target" for each project include that its folder's layer does not allow.
QStringList layerViolations(const IncludeGraph& graph, const QList<Layer>& layers);
/// Files under no layer's folder.
QStringList unplacedFiles(const IncludeGraph& graph, const QList<Layer>& layers);
/// "path -> header" for each file including `header` whose path starts with none of `allowed`.
QStringList includersOutside(const IncludeGraph& graph, const QString& header,
                             const QStringList& allowed);
/// Loops among modules (a header and its .cpp are one module): "a -> b -> a".
QStringList includeLoops(const IncludeGraph& graph);

} // namespace qarsilo::test
