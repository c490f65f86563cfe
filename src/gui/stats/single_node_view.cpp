#include "gui/stats/single_node_view.h"

#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "core/capture/link_speed.h"
#include "core/stats/general_stats.h"
#include "gui/stats/figure_labels.h"
#include "gui/stats/rolling_graph.h"

#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

using namespace qarsilo;

namespace {

constexpr const char* kInfoLabels[] = {
    "Node Name     :",
    "Node IP Address     :",
    "Node MAC Address     :",
    "Last Sent To (MAC Address)    :",
    "Last Sent To (IP Address)    :",
    "Last Received From (MAC Address)    :",
    "Last Received From (IP Address)    :",
};

struct GroupText {
    const char* title;
    const char* bpsLabel;
};

// By SingleNodeStats::Direction.
constexpr GroupText kGroups[] = {
    {"Network Utilization", "Current BPS             :"},
    {"Receive Utilization", "Current Recieve BPS             :"},
    {"Send Utilization", "Current Send BPS             :"},
};

constexpr const char* kFieldLabels[] = {nullptr,
                                        "Current Utilization     :", "Average Utilization   :",
                                        "Peak Utilization        :", "Peak Time               :"};

// The MAC address settings value holds at most this many characters.
constexpr int kMaxStoredMac = 128;

} // namespace

CSingleNodeView::CSingleNodeView(QWidget* parent)
    : CCaptureView(view::SingleNode, StartStop::Toggle,
                   {{cmd::AddressBookPlus, viewimage::AddressBookPlus}}, parent)
    , m_stats(linkSpeedBps(app::selectedAdapter()), QDateTime::currentSecsSinceEpoch()) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);

    m_nodeMac = SettingsStore().string(setting::macAddress).left(kMaxStoredMac);
    for (int slot : {kToSlot, kFromSlot}) {
        auto session = std::make_unique<CaptureSession>(CaptureWindow::SingleNodeView, slot);
        if (slot == kToSlot)
            session->setHandler([this](const pcap_pkthdr& h, const std::uint8_t* b) {
                if (m_fileReplay)
                    m_stamps.frame(h.ts.tv_sec);
                m_stats.countReceived(h, b);
            });
        else
            session->setHandler([this](const pcap_pkthdr& h, const std::uint8_t* b) {
                if (m_fileReplay)
                    m_stamps.frame(h.ts.tv_sec);
                m_stats.countSent(h, b);
            });
        m_sessions[static_cast<std::size_t>(slot)] = std::move(session);
    }
    buildLayout();
    loadAddresses();
    const NodeLookup found = lookupNode(m_addresses, m_nodeMac);
    m_nodeName = found.name;
    m_nodeIp = found.ip;
    showNode();

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CSingleNodeView::tick);
}

CSingleNodeView::~CSingleNodeView() {
    m_timer.stop();
    stopCaptures(true);
    m_db.close();
}

void CSingleNodeView::buildLayout() {
    QWidget* page = addScrolledPage(this);
    auto* infoBox = new QGroupBox(QStringLiteral("Node Information"), page);
    auto* infoGrid = new QGridLayout(infoBox);
    for (int i = 0; i < InfoCount; ++i) {
        infoGrid->addWidget(new CFigureNameLabel(QString::fromLatin1(kInfoLabels[i]), infoBox), i,
                            0);
        auto* value = new QLabel(infoBox);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_info[static_cast<std::size_t>(i)] = value;
        infoGrid->addWidget(value, i, 1);
    }
    infoGrid->setColumnStretch(1, 1);
    infoGrid->setRowStretch(InfoCount, 1);

    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->addWidget(infoBox, 0, 0);
    for (int d = 0; d < 3; ++d) {
        auto* box = new QGroupBox(QString::fromLatin1(kGroups[d].title), page);
        auto* rows = new QGridLayout;
        for (int f = 0; f < FieldCount; ++f) {
            const QString text = f == Bps ? QString::fromLatin1(kGroups[d].bpsLabel)
                                          : QString::fromLatin1(kFieldLabels[f]);
            rows->addWidget(new CFigureNameLabel(text, box), f, 0);
            auto* value = new CFigureLabel(QString(), box);
            m_fields[static_cast<std::size_t>(d)][static_cast<std::size_t>(f)] = value;
            if (f == PeakTime) {
                rows->addWidget(value, f, 1, 1, 2);
            } else {
                rows->addWidget(value, f, 1);
                rows->addWidget(
                    new QLabel(f == Bps ? QStringLiteral("Bits/sec") : QStringLiteral("%"), box), f,
                    2);
            }
        }
        rows->setColumnStretch(3, 1);
        auto* panel = new CGraphPanel(QStringLiteral("Percentage"), QStringLiteral("1%"),
                                      QStringLiteral("0%"), box);
        m_graphs[static_cast<std::size_t>(d)] = panel;
        auto* inner = new QVBoxLayout(box);
        inner->addLayout(rows);
        inner->addWidget(panel, 1);
        const int at = d + 1;
        grid->addWidget(box, at / 2, at % 2);
    }
}

QLabel* CSingleNodeView::field(int direction, Field f) const {
    return m_fields[static_cast<std::size_t>(direction % 3)][static_cast<std::size_t>(f)];
}

CGraphPanel* CSingleNodeView::graph(int direction) const {
    return m_graphs[static_cast<std::size_t>(direction % 3)];
}

void CSingleNodeView::loadAddresses() {
    // The connection stays open while the view lives; a failure is told and
    // the list stays as far as it was filled.
    if (!m_db.open()) {
        MessageService::message(m_db.lastError());
        return;
    }
    if (!m_db.forEachNode([this](const NodeRecord& n) {
            m_addresses.push_back({n.mac, n.name, n.ip});
        }))
        MessageService::message(m_db.lastError());
}

void CSingleNodeView::showNode() {
    m_info[NodeName]->setText(m_nodeName);
    m_info[NodeIp]->setText(m_nodeIp);
    m_info[NodeMac]->setText(m_nodeMac);
}

QString CSingleNodeView::noNodeText(const QString& mac) {
    if (mac.trimmed().isEmpty())
        return QStringLiteral("No node is chosen.\nPick the node to watch with Address Book+.");
    return QStringLiteral("\"%1\" is not a MAC address.\nPick the node to watch with Address "
                          "Book+.")
        .arg(mac);
}

void CSingleNodeView::onInitialUpdate() {
    start();
    if (m_fileReplay && host())
        host()->setViewStatusText(replayStatusText());
    for (CGraphPanel* g : m_graphs) {
        g->graph()->setRange(kGraphRange);
        g->graph()->clear();
    }
    m_timer.start();
}

bool CSingleNodeView::startCaptures() {
    const std::optional<MacBytes> mac = parseMac(m_nodeMac);
    if (!mac) {
        MessageService::message(noNodeText(m_nodeMac), {}, MessageService::Icon::Information);
        return false;
    }
    const QString text = macText(*mac);
    // A capture file is read again from its start: its seconds count afresh.
    m_fileReplay = isCaptureFileAdapter(app::selectedAdapter());
    m_stamps.reset();
    m_haveFileSecond = false;
    session(kToSlot).setFilter(QStringLiteral("ether dst ") + text);
    session(kFromSlot).setFilter(QStringLiteral("ether src ") + text);
    if (host())
        host()->setCaptureFilters({session(kToSlot).filterText(), session(kFromSlot).filterText()},
                                  cmd::AddressBookPlus);
    // From first, then To; one that fails leaves neither running.
    for (int slot : {kFromSlot, kToSlot})
        if (!session(slot).start().ok()) {
            stopCaptures(false);
            return false;
        }
    return true;
}

void CSingleNodeView::stopCaptures(bool toFirst) {
    if (toFirst) {
        session(kToSlot).stop();
        session(kFromSlot).stop();
    } else {
        session(kFromSlot).stop();
        session(kToSlot).stop();
    }
}

bool CSingleNodeView::start() {
    if (host())
        host()->setLinkSpeedText(linkSpeedText(m_stats.linkSpeed()));
    m_running = startCaptures();
    setButtons();
    return m_running;
}

void CSingleNodeView::stop() {
    m_running = false;
    m_stats.clearGraphs();
    for (int d = 0; d < 3; ++d)
        m_graphs[static_cast<std::size_t>(d)]->graph()->showTrack(m_stats.graph(d));
    stopCaptures(false);
    setButtons();
}

bool CSingleNodeView::onViewCommand(int command) {
    if (command != cmd::AddressBookPlus)
        return false;
    pickNode();
    return true;
}

bool CSingleNodeView::isViewCommandEnabled(int command) const {
    return command == cmd::AddressBookPlus;
}

void CSingleNodeView::pickNode() {
    const PickedNode picked = m_picker ? m_picker(this) : PickedNode();
    if (picked.mac == QLatin1String("none"))
        return;
    stopCaptures(false);
    if (picked.mac != m_nodeMac) {
        // Partners and peaks were the old station's.
        m_stats.forgetNode();
        showFigures();
    }
    m_nodeMac = picked.mac;
    m_nodeIp = picked.ip;
    m_nodeName = picked.name;
    SettingsStore().writeString(setting::macAddress, m_nodeMac);
    showNode();
    m_running = startCaptures();
    setButtons();
}

void CSingleNodeView::tick() {
    if (!m_running)
        return;
    m_stats.tick(QDateTime::currentSecsSinceEpoch());
    if (m_fileReplay) {
        if (m_stamps.started()) {
            m_haveFileSecond = true;
            m_fileSecond = m_stamps.newest();
        }
        // The averages' minutes run on the timer; a new peak takes the file's second.
        for (std::size_t d = 0; d < m_seenPeak.size(); ++d) {
            const double peak = m_stats.peak(static_cast<int>(d));
            if (peak != m_seenPeak[d]) {
                m_seenPeak[d] = peak;
                m_filePeakTime[d] =
                    m_haveFileSecond ? m_fileSecond : m_stats.peakTime(static_cast<int>(d));
            }
        }
    }
    showFigures();
    if (m_fileReplay && host())
        host()->setViewStatusText(replayStatusText());
}

QString CSingleNodeView::replayStatusText() const {
    // The window reads the file at its own pace.
    const QString speed = QStringLiteral("real time");
    if (!m_haveFileSecond)
        return QStringLiteral("Replaying the file (%1)").arg(speed);
    bool ended = true;
    for (const auto& s : m_sessions)
        ended = ended && s->loopEnd() != LoopEnd::Running;
    return fileSecondText(m_fileSecond, m_stamps.first(), speed, ended);
}

void CSingleNodeView::showFigures() {
    for (int d = 0; d < 3; ++d) {
        const auto at = static_cast<std::size_t>(d);
        m_fields[at][Bps]->setText(QString::number(m_stats.bitsPerSecond(d)));
        m_fields[at][Current]->setText(nodeUtilizationText(m_stats.current(d)));
        m_fields[at][Average]->setText(nodeUtilizationText(m_stats.average(d)));
        m_fields[at][Peak]->setText(nodeUtilizationText(m_stats.peak(d)));
        const qint64 peakTime = !m_fileReplay         ? m_stats.peakTime(d)
                                : m_stats.peak(d) > 0 ? m_filePeakTime[at]
                                                      : 0;
        m_fields[at][PeakTime]->setText(peakTimeText(peakTime));
        const GraphTrack& track = m_stats.graph(d);
        m_graphs[at]->setScaleText(utilizationText(track.scale()) + QLatin1Char('%'));
        m_graphs[at]->graph()->showTrack(track);
    }
    m_info[LastSentToMac]->setText(m_stats.lastSentToMac());
    m_info[LastSentToIp]->setText(m_stats.lastSentToIp());
    m_info[LastReceivedFromMac]->setText(m_stats.lastReceivedFromMac());
    m_info[LastReceivedFromIp]->setText(m_stats.lastReceivedFromIp());
}
