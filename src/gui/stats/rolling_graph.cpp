#include "gui/stats/rolling_graph.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>

using namespace qarsilo;

CRollingGraph::CRollingGraph(QWidget* parent)
    : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(1);
    setMinimumSize(60, 40);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_canvas.resize(contentsRect().size());
}

void CRollingGraph::setRange(int range) {
    m_canvas.setRange(range);
    update();
}

void CRollingGraph::clear() {
    m_canvas.clear();
    m_hasTrack = false;
    update();
}

void CRollingGraph::shift() {
    m_canvas.shift();
    update();
}

void CRollingGraph::addValue(unsigned value, QColor colour) {
    m_canvas.addValue(value, colour);
    update();
}

void CRollingGraph::showTrack(const GraphTrack& track) {
    m_track = track;
    m_hasTrack = true;
    m_canvas.draw(track);
    update();
}

void CRollingGraph::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    p.drawImage(contentsRect().topLeft(), m_canvas.image());
}

void CRollingGraph::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    if (contentsRect().size() == m_canvas.size())
        return;
    const int range = m_canvas.range();
    m_canvas.resize(contentsRect().size());
    m_canvas.setRange(range);
    if (m_hasTrack)
        m_canvas.draw(m_track);
}

namespace {

// A caption written bottom to top beside a graph.
class VerticalCaption : public QWidget {
public:
    VerticalCaption(QString text, QWidget* parent)
        : QWidget(parent)
        , m_text(std::move(text)) {
        setAccessibleName(m_text);
    }
    QSize sizeHint() const override {
        const QFontMetrics m = fontMetrics();
        return {m.height() + 2, m.horizontalAdvance(m_text) + 4};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.translate(0, height());
        p.rotate(-90);
        p.drawText(QRect(0, 0, height(), width()), Qt::AlignCenter, m_text);
    }

private:
    QString m_text;
};

} // namespace

CGraphPanel::CGraphPanel(const QString& caption, const QString& scaleText, const QString& footText,
                         QWidget* parent, const QString& unit)
    : QWidget(parent)
    , m_graph(new CRollingGraph(this))
    , m_scale(new QLabel(scaleText, this)) {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(new VerticalCaption(caption, this), 0, 0, 3, 1);
    if (unit.isEmpty()) {
        layout->addWidget(m_scale, 0, 1);
    } else {
        auto* top = new QHBoxLayout;
        top->setSpacing(2);
        top->addWidget(m_scale);
        top->addWidget(new QLabel(unit, this));
        top->addStretch(1);
        layout->addLayout(top, 0, 1);
    }
    layout->addWidget(m_graph, 1, 1);
    layout->addWidget(new QLabel(footText, this), 2, 1);
    layout->setRowStretch(1, 1);
    layout->setColumnStretch(1, 1);
    m_graph->setRange(kGraphRange);
    m_graph->clear();
}

void CGraphPanel::setScaleText(const QString& text) {
    m_scale->setText(text);
}
