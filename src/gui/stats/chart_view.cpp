#include "gui/stats/chart_view.h"

#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "core/capture/link_speed.h"
#include "core/stats/general_stats.h"

#include <QDateTime>
#include <QPaintEvent>
#include <QPainter>

#include <limits>

using namespace qarsilo;

namespace {
// Faster replays show each second as soon as every capture has read it.
constexpr int kSecondTickMs = 50;
constexpr int kTickMs = 1000;
} // namespace

CChartView::CChartView(ChartKind kind, QWidget* parent)
    : CView(chartKindInfo(kind).viewId, parent)
    , m_chart(kind) {
    const CaptureWindow window = m_chart.info().window;
    m_sessionCount = captureWindowParams(window).sessions;
    for (int slot = 0; slot < m_sessionCount; ++slot) {
        auto session = std::make_unique<CaptureSession>(window, slot);
        session->setHandler(
            [this, slot, kind](const pcap_pkthdr& header, const std::uint8_t* bytes) {
                const long long second = header.ts.tv_sec;
                if (m_bySecond)
                    m_seconds.add(slot, second, chartFrameShare(kind, slot, header, bytes));
                else
                    m_chart.countFrame(slot, header, bytes);
                m_stamps[static_cast<std::size_t>(slot)].frame(second);
            });
        session->setEndHandler([this, slot](LoopEnd) {
            if (m_bySecond)
                m_seconds.finish(slot);
        });
        m_sessions[static_cast<std::size_t>(slot)] = std::move(session);
    }
    m_linkSpeed = linkSpeedBps(app::selectedAdapter());
    // A new window starts in the chart the operator chose last.
    if (storedChartType() == 1)
        m_chart.setActiveType(CChartWnd::kPieChart);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &CChartView::tick);
}

CChartView::~CChartView() {
    m_timer.stop();
    stopCaptures();
}

void CChartView::stopCaptures() {
    m_seconds.cancel(); // a capture waiting for the tick must not hold up Stop
    for (int slot = 0; slot < m_sessionCount; ++slot)
        m_sessions[static_cast<std::size_t>(slot)]->stop();
}

bool CChartView::startCaptures() {
    m_fileReplay = isCaptureFileAdapter(app::selectedAdapter());
    m_replaySpeed = storedReplaySpeed();
    m_bySecond = m_fileReplay && m_replaySpeed != 0;
    m_seconds.reset(m_sessionCount);
    for (FileStamps& stamps : m_stamps)
        stamps.reset();
    m_haveSecond = false;
    m_replayEnded = false;
    m_chart.setCountFromStart(m_fileReplay);
    m_timer.setInterval(m_bySecond ? kSecondTickMs : kTickMs);
    for (int slot = 0; slot < m_sessionCount; ++slot) {
        CaptureSession& session = *m_sessions[static_cast<std::size_t>(slot)];
        if (m_replaySpeed == 2 && m_fileReplay)
            session.setFileReplay(FileReplay::AsFastAsPossible);
        else
            session.setFileReplay(FileReplay::Paced,
                                  m_replaySpeed == 1 && m_fileReplay ? 10.0 : 1.0);
    }
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

void CChartView::onInitialUpdate() {
    if (!startCaptures())
        return; // the session has reported why; the window stays blank
    if (ViewHost* frame = host()) {
        frame->setLinkSpeedText(linkSpeedText(m_linkSpeed));
        frame->setCaptureFilters(
            {session(0).filterText(), m_sessionCount > 1 ? session(1).filterText() : QString()});
        frame->setViewButtons(
            {{cmd::BarGraph, viewimage::BarGraph}, {cmd::PieChart, viewimage::PieChart}});
    }
    m_timer.start();
    m_ready = true;
    if (m_fileReplay)
        showReplayStatus();
    // The chart covers the whole window: nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    update();
}

bool CChartView::onCommand(int command) {
    switch (command) {
    case cmd::BarGraph:
    case cmd::PieChart:
        // Drawn at once in the chosen form, whether or not figures still come.
        m_chart.setActiveType(command == cmd::PieChart ? CChartWnd::kPieChart
                                                       : CChartWnd::kBarChart);
        SettingsStore().writeNumber(setting::chartType, command == cmd::PieChart ? 1 : 0);
        m_pictureStale = true;
        update();
        return true;
    case cmd::ReplayRealTime:
    case cmd::ReplayTenTimes:
    case cmd::ReplayFastest:
        // A new speed replays the file again from its first frame.
        if (!m_ready || !m_fileReplay)
            return false;
        m_timer.stop();
        stopCaptures();
        m_chart.forget();
        if (!startCaptures()) {
            m_ready = false;
            update();
            return true;
        }
        m_timer.start();
        showReplayStatus();
        return true;
    default:
        return false;
    }
}

bool CChartView::isCommandEnabled(int command) const {
    return m_ready && (command == cmd::BarGraph || command == cmd::PieChart);
}

void CChartView::tick() {
    const bool cumulative = app::cumulative();
    if (m_bySecond) {
        tickBySecond(cumulative);
    } else if (m_chart.tick(cumulative)) {
        m_pictureStale = true;
        update();
    }
    if (m_fileReplay)
        showReplayStatus();
}

void CChartView::tickBySecond(bool cumulative) {
    const std::vector<FileSeconds::Second> seconds = m_seconds.take();
    bool changed = false;
    if (!seconds.empty()) {
        for (std::size_t i = 0; i + 1 < seconds.size(); ++i)
            m_chart.pass(seconds[i].bytes, cumulative);
        changed = m_chart.show(seconds.back().bytes, cumulative);
        if (!m_haveSecond)
            m_firstSecond = seconds.front().second;
        m_haveSecond = true;
        m_shownSecond = seconds.back().second;
    } else if (m_replayEnded) {
        // The file is read: ticks go on once a second as on an adapter, so
        // switching Cumulative still shows the whole file or the last second.
        changed = m_chart.show({}, cumulative);
    }
    if (!m_replayEnded && m_seconds.done()) {
        m_replayEnded = true;
        m_timer.setInterval(kTickMs);
    }
    if (changed) {
        m_pictureStale = true;
        update();
    }
}

bool CChartView::shownSecond(long long& second) const {
    if (m_bySecond) {
        second = m_shownSecond;
        return m_haveSecond;
    }
    bool any = false;
    for (int slot = 0; slot < m_sessionCount; ++slot) {
        const FileStamps& stamps = m_stamps[static_cast<std::size_t>(slot)];
        if (stamps.started()) {
            second = any ? std::max<long long>(second, stamps.newest()) : stamps.newest();
            any = true;
        }
    }
    return any;
}

QString CChartView::replayStatusText() const {
    static const char* const kSpeeds[] = {"real time", "10x", "as fast as possible"};
    const QString speed = QLatin1String(kSpeeds[std::min<quint32>(m_replaySpeed, 2)]);
    long long second = 0;
    if (!shownSecond(second))
        return QStringLiteral("Replaying the file (%1)").arg(speed);
    long long first = m_firstSecond;
    if (!m_bySecond) {
        first = std::numeric_limits<long long>::max();
        for (int slot = 0; slot < m_sessionCount; ++slot) {
            const FileStamps& stamps = m_stamps[static_cast<std::size_t>(slot)];
            if (stamps.started())
                first = std::min<long long>(first, stamps.first());
        }
    }
    bool ended = m_replayEnded;
    if (!m_bySecond) {
        ended = true;
        for (int slot = 0; slot < m_sessionCount; ++slot)
            ended =
                ended && m_sessions[static_cast<std::size_t>(slot)]->loopEnd() != LoopEnd::Running;
    }
    return fileSecondText(second, first, speed, ended);
}

void CChartView::showReplayStatus() {
    if (host())
        host()->setViewStatusText(replayStatusText());
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
