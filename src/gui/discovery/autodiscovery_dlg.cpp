#include "gui/discovery/autodiscovery_dlg.h"

#include "core/addressbook/address_book_messages.h"
#include "core/app/message_service.h"
#include "core/discovery/discovery_database.h"
#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"
#include "core/discovery/oui_table.h"
#include "core/discovery/reverse_lookup.h"
#include "gui/widgets/address_book_art.h"
#include "gui/widgets/report_list.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QToolTip>
#include <QVBoxLayout>

using namespace qarsilo;

namespace {

const QString kStillRunning = QStringLiteral("Capture thread is still running");
const QString kIdle = QStringLiteral("...");

CAutodiscoveryDlg::GroupEditorRunner& defaultGroupEditor() {
    static CAutodiscoveryDlg::GroupEditorRunner runner;
    return runner;
}

QList<QStringList> rowsOf(const CReportList* list) {
    QList<QStringList> rows;
    const int n = list->rowCount();
    rows.reserve(n);
    for (int i = 0; i < n; ++i)
        rows.append(list->reportModel()->rowTexts(i));
    return rows;
}

void applyMarks(CReportList* list, int column, const QStringList& marks) {
    for (int i = 0; i < marks.size() && i < list->rowCount(); ++i)
        if (!marks[i].isEmpty())
            list->setCell(i, column, marks[i]);
}

} // namespace

CAutodiscoveryDlg::CAutodiscoveryDlg(QWidget* parent, QString fileName)
    : QDialog(parent)
    , m_fileName(std::move(fileName))
    , m_runGroupEditor(defaultGroupEditor()) {
    setWindowTitle(QStringLiteral("Autodiscovery"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setSizeGripEnabled(true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

    const auto makeButton = [this](const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setAutoDefault(false);
        m_buttons.append(b);
        return b;
    };
    QPushButton* startButton = makeButton("Start");
    startButton->setDefault(true);
    QPushButton* stopButton = makeButton("Stop");
    QPushButton* saveAllButton = makeButton("Save All");
    m_saveNodes = makeButton("Save Nodes");
    m_saveWorkgroups = makeButton("Save Wrkgrp");
    m_saveSubnets = makeButton("Save Subnet");
    m_dnsButton = makeButton("DNS Lookup");
    m_dnsButton->setToolTip(QStringLiteral("Looks up the host name of every node's address: "
                                           "this sends queries to the name server"));
    // The passes that Stop runs by itself; kept as hidden buttons.
    for (const char* hidden : {"Compare Data", "Clear duplicate", "IP->csubnet"}) {
        QPushButton* b = makeButton(hidden);
        b->setVisible(false);
        b->setEnabled(false);
    }

    m_netbiosBox = new QCheckBox(QStringLiteral("Netbios Packets"), this);
    m_netbiosBox->setChecked(true);
    m_ipBox = new QCheckBox(QStringLiteral("IP Packets"), this);
    m_warnVirus = new QCheckBox(QStringLiteral("Warn Suspicious Activities"), this);
    m_warnRouter = new QCheckBox(QStringLiteral("Warn Router/Multi IP"), this);
    m_domainLookupBox = new QCheckBox(QStringLiteral("Domain Name Lookup"), this);

    auto* settings = new QGroupBox(QStringLiteral("Settings"), this);
    auto* settingsGrid = new QGridLayout(settings);
    settingsGrid->addWidget(new QLabel(QStringLiteral("Process data from :"), settings), 0, 0);
    settingsGrid->addWidget(m_netbiosBox, 0, 1);
    settingsGrid->addWidget(m_ipBox, 0, 2);
    settingsGrid->addWidget(new QLabel(QStringLiteral("Additional Settings :"), settings), 1, 0);
    settingsGrid->addWidget(m_warnVirus, 1, 1);
    settingsGrid->addWidget(m_warnRouter, 1, 2);
    settingsGrid->addWidget(m_domainLookupBox, 1, 3);
    settingsGrid->addWidget(m_dnsButton, 1, 4);
    settingsGrid->setColumnStretch(5, 1);

    auto* rightButtons = new QVBoxLayout;
    rightButtons->addWidget(startButton);
    rightButtons->addWidget(stopButton);
    rightButtons->addWidget(saveAllButton);
    rightButtons->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(settings, 1);
    top->addLayout(rightButtons);

    auto* activityBox = new QGroupBox(QStringLiteral("Activity"), this);
    auto* activityLayout = new QVBoxLayout(activityBox);
    for (QLabel*& l : m_activity) {
        l = new QLabel(kIdle, activityBox);
        activityLayout->addWidget(l);
    }
    activityLayout->addStretch(1);
    m_log = new QListWidget(this);
    m_log->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* outputLabel = new QLabel(QStringLiteral("Output"), this);
    outputLabel->setBuddy(m_log);
    auto* outputLayout = new QVBoxLayout;
    outputLayout->addWidget(outputLabel);
    outputLayout->addWidget(m_log, 1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(activityBox, 1);
    middle->addLayout(outputLayout, 2);

    const auto makeList = [this](int id, const QString& columns) {
        auto* l = new CReportList(id, this);
        l->setSelectionMode(QAbstractItemView::ExtendedSelection);
        l->declareColumns(columns);
        // The last column takes the room a larger window gives; the widths
        // kept on closing stay those the columns have without it (done()).
        l->horizontalHeader()->setStretchLastSection(true);
        return l;
    };
    m_nodes = makeList(kNodeListId, kDiscoveryNodeColumns);
    m_nodes->viewport()->installEventFilter(this);
    m_workgroups = makeList(kWorkgroupListId, kDiscoveryWorkgroupColumns);
    m_subnets = makeList(kSubnetListId, kDiscoverySubnetColumns);

    const auto beside = [](QWidget* list, QPushButton* button) {
        auto* row = new QHBoxLayout;
        row->addWidget(list, 1);
        auto* col = new QVBoxLayout;
        col->addWidget(button);
        col->addStretch(1);
        row->addLayout(col);
        return row;
    };
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(beside(m_workgroups, m_saveWorkgroups), 1);
    bottom->addLayout(beside(m_subnets, m_saveSubnets), 1);

    // The picture across the top, as the node dialogs have.
    auto* banner = new QLabel(this);
    banner->setPixmap(addressbook_art::banner(
        QStringLiteral("Autodiscovery"),
        QStringLiteral("Nodes, workgroups and subnets found by listening to the network"), 960));
    banner->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(banner);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(beside(m_nodes, m_saveNodes), 3);
    layout->addLayout(bottom, 1);
    resize(980, 720);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CAutodiscoveryDlg::tick);
    connect(startButton, &QPushButton::clicked, this, &CAutodiscoveryDlg::start);
    connect(stopButton, &QPushButton::clicked, this, &CAutodiscoveryDlg::stop);
    connect(saveAllButton, &QPushButton::clicked, this, &CAutodiscoveryDlg::saveAll);
    connect(m_saveNodes, &QPushButton::clicked, this, &CAutodiscoveryDlg::saveNodes);
    connect(m_saveWorkgroups, &QPushButton::clicked, this, &CAutodiscoveryDlg::saveWorkgroups);
    connect(m_saveSubnets, &QPushButton::clicked, this, &CAutodiscoveryDlg::saveSubnets);
    connect(m_dnsButton, &QPushButton::clicked, this, &CAutodiscoveryDlg::dnsLookup);
    connect(m_netbiosBox, &QCheckBox::clicked, this, &CAutodiscoveryDlg::selectNetbios);
    connect(m_ipBox, &QCheckBox::clicked, this, &CAutodiscoveryDlg::selectIp);
    connect(m_warnVirus, &QCheckBox::clicked, this, [this] {
        if (m_mode != DiscoveryMode::NetBios)
            m_warnVirus->setChecked(false);
    });
    connect(m_warnRouter, &QCheckBox::clicked, this, [this] {
        if (m_mode != DiscoveryMode::Ip)
            m_warnRouter->setChecked(false);
    });

    // The session opens Ethernet sources only.
    m_session.setHandler([](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        DiscoveryStore::instance().handleFrame(bytes, h.caplen, h.ts.tv_sec);
    });
    startButton->setFocus();
}

CAutodiscoveryDlg::~CAutodiscoveryDlg() {
    endCapture();
}

void CAutodiscoveryDlg::setDefaultGroupEditorRunner(GroupEditorRunner runner) {
    defaultGroupEditor() = std::move(runner);
}

void CAutodiscoveryDlg::addNodes(const QList<DiscoveredNode>& nodes) {
    if (nodes.isEmpty())
        return;
    QList<QStringList> texts;
    texts.reserve(nodes.size());
    DiscoveredNodeTexts made;
    for (const DiscoveredNode& n : nodes)
        texts.append(made.texts(n));
    ReportListModel* model = m_nodes->reportModel();
    const int first = model->rowCount();
    model->addRows(texts);
    m_shown.reserve(m_shown.size() + static_cast<std::size_t>(nodes.size()));
    for (int i = 0; i < nodes.size(); ++i)
        m_shown.push_back({QPersistentModelIndex(model->index(first + i, 0)), nodes[i]});
}

void CAutodiscoveryDlg::setNodes(const QList<DiscoveredNode>& nodes) {
    m_nodes->deleteAll();
    m_shown.clear();
    addNodes(nodes);
    // As a new listing of the list would be: in the sort the title shows.
    ReportListModel* model = m_nodes->reportModel();
    if (model->sortColumn() >= 0)
        model->sortBy(model->sortColumn(), model->ascending());
}

QList<DiscoveredNode> CAutodiscoveryDlg::nodes() const {
    QList<DiscoveredNode> out(m_nodes->rowCount());
    for (const ShownNode& s : m_shown)
        if (s.at.isValid() && s.at.row() < out.size())
            out[s.at.row()] = s.node;
    return out;
}

const DiscoveredNode* CAutodiscoveryDlg::nodeAt(int row) const {
    if (row < 0)
        return nullptr;
    // Unsorted, row i holds the i-th node added.
    const auto i = static_cast<std::size_t>(row);
    if (i < m_shown.size() && m_shown[i].at.row() == row)
        return &m_shown[i].node;
    for (const ShownNode& s : m_shown)
        if (s.at.isValid() && s.at.row() == row)
            return &s.node;
    return nullptr;
}

DiscoveredNode* CAutodiscoveryDlg::nodeAt(int row) {
    return const_cast<DiscoveredNode*>(std::as_const(*this).nodeAt(row));
}

QPushButton* CAutodiscoveryDlg::button(const QString& text) const {
    for (QPushButton* b : m_buttons)
        if (b->text() == text)
            return b;
    return nullptr;
}

QStringList CAutodiscoveryDlg::logLines() const {
    QStringList lines;
    for (int i = 0; i < m_log->count(); ++i)
        lines << m_log->item(i)->text();
    return lines;
}

QStringList CAutodiscoveryDlg::activity() const {
    QStringList lines;
    for (const QLabel* l : m_activity)
        lines << l->text();
    return lines;
}

void CAutodiscoveryDlg::appendLog(const QString& line) {
    m_log->addItem(line);
    m_log->scrollToBottom();
}

void CAutodiscoveryDlg::appendLog(const QStringList& lines) {
    m_log->addItems(lines);
    m_log->scrollToBottom();
}

void CAutodiscoveryDlg::setActivity(int line, const QString& text) {
    m_activity[static_cast<std::size_t>(line)]->setText(text);
}

void CAutodiscoveryDlg::showLists(bool nodes, bool groups) {
    m_nodes->setVisible(nodes);
    m_saveNodes->setVisible(nodes);
    for (QWidget* w :
         {static_cast<QWidget*>(m_workgroups), static_cast<QWidget*>(m_subnets),
          static_cast<QWidget*>(m_saveWorkgroups), static_cast<QWidget*>(m_saveSubnets)})
        w->setVisible(groups);
}

void CAutodiscoveryDlg::selectNetbios() {
    if (m_running) {
        MessageService::message(kStillRunning, {}, MessageService::Icon::Warning);
    } else {
        m_mode = DiscoveryMode::NetBios;
        m_warnRouter->setChecked(false);
    }
    m_netbiosBox->setChecked(m_mode == DiscoveryMode::NetBios);
    m_ipBox->setChecked(m_mode == DiscoveryMode::Ip);
}

void CAutodiscoveryDlg::selectIp() {
    if (m_running) {
        MessageService::message(kStillRunning, {}, MessageService::Icon::Warning);
        m_netbiosBox->setChecked(m_mode == DiscoveryMode::NetBios);
        m_ipBox->setChecked(m_mode == DiscoveryMode::Ip);
        return;
    }
    m_mode = DiscoveryMode::Ip;
    m_ipBox->setChecked(true);
    m_netbiosBox->setChecked(false);
    m_warnVirus->setChecked(false);
    // IP listening keeps only the ends inside known local ranges.
    QStringList ranges;
    AddressDatabase db(m_fileName);
    const bool read = openAddressBook(db) && readLocalRanges(db, ranges);
    db.close();
    if (read && !ranges.isEmpty())
        return;
    MessageService::message(
        QStringLiteral("Please enter local IP range \n\tor \nRun Netbios Autodiscovery"),
        QStringLiteral("Local Range Unknown"), MessageService::Icon::Warning);
    m_mode = DiscoveryMode::NetBios;
    m_netbiosBox->setChecked(true);
    m_ipBox->setChecked(false);
    if (m_runGroupEditor)
        m_runGroupEditor(this, m_fileName);
}

bool CAutodiscoveryDlg::openCapture() {
    DiscoveryStore::instance().setMode(m_mode);
    m_session.setFilter(discoveryFilter(m_mode));
    const CaptureStartResult r = m_session.start();
    if (!r.ok()) {
        // An adapter that cannot be opened was told already.
        if (r.status != CaptureStatus::OpenFailed)
            MessageService::message(r.error, QStringLiteral("Error"), MessageService::Icon::Error);
        m_session.stop();
        return false;
    }
    m_timer.start();
    m_running = true;
    return true;
}

void CAutodiscoveryDlg::endCapture() {
    if (m_running)
        m_session.stop();
    m_running = false;
}

void CAutodiscoveryDlg::start() {
    // A second start would empty the lists under a running capture.
    if (m_running)
        return;
    m_elapsed = 0;
    DiscoveryStore::instance().clearBuffer();
    m_nodes->deleteAll();
    m_shown.clear();
    m_workgroups->deleteAll();
    m_subnets->deleteAll();
    m_conflictWhy.clear();
    if (m_mode == DiscoveryMode::Ip) {
        // Only ends inside the local ranges become rows: the others need no room.
        QStringList ranges;
        {
            AddressDatabase db(m_fileName);
            if (db.open())
                readLocalRanges(db, ranges);
        }
        DiscoveryStore::instance().setWatchedRanges(ranges);
        const bool ok = openCapture();
        if (ok) {
            appendLog(discoveryLogLine(QStringLiteral("Start IP capture")));
            setActivity(0, QStringLiteral("Monitoring for Ip Packets"));
            setActivity(1, kIdle);
            setActivity(2, kIdle);
            setActivity(3, QStringLiteral("PRESS STOP TO VIEW RESULTS."));
        }
        showLists(false, false);
        return;
    }
    showLists(true, true);
    if (openCapture()) {
        appendLog(discoveryLogLine(QStringLiteral("Start NetBios capture")));
        setActivity(0, QStringLiteral("Monitoring for Netbios Packets"));
        for (int i = 1; i < 4; ++i)
            setActivity(i, kIdle);
    }
}

void CAutodiscoveryDlg::drainNetbios() {
    DiscoveryStore& store = DiscoveryStore::instance();
    const std::vector<NetbiosRecord> records = store.takeNetbios();
    if (records.empty())
        return;
    QList<DiscoveredNode> nodes;
    nodes.reserve(static_cast<qsizetype>(records.size()));
    for (const NetbiosRecord& r : records)
        nodes.append(netbiosNode(r));
    addNodes(nodes);
    m_workgroups->reportModel()->setRows(groupRows(store.seenWorkgroups()));
    m_subnets->reportModel()->setRows(groupRows(store.seenSubnets()));
}

void CAutodiscoveryDlg::tick() {
    ++m_elapsed;
    setActivity(1, QStringLiteral("Elapsed Time: %1 sec").arg(m_elapsed));
    if (m_mode == DiscoveryMode::NetBios) {
        drainNetbios();
        setActivity(2, QStringLiteral("Accepted NetBios Packet: %1").arg(m_nodes->rowCount()));
    } else {
        setActivity(
            2, QStringLiteral("Accepted IP Packet: %1").arg(DiscoveryStore::instance().ipFrames()));
    }
}

void CAutodiscoveryDlg::stop() {
    setActivity(0, QStringLiteral("Stopped"));
    m_timer.stop();
    if (!m_running)
        return;
    endCapture();
    appendLog(discoveryLogLine(QStringLiteral("Capture Stopped")));
    if (m_mode == DiscoveryMode::Ip) {
        showLists(true, false);
        appendLog(discoveryLogLine(QStringLiteral("Start Processing IP packets")));
        localRangeSelection();
    } else {
        // Datagrams of the last second would otherwise wait unseen until the next Start.
        drainNetbios();
        appendLog(discoveryLogLine(QStringLiteral("Start Processing NetBios packets")));
    }
    clearDuplicateRows();
    compareData();
}

void CAutodiscoveryDlg::localRangeSelection() {
    appendLog(discoveryLogLine(QStringLiteral("Selecting Local IPs from buffer")));
    QStringList ranges;
    {
        AddressDatabase db(m_fileName);
        if (openAddressBook(db))
            readLocalRanges(db, ranges);
    }
    appendLog(QStringLiteral("Local IP subnet filter list: "));
    appendLog(ranges);
    const QStringList added = DiscoveryStore::instance().unwatched(ranges);
    if (!added.isEmpty())
        appendLog(
            discoveryLogLine(QStringLiteral("Ranges added during the capture were not watched: %1")
                                 .arg(added.join(QStringLiteral(", ")))));
    const IpBuffer buffer = DiscoveryStore::instance().takeIp();
    if (buffer.droppedEnds > 0)
        appendLog(discoveryLogLine(QStringLiteral("%1 sightings were not kept: the buffer was full")
                                       .arg(buffer.droppedEnds)));
    addNodes(selectLocalNodes(buffer.ends, ranges));
}

QString CAutodiscoveryDlg::rowKey(const DiscoveredNode& node) {
    return QStringList{discoveryMacText(node.mac), nodeIpText(node), knownOr(node.name),
                       knownOr(node.workgroup), discoveryDateText(node.time)}
        .join(QLatin1Char('\t'));
}

void CAutodiscoveryDlg::clearDuplicateRows() {
    appendLog(discoveryLogLine(QStringLiteral("Clear duplicates from list")));
    QList<DiscoveredNode> rows = nodes();
    const bool ip = m_mode == DiscoveryMode::Ip;
    const bool warn = ip ? m_warnRouter->isChecked() : m_warnVirus->isChecked();
    const QList<DiscoveryConflict> conflicts = clearDuplicates(
        rows, m_mode, [this, ip, warn](const DiscoveredNode& earlier, const DiscoveredNode& later) {
            if (!warn)
                return true;
            // The box tells the cause the row's tooltip and the log give.
            const QString cause = QStringLiteral("\n") + describeConflict(earlier, later, m_mode);
            if (!ip) {
                MessageService::message(virusWarningText(earlier, later) + cause,
                                        QStringLiteral("Virus warning"),
                                        MessageService::Icon::Warning);
                return true;
            }
            return MessageService::instance().show(
                       routerQuestionText(earlier, later) + cause,
                       QStringLiteral("Router /MultiIP"), MessageService::Icon::Question,
                       MessageService::Buttons::YesNo) == MessageService::Answer::Yes;
        });
    setNodes(rows);
    for (const DiscoveryConflict& c : conflicts) {
        appendLog(QStringLiteral("   ") + c.why);
        m_conflictWhy.insert(rowKey(rows[c.later]), c.why);
    }
}

void CAutodiscoveryDlg::compareData() {
    AddressDatabase db(m_fileName);
    if (!openAddressBook(db)) {
        appendLog(discoveryLogLine(QStringLiteral("Compare with database")));
        return;
    }
    const DiscoveryMarks marks =
        compareWithDatabase(db, m_mode, nodes(), rowsOf(m_workgroups), rowsOf(m_subnets));
    applyMarks(m_nodes, CellInfo, marks.nodes);
    applyMarks(m_workgroups, 1, marks.workgroups);
    applyMarks(m_subnets, 1, marks.subnets);
    appendLog(marks.log);
}

bool CAutodiscoveryDlg::refuseDuringCapture(const char* caption) {
    if (!m_running)
        return false;
    MessageService::message(kStillRunning, QString::fromLatin1(caption),
                            MessageService::Icon::Warning);
    return true;
}

void CAutodiscoveryDlg::saveNodes() {
    if (refuseDuringCapture("Save Selected Node"))
        return;
    AddressDatabase db(m_fileName);
    if (openAddressBook(db)) {
        QStringList lines;
        const QList<DiscoveredNode> rows = nodes();
        if (saveDiscoveredNodes(db, rows, rowsToSave(m_nodes->selectedRowNumbers(), rows.size()),
                                lines)) {
            appendLog(lines);
        } else {
            appendLog(discoveryLogLine(
                QStringLiteral("Saving nodes failed, nothing was saved: %1").arg(db.lastError())));
            MessageService::message(
                QStringLiteral("The nodes could not be saved in the address book; nothing was "
                               "saved:\n%1")
                    .arg(db.lastError()),
                {}, MessageService::Icon::Warning);
        }
    }
    db.close();
    compareData();
}

void CAutodiscoveryDlg::saveGroups(GroupTable table, const char* caption, CReportList* list) {
    if (refuseDuringCapture(caption))
        return;
    AddressDatabase db(m_fileName);
    if (openAddressBook(db)) {
        const QList<QStringList> rows = rowsOf(list);
        if (!saveDiscoveredGroups(db, table, rows,
                                  rowsToSave(list->selectedRowNumbers(), rows.size())))
            reportWriteFailure(db);
    }
    db.close();
    compareData();
}

void CAutodiscoveryDlg::saveWorkgroups() {
    saveGroups(GroupTable::Workgroup, "Save Selected Workgroup", m_workgroups);
}

void CAutodiscoveryDlg::saveSubnets() {
    saveGroups(GroupTable::Subnet, "Save Selected Subnet", m_subnets);
}

void CAutodiscoveryDlg::saveAll() {
    saveNodes();
    saveWorkgroups();
    saveSubnets();
}

void CAutodiscoveryDlg::dnsLookup() {
    MessageService::message(
        QStringLiteral("Note: This will cause qarsilo to send out queries\nit will not be passive "
                       "any more\n\nPlease wait for some time for the results to appear\n"),
        QStringLiteral("Note"), MessageService::Icon::Warning);
    appendLog(discoveryLogLine(QStringLiteral("Sending Out DNS Queries")));
    QStringList addresses;
    for (const DiscoveredNode& n : nodes())
        addresses << nodeIpText(n);
    // One run at a time keeps the answers in row order.
    m_dnsButton->setEnabled(false);
    startReverseLookups(
        addresses, this,
        [this](int row, const QString& address, const std::optional<QString>& name) {
            if (!name) {
                appendLog(address + QStringLiteral(" -> no reply"));
                return;
            }
            appendLog(address + QStringLiteral(" -> ") + *name);
            // The list may have been emptied by a Start meanwhile.
            DiscoveredNode* node = nodeAt(row);
            if (node && nodeIpText(*node) == address) {
                node->domainName = *name;
                m_nodes->setCell(row, CellDomainName, *name);
            }
        },
        [this] {
            m_dnsButton->setEnabled(true);
            Q_EMIT lookupsFinished();
        });
}

QString CAutodiscoveryDlg::nodeToolTip(int row, int column) const {
    const DiscoveredNode* node = nodeAt(row);
    if (!node)
        return {};
    if (column == CellMac)
        return OuiTable::system().describe(discoveryMacText(node->mac));
    if ((column == CellType || column == CellIp || column == CellName || column == CellWorkgroup) &&
        node->mark != NodeMark::None)
        return m_conflictWhy.value(rowKey(*node));
    return {};
}

bool CAutodiscoveryDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_nodes->viewport() && event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = m_nodes->indexAt(help->pos());
        const QString tip = index.isValid() ? nodeToolTip(index.row(), index.column()) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, m_nodes->viewport());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CAutodiscoveryDlg::done(int result) {
    // What was found stays in the buffer and the seen lists.
    endCapture();
    m_timer.stop();
    for (CReportList* list : {m_nodes, m_workgroups, m_subnets}) {
        // Kept without the stretch: the last column's own width, not the room
        // this window happened to give it.
        QHeaderView* header = list->horizontalHeader();
        header->setStretchLastSection(false);
        list->saveWidths();
        header->setStretchLastSection(true);
    }
    QDialog::done(result);
}

int runAutodiscovery(QWidget* parent) {
    CAutodiscoveryDlg dlg(parent);
    return dlg.exec();
}
