#include "gui/widgets/address_book_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace addressbook_art {

namespace {

constexpr int kSize = 32;

// A database drum: the common shape of the three database buttons.
void drum(QPainter& p, const QRectF& r, const QColor& fill) {
    const qreal cap = r.height() / 5;
    QPainterPath body;
    body.moveTo(r.left(), r.top() + cap / 2);
    body.lineTo(r.left(), r.bottom() - cap / 2);
    body.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
    body.lineTo(r.right(), r.top() + cap / 2);
    p.setBrush(fill);
    p.setPen(QPen(fill.darker(160), 1.2));
    p.drawPath(body);
    p.setBrush(fill.lighter(130));
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
}

void card(QPainter& p) {
    p.setPen(QPen(QColor(60, 80, 120), 1.2));
    p.setBrush(QColor(250, 250, 240));
    p.drawRoundedRect(QRectF(4, 6, 20, 22), 2, 2);
    p.setPen(QPen(QColor(120, 130, 150), 1.5));
    for (int y = 12; y <= 24; y += 4)
        p.drawLine(QPointF(8, y), QPointF(20, y));
}

QPixmap draw(Button which) {
    QPixmap pm(kSize, kSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (which) {
    case Button::New:
        card(p);
        p.setPen(QPen(QColor(20, 140, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 16), QPointF(24, 28));
        p.drawLine(QPointF(18, 22), QPointF(30, 22));
        break;
    case Button::Properties:
        card(p);
        p.setPen(QPen(QColor(200, 130, 20), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 28), QPointF(29, 13));
        p.setPen(QPen(QColor(60, 60, 60), 1.5));
        p.drawLine(QPointF(14, 30), QPointF(16, 28));
        break;
    case Button::Delete:
        card(p);
        p.setPen(QPen(QColor(200, 30, 30), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(18, 16), QPointF(29, 27));
        p.drawLine(QPointF(29, 16), QPointF(18, 27));
        break;
    case Button::Print:
        p.setPen(QPen(QColor(60, 60, 70), 1.2));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 3, 14, 10));
        p.setBrush(QColor(170, 175, 185));
        p.drawRoundedRect(QRectF(3, 12, 26, 12), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 20, 14, 9));
        p.setBrush(QColor(40, 200, 60));
        p.drawEllipse(QRectF(24, 15, 3, 3));
        break;
    case Button::Autodiscover:
        p.setPen(QPen(QColor(30, 110, 190), 1.5));
        p.setBrush(Qt::NoBrush);
        for (int r = 4; r <= 13; r += 4)
            p.drawEllipse(QPointF(16, 16), r, r);
        p.setPen(QPen(QColor(30, 110, 190), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 16), QPointF(26, 8));
        p.setBrush(QColor(230, 60, 40));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(22, 21), 2.5, 2.5);
        p.drawEllipse(QPointF(9, 12), 2.5, 2.5);
        break;
    case Button::DbQuery:
        drum(p, QRectF(4, 4, 18, 24), QColor(90, 140, 210));
        p.setPen(QPen(QColor(20, 140, 40), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(17, 14, 12, 12), 30 * 16, 280 * 16);
        p.drawLine(QPointF(28, 15), QPointF(29, 20));
        p.drawLine(QPointF(28, 15), QPointF(24, 16));
        break;
    case Button::ClearDb:
        drum(p, QRectF(4, 4, 18, 24), QColor(90, 140, 210));
        p.setPen(QPen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(19, 17), QPointF(29, 27));
        p.drawLine(QPointF(29, 17), QPointF(19, 27));
        break;
    }
    return pm;
}

} // namespace

QIcon buttonIcon(Button which) {
    return QIcon(draw(which));
}

QIcon treeIcon(TreeIcon which) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (which) {
    case TreeIcon::Branch:
        p.setPen(QPen(QColor(150, 110, 30), 1));
        p.setBrush(QColor(240, 200, 90));
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 2.5, 6, 2));
        break;
    case TreeIcon::Workgroup:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 110, 180));
        p.drawEllipse(QRectF(2, 2, 5, 5));
        p.drawEllipse(QRectF(9, 2, 5, 5));
        p.drawRoundedRect(QRectF(1, 8, 7, 6), 2, 2);
        p.drawRoundedRect(QRectF(8, 8, 7, 6), 2, 2);
        break;
    case TreeIcon::Location: {
        QPainterPath pin;
        pin.moveTo(8, 15);
        pin.cubicTo(2, 8, 2, 1, 8, 1);
        pin.cubicTo(14, 1, 14, 8, 8, 15);
        p.setPen(QPen(QColor(150, 30, 30), 1));
        p.setBrush(QColor(220, 60, 50));
        p.drawPath(pin);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(8, 6), 2, 2);
        break;
    }
    case TreeIcon::IpRange:
        p.setPen(QPen(QColor(40, 120, 60), 1.5));
        p.drawLine(QPointF(8, 4), QPointF(8, 9));
        p.drawLine(QPointF(3, 9), QPointF(13, 9));
        p.drawLine(QPointF(3, 9), QPointF(3, 12));
        p.drawLine(QPointF(13, 9), QPointF(13, 12));
        p.setBrush(QColor(80, 170, 90));
        p.drawRect(QRectF(5, 1, 6, 4));
        p.drawRect(QRectF(1, 12, 4, 3));
        p.drawRect(QRectF(11, 12, 4, 3));
        break;
    }
    return QIcon(pm);
}

QPixmap banner(const QString& title, const QString& subtitle, int width) {
    const int height = 52;
    QPixmap pm(qMax(width, 100), height);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, pm.width(), 0);
    g.setColorAt(0, QColor(35, 69, 110));
    g.setColorAt(1, QColor(120, 160, 205));
    p.fillRect(pm.rect(), g);
    // A small network: one node joined to three.
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
    const QPointF hub(28, 26);
    for (const QPointF& leaf : {QPointF(12, 12), QPointF(46, 14), QPointF(30, 44)})
        p.drawLine(hub, leaf);
    p.setBrush(QColor(250, 210, 90));
    p.setPen(Qt::NoPen);
    p.drawEllipse(hub, 6, 6);
    p.setBrush(Qt::white);
    for (const QPointF& leaf : {QPointF(12, 12), QPointF(46, 14), QPointF(30, 44)})
        p.drawEllipse(leaf, 4, 4);
    QFont f = p.font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.4);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(64, 4, pm.width() - 70, 26), Qt::AlignLeft | Qt::AlignVCenter, title);
    f.setBold(false);
    f.setPointSizeF(f.pointSizeF() / 1.4);
    p.setFont(f);
    p.setPen(QColor(225, 235, 250));
    p.drawText(QRect(64, 28, pm.width() - 70, 20), Qt::AlignLeft | Qt::AlignVCenter, subtitle);
    return pm;
}

} // namespace addressbook_art
