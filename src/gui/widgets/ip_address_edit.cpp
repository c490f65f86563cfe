#include "gui/widgets/ip_address_edit.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

CIpAddressEdit::CIpAddressEdit(QWidget* parent)
    : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    const auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    const int width = fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 4;
    for (int i = 0; i < 4; ++i) {
        auto* f = new QLineEdit(this);
        f->setObjectName(QStringLiteral("field%1").arg(i));
        f->setFrame(false);
        f->setValidator(digits);
        f->setMaxLength(3);
        f->setAlignment(Qt::AlignCenter);
        f->setFixedWidth(width);
        f->installEventFilter(this);
        f->setAccessibleName(QStringLiteral("IP address, part %1").arg(i + 1));
        m_fields[size_t(i)] = f;
        layout->addWidget(f);
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        connect(f, &QLineEdit::textChanged, this, [this, i] { Q_EMIT fieldChanged(i); });
        connect(f, &QLineEdit::textEdited, this, [this, i] { onEdited(i); });
    }
    layout->addStretch(1);
    setFocusProxy(m_fields[0]);
}

int CIpAddressEdit::field(int index) const {
    if (index < 0 || index > 3)
        return 0;
    bool ok = false;
    const int v = m_fields[size_t(index)]->text().toInt(&ok);
    return ok && v >= 0 && v <= 255 ? v : 0;
}

std::array<int, 4> CIpAddressEdit::fields() const {
    return {field(0), field(1), field(2), field(3)};
}

bool CIpAddressEdit::isBlank() const {
    for (const QLineEdit* f : m_fields)
        if (!f->text().isEmpty())
            return false;
    return true;
}

void CIpAddressEdit::setAddress(int a, int b, int c, int d) {
    const int v[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i)
        m_fields[size_t(i)]->setText(QString::number(qBound(0, v[i], 255)));
}

void CIpAddressEdit::clear() {
    for (QLineEdit* f : m_fields)
        f->clear();
}

QString CIpAddressEdit::addressText() const {
    return QStringLiteral("%1.%2.%3.%4").arg(field(0)).arg(field(1)).arg(field(2)).arg(field(3));
}

QLineEdit* CIpAddressEdit::fieldEdit(int index) const {
    return index >= 0 && index < 4 ? m_fields[size_t(index)] : nullptr;
}

void CIpAddressEdit::focusField(int index, bool selectAll) {
    if (index < 0 || index > 3)
        return;
    QLineEdit* f = m_fields[size_t(index)];
    f->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        f->selectAll();
    else
        f->setCursorPosition(int(f->text().size()));
}

void CIpAddressEdit::onEdited(int index) {
    QLineEdit* f = m_fields[size_t(index)];
    bool ok = false;
    const int v = f->text().toInt(&ok);
    if (ok && v > 255) {
        // Too large for an address byte: the largest one instead.
        QApplication::beep();
        f->setText(QStringLiteral("255"));
    }
    if (f->text().size() == 3 && f->cursorPosition() == 3 && index < 3)
        focusField(index + 1, true);
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    int index = -1;
    for (int i = 0; i < 4; ++i)
        if (watched == m_fields[size_t(i)])
            index = i;
    if (index < 0)
        return QFrame::eventFilter(watched, event);
    QLineEdit* f = m_fields[size_t(index)];
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        if (!f->text().isEmpty() && index < 3)
            focusField(index + 1, true);
        return true;
    case Qt::Key_Backspace:
        if (f->cursorPosition() == 0 && !f->hasSelectedText() && index > 0) {
            focusField(index - 1, false);
            return true;
        }
        break;
    case Qt::Key_Left:
        if (f->cursorPosition() == 0 && !f->hasSelectedText() && index > 0) {
            focusField(index - 1, false);
            return true;
        }
        break;
    case Qt::Key_Right:
        if (f->cursorPosition() == f->text().size() && !f->hasSelectedText() && index < 3) {
            m_fields[size_t(index + 1)]->setFocus(Qt::OtherFocusReason);
            m_fields[size_t(index + 1)]->setCursorPosition(0);
            return true;
        }
        break;
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}
