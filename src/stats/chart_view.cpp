#include "stats/chart_view.h"

#include "capture/link_speed.h"
#include "shell/app_state.h"
#include "shell/commands.h"
#include "shell/main_frame.h"

#include <QPaintEvent>
#include <QPainter>

using namespace qarsilo;

CChartView::CChartView(ChartKind kind, QWidget* parent)
    : CView(chartKindInfo(kind).viewId, parent)
    , m_chart(kind) {
    const CaptureWindow window = m_chart.info().window;
    m_sessionCount = captureWindowParams(window).sessions;
    for (int slot = 0; slot < m_sessionCount; ++slot) {
        auto session = std::make_unique<CaptureSession>(window, slot);
        session->setHandler([this, slot](const pcap_pkthdr& header, const std::uint8_t* bytes) {
            m_chart.countFrame(slot, header, bytes);
        });
        m_sessions[static_cast<std::size_t>(slot)] = std::move(session);
    }
    m_linkSpeed = linkSpeedBps(app::selectedAdapter());
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CChartView::tick);
}

CChartView::~CChartView() {
    m_timer.stop();
    stopCaptures();
}

void CChartView::stopCaptures() {
    for (int slot = 0; slot < m_sessionCount; ++slot)
        m_sessions[static_cast<std::size_t>(slot)]->stop();
}

bool CChartView::startCaptures() {
    // Every capture is set up before the window counts on any of them; one
    // that fails leaves none running.
    for (int slot = 0; slot < m_sessionCount; ++slot) {
        if (!m_sessions[static_cast<std::size_t>(slot)]->start().ok()) {
            stopCaptures();
            return false;
        }
    }
    return true;
}

void CChartView::onInitialUpdate(CMainFrame* frame) {
    if (!startCaptures())
        return; // the session has reported why; the window stays blank
    if (frame) {
        frame->setLinkSpeedText(linkSpeedText(m_linkSpeed));
        frame->setViewButtons(
            {{cmd::BarGraph, viewimage::BarGraph}, {cmd::PieChart, viewimage::PieChart}});
    }
    m_timer.start();
    m_ready = true;
    // The chart covers the whole window: nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    update();
}

bool CChartView::onCommand(int command) {
    switch (command) {
    case cmd::BarGraph:
        m_chart.setActiveType(CChartWnd::kBarChart);
        return true;
    case cmd::PieChart:
        m_chart.setActiveType(CChartWnd::kPieChart);
        return true;
    default:
        return false;
    }
}

bool CChartView::isCommandEnabled(int command) const {
    return m_ready && (command == cmd::BarGraph || command == cmd::PieChart);
}

void CChartView::tick() {
    if (m_chart.tick(app::cumulative())) {
        m_pictureStale = true;
        update();
    }
}

QImage CChartView::picture() {
    if (!m_ready)
        return {};
    if (m_pictureStale || m_picture.size() != size() || m_pictureType != m_chart.activeType()) {
        m_picture = m_chart.render(size());
        m_pictureType = m_chart.activeType();
        m_pictureStale = false;
    }
    return m_picture;
}

void CChartView::paintEvent(QPaintEvent*) {
    if (!m_ready)
        return;
    const QImage image = picture();
    if (image.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}
