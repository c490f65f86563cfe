#include "core/trace/trace_board.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>

namespace qarsilo {

namespace {

constexpr int R = kTraceRadius;

// The slots' places relative to the centre, clockwise from the right.
constexpr std::array<QPoint, kTraceSlots> kPlaces{{
    {R + 16, 0},
    {4 * R / 5, R / 4 + 21},
    {4 * R / 7 + 26, R / 2},
    {R / 4 + 21, 4 * R / 5},
    {0, R + 16},
    {-R / 4 - 21, 4 * R / 5},
    {-4 * R / 7 - 26, R / 2},
    {-4 * R / 5, R / 4 + 21},
    {-R - 16, 0},
    {-4 * R / 5, -R / 4 - 21},
    {-4 * R / 7 - 26, -R / 2},
    {-R / 4 - 21, -4 * R / 5},
    {0, -R - 16},
    {R / 4 + 21, -4 * R / 5},
    {4 * R / 7 + 26, -R / 2},
    {4 * R / 5, -R / 4 - 21},
}};

// Paths relative to the centre; straight paths repeat their last point.
constexpr std::array<std::array<QPoint, 3>, kTraceSlots> kPaths{{
    {{{16, 0}, {R, 0}, {R, 0}}},
    {{{16, 5}, {4 * R / 5, 5}, {4 * R / 5, 5 + R / 4}}},
    {{{10, 30}, {10, R / 2}, {10 + 4 * R / 7, R / 2}}},
    {{{5, 30}, {5, 4 * R / 5}, {5 + R / 4, 4 * R / 5}}},
    {{{0, 30}, {0, R}, {0, R}}},
    {{{-5, 30}, {-5, 4 * R / 5}, {-5 - R / 4, 4 * R / 5}}},
    {{{-10, 30}, {-10, R / 2}, {-10 - 4 * R / 7, R / 2}}},
    {{{-16, 5}, {-4 * R / 5, 5}, {-4 * R / 5, 5 + R / 4}}},
    {{{-16, 0}, {-R, 0}, {-R, 0}}},
    {{{-16, -5}, {-4 * R / 5, -5}, {-4 * R / 5, 5 - R / 4}}},
    {{{-10, -16}, {-10, -R / 2}, {-10 - 4 * R / 7, -R / 2}}},
    {{{-5, -16}, {-5, -4 * R / 5}, {-5 - R / 4, -4 * R / 5}}},
    {{{0, -16}, {0, -R + 5}, {0, -R + 5}}},
    {{{5, -16}, {5, -4 * R / 5}, {5 + R / 4, -4 * R / 5}}},
    {{{10, -16}, {10, -R / 2}, {10 + 4 * R / 7, -R / 2}}},
    {{{16, -5}, {4 * R / 5, -5}, {4 * R / 5, 5 - R / 4}}},
}};
constexpr std::array<bool, kTraceSlots> kStraight{true,  false, false, false, true,  false,
                                                  false, false, true,  false, false, false,
                                                  true,  false, false, false};

struct MotionRow {
    QPoint start; // OUT: from the centre; IN: from the slot's place
    TraceRun first;
    TraceRun second;
};
constexpr TraceRun run(int steps, TraceRun way) {
    return {steps, way.dx, way.dy};
}
constexpr TraceRun L{0, -1, 0};
constexpr TraceRun Rt{0, 1, 0};
constexpr TraceRun U{0, 0, -1};
constexpr TraceRun D{0, 0, 1};
constexpr TraceRun None{0, 0, 0};

constexpr std::array<MotionRow, kTraceSlots> kOut{{
    {{20, 0}, run(47, Rt), None},
    {{20, 5}, run(36, Rt), run(12, D)},
    {{10, 30}, run(19, D), run(28, Rt)},
    {{5, 35}, run(33, D), run(12, Rt)},
    {{0, 35}, run(44, D), None},
    {{-5, 35}, run(33, D), run(12, L)},
    {{-10, 30}, run(19, D), run(28, L)},
    {{-20, 5}, run(36, L), run(12, D)},
    {{-20, 0}, run(47, L), None},
    {{-20, -5}, run(36, L), run(11, U)},
    {{-10, -15}, run(22, U), run(28, L)},
    {{-5, -20}, run(36, U), run(12, L)},
    {{0, -20}, run(44, U), None},
    {{5, -20}, run(36, U), run(12, Rt)},
    {{10, -15}, run(22, U), run(28, Rt)},
    {{20, -5}, run(36, Rt), run(11, U)},
}};
constexpr std::array<MotionRow, kTraceSlots> kIn{{
    {{-16, 0}, run(46, L), None},
    {{0, -23}, run(11, U), run(36, L)},
    {{-13, 0}, run(29, L), run(18, U)},
    {{-23, 0}, run(11, L), run(33, U)},
    {{0, -16}, run(43, U), None},
    {{23, 0}, run(11, Rt), run(33, U)},
    {{13, 0}, run(29, Rt), run(18, U)},
    {{0, -23}, run(11, U), run(36, Rt)},
    {{16, 0}, run(46, Rt), None},
    {{0, 23}, run(11, D), run(36, Rt)},
    {{13, 0}, run(29, Rt), run(21, D)},
    {{23, 0}, run(11, Rt), run(36, D)},
    {{0, 18}, run(46, D), None},
    {{-23, 0}, run(11, L), run(36, D)},
    {{-13, 0}, run(29, L), run(21, D)},
    {{0, 23}, run(11, D), run(36, L)},
}};

bool validSlot(int slot) {
    return slot >= 0 && slot < kTraceSlots;
}

QColor colour(std::uint32_t rgb) {
    return QColor::fromRgb(rgb);
}

QFont boardFont(int pixels, int weight) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

} // namespace

QPoint traceSlotPlace(QPoint c, int slot) {
    return validSlot(slot) ? c + kPlaces[static_cast<std::size_t>(slot)] : c;
}

QPolygon traceSlotPath(QPoint c, int slot) {
    QPolygon path;
    if (!validSlot(slot))
        return path;
    const auto& points = kPaths[static_cast<std::size_t>(slot)];
    const int count = kStraight[static_cast<std::size_t>(slot)] ? 2 : 3;
    for (int i = 0; i < count; ++i)
        path << c + points[static_cast<std::size_t>(i)];
    return path;
}

QRect traceSideNodeArea(QPoint c, int slot) {
    const QPoint p = traceSlotPlace(c, slot);
    return {p.x() - 8, p.y() - 8, 16, 16};
}

TraceMotion traceMotion(QPoint c, int slot, TraceDirection direction) {
    if (!validSlot(slot))
        return {c, {None, None}};
    const auto s = static_cast<std::size_t>(slot);
    const MotionRow& row = direction == TraceDirection::Out ? kOut[s] : kIn[s];
    const QPoint origin = direction == TraceDirection::Out ? c : traceSlotPlace(c, slot);
    return {origin + row.start, {row.first, row.second}};
}

QImage traceMonitoredIcon() {
    QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    // A monitor on a stand, its frame reaching the icon's top and sides.
    p.fillRect(0, 0, 32, 24, QColor(0x20, 0x20, 0x20));
    p.fillRect(2, 2, 28, 19, QColor(0x00, 0x80, 0x80));
    p.fillRect(4, 4, 10, 2, QColor(0xE0, 0xFF, 0xFF));
    p.fillRect(13, 24, 6, 4, QColor(0x60, 0x60, 0x60));
    p.fillRect(6, 28, 20, 4, QColor(0x30, 0x30, 0x30));
    return icon;
}

QImage traceSideNodeIcon() {
    QImage icon(16, 16, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.fillRect(0, 0, 16, 12, QColor(0x20, 0x20, 0x20));
    p.fillRect(1, 1, 14, 9, QColor(0x40, 0x60, 0xC0));
    p.fillRect(6, 12, 4, 2, QColor(0x60, 0x60, 0x60));
    p.fillRect(3, 14, 10, 2, QColor(0x30, 0x30, 0x30));
    return icon;
}

TraceBoard::TraceBoard(QSize size, qreal devicePixelRatio)
    : m_size(size)
    , m_centre(size.width() / 2, size.height() / 2)
    , m_image(size * devicePixelRatio, QImage::Format_RGB32)
    , m_monitoredIcon(traceMonitoredIcon())
    , m_sideIcon(traceSideNodeIcon()) {
    m_image.setDevicePixelRatio(devicePixelRatio);
    m_image.fill(Qt::white);
}

QRect TraceBoard::takeChanged() {
    const QRect r = m_changed;
    m_changed = QRect();
    return r;
}

void TraceBoard::clear() {
    m_image.fill(Qt::white);
    m_nodeRects = {};
    m_labelRects = {};
    m_labels = {};
    m_centreLabel = QRect();
    changed(QRect(QPoint(0, 0), m_size));
}

void TraceBoard::drawPath(int slot, std::uint32_t rgb) {
    const QPolygon path = traceSlotPath(m_centre, slot);
    if (path.isEmpty())
        return;
    {
        QPainter p(&m_image);
        p.setPen(QPen(colour(rgb), 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        p.drawPolyline(path);
    }
    changed(path.boundingRect().adjusted(-2, -2, 2, 2));
    // Nodes stay above the paths: a neighbour's label that this path runs
    // through is drawn again over it.
    for (int other = 0; other < kTraceSlots; ++other) {
        const QRect area = m_nodeRects[static_cast<std::size_t>(other)];
        if (other == slot || area.isEmpty())
            continue;
        for (int i = 0; i + 1 < path.size(); ++i)
            if (QRect(path[i], path[i + 1]).normalized().adjusted(-2, -2, 2, 2).intersects(area)) {
                stampSideNode(other);
                break;
            }
    }
}

void TraceBoard::eraseSideNode(int slot) {
    if (!validSlot(slot))
        return;
    const auto s = static_cast<std::size_t>(slot);
    const QRect area = m_nodeRects[s] | traceSideNodeArea(m_centre, slot);
    QPainter p(&m_image);
    p.fillRect(area, Qt::white);
    changed(area);
    m_nodeRects[s] = QRect();
    m_labelRects[s] = QRect();
    m_labels[s].clear();
}

QRect TraceBoard::sideNodeRect(int slot) const {
    return validSlot(slot) ? m_nodeRects[static_cast<std::size_t>(slot)] : QRect();
}

QRect TraceBoard::sideNodeLabelRect(int slot) const {
    return validSlot(slot) ? m_labelRects[static_cast<std::size_t>(slot)] : QRect();
}

QString TraceBoard::labelAt(QPoint point) const {
    for (std::size_t s = 0; s < m_nodeRects.size(); ++s)
        if (m_nodeRects[s].contains(point))
            return m_labels[s];
    return {};
}

void TraceBoard::drawSideNode(int slot, const QString& label) {
    if (!validSlot(slot))
        return;
    eraseSideNode(slot);
    const auto s = static_cast<std::size_t>(slot);
    m_labels[s] = label;
    m_nodeRects[s] = stampSideNode(slot);
}

QRect TraceBoard::stampSideNode(int slot) {
    const QPoint place = traceSlotPlace(m_centre, slot);
    const QRect icon = traceSideNodeArea(m_centre, slot);
    {
        QPainter p(&m_image);
        p.drawImage(icon.topLeft(), m_sideIcon);
    }
    changed(icon);
    const auto s = static_cast<std::size_t>(slot);
    m_labelRects[s] = drawLabel(place.x(), place.y() + 8, m_labels[s], 200, kTraceLabelMax);
    return icon | m_labelRects[s];
}

QRect TraceBoard::drawLabel(int centreX, int top, const QString& text, int weight, int maxWidth) {
    if (text.isEmpty())
        return {};
    const QFont font = boardFont(12, weight);
    const QFontMetrics metrics(font);
    const QString shown = metrics.horizontalAdvance(text) > maxWidth
                              ? metrics.elidedText(text, Qt::ElideMiddle, maxWidth)
                              : text;
    // One pixel each side: antialiased ink may reach past the advance.
    const int w = std::min(metrics.horizontalAdvance(shown) + 2, m_size.width());
    const int h = std::max(metrics.height(), 14);
    const int left = std::clamp(centreX - w / 2, 0, m_size.width() - w);
    const QRect target(left, top, w, h);
    QPainter p(&m_image);
    p.fillRect(target, Qt::white);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(target, Qt::AlignHCenter | Qt::AlignVCenter, shown);
    changed(target);
    return target;
}

void TraceBoard::drawHeader(const QString& statusText, const QString& centreLabel) {
    {
        QPainter p(&m_image);
        p.drawImage(m_centre - QPoint(16, 16), m_monitoredIcon);
    }
    changed(QRect(m_centre - QPoint(16, 16), QSize(32, 32)));
    // A shorter label than the last must not leave the longer one's ends.
    {
        QPainter p(&m_image);
        p.fillRect(m_centreLabel, Qt::white);
    }
    changed(m_centreLabel);
    // The middle has room for a longer label than the places around it.
    m_centreLabel =
        drawLabel(m_centre.x(), m_centre.y() + 16, centreLabel, 600, kTraceCentreLabelMax);
    writeStatus(QStringLiteral("Monitoring: %1 ").arg(statusText));
}

void TraceBoard::writeStatus(const QString& text) {
    const qreal dpr = m_image.devicePixelRatio();
    QImage strip(QSize(400, 20) * dpr, QImage::Format_RGB32);
    strip.setDevicePixelRatio(dpr);
    strip.fill(Qt::white);
    {
        QPainter p(&strip);
        p.setFont(boardFont(16, 700));
        p.setPen(Qt::black);
        p.drawText(QRect(0, 0, 400, 20), Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    const QRect target(5, 5, 400, 18);
    QPainter p(&m_image);
    p.drawImage(target, strip, QRectF(0, 0, 400 * dpr, 18 * dpr));
    changed(target);
}

void TraceBoard::drawSquare(QPoint point, std::uint32_t rgb) {
    const QRect square(point.x() - 3, point.y() - 3, 6, 6);
    QPainter p(&m_image);
    p.fillRect(square, colour(rgb));
    changed(square);
}

} // namespace qarsilo
