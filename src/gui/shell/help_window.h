#pragma once

#include "core/app/help_catalog.h"

#include <QWidget>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

/// The manual: a browser with Contents, Index and Search pages beside it.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr,
                        const QString& folder = QStringLiteral(":/help"));

    void showContents();
    void showIndex();
    void showSearch();

    /// Shows a page of the manual ("page.html" or "page.html#anchor").
    void openTopic(const QString& target);
    /// Runs a full-text search and lists the pages found.
    void search(const QString& query);

    const qarsilo::HelpCatalog& catalog() const { return m_catalog; }
    QTabWidget* tabs() const { return m_tabs; }
    QTreeWidget* contentsTree() const { return m_contents; }
    QListWidget* indexList() const { return m_index; }
    QListWidget* searchResults() const { return m_results; }
    QTextBrowser* browser() const { return m_browser; }
    QLineEdit* indexField() const { return m_indexField; }
    QLineEdit* searchField() const { return m_searchField; }

private:
    void bringUp(int tab);
    void filterIndex(const QString& text);

    qarsilo::HelpCatalog m_catalog;
    QTabWidget* m_tabs = nullptr;
    QTreeWidget* m_contents = nullptr;
    QLineEdit* m_indexField = nullptr;
    QListWidget* m_index = nullptr;
    QLineEdit* m_searchField = nullptr;
    QListWidget* m_results = nullptr;
    QTextBrowser* m_browser = nullptr;
};

/// Makes the manual's resources available; the manual is linked from a static
/// library, whose resource registration must be asked for explicitly.
void initHelpResources();
