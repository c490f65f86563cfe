#pragma once

#include "core/stats/chart_wnd.h"
#include "core/stats/distribution_counters.h"
#include "core/stats/distribution_tables.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <array>
#include <optional>
#include <string>

namespace qarsilo {

/// The size of a chart window's client area in the program's 1024 x 768
/// frame; qarsilo-cli draws its pictures at this size.
inline constexpr QSize kChartViewSize{1024, 686};

/// The core of one chart window: its counters, fed by the capture threads,
/// and its bar and pie charts, rebuilt by the once-a-second tick. Everything
/// but the counters belongs to the interface thread.
class DistributionChart {
public:
    using Bytes = DistributionCounters::Bytes;

    explicit DistributionChart(ChartKind kind);

    ChartKind kind() const { return m_info->kind; }
    const ChartKindInfo& info() const { return *m_info; }
    int categoryCount() const { return static_cast<int>(m_info->categories.size()); }

    /// Capture threads: adds the frame's share to the counters.
    void countFrame(int slot, const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept {
        m_counters.add(slot, chartFrameShare(m_info->kind, slot, header, bytes));
    }
    DistributionCounters& counters() { return m_counters; }

    /// CChartWnd::kBarChart (the initial one) or kPieChart: the chart the
    /// next tick rebuilds and paint shows.
    int activeType() const { return m_activeType; }
    /// The chart type drawn from now on; the new type shows the last figures
    /// at once (a file read to its end brings no new ones).
    void setActiveType(int type);
    const CChartWnd& barChart() const { return m_bar; }
    const CChartWnd& pieChart() const { return m_pie; }
    const CChartWnd& activeChart() const {
        return m_activeType == CChartWnd::kPieChart ? m_pie : m_bar;
    }

    /// The tick: takes what the capture threads counted and shows it.
    bool tick(bool cumulative) { return show(m_counters.take(), cumulative); }
    /// Adds `bytes` to what is kept and, when anything is kept, rebuilds the
    /// active chart from it; the counts are then dropped unless `cumulative`.
    /// Returns false, the picture unchanged, when there is nothing to show.
    bool show(const Bytes& bytes, bool cumulative) { return update(bytes, cumulative, true); }
    /// As show, keeping the labels up to date but not the charts: for a
    /// reader of the labels that never draws.
    bool showLabels(const Bytes& bytes, bool cumulative) {
        return update(bytes, cumulative, false);
    }

    /// A category's row name and label as the bar chart shows them; the
    /// label is kept up to date whichever chart is active.
    QString rowName(int category) const;
    QString rowLabel(int category) const;
    /// Appends rowLabel's text in Latin-1 (nothing for no category).
    void appendRowLabel(std::string& out, int category) const;
    /// Bytes kept for a category (between ticks: only in cumulative mode).
    std::uint64_t keptBytes(int category) const;

    /// For replays of a capture file: cumulative shows everything since the
    /// file's first frame, whenever it is switched on.
    void setCountFromStart(bool on) { m_countFromStart = on; }
    /// Adds `bytes` as show does, without drawing (a second a fast replay passed over).
    void pass(const Bytes& bytes, bool cumulative);
    /// Forgets every count (a replay that starts again from the first frame).
    void forget() {
        m_kept = {};
        m_sinceStart = {};
        m_lastPercent.reset();
    }

    /// The active chart drawn at `size`.
    QImage render(QSize size = kChartViewSize) const { return activeChart().render(size); }

private:
    bool update(const Bytes& bytes, bool cumulative, bool rebuild);
    void rebuildBar(const std::array<double, kMaxChartCategories>& percent);
    void rebuildPie(const std::array<double, kMaxChartCategories>& percent);

    const ChartKindInfo* m_info;
    DistributionCounters m_counters;
    Bytes m_kept{};
    Bytes m_sinceStart{};
    bool m_countFromStart = false;
    /// The bytes and share each row's label shows; the texts are made when read.
    struct LabelFigures {
        double bytes = 0;
        double percent = 0;
    };
    std::array<LabelFigures, kMaxChartCategories> m_labels{};
    /// The shares of the last picture, to draw it again in the other type.
    std::optional<std::array<double, kMaxChartCategories>> m_lastPercent;
    int m_activeType = CChartWnd::kBarChart;
    CChartWnd m_bar{CChartWnd::kBarChart};
    CChartWnd m_pie{CChartWnd::kPieChart};
};

} // namespace qarsilo
