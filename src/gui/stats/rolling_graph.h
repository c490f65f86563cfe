#pragma once

#include "core/stats/rolling_graph_canvas.h"

#include <QFrame>

class QLabel;

/// The scrolling bar graph window of the statistics views: a sunken frame
/// around an off-screen picture that paint copies in one step. The owner
/// keeps the samples (a GraphTrack) and has them drawn after every tick.
class CRollingGraph : public QFrame {
    Q_OBJECT
public:
    explicit CRollingGraph(QWidget* parent = nullptr);

    /// The range (at least 1); the picture is cleared.
    void setRange(int range);
    void clear();
    void shift();
    void addValue(unsigned value, QColor colour);
    /// Clears and draws every sample of `track`, oldest first; kept so a
    /// resized window is drawn again.
    void showTrack(const qarsilo::GraphTrack& track);

    const qarsilo::RollingGraphCanvas& canvas() const { return m_canvas; }

    QSize sizeHint() const override { return {240, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    qarsilo::RollingGraphCanvas m_canvas;
    qarsilo::GraphTrack m_track{qarsilo::GraphScaleRule::PowerOfTen, Qt::red};
    bool m_hasTrack = false;
};

/// A graph as the statistics views lay it out: the vertical caption on the
/// left, the scale label above the graph and the foot label below it.
class CGraphPanel : public QWidget {
    Q_OBJECT
public:
    /// `unit`, when given, stands after the scale label.
    CGraphPanel(const QString& caption, const QString& scaleText, const QString& footText,
                QWidget* parent = nullptr, const QString& unit = {});

    CRollingGraph* graph() const { return m_graph; }
    QLabel* scaleLabel() const { return m_scale; }
    void setScaleText(const QString& text);

private:
    CRollingGraph* m_graph;
    QLabel* m_scale;
};
