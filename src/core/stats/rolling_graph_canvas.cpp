#include "core/stats/rolling_graph_canvas.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qarsilo {

double powerOfTenScale(double largest) {
    if (!(largest >= 1))
        return 10;
    return std::pow(10.0, std::trunc(std::log10(largest)) + 1);
}

double utilizationScale(double largest) {
    // A hair below the product, so 0.07 reads as 7 hundredths and not 8 after
    // the binary rounding of 0.07 * 100.
    constexpr double kSlack = 1e-9;
    if (!(largest > 0))
        return 0.0; // the ceiling of the slack alone would be -0, "-0.00"
    if (largest < 1)
        return std::ceil(largest * 100 - kSlack) * 0.01;
    if (largest > 1 && largest < 10)
        return std::ceil(largest - kSlack);
    return std::ceil(largest * 0.1 - kSlack) * 10;
}

QString engineeringText(double scale) {
    char number[64];
    char unit = ' ';
    if (scale >= 1e9) {
        std::snprintf(number, sizeof number, "%.0f", scale * 1e-9);
        unit = 'G';
    } else if (scale >= 1e6) {
        std::snprintf(number, sizeof number, "%.0f", scale * 1e-6);
        unit = 'M';
    } else if (scale >= 1000) {
        std::snprintf(number, sizeof number, "%.0f", scale * 0.001);
        unit = 'k';
    } else {
        std::snprintf(number, sizeof number, "%g", scale);
    }
    char text[80];
    std::snprintf(text, sizeof text, "%s %c", number, unit);
    return QString::fromLatin1(text);
}

void GraphTrack::append(double sample) {
    m_history.push_back(sample);
    while (m_history.size() > static_cast<std::size_t>(kGraphHistoryLength))
        m_history.pop_front();
    double largest = 0;
    for (double s : m_history)
        largest = std::max(largest, s);
    m_scale =
        m_rule == GraphScaleRule::PowerOfTen ? powerOfTenScale(largest) : utilizationScale(largest);
}

void GraphTrack::clear() {
    m_history.clear();
    m_scale = m_rule == GraphScaleRule::PowerOfTen ? powerOfTenScale(0) : utilizationScale(0);
}

unsigned GraphTrack::bar(std::size_t i) const {
    if (i >= m_history.size() || !(m_scale > 0))
        return 0; // an all-zero utilization history has no scale: no bars
    const double v = std::trunc(m_history[i] / m_scale * 100);
    return v > 0 ? static_cast<unsigned>(std::min(v, 1e9)) : 0;
}

RollingGraphCanvas::RollingGraphCanvas(QSize size) {
    resize(size);
}

void RollingGraphCanvas::resize(QSize size) {
    m_image = QImage(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    clear();
}

void RollingGraphCanvas::setRange(int range) {
    m_range = std::max(range, 1);
    clear();
}

void RollingGraphCanvas::clear() {
    m_image.fill(Qt::white);
    drawGrid();
}

void RollingGraphCanvas::drawGrid() {
    QPainter p(&m_image);
    const int w = m_image.width();
    const int h = m_image.height();
    for (int y = 10; y < h; y += 10)
        p.fillRect(0, y, w, 1, kGridColour);
}

void RollingGraphCanvas::shift() {
    const int w = m_image.width();
    const int h = m_image.height();
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
        if (w > 10)
            std::memmove(line, line + 10, static_cast<std::size_t>(w - 10) * sizeof(QRgb));
        std::fill(line + std::max(w - 10, 0), line + w, qRgb(255, 255, 255));
    }
}

void RollingGraphCanvas::addValue(unsigned value, QColor colour) {
    const int w = m_image.width();
    const int h = m_image.height();
    const unsigned v = std::min(value, static_cast<unsigned>(m_range));
    const int top = h - static_cast<int>(static_cast<double>(v) / m_range * h);
    drawGrid();
    QPainter p(&m_image);
    p.fillRect(w - 10, h / 2 - 2, 1, 5, kGridColour);
    if (top < h)
        p.fillRect(w - 10, top, 5, h - top, colour);
}

void RollingGraphCanvas::draw(const GraphTrack& track) {
    clear();
    for (std::size_t i = 0; i < track.history().size(); ++i) {
        shift();
        addValue(track.bar(i), track.colour());
    }
}

} // namespace qarsilo
