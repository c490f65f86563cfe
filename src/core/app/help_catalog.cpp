#include "core/app/help_catalog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <algorithm>

namespace qarsilo {

namespace {

QStringList readLines(const QString& path, QStringList& errors) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        errors << QStringLiteral("cannot read ") + path;
        return {};
    }
    QStringList out;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            out << line;
    }
    return out;
}

} // namespace

HelpCatalog::HelpCatalog(const QString& folder)
    : m_folder(folder) {
    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
    static const QRegularExpression titleRe(QStringLiteral("<title>(.*?)</title>"),
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::DotMatchesEverythingOption);
    for (const QString& file : files) {
        QFile f(dir.filePath(file));
        if (!f.open(QIODevice::ReadOnly)) {
            m_errors << QStringLiteral("cannot read ") + file;
            continue;
        }
        const QString html = QString::fromUtf8(f.readAll());
        Page page;
        page.file = file;
        const auto m = titleRe.match(html);
        page.title = m.hasMatch() ? m.captured(1).trimmed() : file;
        page.text = QTextDocumentFragment::fromHtml(html).toPlainText().toLower();
        m_pages.append(page);
    }

    for (const QString& line : readLines(dir.filePath(QStringLiteral("contents.txt")), m_errors)) {
        const QStringList f = line.split(QLatin1Char('|'));
        if (f.size() != 3) {
            m_errors << QStringLiteral("contents: bad line: ") + line;
            continue;
        }
        m_contents.append({f[0].trimmed().toInt(), f[1].trimmed(), f[2].trimmed()});
    }
    for (const QString& line : readLines(dir.filePath(QStringLiteral("keywords.txt")), m_errors)) {
        const QStringList f = line.split(QLatin1Char('|'));
        if (f.size() != 2) {
            m_errors << QStringLiteral("keywords: bad line: ") + line;
            continue;
        }
        m_index.append({f[0].trimmed(), f[1].trimmed()});
    }
    std::stable_sort(m_index.begin(), m_index.end(), [](const Keyword& a, const Keyword& b) {
        return a.keyword.compare(b.keyword, Qt::CaseInsensitive) < 0;
    });
}

QList<HelpCatalog::Hit> HelpCatalog::search(const QString& query) const {
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    const QStringList words = query.toLower().split(spaces, Qt::SkipEmptyParts);
    QList<Hit> hits;
    if (words.isEmpty())
        return hits;
    for (const Page& p : m_pages) {
        int score = 0;
        bool all = true;
        for (const QString& w : words) {
            const int n = int(p.text.count(w));
            if (n == 0) {
                all = false;
                break;
            }
            score += n;
        }
        if (all)
            hits.append({p.title, p.file, score});
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.score > b.score; });
    return hits;
}

QString HelpCatalog::pageTitle(const QString& page) const {
    const QString file = page.section(QLatin1Char('#'), 0, 0);
    for (const Page& p : m_pages)
        if (p.file == file)
            return p.title;
    return file;
}

QStringList HelpCatalog::pages() const {
    QStringList out;
    for (const Page& p : m_pages)
        out << p.file;
    return out;
}

} // namespace qarsilo
