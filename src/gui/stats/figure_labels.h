#pragma once

#include <QLabel>

#include <utility>

class QScrollArea;

/// The name of a figure as the statistics views write it, "Peak Time     :":
/// the text stays as it is, but the name is drawn at the left and the colon
/// at the right edge, so the colons of a column line up in any font (blanks
/// cannot line them up in a proportional one).
class CFigureNameLabel : public QLabel {
public:
    explicit CFigureNameLabel(const QString& text, QWidget* parent = nullptr);

    /// The name, a blank and the colon: the padding blanks take no room.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

/// The name and the colons of `text` ("Peak Time     :" gives "Peak Time" and ":").
std::pair<QString, QString> splitFigureName(const QString& text);

/// A figure: at least as wide as `reserve` in its own font, so the columns
/// stay put while the figures change, and never narrower than its text.
class CFigureLabel : public QLabel {
public:
    explicit CFigureLabel(const QString& reserve, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QString m_reserve;
};

/// Fills `view` with a frameless scroll area and returns the page to lay the
/// view out on: the page fills the view while it fits, and scrolls once the
/// view is smaller than the page needs (a large font), so no text is cut.
QWidget* addScrolledPage(QWidget* view);
