#include "gui/shell/help_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

void initHelpResources() {
    Q_INIT_RESOURCE(help);
}

namespace {
constexpr int kTargetRole = Qt::UserRole + 1;
enum Tab { ContentsTab, IndexTab, SearchTab };
} // namespace

HelpWindow::HelpWindow(QWidget* parent, const QString& folder)
    : QWidget(parent, Qt::Window)
    , m_catalog((initHelpResources(), folder)) {
    setWindowTitle(QStringLiteral("qarsilo Help"));
    resize(900, 620);

    // Contents: the topics as a tree, by their levels.
    m_contents = new QTreeWidget;
    m_contents->setHeaderHidden(true);
    QList<QTreeWidgetItem*> parents;
    for (const auto& topic : m_catalog.contents()) {
        const int level = qMax(0, qMin(topic.level, int(parents.size())));
        parents.resize(level);
        QTreeWidgetItem* item =
            level == 0 ? new QTreeWidgetItem(m_contents) : new QTreeWidgetItem(parents.last());
        item->setText(0, topic.title);
        item->setData(0, kTargetRole, topic.target);
        parents.append(item);
    }
    m_contents->expandAll();
    connect(m_contents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { openTopic(item->data(0, kTargetRole).toString()); });
    connect(m_contents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { openTopic(item->data(0, kTargetRole).toString()); });

    // Index: keywords, narrowed as the operator types.
    auto* indexPage = new QWidget;
    m_indexField = new QLineEdit;
    m_indexField->setPlaceholderText(QStringLiteral("Type in the keyword to find"));
    m_index = new QListWidget;
    for (const auto& k : m_catalog.index()) {
        auto* item = new QListWidgetItem(k.keyword, m_index);
        item->setData(kTargetRole, k.target);
    }
    auto* indexLayout = new QVBoxLayout(indexPage);
    indexLayout->addWidget(m_indexField);
    indexLayout->addWidget(m_index, 1);
    connect(m_indexField, &QLineEdit::textChanged, this, &HelpWindow::filterIndex);
    connect(m_indexField, &QLineEdit::returnPressed, this, [this] {
        if (QListWidgetItem* item = m_index->currentItem())
            openTopic(item->data(kTargetRole).toString());
    });
    connect(m_index, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { openTopic(item->data(kTargetRole).toString()); });

    // Search: every word must occur on the page.
    auto* searchPage = new QWidget;
    m_searchField = new QLineEdit;
    m_searchField->setPlaceholderText(QStringLiteral("Type in the words to search for"));
    auto* listTopics = new QPushButton(QStringLiteral("&List Topics"));
    m_results = new QListWidget;
    auto* searchLayout = new QVBoxLayout(searchPage);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(m_searchField, 1);
    searchRow->addWidget(listTopics);
    searchLayout->addLayout(searchRow);
    searchLayout->addWidget(m_results, 1);
    connect(listTopics, &QPushButton::clicked, this, [this] { search(m_searchField->text()); });
    connect(m_searchField, &QLineEdit::returnPressed, this,
            [this] { search(m_searchField->text()); });
    connect(m_results, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { openTopic(item->data(kTargetRole).toString()); });

    m_tabs = new QTabWidget;
    m_tabs->addTab(m_contents, QStringLiteral("&Contents"));
    m_tabs->addTab(indexPage, QStringLiteral("I&ndex"));
    m_tabs->addTab(searchPage, QStringLiteral("&Search"));

    m_browser = new QTextBrowser;
    m_browser->setSearchPaths({folder});
    m_browser->setOpenExternalLinks(false);

    auto* splitter = new QSplitter;
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 640});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(splitter);

    if (!m_catalog.contents().isEmpty())
        openTopic(m_catalog.contents().first().target);
}

void HelpWindow::bringUp(int tab) {
    m_tabs->setCurrentIndex(tab);
    show();
    raise();
    activateWindow();
}

void HelpWindow::showContents() {
    bringUp(ContentsTab);
    m_contents->setFocus();
}

void HelpWindow::showIndex() {
    bringUp(IndexTab);
    m_indexField->setFocus();
}

void HelpWindow::showSearch() {
    bringUp(SearchTab);
    m_searchField->clear();
    m_results->clear();
    m_searchField->setFocus();
}

void HelpWindow::openTopic(const QString& target) {
    if (target.isEmpty())
        return;
    m_browser->setSource(QUrl(target));
}

void HelpWindow::search(const QString& query) {
    m_results->clear();
    const auto hits = m_catalog.search(query);
    for (const auto& hit : hits) {
        auto* item = new QListWidgetItem(hit.title, m_results);
        item->setData(kTargetRole, hit.target);
    }
    if (hits.isEmpty() && !query.trimmed().isEmpty())
        m_results->addItem(QStringLiteral("No topics found"));
    else if (!hits.isEmpty())
        m_results->setCurrentRow(0);
}

void HelpWindow::filterIndex(const QString& text) {
    // Select the first keyword that starts with what was typed, as an index does.
    for (int i = 0; i < m_index->count(); ++i) {
        QListWidgetItem* item = m_index->item(i);
        if (item->text().startsWith(text, Qt::CaseInsensitive)) {
            m_index->setCurrentItem(item);
            m_index->scrollToItem(item, QAbstractItemView::PositionAtTop);
            return;
        }
    }
}
