#include "gui/analysis/filter_wizard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// The side picture: a funnel letting a few frames through; darker on the
// welcome page.
QPixmap sidePicture(bool welcome) {
    QPixmap pix(120, 280);
    pix.fill(welcome ? QColor(0, 64, 128) : QColor(0, 96, 160));
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 60));
    for (int i = 0; i < 6; ++i)
        p.drawRect(14 + (i % 3) * 32, 30 + (i / 3) * 22, 24, 14);
    QPainterPath funnel;
    funnel.moveTo(10, 90);
    funnel.lineTo(110, 90);
    funnel.lineTo(70, 160);
    funnel.lineTo(70, 200);
    funnel.lineTo(50, 200);
    funnel.lineTo(50, 160);
    funnel.closeSubpath();
    p.setBrush(QColor(230, 230, 230));
    p.drawPath(funnel);
    p.setBrush(QColor(120, 220, 120));
    p.drawRect(48, 220, 24, 14);
    return pix;
}

} // namespace

CFilterWizard::CFilterWizard(const QString& adapterName, QWidget* parent)
    : QDialog(parent)
    , m_check(adapterName)
    , m_stack(new QStackedWidget(this))
    , m_welcome(new CFilterWelcomePage(m_stack))
    , m_ethernet(new CEthernetFilterPage(m_stack, m_picker))
    , m_layer3(new CLayer3FilterPage(m_stack))
    , m_ip(new CIpFilterPage(m_stack, m_picker))
    , m_picture(new QLabel(this))
    , m_status(new QLabel(this))
    , m_back(new QPushButton(QStringLiteral("< Back"), this))
    , m_next(new QPushButton(QStringLiteral("Next >"), this))
    , m_finish(new QPushButton(QStringLiteral("Finish"), this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this)) {
    setWindowTitle(QStringLiteral("Filter Option"));
    for (CFilterPage* p :
         {static_cast<CFilterPage*>(m_welcome), static_cast<CFilterPage*>(m_ethernet),
          static_cast<CFilterPage*>(m_layer3), static_cast<CFilterPage*>(m_ip)}) {
        m_stack->addWidget(p);
        connect(p, &CFilterPage::changed, this, &CFilterWizard::update);
    }
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setMinimumHeight(m_status->fontMetrics().height() * 2);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(m_picture, 0, Qt::AlignTop);
    top->addWidget(m_stack, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_back);
    buttons->addWidget(m_next);
    buttons->addSpacing(8);
    buttons->addWidget(m_finish);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_back, &QPushButton::clicked, this, &CFilterWizard::back);
    connect(m_next, &QPushButton::clicked, this, &CFilterWizard::next);
    connect(m_finish, &QPushButton::clicked, this, &CFilterWizard::finish);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(560, 380);
    showPage(Welcome);
}

CFilterPage* CFilterWizard::page(int index) const {
    return qobject_cast<CFilterPage*>(m_stack->widget(index));
}

int CFilterWizard::currentPage() const {
    return m_stack->currentIndex();
}

void CFilterWizard::showPage(int index) {
    m_stack->setCurrentIndex(index);
    m_picture->setPixmap(sidePicture(index == Welcome));
    update();
}

void CFilterWizard::back() {
    if (currentPage() > Welcome)
        showPage(currentPage() - 1);
}

void CFilterWizard::next() {
    if (m_next->isEnabled() && currentPage() + 1 < PageCount)
        showPage(currentPage() + 1);
}

void CFilterWizard::finish() {
    // Never hand over an expression that the capture could not compile.
    update();
    if (m_finish->isEnabled())
        accept();
}

QString CFilterWizard::expression() const {
    // "No" on the welcome page means capture everything, whatever the later
    // pages were set to before the operator went back.
    if (m_welcome->no()->isChecked())
        return {};
    for (const CFilterPage* p :
         {static_cast<const CFilterPage*>(m_ethernet), static_cast<const CFilterPage*>(m_layer3),
          static_cast<const CFilterPage*>(m_ip)})
        if (!p->expression().isEmpty())
            return p->expression();
    return {};
}

void CFilterWizard::update() {
    const CFilterPage* current = page(currentPage());
    const QString e = expression();
    m_error = m_check.check(e);
    m_back->setEnabled(currentPage() > Welcome);
    m_next->setEnabled(current->nextEnabled() && currentPage() + 1 < PageCount);
    m_finish->setEnabled(current->finishEnabled() && m_error.isEmpty());
    (m_next->isEnabled() ? m_next : m_finish)->setDefault(true);

    QString text = e.isEmpty() ? QStringLiteral("Filter: none (every frame is captured)")
                               : QStringLiteral("Filter: ") + e;
    if (!m_error.isEmpty())
        text += QStringLiteral("\n") + m_error;
    m_status->setText(text);
    QPalette pal = m_status->palette();
    pal.setColor(QPalette::WindowText, m_error.isEmpty() ? QColor(0, 128, 0) : QColor(192, 0, 0));
    m_status->setPalette(pal);
}

std::optional<QString> CFilterWizard::run() {
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return expression();
}
