#include "gui/stats/figure_labels.h"

#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

CFigureNameLabel::CFigureNameLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
}

std::pair<QString, QString> splitFigureName(const QString& text) {
    qsizetype nameEnd = text.size();
    while (nameEnd > 0 && text.at(nameEnd - 1) == QLatin1Char(':'))
        --nameEnd;
    const QString colon = text.mid(nameEnd);
    while (nameEnd > 0 && colon.size() > 0 && text.at(nameEnd - 1).isSpace())
        --nameEnd;
    return {text.left(nameEnd), colon};
}

QSize CFigureNameLabel::sizeHint() const {
    QSize s = QLabel::sizeHint();
    const auto [name, colon] = splitFigureName(text());
    if (colon.isEmpty())
        return s;
    const QFontMetrics m = fontMetrics();
    const QMargins c = contentsMargins();
    s.setWidth(m.horizontalAdvance(name) + m.horizontalAdvance(QLatin1Char(' ')) +
               m.horizontalAdvance(colon) + c.left() + c.right() + 2 * margin());
    return s;
}

void CFigureNameLabel::paintEvent(QPaintEvent* event) {
    const auto [name, colon] = splitFigureName(text());
    if (colon.isEmpty()) {
        QLabel::paintEvent(event); // no colon to line up
        return;
    }
    QPainter p(this);
    const QRect r = contentsRect();
    style()->drawItemText(&p, r, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), name,
                          foregroundRole());
    style()->drawItemText(&p, r, Qt::AlignRight | Qt::AlignVCenter, palette(), isEnabled(), colon,
                          foregroundRole());
}

CFigureLabel::CFigureLabel(const QString& reserve, QWidget* parent)
    : QLabel(parent)
    , m_reserve(reserve) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

QSize CFigureLabel::sizeHint() const {
    QSize s = QLabel::sizeHint();
    const int margins = contentsMargins().left() + contentsMargins().right() + 2 * margin();
    s.setWidth(qMax(s.width(), fontMetrics().horizontalAdvance(m_reserve) + margins));
    return s;
}

QSize CFigureLabel::minimumSizeHint() const {
    return sizeHint();
}

QWidget* addScrolledPage(QWidget* view) {
    auto* area = new QScrollArea(view);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    auto* page = new QWidget(area);
    area->setWidget(page);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return page;
}
