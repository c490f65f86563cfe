#include "gui/stats/general_info_view.h"

#include "gui/widgets/report_list.h"
#include "gui/widgets/row_list_view.h"

#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "core/capture/link_speed.h"
#include "gui/stats/figure_labels.h"
#include "gui/stats/rolling_graph.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>

using namespace qarsilo;

namespace {

struct RowText {
    const char* label;
    const char* unit;
};

// Label and unit of each field, in Field order.
constexpr RowText kRows[] = {
    {"Current Utilization     :", "%"},           {"Average Utilization   :", "%"},
    {"Peak Utilization        :", "%"},           {"Peak Time               :", nullptr},
    {"Current PPS             :", "Packets/sec"}, {"Average PPS           :", "Packets/sec"},
    {"Peak PPS                :", "Packets/sec"}, {"Peak Time               :", nullptr},
    {"Current BPS             :", "Bits/sec"},    {"Average BPS           :", "Bits/sec"},
    {"Peak BPS                :", "Bits/sec"},    {"Peak Time               :", nullptr},
};

struct GroupText {
    const char* title;
    const char* caption;
    const char* scale;
    const char* foot;
};

// The three groups, in Graph order.
constexpr GroupText kGroups[] = {
    {"Network Utilization", "Percentage", "", "   0 %"},
    {"Packet Per Second", "Packets", "", "0"},
    {"Bits Per Second", "Bits", "0M", "0"},
};

QLabel* label(const QString& text, QWidget* parent) {
    return new QLabel(text, parent);
}

} // namespace

CGeneralInfoView::CGeneralInfoView(QWidget* parent)
    : CCaptureView(view::GeneralInfo, StartStop::Toggle, {}, parent)
    , m_stats(linkSpeedBps(app::selectedAdapter()))
    , m_model(m_stats)
    , m_session(CaptureWindow::GeneralInfoView) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);
    buildLayout();
    m_session.setHandler([this](const pcap_pkthdr& header, const std::uint8_t* bytes) {
        m_stats.countFrame(header, bytes);
    });
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CGeneralInfoView::tick);
}

CGeneralInfoView::~CGeneralInfoView() {
    m_timer.stop();
    m_session.stop();
}

void CGeneralInfoView::buildLayout() {
    QWidget* page = addScrolledPage(this);
    auto* top = new QHBoxLayout;
    for (int g = 0; g < GraphCount; ++g) {
        const GroupText& t = kGroups[g];
        auto* box = new QGroupBox(QString::fromLatin1(t.title), page);
        auto* grid = new QGridLayout;
        grid->setHorizontalSpacing(4);
        for (int r = 0; r < 4; ++r) {
            const int f = g * 4 + r;
            const RowText& row = kRows[f];
            grid->addWidget(new CFigureNameLabel(QString::fromLatin1(row.label), box), r, 0);
            // Figures keep room for ten digits; a peak time takes what its text needs.
            auto* value =
                new CFigureLabel(row.unit ? QStringLiteral("0000000000") : QString(), box);
            m_fields[static_cast<std::size_t>(f)] = value;
            if (row.unit) {
                grid->addWidget(value, r, 1);
                grid->addWidget(label(QString::fromLatin1(row.unit), box), r, 2);
                if (g == UtilizationGraph) {
                    grid->addWidget(label(QStringLiteral("of"), box), r, 3);
                    auto* link = label(QString(), box);
                    m_linkLabels << link;
                    grid->addWidget(link, r, 4);
                }
            } else {
                grid->addWidget(value, r, 1, 1, 4);
            }
        }
        grid->setColumnStretch(5, 1);
        auto* panel = new CGraphPanel(QString::fromLatin1(t.caption), QString::fromLatin1(t.scale),
                                      QString::fromLatin1(t.foot), box,
                                      g == UtilizationGraph ? QStringLiteral("%") : QString());
        m_graphs[static_cast<std::size_t>(g)] = panel;
        auto* inner = new QVBoxLayout(box);
        inner->addLayout(grid);
        inner->addWidget(panel, 1);
        top->addWidget(box, 1);
    }

    auto* usersBox = new QGroupBox(QStringLiteral("Top Users"), page);
    // One height for every row and nothing kept per row: a second of a
    // million frames costs the list nothing to take in.
    m_list = new RowListView(usersBox);
    m_list->setModel(&m_model);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setHighlightSections(false);
    fitListToFont();
    m_list->viewport()->installEventFilter(this);
    m_list->installEventFilter(this);
    auto* usersLayout = new QVBoxLayout(usersBox);
    usersLayout->addWidget(m_list);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(top, 3);
    layout->addWidget(usersBox, 2);
}

void CGeneralInfoView::fitListToFont() {
    m_list->setRowHeight(m_list->fontMetrics().height() + 4);
    // The declared widths, widened where this font needs more for the longest text.
    const char* longest[] = {"0000000", "255.255.255.255", "255.255.255.255", "00:00:00:00:00:00",
                             "00:00:00:00:00:00"};
    for (int c = 0; c < TopUserColumn::Count; ++c)
        m_list->setColumnWidth(
            c, qMax(kTopUserWidths[c],
                    m_list->fontMetrics().horizontalAdvance(QLatin1String(longest[c])) + 24));
}

void CGeneralInfoView::changeEvent(QEvent* event) {
    CCaptureView::changeEvent(event);
    if (event->type() == QEvent::FontChange && m_list)
        fitListToFont();
}

void CGeneralInfoView::onInitialUpdate() {
    const QString link = linkSpeedText(m_stats.linkSpeed());
    if (host())
        host()->setLinkSpeedText(link);
    if (host())
        host()->setCaptureFilters({m_session.filterText()});
    for (QLabel* l : m_linkLabels)
        l->setText(link);
    start();
    if (m_fileReplay && host())
        host()->setViewStatusText(replayStatusText());
    m_timer.start();
}

bool CGeneralInfoView::start() {
    m_stopped = false;
    // A capture file is read again from its start: its seconds count afresh.
    m_fileReplay = isCaptureFileAdapter(app::selectedAdapter());
    m_stats.setFileTime(m_fileReplay);
    m_stats.setStopped(false);
    if (!m_session.start().ok()) {
        // The session has told the operator why.
        m_stopped = true;
        m_stats.setStopped(true);
    }
    setButtons();
    return !m_stopped;
}

void CGeneralInfoView::stop() {
    m_stopped = true;
    m_stats.setStopped(true);
    m_session.stop();
    m_model.beginUpdate();
    m_stats.showPendingRows();
    m_model.endUpdate();
    setButtons();
}

void CGeneralInfoView::tick() {
    if (m_stopped)
        return;
    m_model.beginUpdate();
    m_stats.tick(QDateTime::currentSecsSinceEpoch());
    m_model.endUpdate();
    showFigures();
    if (m_fileReplay && host())
        host()->setViewStatusText(replayStatusText());
}

QString CGeneralInfoView::replayStatusText() const {
    // The window reads the file at its own pace.
    const QString speed = QStringLiteral("real time");
    qint64 first = 0;
    qint64 second = 0;
    if (!m_stats.fileSeconds(first, second))
        return QStringLiteral("Replaying the file (%1)").arg(speed);
    return fileSecondText(second, first, speed, m_session.loopEnd() != LoopEnd::Running);
}

void CGeneralInfoView::showFigures() {
    const GeneralStats& s = m_stats;
    const QString texts[FieldCount] = {
        utilizationText(s.currentUtilization()),
        utilizationText(s.averageUtilization()),
        utilizationText(s.peakUtilization()),
        peakTimeText(s.peakBitsTime()),
        countText(s.currentPackets()),
        averageText(s.averagePackets()),
        countText(s.peakPackets()),
        peakTimeText(s.peakPacketsTime()),
        countText(s.currentBits()),
        averageText(s.averageBits()),
        countText(s.peakBits()),
        peakTimeText(s.peakBitsTime()),
    };
    for (int f = 0; f < FieldCount; ++f)
        m_fields[static_cast<std::size_t>(f)]->setText(texts[f]);

    const GraphTrack& bits = s.bitsGraph();
    const GraphTrack& packets = s.packetsGraph();
    const GraphTrack& utilization = s.utilizationGraph();
    m_graphs[BitsGraph]->setScaleText(engineeringText(bits.scale()));
    m_graphs[BitsGraph]->graph()->showTrack(bits);
    m_graphs[PacketsGraph]->setScaleText(QString::number(static_cast<qint64>(packets.scale())));
    m_graphs[PacketsGraph]->graph()->showTrack(packets);
    m_graphs[UtilizationGraph]->setScaleText(utilizationText(utilization.scale()));
    m_graphs[UtilizationGraph]->graph()->showTrack(utilization);
}

void CGeneralInfoView::listRightClicked() {
    if (!m_stopped)
        return;
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    m_menuPending = !rows.isEmpty();
    const TopUser* row = rows.isEmpty() ? nullptr : m_model.row(rows.first().row());
    m_selectedMac = row ? topUserCell(*row, TopUserColumn::SourceMac) : QString();
    SettingsStore().writeString(setting::macAddress, m_selectedMac);
}

bool CGeneralInfoView::listMenuRequested(const QPoint& globalPos) {
    if (!m_menuPending)
        return false;
    m_menuPending = false;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ListMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Capture And Decode"), this,
                    &CGeneralInfoView::captureAndDecode);
    menu->addAction(QStringLiteral("Single Node"), this, &CGeneralInfoView::singleNode);
    QAction* trace =
        menu->addAction(QStringLiteral("Trace Node"), this, &CGeneralInfoView::traceNode);
    // The trace view takes the station once the program has one.
    trace->setEnabled(host() && host()->hasView(view::TraceSingle));
    // Beside the list's own commands: the second's rows as shown, to a CSV file.
    menu->addSeparator();
    menu->addAction(QStringLiteral("Export..."), this, [this] {
        const QString path = CReportList::askExportFile(this);
        if (!path.isEmpty())
            CReportList::exportModel(*m_list->model(), path);
    });
    m_menu = menu;
    menu->popup(globalPos);
    return true;
}

void CGeneralInfoView::captureAndDecode() {
    SettingsStore().writeString(setting::filter, QStringLiteral("ether host ") + m_selectedMac);
    switchFrameTo(view::CaptureDecode);
}

void CGeneralInfoView::singleNode() {
    switchFrameTo(view::SingleNode);
}

void CGeneralInfoView::traceNode() {
    // The station is the one the trace is asked for: it starts at once, as
    // Single Node does.
    if (host() && host()->hasView(view::TraceSingle))
        host()->switchToViewAndStartLater(view::TraceSingle);
}

void CGeneralInfoView::switchFrameTo(int templateId) {
    // The switch destroys this view: it runs once the menu's signal is done.
    if (host() && host()->hasView(templateId))
        host()->switchToViewLater(templateId);
}

bool CGeneralInfoView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::RightButton) {
            // The row under the pointer is the one picked, as in other lists.
            const QModelIndex at = m_list->indexAt(e->position().toPoint());
            if (at.isValid())
                m_list->selectRow(at.row());
            listRightClicked();
            return true;
        }
    }
    if ((watched == m_list->viewport() || watched == m_list) &&
        event->type() == QEvent::ContextMenu) {
        auto* e = static_cast<QContextMenuEvent*>(event);
        // The menu key picks the selected row as a right-click does.
        if (e->reason() == QContextMenuEvent::Keyboard)
            listRightClicked();
        listMenuRequested(e->globalPos());
        return true;
    }
    return CView::eventFilter(watched, event);
}
