#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <deque>

namespace qarsilo {

/// Samples a statistics graph keeps: a 42nd pushes the oldest out.
inline constexpr int kGraphHistoryLength = 41;
/// The range the statistics views give their graphs: a sample equal to the
/// scale fills 100/110 of the height.
inline constexpr int kGraphRange = 110;

/// The smallest power of ten strictly above `largest` (9 gives 10, 10 gives
/// 100); 10 for anything below 1.
double powerOfTenScale(double largest);
/// The utilization graphs' scale: hundredths below 1, whole percent between 1
/// and 10, tens from 10 on (and at exactly 1).
double utilizationScale(double largest);
/// The bits graph's scale label: "10  ", "1 k", "100 k", "1 M", "1 G".
QString engineeringText(double scale);

/// How a graph scales its history.
enum class GraphScaleRule { PowerOfTen, Utilization };

/// One graph's recent samples and the scale they are drawn at. Kept by the
/// statistics cores, drawn by the windows.
class GraphTrack {
public:
    GraphTrack(GraphScaleRule rule, QColor colour)
        : m_rule(rule)
        , m_colour(colour) {
        clear();
    }

    /// Appends a sample (dropping the oldest beyond kGraphHistoryLength) and
    /// scales the history by the graph's rule.
    void append(double sample);
    void clear();

    const std::deque<double>& history() const { return m_history; }
    double scale() const { return m_scale; }
    QColor colour() const { return m_colour; }
    GraphScaleRule rule() const { return m_rule; }
    /// The bar of sample `i`: trunc(sample / scale * 100); 0 at a scale of 0.
    unsigned bar(std::size_t i) const;

private:
    GraphScaleRule m_rule;
    QColor m_colour;
    std::deque<double> m_history;
    double m_scale = 0;
};

/// The picture of a scrolling bar graph: white, dark green grid lines every
/// 10 pixels, bars 5 pixels wide at 10-pixel steps, the newest at the right.
/// Everything is drawn here and copied to the window in one step.
class RollingGraphCanvas {
public:
    static inline const QColor kGridColour{0, 128, 0};

    explicit RollingGraphCanvas(QSize size = {});

    /// A new white picture with its grid at `size`.
    void resize(QSize size);
    QSize size() const { return m_image.size(); }
    /// The value that fills the whole height (at least 1); clears the picture.
    void setRange(int range);
    int range() const { return m_range; }

    /// White with the grid.
    void clear();
    /// Moves everything 10 pixels left; the strip uncovered on the right is white.
    void shift();
    /// A new bar for `value` (clamped to the range) at the right edge.
    void addValue(unsigned value, QColor colour);
    /// Clear, then shift and add each sample's bar, oldest first.
    void draw(const GraphTrack& track);

    const QImage& image() const { return m_image; }

private:
    void drawGrid();

    QImage m_image;
    int m_range = 100;
};

} // namespace qarsilo
