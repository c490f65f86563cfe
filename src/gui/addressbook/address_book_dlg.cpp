#include "gui/addressbook/address_book_dlg.h"

#include "core/addressbook/address_book_messages.h"
#include "core/addressbook/node_columns.h"
#include "core/addressbook/node_query.h"
#include "core/app/message_service.h"
#include "gui/addressbook/add_node_dlg.h"
#include "gui/addressbook/group_editor_dlg.h"
#include "gui/addressbook/node_info_dlg.h"
#include "gui/widgets/address_book_art.h"
#include "gui/widgets/ip_address_edit.h"
#include "gui/widgets/list_print.h"
#include "gui/widgets/report_list.h"

#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <climits>

using namespace qarsilo;

const QString CAddressBookDlg::kColumns = nodeListColumns();

namespace {

CAddressBookDlg::AutodiscoveryRunner& autodiscoveryRunner() {
    static CAddressBookDlg::AutodiscoveryRunner runner;
    return runner;
}

// List columns read back from a row.
constexpr int kMacColumn = 0;
constexpr int kIpColumn = 1;
constexpr int kNameColumn = 3;

struct ButtonSpec {
    const char* text;
    const char* tip;
    addressbook_art::Button art;
};
constexpr ButtonSpec kButtons[] = {
    {"New", "Add new node", addressbook_art::Button::New},
    {"Properties", "View/edit node", addressbook_art::Button::Properties},
    {"Delete", "Delete a node", addressbook_art::Button::Delete},
    {"Print", "Print currently displayed content", addressbook_art::Button::Print},
    {"Autodiscover", "Automatically detects and add node to the database",
     addressbook_art::Button::Autodiscover},
    {"db query", "Reload updated content from the database", addressbook_art::Button::DbQuery},
    {"Clear db", "Delete all contents of the database", addressbook_art::Button::ClearDb},
};

int& pagedFrom() {
    static int nodes = CAddressBookDlg::kPagedFrom;
    return nodes;
}

// The rows of one paged listing, read through the window's connection.
class NodePages : public ReportRowSource {
public:
    NodePages(AddressDatabase& db, NodeFilterSql sql, int count, std::function<void()> failed)
        : m_db(db)
        , m_sql(std::move(sql))
        , m_count(count)
        , m_failed(std::move(failed)) {}
    int count() const override { return m_count; }
    bool read(int first, int n, QList<QStringList>& out) override {
        // Reading on where the last page ended (scrolling down, an export)
        // starts after its last row instead of skipping all before it.
        const bool onward = first == m_nextFirst;
        NodeCursor last;
        const qsizetype had = out.size();
        const bool ok =
            m_sqlOrder.isEmpty()
                ? m_db.readNodePage(m_sql.where, m_sql.binds, first, n, out,
                                    onward ? m_next.rowid : -1, &last.rowid)
                : m_db.readSortedNodePage(m_sql.where, m_sql.binds, m_sqlOrder, first, n, m_count,
                                          out, onward ? &m_next : nullptr, &last);
        if (ok) {
            m_nextFirst = out.size() - had == n ? first + n : -1;
            m_next = last;
            return true;
        }
        m_nextFirst = -1;
        m_failed();
        return false;
    }
    void removed(int) override {
        --m_count;
        m_nextFirst = -1; // the rows after it have moved up
    }
    bool sortBy(int column, bool ascending, QList<int>& rows) override {
        const QString name = AddressDatabase::sortColumnName(column);
        if (name.isEmpty())
            return false;
        // Whether the texts sort by their bytes is read once a listing.
        auto known = m_bytewise.constFind(column);
        if (known == m_bytewise.constEnd()) {
            bool bytewise = false;
            if (!m_db.sortsByBytes(m_sql.where, m_sql.binds, name, bytewise))
                return false;
            known = m_bytewise.insert(column, bytewise);
        }
        if (!*known)
            return false;
        // The rows kept (the current one, the selection) are found by their
        // row key; a few at most, each costs a read and a count.
        constexpr qsizetype kKept = 16;
        QList<qint64> rowids;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            QList<QStringList> one;
            NodeCursor at;
            const bool found =
                i < kKept && rows[i] >= 0 && rows[i] < m_count &&
                (m_sqlOrder.isEmpty()
                     ? m_db.readNodePage(m_sql.where, m_sql.binds, rows[i], 1, one, -1, &at.rowid)
                     : m_db.readSortedNodePage(m_sql.where, m_sql.binds, m_sqlOrder, rows[i], 1,
                                               m_count, one, nullptr, &at)) &&
                one.size() == 1;
            rowids << (found ? at.rowid : -1);
        }
        // Equal rows keep the order they had: the earlier keys follow the new
        // one.
        NodeOrder order{{name, ascending}};
        for (const NodeSortKey& k : std::as_const(m_order))
            if (k.column != name)
                order << k;
        m_order = order;
        m_nextFirst = -1;
        // Keys that hold one text in every row listed (a column of
        // defaults) order nothing; without them the database reads a page
        // through the next key's index instead of sorting every row.
        m_sqlOrder = m_order;
        while (!m_sqlOrder.isEmpty()) {
            const QString& column = m_sqlOrder.first().column;
            auto one = m_oneText.constFind(column);
            if (one == m_oneText.constEnd()) {
                bool same = false;
                if (!m_db.holdsOneText(m_sql.where, m_sql.binds, column, same))
                    same = false;
                one = m_oneText.insert(column, same);
            }
            if (!*one)
                break;
            m_sqlOrder.removeFirst();
        }
        for (qsizetype i = 0; i < rows.size(); ++i) {
            qint64 at = -1;
            rows[i] = rowids[i] >= 0 && position(rowids[i], at) ? int(at) : -1;
        }
        return true;
    }

private:
    // How many listed rows come before row `rowid`.
    bool position(qint64 rowid, qint64& at) {
        // Every key of the database's order sorts by its bytes or holds one
        // text, so none is without a value (see sortsByBytes).
        if (!m_sqlOrder.isEmpty())
            return m_db.nodePosition(m_sql.where, m_sql.binds, m_sqlOrder, rowid, m_count, at);
        // Table order.
        const QString before = m_sql.where.isEmpty()
                                   ? QStringLiteral("rowid < ?")
                                   : QStringLiteral("(%1) AND rowid < ?").arg(m_sql.where);
        return m_db.countNodes(before, QVariantList(m_sql.binds) << rowid, at);
    }

    AddressDatabase& m_db;
    NodeFilterSql m_sql;
    int m_count;
    std::function<void()> m_failed;
    qint64 m_nextFirst = -1;
    NodeCursor m_next;
    NodeOrder m_order;    // empty: table order
    NodeOrder m_sqlOrder; // m_order without its leading keys of one text
    QHash<int, bool> m_bytewise;
    QHash<QString, bool> m_oneText;
};

// Tree items stand at their alphabetical place: letter case aside, then
// upper case first; equal names keep the order they were read in. The items
// are always in that order, so the place is found by halving.
int sortedPlace(QTreeWidgetItem* parent, QTreeWidget* tree, const QString& text) {
    const auto textAt = [&](int i) {
        return (parent ? parent->child(i) : tree->topLevelItem(i))->text(0);
    };
    int lo = 0;
    int hi = parent ? parent->childCount() : tree->topLevelItemCount();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        const QString other = textAt(mid);
        int c = text.compare(other, Qt::CaseInsensitive);
        if (c == 0)
            c = text.compare(other, Qt::CaseSensitive);
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

QTreeWidgetItem* insertSorted(QTreeWidget* tree, QTreeWidgetItem* parent, const QString& text,
                              const QIcon& icon) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setIcon(0, icon);
    const int at = sortedPlace(parent, tree, text);
    if (parent)
        parent->insertChild(at, item);
    else
        tree->insertTopLevelItem(at, item);
    return item;
}

// A node the list showed was deleted meanwhile by another window or program.
void tellGone(const QString& mac, const QString& caption) {
    MessageService::message(QStringLiteral("%1 is no longer in the address book.").arg(mac),
                            caption, MessageService::Icon::Warning);
}

} // namespace

void CAddressBookDlg::setAutodiscoveryRunner(AutodiscoveryRunner runner) {
    autodiscoveryRunner() = std::move(runner);
}

void CAddressBookDlg::setPagedFrom(int nodes) {
    pagedFrom() = nodes;
}

CAddressBookDlg::CAddressBookDlg(QWidget* parent, QString fileName)
    : QDialog(parent)
    , m_db(std::move(fileName))
    , m_runDialog([](QDialog& d) { return d.exec(); })
    , m_pagedFrom(pagedFrom()) {
    setWindowTitle(addressBookTitle(m_db.fileName()));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setSizeGripEnabled(true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

    buildButtons();

    m_name = new QLineEdit(this);
    m_name->setClearButtonEnabled(true);
    auto* nameLabel = new QLabel(QStringLiteral("Type in node name:"), this);
    nameLabel->setBuddy(m_name);
    m_address = new CIpAddressEdit(this);
    auto* addressLabel = new QLabel(QStringLiteral("or IP address:"), this);
    addressLabel->setBuddy(m_address);

    m_tree = new QTreeWidget(this);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setMinimumWidth(120);

    m_list = new CReportList(kListId, this);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->declareColumns(kColumns);

    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(nameLabel);
    searchRow->addWidget(m_name, 1);
    searchRow->addSpacing(16);
    searchRow->addWidget(addressLabel);
    searchRow->addWidget(m_address);
    searchRow->addStretch(1);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_tree);
    splitter->addWidget(m_list);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    splitter->setSizes({170, 700});

    auto* band = new QFrame(this);
    band->setFrameShape(QFrame::StyledPanel);
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(4, 2, 4, 2);
    bandLayout->setSpacing(2);
    for (QToolButton* b : m_buttons)
        bandLayout->addWidget(b);
    bandLayout->addStretch(1);

    // Shown only when the window picks a node for another one.
    m_pickHint =
        new QLabel(QStringLiteral("Double-click a station, or select it and press OK"), this);
    m_pickHint->setWordWrap(true);
    m_pickButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Enter in the search fields searches; it must not close the window.
    for (QAbstractButton* b : m_pickButtons->buttons())
        if (auto* push = qobject_cast<QPushButton*>(b))
            push->setAutoDefault(false);
    connect(m_pickButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pickButtons, &QDialogButtonBox::rejected, this, [this] {
        m_cancelled = true;
        reject();
    });
    m_pickHint->hide();
    m_pickButtons->hide();
    auto* pickRow = new QHBoxLayout;
    pickRow->addWidget(m_pickHint, 1);
    pickRow->addWidget(m_pickButtons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(band);
    layout->addLayout(searchRow);
    layout->addWidget(splitter, 1);
    layout->addLayout(pickRow);
    resize(880, 650);

    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CAddressBookDlg::onTreeSelection);
    connect(m_name, &QLineEdit::textChanged, this, &CAddressBookDlg::onNameChanged);
    connect(m_address, &CIpAddressEdit::fieldChanged, this, &CAddressBookDlg::onAddressChanged);
    connect(m_list, &QAbstractItemView::doubleClicked, this, [this] { accept(); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &CAddressBookDlg::showListMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &CAddressBookDlg::showTreeMenu);

    // Keyboard: Insert adds, Delete deletes, F2 edits, F5 reloads, Enter on a
    // row picks it as a double click does.
    const auto shortcut = [this](const QKeySequence& keys, QWidget* scope, auto slot) {
        auto* s = new QShortcut(keys, scope, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_Insert), this, &CAddressBookDlg::addNode);
    shortcut(QKeySequence(Qt::Key_F2), this, &CAddressBookDlg::editNode);
    shortcut(QKeySequence(Qt::Key_F5), this, &CAddressBookDlg::reloadAll);
    shortcut(QKeySequence::Delete, m_list, &CAddressBookDlg::deleteNode);
    shortcut(QKeySequence(Qt::Key_Return), m_list, &QDialog::accept);
    shortcut(QKeySequence(Qt::Key_Enter), m_list, &QDialog::accept);

    const bool opened = openAddressBook(m_db);
    noteReadOnly(m_db);
    if (opened) {
        m_db.ensureSearchIndexes();
        listAllNodes();
    }
    // Without a database the tree still shows its branches; the failure was
    // reported once already.
    fillTree(opened);
    m_list->setFocus();
    auto* follow = new QTimer(this);
    connect(follow, &QTimer::timeout, this, &CAddressBookDlg::followChanges);
    follow->start(kFollowMs);
}

void CAddressBookDlg::followChanges() {
    // Not while a question or node dialog of this window is open: the
    // command behind it holds a row number.
    const QWidget* modal = QApplication::activeModalWidget();
    if (!isVisible() || !m_db.isOpen() || (modal && modal != this))
        return;
    // A book that cannot tell (a server gone away) is left as shown: the next
    // command of the operator reports it, not a message a second.
    if (!m_db.changeStamp() || listingCurrent())
        return;
    QSet<QString> selected;
    const QList<int> selectedRows = m_list->selectedRowNumbers();
    for (int row : selectedRows)
        selected.insert(m_list->text(row, kMacColumn));
    listNodes(m_shown);
    QItemSelectionModel* selection = m_list->selectionModel();
    // Paged rows are looked for near where they were, not in the whole book.
    int from = 0;
    int to = m_list->rowCount();
    if (m_paged && !selectedRows.isEmpty()) {
        from = qMax(0, selectedRows.first() - 1024);
        to = qMin(to, selectedRows.last() + 1024);
    }
    for (int row = from; !selected.isEmpty() && row < to; ++row)
        if (selected.contains(m_list->text(row, kMacColumn)))
            selection->select(m_list->reportModel()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

CAddressBookDlg::~CAddressBookDlg() {
    // Paged rows read through m_db, which goes before the list does.
    m_list->deleteAll();
}

bool CAddressBookDlg::listingCurrent() {
    if (!m_paged)
        return m_nodes.isCurrent(m_db);
    const std::optional<AddressDatabase::ChangeStamp> now = m_db.changeStamp();
    return now && m_pagedStamp && *now == *m_pagedStamp;
}

bool CAddressBookDlg::listPaged(const NodeFilter& filter) {
    // Taken before the count, as the snapshot does: a commit in between costs
    // one more listing, never a stale one.
    if (m_pagedFrom == INT_MAX)
        return false;
    const std::optional<AddressDatabase::ChangeStamp> stamp = m_db.changeStamp();
    if (!stamp)
        return false;
    if (!m_sizeStamp || *m_sizeStamp != *stamp) {
        m_sizeStamp.reset();
        if (!m_db.countNodes({}, {}, m_bookSize))
            return false;
        m_sizeStamp = stamp;
    }
    if (m_bookSize < m_pagedFrom)
        return false;
    std::optional<NodeFilterSql> sql = nodeFilterSql(filter, m_db.isServer());
    if (!sql)
        return false;
    qint64 count = m_bookSize;
    // Most nodes match a short prefix: on a server, counting those that do
    // not is quicker (a few index entries, not most of the table).
    qint64 guess = 0;
    const auto outside = nodePrefixComplement(filter, m_db.isServer());
    // Counts the nodes outside the prefix, up to `cap` (negative: all);
    // false on a failure.
    const auto countOutside = [&](qint64 cap, qint64& rest) {
        rest = 0;
        for (const NodeFilterSql& part : *outside) {
            qint64 n = 0;
            if (!m_db.countNodes(part.where, part.binds, n, cap > 0 ? cap - rest : -1))
                return false;
            rest += n;
            if (cap > 0 && rest >= cap)
                break;
        }
        return true;
    };
    // The matching nodes are counted as a range of the index: the pattern
    // tried on each of them costs more than the counting.
    const NodeFilterSql in = nodePrefixRange(filter, m_db.isServer()).value_or(*sql);
    if (outside && m_db.isServer()) {
        qint64 rest = 0;
        if (!m_db.estimateNodes(sql->where, sql->binds, guess) || guess * 2 <= m_bookSize)
            count = m_db.countNodes(in.where, in.binds, count) ? count : -1;
        else
            count = countOutside(-1, rest) ? qMax<qint64>(0, m_bookSize - rest) : -1;
    } else if (outside) {
        // No estimate on a file: the nodes that match and those that do not
        // are counted side by side, up to a bound that doubles until one side
        // is counted whole, so the smaller side decides the cost.
        count = -1;
        for (qint64 cap = 4096; count < 0; cap *= 2) {
            qint64 inside = 0;
            if (!m_db.countNodes(in.where, in.binds, inside, cap))
                break;
            if (inside < cap) {
                count = inside;
                break;
            }
            qint64 rest = 0;
            if (!countOutside(cap, rest))
                break;
            if (rest < cap)
                count = qMax<qint64>(0, m_bookSize - rest);
        }
    } else if (!sql->where.isEmpty() && !m_db.countNodes(sql->where, sql->binds, count)) {
        count = -1;
    }
    if (count < 0) {
        m_list->deleteAll();
        m_paged = false;
        reportReadFailure(m_db);
        return true;
    }
    // One row in sixteen or more matches: a page is found sooner in table
    // order (reading a few hundred rows) than through the index, which
    // hands every match over to be put in table order first.
    if (!m_db.isServer() && !sql->where.isEmpty() && count * 16 > m_bookSize)
        sql = nodeFilterSql(filter, false, true);
    m_paged = true;
    m_pagedStamp = stamp;
    m_pageFailureShown = false;
    m_list->reportModel()->setSource(
        std::make_unique<NodePages>(m_db, *sql, int(qMin<qint64>(count, INT_MAX)), [this] {
            // Reported once a listing, after the painting that asked.
            if (m_pageFailureShown)
                return;
            m_pageFailureShown = true;
            QTimer::singleShot(0, this, [this] { reportReadFailure(m_db); });
        }));
    return true;
}

QMenu* CAddressBookDlg::contextMenu() const {
    return m_menu;
}

void CAddressBookDlg::buildButtons() {
    for (int i = 0; i < ButtonCount; ++i) {
        const ButtonSpec& spec = kButtons[i];
        auto* b = new QToolButton(this);
        b->setText(QString::fromLatin1(spec.text));
        b->setToolTip(QString::fromLatin1(spec.tip));
        b->setStatusTip(b->toolTip());
        b->setAccessibleName(b->text());
        b->setIcon(addressbook_art::buttonIcon(spec.art));
        b->setIconSize(QSize(32, 32));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true); // lights up under the mouse
        b->setFocusPolicy(Qt::StrongFocus);
        b->setMinimumSize(74, 58);
        m_buttons[size_t(i)] = b;
    }
    connect(m_buttons[New], &QToolButton::clicked, this, &CAddressBookDlg::addNode);
    connect(m_buttons[Properties], &QToolButton::clicked, this, &CAddressBookDlg::editNode);
    connect(m_buttons[Delete], &QToolButton::clicked, this, &CAddressBookDlg::deleteNode);
    connect(m_buttons[Autodiscover], &QToolButton::clicked, this, &CAddressBookDlg::autodiscover);
    connect(m_buttons[DbQuery], &QToolButton::clicked, this, &CAddressBookDlg::reloadAll);
    connect(m_buttons[ClearDb], &QToolButton::clicked, this, &CAddressBookDlg::clearDatabase);
    connect(m_buttons[Print], &QToolButton::clicked, this, &CAddressBookDlg::printList);
    m_buttons[Autodiscover]->setEnabled(bool(autodiscoveryRunner()));
}

bool CAddressBookDlg::ensureOpen() {
    return m_db.isOpen() || openAddressBook(m_db);
}

int CAddressBookDlg::runDialog(QDialog& dialog) {
    return m_runDialog ? m_runDialog(dialog) : dialog.exec();
}

void CAddressBookDlg::listNodes(const NodeFilter& filter) {
    if (filter.kind == NodeFilter::Kind::Unchanged)
        return;
    m_shown = filter;
    if (!ensureOpen()) {
        m_list->deleteAll();
        return;
    }
    // A large book is filtered by the database and shown in pages. A smaller
    // one is read again only when it changed since the last listing; a
    // search then filters the rows in memory.
    if (!m_nodes.isCurrent(m_db) && listPaged(filter))
        return;
    m_paged = false;
    const bool ok = m_nodes.refresh(m_db);
    m_list->reportModel()->setRows(m_nodes.select(filter));
    if (!ok)
        reportReadFailure(m_db);
}

void CAddressBookDlg::listAllNodes() {
    listNodes({NodeFilter::Kind::All, {}});
}

void CAddressBookDlg::rebuildTree() {
    fillTree(true);
}

void CAddressBookDlg::fillTree(bool readGroups) {
    const QSignalBlocker block(m_tree);
    m_tree->clear();
    const QIcon branchIcon = addressbook_art::treeIcon(addressbook_art::TreeIcon::Branch);
    insertSorted(m_tree, nullptr, tree::all, branchIcon);
    QTreeWidgetItem* workgroups = insertSorted(m_tree, nullptr, tree::byWorkgroup, branchIcon);
    QTreeWidgetItem* locations = insertSorted(m_tree, nullptr, tree::byLocation, branchIcon);
    QTreeWidgetItem* ranges = insertSorted(m_tree, nullptr, tree::byIpRange, branchIcon);
    // Every read sees what other windows saved: the connection need not be
    // new ("db query" opens a new one all the same).
    if (readGroups && ensureOpen()) {
        const struct {
            GroupTable table;
            QTreeWidgetItem* branch;
            addressbook_art::TreeIcon icon;
        } branches[] = {
            {GroupTable::Workgroup, workgroups, addressbook_art::TreeIcon::Workgroup},
            {GroupTable::Location, locations, addressbook_art::TreeIcon::Location},
            {GroupTable::Subnet, ranges, addressbook_art::TreeIcon::IpRange},
        };
        for (const auto& b : branches) {
            QStringList names;
            const bool ok = m_db.listGroups(b.table, names);
            const QIcon icon = addressbook_art::treeIcon(b.icon);
            for (const QString& n : names)
                insertSorted(m_tree, b.branch, n, icon);
            if (!ok) {
                reportReadFailure(m_db);
                break;
            }
        }
    }
    workgroups->setExpanded(true);
    locations->setExpanded(true);
    ranges->setExpanded(true);
}

void CAddressBookDlg::onTreeSelection() {
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    if (selected.isEmpty())
        return;
    const QTreeWidgetItem* item = selected.first();
    const QString parentText = item->parent() ? item->parent()->text(0) : QString();
    listNodes(NodeFilter::forTreeItem(item->text(0), parentText));
}

void CAddressBookDlg::onNameChanged(const QString& text) {
    listNodes(NodeFilter::forName(text));
}

void CAddressBookDlg::onAddressChanged() {
    const auto f = m_address->fields();
    listNodes(NodeFilter::forAddress(f[0], f[1], f[2], f[3]));
}

QString CAddressBookDlg::lastSelectedMac() const {
    const QList<int> rows = m_list->selectedRowNumbers();
    return rows.isEmpty() ? QString() : m_list->text(rows.last(), kMacColumn);
}

void CAddressBookDlg::addNode() {
    if (!ensureOpen())
        return;
    // The row carries the moment its dialog opened.
    const QString now = nodeDateText(QDateTime::currentDateTime());
    CAddNodeDlg dlg(this);
    dlg.setDate(now);
    if (runDialog(dlg) != QDialog::Accepted)
        return;
    NodeRecord node = dlg.node();
    if (node.mac.isEmpty())
        node.mac = kEmptyMac;
    node.type = QStringLiteral("-");
    if (!m_db.addNode(node)) {
        MessageService::message(QStringLiteral("Error adding new node\nMAC already in database?"),
                                QStringLiteral("Addition Failed"), MessageService::Icon::Warning);
        return;
    }
    listAllNodes();
    rebuildTree();
}

void CAddressBookDlg::editNode() {
    const QString mac = lastSelectedMac();
    if (m_list->selectedRowNumbers().isEmpty()) {
        MessageService::message(QStringLiteral("No item selected"), QStringLiteral("Edit Node"),
                                MessageService::Icon::Warning);
        return;
    }
    if (!ensureOpen())
        return;
    NodeRecord node;
    switch (m_db.findNode(mac, node)) {
    case AddressDatabase::Outcome::Done:
        break;
    case AddressDatabase::Outcome::NotFound:
        tellGone(mac, QStringLiteral("Edit Node"));
        listAllNodes();
        return;
    case AddressDatabase::Outcome::Failed:
        reportReadFailure(m_db);
        return;
    }
    node.date = nodeDateText(QDateTime::currentDateTime());
    CNodeInfoDlg dlg(this);
    dlg.setNode(node);
    if (runDialog(dlg) != QDialog::Accepted)
        return;
    const NodeRecord edited = dlg.node();
    const AddressDatabase::Outcome outcome = m_db.updateNode(edited);
    if (outcome != AddressDatabase::Outcome::Failed) {
        m_nodes.applyOwnWrite(m_db, [&edited](QList<QStringList>& rows) {
            for (QStringList& row : rows) {
                if (row[kMacColumn] != edited.mac)
                    continue;
                // The columns an edit stores; MAC, domain name and type stay.
                const QStringList now = edited.texts();
                for (int c : {1, 2, 3, 4, 6, 7, 8, 9})
                    row[c] = now[c];
            }
        });
    }
    switch (outcome) {
    case AddressDatabase::Outcome::Done:
        break;
    case AddressDatabase::Outcome::NotFound:
        tellGone(mac, QStringLiteral("Edit Node"));
        break;
    case AddressDatabase::Outcome::Failed:
        reportWriteFailure(m_db);
        break;
    }
    listAllNodes();
}

void CAddressBookDlg::deleteNode() {
    const QList<int> rows = m_list->selectedRowNumbers();
    if (rows.isEmpty()) {
        MessageService::message(QStringLiteral("No item selected"), QStringLiteral("Delete"),
                                MessageService::Icon::Warning);
        return;
    }
    // One node per command: the selected row with the highest index.
    const int row = rows.last();
    const QString mac = m_list->text(row, kMacColumn);
    if (!ensureOpen())
        return;
    NodeRecord node;
    switch (m_db.findNode(mac, node)) {
    case AddressDatabase::Outcome::Done:
        break;
    case AddressDatabase::Outcome::NotFound:
        tellGone(mac, QStringLiteral("Delete"));
        m_list->deleteRow(row);
        return;
    case AddressDatabase::Outcome::Failed:
        reportReadFailure(m_db);
        return;
    }
    if (MessageService::instance().show(
            node.mac + QStringLiteral("\nsure?"), QStringLiteral("Delete Confirmation"),
            MessageService::Icon::Question,
            MessageService::Buttons::OkCancel) != MessageService::Answer::Ok)
        return;
    const std::optional<AddressDatabase::ChangeStamp> before = m_db.changeStamp();
    const AddressDatabase::Outcome outcome = m_db.deleteNode(mac);
    if (m_paged && m_pagedStamp && before && *before == *m_pagedStamp) {
        // The paged listing drops the row below; it stays current when this
        // delete is the one thing written since it was counted.
        const std::optional<AddressDatabase::ChangeStamp> now = m_db.changeStamp();
        const bool onlyOwn = now && now->connection == before->connection &&
                             now->dataVersion == before->dataVersion &&
                             now->ownWrites == before->ownWrites + 1;
        if (onlyOwn)
            m_pagedStamp = now;
        else
            m_pagedStamp.reset();
    }
    if (outcome != AddressDatabase::Outcome::Failed) {
        m_nodes.applyOwnWrite(m_db, [&mac](QList<QStringList>& rows) {
            rows.removeIf([&mac](const QStringList& r) { return r[kMacColumn] == mac; });
        });
    }
    switch (outcome) {
    case AddressDatabase::Outcome::Done:
    case AddressDatabase::Outcome::NotFound:
        m_list->deleteRow(row);
        break;
    case AddressDatabase::Outcome::Failed:
        reportWriteFailure(m_db);
        break;
    }
}

void CAddressBookDlg::autodiscover() {
    const AutodiscoveryRunner& run = autodiscoveryRunner();
    if (!run)
        return;
    // Closed by its window's close control: what it saved is shown now.
    if (run(this) == QDialog::Rejected)
        reloadAll();
}

void CAddressBookDlg::reloadAll() {
    // A new connection also finds a file that was replaced on disk.
    m_nodes.invalidate();
    m_sizeStamp.reset();
    if (openAddressBook(m_db)) {
        m_db.ensureSearchIndexes();
        listAllNodes();
    } else
        m_list->deleteAll();
    rebuildTree();
}

void CAddressBookDlg::clearDatabase() {
    if (MessageService::instance().show(
            QStringLiteral("This will clear current contents of the database\nAre you sure?"),
            QStringLiteral("Clear Database Contents"), MessageService::Icon::Warning,
            MessageService::Buttons::YesNo) != MessageService::Answer::Yes)
        return;
    if (!ensureOpen())
        return;
    if (!m_db.clearAll())
        reportWriteFailure(m_db);
    listAllNodes();
    rebuildTree();
}

void CAddressBookDlg::editGroups() {
    CGroupEditorDlg editor(this, m_db.fileName());
    runDialog(editor);
    rebuildTree();
}

void CAddressBookDlg::popup(QMenu* menu, const QPoint& globalPos) {
    if (m_menu)
        m_menu->close();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    m_menu = menu;
    menu->popup(globalPos);
}

void CAddressBookDlg::showListMenu(const QPoint& pos) {
    const bool full = !m_list->selectedRowNumbers().isEmpty();
    auto* menu = new QMenu(this);
    menu->setObjectName(full ? QStringLiteral("ListMenu") : QStringLiteral("ListMenuMin"));
    menu->addAction(QStringLiteral("New"), this, &CAddressBookDlg::addNode);
    if (full) {
        menu->addSeparator();
        menu->addAction(QStringLiteral("Edit"), this, &CAddressBookDlg::editNode);
        menu->addAction(QStringLiteral("Delete"), this, &CAddressBookDlg::deleteNode);
    }
    popup(menu, m_list->viewport()->mapToGlobal(pos));
}

void CAddressBookDlg::showTreeMenu(const QPoint& pos) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("TreeMenu"));
    menu->addAction(QStringLiteral("Edit"), this, &CAddressBookDlg::editGroups);
    popup(menu, m_tree->viewport()->mapToGlobal(pos));
}

void CAddressBookDlg::setPicking(bool picking) {
    m_picking = picking;
    m_pickHint->setVisible(picking);
    m_pickButtons->setVisible(picking);
}

void CAddressBookDlg::done(int result) {
    // The caller reads the picked node after the modal run: the first
    // selected row, or "none" (also after Cancel).
    m_picked = PickedNode();
    const QList<int> rows = m_cancelled ? QList<int>() : m_list->selectedRowNumbers();
    m_cancelled = false;
    if (!rows.isEmpty()) {
        m_picked.mac = m_list->text(rows.first(), kMacColumn);
        m_picked.ip = m_list->text(rows.first(), kIpColumn);
        m_picked.name = m_list->text(rows.first(), kNameColumn);
    }
    m_list->saveWidths();
    if (m_menu)
        m_menu->close();
    QDialog::done(result);
}

void CAddressBookDlg::printList() {
    CListPrint printer(QStringLiteral("Network Address Book"));
    if (m_printSetup)
        m_printSetup(printer);
    printer.print(*m_list, this);
}

namespace {

PickedNode runBook(QWidget* parent, int* result, bool picking) {
    CAddressBookDlg dlg(parent);
    dlg.setPicking(picking);
    const int r = dlg.exec();
    if (result)
        *result = r;
    return dlg.pickedNode();
}

} // namespace

PickedNode runAddressBook(QWidget* parent, int* result) {
    return runBook(parent, result, false);
}

PickedNode runNodePicker(QWidget* parent, int* result) {
    return runBook(parent, result, true);
}

QString addressBookTitle(const QString& location) {
    const QString title = QStringLiteral("Network Address Book - ");
    // Read from the shown form only: whatever is parsed holds no password.
    const QString shown = AddressDatabase::displayLocation(location);
    if (!AddressDatabase::isServerLocation(location))
        return title + shown;
    const QUrl url(shown);
    const QUrlQuery query(url);
    QString host = query.hasQueryItem(QStringLiteral("host"))
                       ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                       : url.host(QUrl::FullyDecoded);
    const QString port = query.hasQueryItem(QStringLiteral("port"))
                             ? query.queryItemValue(QStringLiteral("port"))
                             : (url.port() > 0 ? QString::number(url.port()) : QString());
    const QString database =
        query.hasQueryItem(QStringLiteral("dbname"))
            ? query.queryItemValue(QStringLiteral("dbname"), QUrl::FullyDecoded)
            : url.path(QUrl::FullyDecoded).mid(1);
    if (!url.isValid() || database.isEmpty())
        return title + shown;
    // No host: the server's local socket, nothing worth naming.
    if (host.isEmpty())
        return title + database;
    if (!port.isEmpty())
        host += QLatin1Char(':') + port;
    return title + QStringLiteral("%1 on %2").arg(database, host);
}
