#include "core/app/toolbar_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <array>
#include <cmath>

namespace qarsilo {

namespace {

constexpr int kSize = 32;

// Colours of one state. Hot lifts every colour; disabled drawings are made
// from the normal ones afterwards.
struct Ink {
    QColor outline;
    QColor blue;
    QColor green;
    QColor red;
    QColor yellow;
    QColor paper;
};

Ink inkFor(ImageState state) {
    if (state == ImageState::Hot)
        return {QColor(20, 30, 60),  QColor(40, 120, 255), QColor(30, 200, 70),
                QColor(250, 60, 50), QColor(255, 200, 0),  QColor(255, 255, 255)};
    return {QColor(40, 44, 60),  QColor(50, 95, 185),  QColor(40, 150, 70),
            QColor(200, 55, 50), QColor(220, 170, 30), QColor(245, 245, 240)};
}

QColor lighter(const QColor& c, int f = 140) {
    return c.lighter(f);
}

void drawStatistic(QPainter& p, const Ink& ink) {
    // A small chart: three bars and a trend line over them.
    p.setPen(QPen(ink.outline, 1));
    p.setBrush(ink.paper);
    p.drawRect(QRectF(2.5, 3.5, 27, 25));
    const std::array<int, 3> heights = {9, 15, 11};
    const std::array<QColor, 3> colours = {ink.blue, ink.green, ink.red};
    for (int i = 0; i < 3; ++i) {
        const QRectF r(6 + i * 7.5, 26 - heights[i], 5.5, heights[i]);
        p.setBrush(colours[i]);
        p.drawRect(r);
    }
    p.setPen(QPen(ink.outline, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(6, 14), QPointF(13, 10), QPointF(20, 12), QPointF(27, 6)}));
}

void drawPie(QPainter& p, const Ink& ink, const QRectF& r) {
    // Three slices with a thin 3-D rim.
    const QRectF rim = r.translated(0, 3);
    p.setPen(QPen(ink.outline, 1));
    p.setBrush(ink.blue.darker(150));
    p.drawEllipse(rim);
    p.setBrush(ink.blue);
    p.drawPie(r, 90 * 16, 150 * 16);
    p.setBrush(ink.green);
    p.drawPie(r, 240 * 16, 80 * 16);
    p.setBrush(ink.yellow);
    p.drawPie(r, 320 * 16, 130 * 16);
}

void drawBook(QPainter& p, const Ink& ink, bool plus) {
    p.setPen(QPen(ink.outline, 1));
    p.setBrush(ink.red.darker(120));
    p.drawRoundedRect(QRectF(5.5, 3.5, 20, 25), 2, 2);
    p.setBrush(ink.paper);
    p.drawRect(QRectF(9.5, 3.5, 16, 22));
    p.setBrush(ink.red);
    p.drawRoundedRect(QRectF(5.5, 3.5, 6, 25), 2, 2);
    // Address lines on the page.
    p.setPen(QPen(ink.outline, 1));
    for (int y = 9; y <= 21; y += 4)
        p.drawLine(QPointF(13, y + 0.5), QPointF(23, y + 0.5));
    if (plus) {
        p.setPen(Qt::NoPen);
        p.setBrush(ink.green);
        p.drawEllipse(QRectF(17, 17, 14, 14));
        p.setPen(QPen(ink.paper, 2.5, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(24, 19.5), QPointF(24, 28.5));
        p.drawLine(QPointF(19.5, 24), QPointF(28.5, 24));
    }
}

void drawAnalyzer(QPainter& p, const Ink& ink) {
    // A page of hex rows under a magnifying glass.
    p.setPen(QPen(ink.outline, 1));
    p.setBrush(ink.paper);
    p.drawRect(QRectF(2.5, 2.5, 21, 25));
    p.setPen(QPen(ink.blue, 1.5));
    for (int y = 7; y <= 23; y += 4) {
        p.drawLine(QPointF(5, y), QPointF(11, y));
        p.drawLine(QPointF(13, y), QPointF(20, y));
    }
    p.setPen(QPen(ink.outline, 2));
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawEllipse(QPointF(19, 17), 7, 7);
    p.setPen(QPen(ink.yellow.darker(140), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(24, 22), QPointF(29.5, 27.5));
}

void drawTrace(QPainter& p, const Ink& ink) {
    // One station and its peers, with a frame on its way.
    const QPointF centre(16, 16);
    const std::array<QPointF, 4> peers = {QPointF(5, 6), QPointF(27, 6), QPointF(5, 26),
                                          QPointF(27, 26)};
    p.setPen(QPen(ink.outline, 1.5));
    for (const QPointF& q : peers)
        p.drawLine(centre, q);
    p.setBrush(ink.blue);
    for (const QPointF& q : peers)
        p.drawEllipse(q, 3.5, 3.5);
    p.setBrush(ink.red);
    p.drawEllipse(centre, 5.5, 5.5);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.yellow);
    p.drawEllipse(QPointF(21.5, 10.5), 2.5, 2.5);
}

void drawBarGraph(QPainter& p, const Ink& ink) {
    // Horizontal stacked bars with a 3-D top, the chart the views draw.
    p.setPen(QPen(ink.outline, 1));
    p.drawLine(QPointF(3.5, 3), QPointF(3.5, 29.5));
    p.drawLine(QPointF(3, 29.5), QPointF(30, 29.5));
    const std::array<int, 3> len = {22, 15, 19};
    for (int i = 0; i < 3; ++i) {
        const double y = 6 + i * 8;
        const QRectF front(5, y, len[i], 5);
        const double split = front.left() + len[i] * 0.55;
        p.setBrush(ink.blue);
        p.drawRect(QRectF(front.left(), front.top(), split - front.left(), front.height()));
        p.setBrush(ink.green);
        p.drawRect(QRectF(split, front.top(), front.right() - split, front.height()));
        QPolygonF top({front.topLeft(), front.topLeft() + QPointF(2, -2),
                       front.topRight() + QPointF(2, -2), front.topRight()});
        p.setBrush(lighter(ink.green));
        p.drawPolygon(top);
    }
}

void drawStart(QPainter& p, const Ink& ink) {
    QLinearGradient g(6, 4, 26, 28);
    g.setColorAt(0, lighter(ink.green));
    g.setColorAt(1, ink.green.darker(130));
    p.setPen(QPen(ink.outline, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPolygon(QPolygonF({QPointF(8, 4.5), QPointF(27, 16), QPointF(8, 27.5)}));
}

void drawStop(QPainter& p, const Ink& ink) {
    QLinearGradient g(5, 5, 27, 27);
    g.setColorAt(0, lighter(ink.red));
    g.setColorAt(1, ink.red.darker(130));
    p.setPen(QPen(ink.outline, 1.2));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(6.5, 6.5, 19, 19), 3, 3);
}

QImage paint(ToolbarStrip strip, int index, const Ink& ink) {
    QImage img(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (strip == ToolbarStrip::Main) {
        switch (index) {
        case 0:
            drawStatistic(p, ink);
            break;
        case 1:
            drawPie(p, ink, QRectF(3, 4, 26, 21));
            break;
        case 2:
            drawBook(p, ink, false);
            break;
        case 3:
            drawAnalyzer(p, ink);
            break;
        case 4:
            drawTrace(p, ink);
            break;
        default:
            break;
        }
    } else {
        switch (index) {
        case 0:
            drawBarGraph(p, ink);
            break;
        case 1:
            drawPie(p, ink, QRectF(3, 4, 26, 21));
            break;
        case 2:
            drawStart(p, ink);
            break;
        case 3:
            drawStop(p, ink);
            break;
        case 4:
            drawBook(p, ink, true);
            break;
        default:
            break;
        }
    }
    return img;
}

QImage greyed(const QImage& src) {
    // Flat grey at reduced opacity: clearly unavailable, still recognisable.
    QImage out = src.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = line[x];
            const int grey = 110 + qGray(c) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(c) * 2 / 3);
        }
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QList<QImage> toolbarImages(ToolbarStrip strip, ImageState state) {
    const Ink ink = inkFor(state == ImageState::Hot ? ImageState::Hot : ImageState::Normal);
    QList<QImage> out;
    for (int i = 0; i < 5; ++i) {
        QImage img = paint(strip, i, ink);
        out.append(state == ImageState::Disabled ? greyed(img) : img);
    }
    return out;
}

QList<QImage> decodeTreeImages() {
    QList<QImage> out;
    for (int kind = 0; kind < 3; ++kind)
        for (bool selected : {false, true}) {
            QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::transparent);
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            const QColor outline = selected ? QColor(10, 30, 90) : QColor(60, 60, 70);
            p.setPen(QPen(outline, 1));
            switch (kind) {
            case 0: // the frame: an envelope
                p.setBrush(selected ? QColor(255, 220, 90) : QColor(235, 235, 225));
                p.drawRect(QRectF(1.5, 3.5, 13, 9));
                p.drawPolyline(QPolygonF({QPointF(1.5, 3.5), QPointF(8, 9), QPointF(14.5, 3.5)}));
                break;
            case 1: // a field: a small tag
                p.setBrush(selected ? QColor(60, 140, 255) : QColor(120, 150, 190));
                p.drawPolygon(QPolygonF({QPointF(3.5, 5.5), QPointF(10, 5.5), QPointF(13.5, 8),
                                         QPointF(10, 10.5), QPointF(3.5, 10.5)}));
                break;
            default: // a layer: stacked sheets
                for (int i = 2; i >= 0; --i) {
                    const QColor fill = selected ? QColor(40, 170, 80).lighter(100 + 20 * i)
                                                 : QColor(110, 160, 120).lighter(100 + 15 * i);
                    p.setBrush(fill);
                    p.drawRect(QRectF(1.5 + i * 2, 2.5 + i * 3, 10, 6));
                }
                break;
            }
            p.end();
            out << img;
        }
    return out;
}

QImage adapterImage() {
    // A network card: green board, gold contacts, a socket.
    QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 60, 30), 1));
    p.setBrush(QColor(40, 140, 70));
    p.drawRect(QRectF(1.5, 3.5, 13, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 170, 30));
    for (int x = 3; x < 13; x += 2)
        p.drawRect(QRectF(x, 11.5, 1, 2.5));
    p.setBrush(QColor(60, 60, 70));
    p.drawRect(QRectF(10, 5, 4, 4));
    return img;
}

QImage applicationImage() {
    QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2);
    drawTrace(p, inkFor(ImageState::Hot));
    return img;
}

} // namespace qarsilo
