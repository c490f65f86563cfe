#include "gui/shell/select_adapter_dialog.h"

#include "core/app/app_state.h"
#include "core/app/toolbar_art.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

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

    // Beside the devices: a segment this machine is not plugged into, read
    // through a command that writes a pcap stream.
    auto* commandLabel = new QLabel(QStringLiteral("&Pipe command:"), this);
    m_command = new QLineEdit(this);
    m_command->setClearButtonEnabled(true);
    m_command->setPlaceholderText(
        QStringLiteral("ssh sensor1 tcpdump -U -w - -i eth1 not port 22"));
    const QString commandTip = QStringLiteral(
        "A command that writes a pcap stream on its standard output, read as live traffic,\n"
        "for example: ssh sensor1 tcpdump -U -w - -i eth1 not port 22\n"
        "(-U sends each frame at once; leave out the ssh traffic itself).\n"
        "Typing here chooses the command instead of a network card.");
    m_command->setToolTip(commandTip);
    commandLabel->setToolTip(commandTip);
    commandLabel->setBuddy(m_command);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSelectAdapterDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSelectAdapterDlg::reject);

    auto* currentRow = new QHBoxLayout;
    currentRow->addWidget(label);
    currentRow->addWidget(m_field, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(currentRow);
    auto* commandRow = new QHBoxLayout;
    commandRow->addWidget(commandLabel);
    commandRow->addWidget(m_command, 1);
    layout->addLayout(commandRow);
    layout->addWidget(buttons);

    fill();

    // Clicking a row, or moving the selection with the keyboard, takes effect at once.
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CSelectAdapterDlg::onListClicked);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CSelectAdapterDlg::onListDoubleClicked);
    connect(m_command, &QLineEdit::textEdited, this, &CSelectAdapterDlg::onCommandEdited);
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
    // So is a command chosen earlier; its text is also ready to be edited.
    if (const AdapterName name = parseAdapterName(m_current); name.kind == AdapterKind::Command) {
        const QString& command = name.argument;
        addRow(m_current, QStringLiteral("Command ") + command);
        m_command->setText(command);
    }

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

QString CSelectAdapterDlg::chosenAdapter() const {
    const QString command = m_command->text().trimmed();
    if (m_list->selectedItems().isEmpty() && !command.isEmpty())
        return QLatin1String(kCommandAdapterPrefix) + command;
    QTreeWidgetItem* row = chosenRow();
    return row ? row->text(0) : QString();
}

void CSelectAdapterDlg::onListClicked() {
    m_current = chosenAdapter();
    QTreeWidgetItem* row = chosenRow();
    if (isCommandAdapter(m_current) && m_list->selectedItems().isEmpty())
        m_field->setText(QStringLiteral("Command ") + m_command->text().trimmed());
    else
        m_field->setText(row ? row->text(1) : QString());
    app::setSelectedAdapter(m_current);
}

void CSelectAdapterDlg::onCommandEdited(const QString&) {
    // The typed command is the choice: no row stays selected.
    m_list->clearSelection();
    onListClicked();
}

void CSelectAdapterDlg::onListDoubleClicked(QTreeWidgetItem*, int) {
    accept();
}

void CSelectAdapterDlg::accept() {
    m_current = chosenAdapter();
    app::setSelectedAdapter(m_current);
    if (!m_current.isEmpty())
        m_store.writeString(setting::adapterName, m_current);
    QDialog::accept();
}

void runSelectAdapterDialog(QWidget* parent) {
    CSelectAdapterDlg dlg(captureAdapters(), app::selectedAdapter(), SettingsStore(), parent);
    dlg.exec();
}
