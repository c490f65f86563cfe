#include "gui/widgets/mask_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

namespace {
const QChar kFill = QLatin1Char('_');
}

const QString CMaskEdit::kMacMask = QStringLiteral("99:99:99:99:99:99");
const QString CMaskEdit::kMacTemplate = QStringLiteral("__:__:__:__:__:__");
const QString CMaskEdit::kIpv6Mask = QStringLiteral("9999:9999:9999:9999:9999:9999:9999:9999");
const QString CMaskEdit::kIpv6Template = QStringLiteral("____:____:____:____:____:____:____:____");
const QString CMaskEdit::kHexLetters = QStringLiteral("abcdefABCDEF");

CMaskEdit::CMaskEdit(QWidget* parent)
    : QLineEdit(parent) {
    // Dropped text would be inserted, not typed through the mask.
    setAcceptDrops(false);
}

void CMaskEdit::setUp(const QString& mask, const QString& templ, const QString& initial) {
    m_mask = mask;
    // The template must cover every position of the mask.
    m_template = templ.left(mask.size());
    while (m_template.size() < mask.size())
        m_template += kFill;
    const QString text = fitToMask(initial);
    m_restore = text;
    setMaxLength(qMax<int>(1, int(mask.size())));
    setText(text);
    setCursorPosition(0);
}

QString CMaskEdit::fitToMask(const QString& text) const {
    QString out;
    out.reserve(m_mask.size());
    for (qsizetype i = 0; i < m_mask.size(); ++i) {
        if (!isFillable(i))
            out += m_template[i];
        else if (i < text.size())
            out += text[i];
        else
            out += m_template[i];
    }
    return out;
}

bool CMaskEdit::isFillable(qsizetype pos) const {
    return pos >= 0 && pos < m_template.size() && m_template[pos] == kFill;
}

bool CMaskEdit::maskAccepts(qsizetype pos, QChar c) const {
    const auto isAsciiDigit = [](QChar ch) {
        return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
    };
    switch (m_mask[pos].unicode()) {
    case '9':
    case '0':
        return isAsciiDigit(c);
    case '#':
        return isAsciiDigit(c) || c == QLatin1Char('+') || c == QLatin1Char('-') ||
               c == QLatin1Char(' ');
    case 'L':
    case '?':
        return c.isLetter();
    case 'A':
    case 'a':
        return c.isLetterOrNumber();
    case '&':
        return c.isPrint();
    default:
        return false;
    }
}

void CMaskEdit::putAt(qsizetype pos, QChar c) {
    QString t = text();
    if (pos < 0 || pos >= t.size())
        return;
    t[pos] = c;
    setText(t);
}

void CMaskEdit::refuse() {
    QApplication::beep();
    Q_EMIT refused();
}

bool CMaskEdit::typeCharacter(QChar c) {
    qsizetype p = hasSelectedText() ? selectionStart() : cursorPosition();
    deselect();
    const qsizetype end = qMin(m_mask.size(), text().size());
    if (p >= end) {
        refuse();
        return false;
    }
    if (!isFillable(p)) {
        // On a separator: it is typed first, and the character goes after it.
        putAt(p, m_template[p]);
        ++p;
        setCursorPosition(int(p));
        if (p >= end) {
            refuse();
            return false;
        }
    }
    if (!m_extra.contains(c) && !maskAccepts(p, c)) {
        refuse();
        return false;
    }
    putAt(p, c);
    ++p;
    // Step over separators, so the caret waits where the next character goes.
    while (p < end && !isFillable(p)) {
        putAt(p, m_template[p]);
        ++p;
    }
    setCursorPosition(int(p));
    return true;
}

void CMaskEdit::backspace() {
    const qsizetype p = cursorPosition();
    if (hasSelectedText() || p == 0 || p > text().size()) {
        refuse();
        return;
    }
    putAt(p - 1, p - 1 < m_restore.size() ? m_restore[p - 1] : m_template[p - 1]);
    setCursorPosition(int(p - 1));
}

void CMaskEdit::pasteMasked() {
    const QString pasted = QApplication::clipboard()->text();
    for (QChar c : pasted) {
        // A pasted address brings its own separators; the mask puts ours.
        if (c != kFill && m_template.contains(c) && !m_extra.contains(c))
            continue;
        if (!typeCharacter(c))
            return;
    }
}

void CMaskEdit::keyPressEvent(QKeyEvent* event) {
    if (!m_masked || m_mask.isEmpty() || isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        pasteMasked();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        copy(); // the text keeps its length: cut only copies
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Backspace &&
        (mods == Qt::NoModifier || mods == Qt::ShiftModifier)) {
        backspace();
        return;
    }
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Insert) &&
        mods == Qt::NoModifier)
        return;
    const QString typed = event->text();
    const bool printable =
        !typed.isEmpty() && !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
        std::all_of(typed.begin(), typed.end(), [](QChar c) { return c.isPrint(); });
    if (printable) {
        for (QChar c : typed)
            if (!typeCharacter(c))
                break;
        return;
    }
    // Everything else edits as a plain field (moving, selecting, copying),
    // except that nothing may change the text's length or separators.
    const QString before = text();
    const int caret = cursorPosition();
    QLineEdit::keyPressEvent(event);
    if (text() != before) {
        setText(before);
        setCursorPosition(caret);
        refuse();
    }
}

void CMaskEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (!m_masked || m_mask.isEmpty() || isReadOnly()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    for (QChar c : event->commitString())
        if (!typeCharacter(c))
            break;
    event->accept();
}

void CMaskEdit::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_masked || m_mask.isEmpty()) {
        QLineEdit::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &QLineEdit::copy);
    copyAction->setEnabled(hasSelectedText());
    QAction* pasteAction = menu.addAction(tr("&Paste"), this, &CMaskEdit::pasteMasked);
    pasteAction->setEnabled(!isReadOnly() && !QApplication::clipboard()->text().isEmpty());
    menu.addSeparator();
    menu.addAction(tr("Select All"), this, &QLineEdit::selectAll);
    menu.exec(event->globalPos());
}
