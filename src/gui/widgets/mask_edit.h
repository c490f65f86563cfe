#pragma once

#include <QLineEdit>

/// A one-line field of fixed length for MAC and IPv6 addresses. The mask has
/// one character per position ("9": a decimal digit; other mask letters below;
/// anything else is a separator), the template shows "_" where the operator
/// types and the separator elsewhere. Typing overwrites at the caret and steps
/// over separators; refused characters beep. Backspace puts back the initial
/// character of the position before the caret, so the text never gets shorter.
///
/// Mask letters besides "9": "0" a digit, "#" a digit, sign or blank, "L" and
/// "?" a letter, "A" and "a" a letter or digit, "&" any printable character.
class CMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    /// Masks and templates of the address fields.
    static const QString kMacMask;
    static const QString kMacTemplate;
    static const QString kIpv6Mask;
    static const QString kIpv6Template;
    /// Hexadecimal letters, accepted in the address fields beside digits.
    static const QString kHexLetters;

    explicit CMaskEdit(QWidget* parent = nullptr);

    /// Sets mask, template and the initial text, which is also the text that
    /// backspace restores. A text that does not fit the mask is made to fit:
    /// separators are put in place, missing positions take the template's
    /// character, extra ones are dropped.
    void setUp(const QString& mask, const QString& templ, const QString& initial);
    /// Characters accepted at any fillable position, whatever the mask says.
    void setExtraCharacters(const QString& chars) { m_extra = chars; }
    /// Off: the field behaves as a plain edit field.
    void setMasked(bool on) { m_masked = on; }

    bool isMasked() const { return m_masked; }
    QString mask() const { return m_mask; }
    QString templateText() const { return m_template; }
    QString restoreText() const { return m_restore; }

    /// Types one character as the operator would; false when it was refused.
    bool typeCharacter(QChar c);

Q_SIGNALS:
    /// A key was refused (a beep is given as well).
    void refused();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool isFillable(qsizetype pos) const;
    bool maskAccepts(qsizetype pos, QChar c) const;
    QString fitToMask(const QString& text) const;
    void putAt(qsizetype pos, QChar c);
    void backspace();
    void pasteMasked();
    void refuse();

    bool m_masked = true;
    QString m_mask;
    QString m_template;
    QString m_restore;
    QString m_extra;
};
