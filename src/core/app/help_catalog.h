#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace qarsilo {

/// The program's manual: HTML pages with a table of contents, an index of
/// keywords and a full-text search. Read from a folder (the manual ships as
/// the resource folder ":/help").
///
/// contents.txt: one topic per line, "LEVEL|TITLE|PAGE[#ANCHOR]", LEVEL from 0.
/// keywords.txt: one entry per line, "KEYWORD|PAGE[#ANCHOR]".
class HelpCatalog {
public:
    struct Topic {
        int level = 0;
        QString title;
        QString target; ///< page file name, optionally with "#anchor"
    };
    struct Keyword {
        QString keyword;
        QString target;
    };
    struct Hit {
        QString title;
        QString target;
        int score = 0; ///< number of times the words occur on the page
    };

    /// Loads the manual from `folder`; errors() lists what could not be read.
    explicit HelpCatalog(const QString& folder = QStringLiteral(":/help"));

    const QList<Topic>& contents() const { return m_contents; }
    /// Index entries, sorted without regard to case.
    const QList<Keyword>& index() const { return m_index; }
    /// Pages holding every word of `query` (case-insensitive), best first.
    /// An empty query finds nothing.
    QList<Hit> search(const QString& query) const;

    /// The page's title (its <title>), or the file name.
    QString pageTitle(const QString& page) const;
    /// All page file names.
    QStringList pages() const;
    const QString& folder() const { return m_folder; }
    const QStringList& errors() const { return m_errors; }

private:
    struct Page {
        QString file;
        QString title;
        QString text; ///< lower-case plain text
    };

    QString m_folder;
    QList<Topic> m_contents;
    QList<Keyword> m_index;
    QList<Page> m_pages;
    QStringList m_errors;
};

} // namespace qarsilo
