#pragma once

#include <QColor>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

/// One series of a chart: a row of the bar chart or one pie. Values are
/// integers by category index; a category without a point reads as 0.
class ChartSeries {
public:
    ChartSeries() = default;

    void setName(const QString& name) { m_name = name; }
    void setLabel(const QString& label) { m_label = label; }
    void setColour(QColor colour) { m_colour = colour; }
    /// Appends; a later point of the same category is never read.
    void addPoint(int category, std::int32_t value) { m_points.emplace_back(category, value); }
    void addPointLabel(int category, const QString& text) {
        m_pointLabels.emplace_back(category, text);
    }

    const QString& name() const { return m_name; }
    const QString& label() const { return m_label; }
    QColor colour() const { return m_colour; }
    /// How many points were added.
    int pointCount() const { return static_cast<int>(m_points.size()); }
    /// The value of the first point of `category`, 0 when there is none.
    std::int32_t value(int category) const;
    /// The text of the first point label of `category`, empty when there is none.
    QString pointLabel(int category) const;

private:
    QString m_name;
    QString m_label;
    QColor m_colour{Qt::black};
    std::vector<std::pair<int, std::int32_t>> m_points;
    std::vector<std::pair<int, QString>> m_pointLabels;
};
