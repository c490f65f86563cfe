#include "core/stats/distribution_chart.h"

namespace qarsilo {

namespace {

QColor colourOf(const ChartCategory& c) {
    return QColor(c.red, c.green, c.blue);
}

} // namespace

DistributionChart::DistributionChart(ChartKind kind)
    : m_info(&chartKindInfo(kind)) {
    const auto& categories = m_info->categories;
    const int n = categoryCount();

    m_bar.setTitle(QLatin1String(m_info->barTitle));
    m_bar.setOrientation(0);
    m_bar.setCategoryAxisTitle(QLatin1String(m_info->categoryAxisTitle));
    m_bar.setValueAxisTitle(QStringLiteral("Percentage (%)"));
    m_bar.setTickFontHeight(16);
    m_bar.setCategoryFontHeight(16);
    m_bar.setDepthRatio(0.05);
    m_bar.setGrid(true);
    m_bar.setLegendFontHeight(14);
    m_bar.setColourBySeries(true);

    m_pie.setTitle(QLatin1String(m_info->pieTitle));
    m_pie.setDepthRatio(0.05);
    m_pie.setGrid(false);
    m_pie.setLegendFontHeight(16);
    m_pie.setColourBySeries(false);
    m_pie.setPieCategoryLabels(true);

    for (CChartWnd* chart : {&m_bar, &m_pie}) {
        for (int i = 0; i < n; ++i) {
            const ChartCategory& c = categories[static_cast<std::size_t>(i)];
            chart->addColour(i, colourOf(c));
            chart->setCategoryLabel(i, QLatin1String(c.longName));
        }
        chart->setValueRange(0, 100, 10);
    }
    const std::array<double, kMaxChartCategories> none{};
    rebuildBar(none);
    rebuildPie(none);
}

void DistributionChart::pass(const Bytes& bytes, bool cumulative) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        m_sinceStart[i] += bytes[i];
    // Counting from the start needs nothing kept beside the running total.
    if (cumulative && !m_countFromStart)
        for (std::size_t i = 0; i < bytes.size(); ++i)
            m_kept[i] += bytes[i];
}

bool DistributionChart::update(const Bytes& bytes, bool cumulative, bool rebuild) {
    const int n = categoryCount();
    for (int i = 0; i < n; ++i) {
        m_kept[static_cast<std::size_t>(i)] += bytes[static_cast<std::size_t>(i)];
        m_sinceStart[static_cast<std::size_t>(i)] += bytes[static_cast<std::size_t>(i)];
    }
    const Bytes& shown = cumulative && m_countFromStart ? m_sinceStart : m_kept;
    double total = 0;
    for (int i = 0; i < n; ++i)
        total += static_cast<double>(shown[static_cast<std::size_t>(i)]);
    if (total <= 0) {
        if (!cumulative || m_countFromStart)
            m_kept = {};
        return false; // the last picture stays
    }

    std::array<double, kMaxChartCategories> percent{};
    for (int i = 0; i < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        percent[at] = 100.0 / total * static_cast<double>(shown[at]);
        m_labels[at] = {static_cast<double>(shown[at]), percent[at]};
    }
    if (rebuild && m_activeType == CChartWnd::kPieChart)
        rebuildPie(percent);
    else if (rebuild)
        rebuildBar(percent);
    m_lastPercent = percent;
    if (!cumulative || m_countFromStart)
        m_kept = {};
    return true;
}

void DistributionChart::setActiveType(int type) {
    if (type == m_activeType)
        return;
    m_activeType = type;
    if (!m_lastPercent)
        return;
    if (type == CChartWnd::kPieChart)
        rebuildPie(*m_lastPercent);
    else
        rebuildBar(*m_lastPercent);
}

void DistributionChart::rebuildBar(const std::array<double, kMaxChartCategories>& percent) {
    const int n = categoryCount();
    m_bar.clearSeries();
    for (int i = 0; i < n; ++i) {
        const ChartCategory& c = m_info->categories[static_cast<std::size_t>(i)];
        ChartSeries series;
        series.setName(QLatin1String(c.name));
        series.setColour(colourOf(c));
        for (int j = 0; j < n; ++j)
            series.addPoint(
                j, j == i ? static_cast<std::int32_t>(percent[static_cast<std::size_t>(i)]) : 0);
        series.setLabel(rowLabel(i));
        m_bar.addSeries(std::move(series));
    }
}

void DistributionChart::rebuildPie(const std::array<double, kMaxChartCategories>& percent) {
    const int n = categoryCount();
    m_pie.clearSeries();
    ChartSeries series;
    for (int i = 0; i < n; ++i) {
        const double p = percent[static_cast<std::size_t>(i)];
        series.addPoint(i, static_cast<std::int32_t>(p));
        series.addPointLabel(i, chartPointLabel(p));
    }
    m_pie.addSeries(std::move(series));
}

QString DistributionChart::rowName(int category) const {
    if (category < 0 || category >= categoryCount())
        return {};
    return QLatin1String(m_info->categories[static_cast<std::size_t>(category)].name);
}

QString DistributionChart::rowLabel(int category) const {
    if (category < 0 || category >= categoryCount())
        return {};
    const LabelFigures& l = m_labels[static_cast<std::size_t>(category)];
    return chartRowLabel(l.bytes, l.percent, m_info->units);
}

void DistributionChart::appendRowLabel(std::string& out, int category) const {
    if (category < 0 || category >= categoryCount())
        return;
    const LabelFigures& l = m_labels[static_cast<std::size_t>(category)];
    appendChartRowLabel(out, l.bytes, l.percent, m_info->units);
}

std::uint64_t DistributionChart::keptBytes(int category) const {
    if (category < 0 || category >= categoryCount())
        return 0;
    return m_kept[static_cast<std::size_t>(category)];
}

} // namespace qarsilo
