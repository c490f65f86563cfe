#pragma once

#include <QImage>
#include <QPoint>
#include <QPolygon>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>

namespace qarsilo {

/// Distance from the monitored node to the side nodes' ring.
inline constexpr int kTraceRadius = 250;
/// How far a packet square moves per animation step.
inline constexpr int kTraceStep = kTraceRadius / 47;
/// Number of places around the monitored node.
inline constexpr int kTraceSlots = 16;
/// Labels wider than this are elided in the middle.
inline constexpr int kTraceLabelMax = 119;
/// The monitored node's label, under the middle, may be wider.
inline constexpr int kTraceCentreLabelMax = 200;

enum class TraceDirection : std::uint8_t { Out, In };

/// The place of `slot`'s side node around the centre `c`.
QPoint traceSlotPlace(QPoint c, int slot);
/// The right-angled path from the middle to `slot`'s side node.
QPolygon traceSlotPath(QPoint c, int slot);
/// The area of a side node's icon (its label comes below it).
QRect traceSideNodeArea(QPoint c, int slot);

/// One straight run of a packet animation.
struct TraceRun {
    int steps;
    int dx; ///< -1, 0 or 1
    int dy;
};
/// Where a packet starts and how it moves, for one slot and direction.
struct TraceMotion {
    QPoint start;
    std::array<TraceRun, 2> runs; ///< the second has 0 steps on straight paths
    int totalSteps() const { return runs[0].steps + runs[1].steps; }
};
/// The motion of a packet on `slot` in `direction` around centre `c`.
TraceMotion traceMotion(QPoint c, int slot, TraceDirection direction);

/// The drawing board: a white image of the board's size on which the
/// monitored node sits at the centre and its peers on their 16 places. Every
/// drawing goes into the image, which the window copies when it paints, so a
/// repaint shows what was drawn. Used on one thread.
class TraceBoard {
public:
    /// A board of `size` (logical pixels) drawn at `devicePixelRatio`.
    explicit TraceBoard(QSize size, qreal devicePixelRatio = 1.0);

    QSize size() const { return m_size; }
    QPoint centre() const { return m_centre; }
    const QImage& image() const { return m_image; }

    /// Fills the board white.
    void clear();
    /// Draws `slot`'s path in `rgb`; slots outside 0 to 15 draw nothing.
    void drawPath(int slot, std::uint32_t rgb);
    /// Erases the node area, then draws the side node icon and its label,
    /// centred under the icon, elided in the middle when it is wider than
    /// kTraceLabelMax and kept inside the board.
    void drawSideNode(int slot, const QString& label);
    /// Fills the node area white: the icon and the label last drawn there.
    void eraseSideNode(int slot);
    /// What `slot`'s node covers now (icon and label); empty when none.
    QRect sideNodeRect(int slot) const;
    /// The part of it the label covers.
    QRect sideNodeLabelRect(int slot) const;
    /// The full label of the side node drawn at `point` (for a tooltip).
    QString labelAt(QPoint point) const;
    /// The monitored node's icon, `centreLabel` under it and the status line
    /// "Monitoring: `statusText` ".
    void drawHeader(const QString& statusText, const QString& centreLabel);
    /// Writes `text` in the status line.
    void writeStatus(const QString& text);
    /// Fills the 6 by 6 packet square centred on `point`.
    void drawSquare(QPoint point, std::uint32_t rgb);

    /// The part of the board changed since the last call (logical pixels).
    QRect takeChanged();

private:
    /// Draws `text` centred on `centreX` below `top`, elided to `maxWidth`
    /// and kept inside the board; returns the rectangle it covers.
    QRect drawLabel(int centreX, int top, const QString& text, int weight, int maxWidth);
    /// Draws `slot`'s icon and stored label; returns what they cover.
    QRect stampSideNode(int slot);
    void changed(const QRect& r) { m_changed |= r; }

    QSize m_size;
    QPoint m_centre;
    QImage m_image;
    QImage m_monitoredIcon;
    QImage m_sideIcon;
    QRect m_changed;
    std::array<QRect, kTraceSlots> m_nodeRects{};
    std::array<QRect, kTraceSlots> m_labelRects{};
    std::array<QString, kTraceSlots> m_labels{};
    QRect m_centreLabel;
};

/// The 32 by 32 icon of the monitored node and the 16 by 16 side node icon;
/// both are framed up to their edges.
QImage traceMonitoredIcon();
QImage traceSideNodeIcon();

} // namespace qarsilo
