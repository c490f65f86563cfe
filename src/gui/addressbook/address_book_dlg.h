#pragma once

#include "core/addressbook/address_database.h"
#include "core/addressbook/node_filter.h"
#include "core/addressbook/node_snapshot.h"
#include "core/addressbook/picked_node.h"

#include <QDialog>
#include <QPointer>
#include <array>
#include <functional>

class CIpAddressEdit;
class CListPrint;
class CReportList;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

/// "Network Address Book": browses, searches and edits the node table. The
/// tree groups the nodes (all, by workgroup, by location, by IP range), the
/// list shows the chosen group or the current search. Also a node picker: a
/// double click closes it with OK, and the caller reads pickedNode().
class CAddressBookDlg : public QDialog {
    Q_OBJECT
public:
    enum Button { New, Properties, Delete, Print, Autodiscover, DbQuery, ClearDb, ButtonCount };

    /// Runs a node dialog or the group editor modally; replaceable (tests).
    using DialogRunner = std::function<int(QDialog& dialog)>;
    /// Runs the autodiscovery dialog modally over `parent`; returns its result.
    using AutodiscoveryRunner = std::function<int(QWidget* parent)>;

    /// The list's number for its saved column widths.
    static constexpr int kListId = 1011;
    /// The list's columns.
    static const QString kColumns;
    /// How often the window looks for changes other windows or programs made.
    static constexpr int kFollowMs = 1000;

    /// The autodiscovery dialog of every address book (the application gives
    /// the Autodiscovery dialog); none, or an empty runner, disables the button.
    static void setAutodiscoveryRunner(AutodiscoveryRunner runner);

    explicit CAddressBookDlg(QWidget* parent = nullptr,
                             QString fileName = qarsilo::AddressDatabase::defaultFileName());
    ~CAddressBookDlg() override;

    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    /// Called with the list printer before it prints (tests script its dialogs).
    void setPrintSetup(std::function<void(CListPrint&)> setup) { m_printSetup = std::move(setup); }

    /// Set when the window closes.
    PickedNode pickedNode() const { return m_picked; }

    /// As a picker the window says how to pick and offers OK and Cancel;
    /// Cancel picks nothing.
    void setPicking(bool picking);
    bool picking() const { return m_picking; }
    QLabel* pickHint() const { return m_pickHint; }
    QDialogButtonBox* pickButtons() const { return m_pickButtons; }

    CReportList* list() const { return m_list; }
    QTreeWidget* tree() const { return m_tree; }
    QLineEdit* nameField() const { return m_name; }
    CIpAddressEdit* addressField() const { return m_address; }
    QToolButton* button(Button which) const { return m_buttons[size_t(which)]; }
    /// The context menu shown last, while it is open (tests).
    QMenu* contextMenu() const;
    /// The node table as the window last read it (tests).
    const qarsilo::NodeSnapshot& snapshot() const { return m_nodes; }

    /// Books of at least this many nodes are not read whole: the list reads
    /// its rows in pages as they are shown and the database filters them.
    static constexpr int kPagedFrom = 20000;
    /// Replaces kPagedFrom for the windows made afterwards (tests).
    static void setPagedFrom(int nodes);
    /// Whether the list now shows rows the database filters and pages.
    bool isPaged() const { return m_paged; }

public Q_SLOTS:
    void addNode();
    void editNode();
    void deleteNode();
    void autodiscover();
    /// "db query": opens the file anew, lists all nodes and rebuilds the tree.
    void reloadAll();
    void clearDatabase();
    /// Runs the group editor, then rebuilds the tree.
    void editGroups();
    /// "Print": prints the rows the list shows now.
    void printList();
    void listAllNodes();
    void rebuildTree();
    void done(int result) override;

private:
    void buildButtons();
    void listNodes(const qarsilo::NodeFilter& filter);
    /// Lists `filter` through the database in pages when the book is large;
    /// false leaves the listing to the rows read whole.
    bool listPaged(const qarsilo::NodeFilter& filter);
    /// Whether the list shows the table as it is now.
    bool listingCurrent();
    void fillTree(bool readGroups);
    bool ensureOpen();
    int runDialog(QDialog& dialog);
    void onTreeSelection();
    void onNameChanged(const QString& text);
    void onAddressChanged();
    void showListMenu(const QPoint& pos);
    void showTreeMenu(const QPoint& pos);
    void popup(QMenu* menu, const QPoint& globalPos);
    /// Lists anew what the list shows when another window or program changed
    /// the table (checked once a second; a shared book has other writers).
    void followChanges();
    /// The MAC of the selected row with the highest index; empty with none.
    QString lastSelectedMac() const;

    qarsilo::AddressDatabase m_db;
    qarsilo::NodeSnapshot m_nodes;
    std::array<QToolButton*, ButtonCount> m_buttons{};
    QLineEdit* m_name = nullptr;
    CIpAddressEdit* m_address = nullptr;
    QTreeWidget* m_tree = nullptr;
    CReportList* m_list = nullptr;
    QPointer<QMenu> m_menu;
    DialogRunner m_runDialog;
    std::function<void(CListPrint&)> m_printSetup;
    PickedNode m_picked;
    bool m_picking = false;
    bool m_cancelled = false;
    QLabel* m_pickHint = nullptr;
    QDialogButtonBox* m_pickButtons = nullptr;
    /// What the list shows now.
    qarsilo::NodeFilter m_shown;
    /// The paged listing: shown now, and the table's stamp when counted.
    bool m_paged = false;
    std::optional<qarsilo::AddressDatabase::ChangeStamp> m_pagedStamp;
    /// The node count and the stamp it was counted at.
    qint64 m_bookSize = -1;
    std::optional<qarsilo::AddressDatabase::ChangeStamp> m_sizeStamp;
    int m_pagedFrom;
    bool m_pageFailureShown = false;
};

/// Runs the address book modally over `parent` and returns the picked node;
/// `result` receives the dialog's result when given.
PickedNode runAddressBook(QWidget* parent, int* result = nullptr);
/// The same as a picker (setPicking): for the windows that pick a node.
PickedNode runNodePicker(QWidget* parent, int* result = nullptr);

/// The window's title for the book at `location`: the file's path, or the
/// server and database of a postgresql:// URL; never a password.
QString addressBookTitle(const QString& location);
