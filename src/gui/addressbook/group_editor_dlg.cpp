#include "gui/addressbook/group_editor_dlg.h"

#include "core/addressbook/address_book_messages.h"
#include "core/app/message_service.h"
#include "gui/addressbook/new_info_dlg.h"
#include "gui/widgets/report_list.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>

using namespace qarsilo;

namespace {

std::optional<QString> askWithNewInfo(QWidget* parent, const QString& prompt) {
    CNewInfoDlg dlg(prompt, parent);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.answer();
}

} // namespace

QString CGroupEditorDlg::addPrompt(GroupTable table) {
    switch (table) {
    case GroupTable::Location:
        return QStringLiteral("New location name?");
    case GroupTable::Workgroup:
        return QStringLiteral("New workgroup name?");
    case GroupTable::Subnet:
        return QStringLiteral("New IP Range (exp:192.168.100.0)");
    }
    return {};
}

CGroupEditorDlg::CGroupEditorDlg(QWidget* parent, QString fileName)
    : QDialog(parent)
    , m_db(std::move(fileName))
    , m_prompt(askWithNewInfo) {
    setWindowTitle(QStringLiteral("Edit Menu"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    struct Spec {
        GroupTable table;
        int id;
        const char* columns;
    };
    // Left to right: locations, workgroups, IP ranges.
    const Spec specs[3] = {{GroupTable::Location, kLocationListId, "Location,130"},
                           {GroupTable::Workgroup, kWorkgroupListId, "Workgroup,130"},
                           {GroupTable::Subnet, kSubnetListId, "Local IP Range,130"}};
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < 3; ++i) {
        Column& c = m_columns[size_t(i)];
        c.table = specs[i].table;
        c.list = new CReportList(specs[i].id, this);
        c.list->setSelectionMode(QAbstractItemView::SingleSelection);
        c.list->declareColumns(QString::fromLatin1(specs[i].columns));
        c.list->setMinimumSize(150, 200);
        c.add = new QPushButton(QStringLiteral("Add"), this);
        c.remove = new QPushButton(QStringLiteral("Delete"), this);
        c.add->setAutoDefault(false);
        c.remove->setAutoDefault(false);
        const GroupTable table = c.table;
        connect(c.add, &QPushButton::clicked, this, [this, table] { addTo(table); });
        connect(c.remove, &QPushButton::clicked, this, [this, table] { deleteFrom(table); });
        // The Delete key on a list does what the button under it does.
        auto* del = new QShortcut(QKeySequence::Delete, c.list, nullptr, nullptr,
                                  Qt::WidgetWithChildrenShortcut);
        connect(del, &QShortcut::activated, this, [this, table] { deleteFrom(table); });
        grid->addWidget(c.list, 0, i);
        auto* row = new QHBoxLayout;
        row->addWidget(c.add);
        row->addWidget(c.remove);
        row->addStretch(1);
        grid->addLayout(row, 1, i);
    }
    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setDefault(true);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_done);
    grid->addLayout(bottom, 2, 0, 1, 3);
    grid->setRowStretch(0, 1);

    reload(GroupTable::Workgroup);
    reload(GroupTable::Subnet);
    reload(GroupTable::Location);
}

const CGroupEditorDlg::Column& CGroupEditorDlg::column(GroupTable table) const {
    for (const Column& c : m_columns)
        if (c.table == table)
            return c;
    return m_columns[0];
}

CReportList* CGroupEditorDlg::list(GroupTable table) const {
    return column(table).list;
}

QPushButton* CGroupEditorDlg::addButton(GroupTable table) const {
    return column(table).add;
}

QPushButton* CGroupEditorDlg::deleteButton(GroupTable table) const {
    return column(table).remove;
}

void CGroupEditorDlg::reload(GroupTable table) {
    CReportList* l = list(table);
    l->deleteAll();
    // Each load takes a fresh connection, so it sees what other windows saved.
    if (!openAddressBook(m_db))
        return;
    QStringList names;
    const bool ok = m_db.listGroups(table, names);
    QList<QStringList> rows;
    rows.reserve(names.size());
    for (const QString& n : names)
        rows.append({n});
    l->reportModel()->addRows(rows);
    if (!ok)
        reportReadFailure(m_db);
}

void CGroupEditorDlg::addTo(GroupTable table) {
    const std::optional<QString> answer = m_prompt(this, addPrompt(table));
    if (answer) {
        if (m_db.isOpen() || openAddressBook(m_db)) {
            // Exactly as typed: no trimming, no check of the form.
            if (!m_db.addGroupIfAbsent(table, *answer))
                reportWriteFailure(m_db);
        }
    }
    reload(table);
}

void CGroupEditorDlg::deleteFrom(GroupTable table) {
    CReportList* l = list(table);
    const QList<int> rows = l->selectedRowNumbers();
    if (rows.isEmpty()) {
        MessageService::message(QStringLiteral("No item selected"), QStringLiteral("Delete"),
                                MessageService::Icon::Warning);
        return;
    }
    const int row = rows.first();
    const QString name = l->text(row, 0);
    if (MessageService::instance().show(
            name + QStringLiteral("\nsure?"), QStringLiteral("Delete Confirmation"),
            MessageService::Icon::Question,
            MessageService::Buttons::OkCancel) != MessageService::Answer::Ok)
        return;
    if (!m_db.isOpen() && !openAddressBook(m_db))
        return;
    switch (m_db.deleteGroup(table, name)) {
    case AddressDatabase::Outcome::Done:
    case AddressDatabase::Outcome::NotFound: // gone already: the list catches up
        l->deleteRow(row);
        break;
    case AddressDatabase::Outcome::Failed:
        reportWriteFailure(m_db);
        break;
    }
}

void CGroupEditorDlg::done(int result) {
    for (const Column& c : m_columns)
        c.list->saveWidths();
    QDialog::done(result);
}
