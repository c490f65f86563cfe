#include "settings/select_adapter_dialog.h"

#include "shell/app_state.h"
#include "shell/toolbar_art.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace qarsilo;

CSelectAdapterDlg::CSelectAdapterDlg(std::vector<AdapterInfo> adapters, QString currentAdapter,
                                     SettingsStore store, QWidget* parent)
    : QDialog(parent)
    , m_adapters(std::move(adapters))
    , m_current(std::move(currentAdapter))
    , m_store(std::move(store)) {
    setWindowTitle(QStringLiteral("Select a network adapter"));

    m_list = new QTreeWidget(this);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QStringLiteral("Network Cards"), QStringLiteral("Description")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setAllColumnsShowFocus(true);
    m_list->header()->setStretchLastSection(false);
    m_list->setColumnWidth(0, 150);
    m_list->setColumnWidth(1, 289);
    m_list->setMinimumWidth(150 + 289 + 24);
    m_list->setIconSize(QSize(16, 16));

    auto* label = new QLabel(QStringLiteral("Current network adapter :"), this);
    m_field = new QLineEdit(QStringLiteral("NONE"), this);
    m_field->setReadOnly(true);
    label->setBuddy(m_field);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSelectAdapterDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSelectAdapterDlg::reject);

    auto* currentRow = new QHBoxLayout;
    currentRow->addWidget(label);
    currentRow->addWidget(m_field, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(currentRow);
    layout->addWidget(buttons);

    fill();

    // Clicking a row, or moving the selection with the keyboard, takes effect at once.
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CSelectAdapterDlg::onListClicked);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CSelectAdapterDlg::onListDoubleClicked);
}

void CSelectAdapterDlg::fill() {
    m_list->clear();
    const QIcon icon(QPixmap::fromImage(adapterImage()));
    auto addRow = [&](const QString& name, const QString& description) {
        auto* item = new QTreeWidgetItem(m_list, {name, description});
        item->setIcon(0, icon);
        item->setToolTip(0, name);
        item->setToolTip(1, description);
    };
    for (const AdapterInfo& a : m_adapters) {
        const QString name = a.name.trimmed();
        if (!name.isEmpty())
            addRow(name, a.description);
    }
    // A capture file chosen earlier is not a device; show it so it can be kept.
    if (isCaptureFileAdapter(m_current))
        addRow(m_current, QStringLiteral("Capture file ") + captureFilePath(m_current));

    // The row of the adapter in use, searched from the bottom up, without regard to case.
    QTreeWidgetItem* match = nullptr;
    for (int i = m_list->topLevelItemCount() - 1; i >= 0 && !match; --i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->text(0).compare(m_current, Qt::CaseInsensitive) == 0)
            match = item;
    }
    if (!match)
        match = m_list->topLevelItem(0);
    if (match) {
        m_current = match->text(0);
        m_list->setCurrentItem(match);
        match->setSelected(true);
        m_field->setText(match->text(1));
    } else {
        m_current.clear();
    }
    m_list->setFocus();
    app::setSelectedAdapter(m_current);
}

QTreeWidgetItem* CSelectAdapterDlg::chosenRow() const {
    const auto selected = m_list->selectedItems();
    if (!selected.isEmpty())
        return selected.first();
    return m_list->topLevelItem(0);
}

void CSelectAdapterDlg::onListClicked() {
    QTreeWidgetItem* row = chosenRow();
    m_current = row ? row->text(0) : QString();
    m_field->setText(row ? row->text(1) : QString());
    app::setSelectedAdapter(m_current);
}

void CSelectAdapterDlg::onListDoubleClicked(QTreeWidgetItem*, int) {
    accept();
}

void CSelectAdapterDlg::accept() {
    QTreeWidgetItem* row = chosenRow();
    m_current = row ? row->text(0) : QString();
    app::setSelectedAdapter(m_current);
    if (!m_current.isEmpty())
        m_store.writeString(setting::adapterName, m_current);
    QDialog::accept();
}

void runSelectAdapterDialog(QWidget* parent) {
    CSelectAdapterDlg dlg(captureAdapters(), app::selectedAdapter(), SettingsStore(), parent);
    dlg.exec();
}
