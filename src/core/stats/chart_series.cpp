#include "core/stats/chart_series.h"

std::int32_t ChartSeries::value(int category) const {
    for (const auto& [c, v] : m_points)
        if (c == category)
            return v;
    return 0;
}

QString ChartSeries::pointLabel(int category) const {
    for (const auto& [c, text] : m_pointLabels)
        if (c == category)
            return text;
    return {};
}
