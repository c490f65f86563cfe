#pragma once

#include "core/capture/capture_session.h"
#include "core/stats/distribution_chart.h"
#include "core/stats/file_seconds.h"
#include "core/stats/tick_clock.h"
#include "gui/shell/view.h"

#include <QImage>
#include <QTimer>

#include <array>
#include <atomic>
#include <memory>

/// What the six chart windows share: one or two captures that count bytes by
/// category, a tick every second that rebuilds the bar or the pie chart, and
/// a paint that copies the chart in one step. A capture that cannot be set up
/// leaves the window blank: no charts, no tick, no buttons of its own.
///
/// On a capture file the replay runs at the speed of View > Replay Speed: in
/// real time the tick shows what arrived in the last second, as on an adapter;
/// faster, the tick shows the file's seconds as they are read, each whole.
class CChartView : public CView {
    Q_OBJECT
public:
    explicit CChartView(qarsilo::ChartKind kind, QWidget* parent = nullptr);
    /// Stops the captures in order (a thread that does not end is fatal).
    ~CChartView() override;

    /// "Bar Graph" and "Pie Chart": the next tick shows the chosen chart.
    bool onCommand(int command) override;
    bool isCommandEnabled(int command) const override;

    /// Set once every capture runs and the charts are up; paint draws nothing before.
    bool isReady() const { return m_ready; }
    bool ticking() const { return m_timer.isActive(); }
    qarsilo::DistributionChart& chart() { return m_chart; }
    const qarsilo::DistributionChart& chart() const { return m_chart; }
    int sessionCount() const { return m_sessionCount; }
    qarsilo::CaptureSession& session(int slot) {
        return *m_sessions[static_cast<std::size_t>(slot)];
    }
    qint64 linkSpeed() const { return m_linkSpeed; }
    /// The file's seconds drive the tick (a capture file replayed faster than real time).
    bool replaysBySecond() const { return m_bySecond; }
    /// A faster replay has shown the file's last second.
    bool replayEnded() const { return m_replayEnded; }
    /// The second of the capture file the chart shows; false before the first.
    bool shownSecond(long long& second) const;
    /// The text of the frame's status pane while the window replays a file.
    QString replayStatusText() const;
    /// The picture paint copies to the window (null while not ready).
    QImage picture();

public Q_SLOTS:
    /// Runs every 1000 ms: shows what the captures counted since the last tick.
    void tick();

protected:
    void onInitialUpdate() override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool startCaptures();
    void stopCaptures();
    void tickBySecond(bool cumulative);
    void showReplayStatus();

    // The chart outlives the sessions that feed it (members go in reverse order).
    qarsilo::DistributionChart m_chart;
    std::array<std::unique_ptr<qarsilo::CaptureSession>, 2> m_sessions;
    int m_sessionCount = 1;
    // Replays of a capture file. m_bySecond is set while the captures are
    // stopped; the capture threads only read it.
    bool m_fileReplay = false;
    bool m_bySecond = false;
    quint32 m_replaySpeed = 0;
    qarsilo::FileSeconds m_seconds;
    // Per capture: the first and the newest second stamped.
    std::array<qarsilo::FileStamps, 2> m_stamps;
    long long m_firstSecond = 0;
    long long m_shownSecond = 0;
    bool m_haveSecond = false;
    bool m_replayEnded = false;
    QTimer m_timer;
    bool m_ready = false;
    qint64 m_linkSpeed = 0;
    // The last picture, drawn again only after a tick changed the chart, the
    // active chart changed or the window's size did.
    QImage m_picture;
    int m_pictureType = 0;
    bool m_pictureStale = true;
};
