#include "core/lists/list_print_layout.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QSettings>
#include <algorithm>

namespace qarsilo {

namespace {

const QString kGroup = QStringLiteral("Print Setting");
// Sizes and margins outside these ranges come from a damaged file.
constexpr int kMaxMarginMm = 100;
constexpr int kMinPoints = 1;
constexpr int kMaxPoints = 200;

QSettings defaultSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                     QStringLiteral("qarsilo"));
}

void readInt(QSettings& s, const QString& key, int& value, int lo, int hi) {
    bool ok = false;
    const int v = s.value(key).toInt(&ok);
    if (ok && v >= lo && v <= hi)
        value = v;
}

void readText(QSettings& s, const QString& key, QString& value) {
    if (s.contains(key))
        value = s.value(key).toString();
}

int mmToDevice(int mm, int dpi) {
    return int(mm * dpi / 25.4);
}

// Height of `text` laid out word-wrapped in `width`; 0 for no text.
int wrappedHeight(const QFontMetrics& fm, int width, const QString& text) {
    if (text.isEmpty())
        return 0;
    return fm
        .boundingRect(QRect(0, 0, std::max(width, 1), 1 << 20), Qt::TextWordWrap | Qt::AlignLeft,
                      text)
        .height();
}

// Room around a cell's text, so neighbouring texts never touch a rule.
int cellInset(const QFontMetrics& fm) {
    return std::max(1, fm.horizontalAdvance(QStringLiteral("X")) / 3);
}

} // namespace

PrintSettings PrintSettings::load() {
    QSettings s = defaultSettings();
    return load(s);
}

void PrintSettings::save() const {
    QSettings s = defaultSettings();
    save(s);
}

PrintSettings PrintSettings::load(QSettings& s) {
    PrintSettings p;
    s.beginGroup(kGroup);
    readInt(s, QStringLiteral("rcMarginMM.left"), p.marginLeft, 0, kMaxMarginMm);
    readInt(s, QStringLiteral("rcMarginMM.right"), p.marginRight, 0, kMaxMarginMm);
    readInt(s, QStringLiteral("rcMarginMM.top"), p.marginTop, 0, kMaxMarginMm);
    readInt(s, QStringLiteral("rcMarginMM.bottom"), p.marginBottom, 0, kMaxMarginMm);
    readText(s, QStringLiteral("csFtHead"), p.headFont);
    readInt(s, QStringLiteral("iFtHead"), p.headSize, kMinPoints, kMaxPoints);
    readText(s, QStringLiteral("csFtFoot"), p.footFont);
    readInt(s, QStringLiteral("iFtFoot"), p.footSize, kMinPoints, kMaxPoints);
    readText(s, QStringLiteral("csFtPrint"), p.printFont);
    readInt(s, QStringLiteral("iFtPrint"), p.printSize, kMinPoints, kMaxPoints);
    readText(s, QStringLiteral("csPageHead"), p.pageHead);
    readText(s, QStringLiteral("csPageFooter"), p.pageFooter);
    // Earlier versions stored their "..." placeholder as the footer whenever
    // a list was printed; it was never the operator's text.
    if (p.pageFooter == QLatin1String("..."))
        p.pageFooter.clear();
    readText(s, QStringLiteral("csPage"), p.pageFormat);
    s.endGroup();
    return p;
}

void PrintSettings::save(QSettings& s) const {
    s.beginGroup(kGroup);
    s.setValue(QStringLiteral("rcMarginMM.left"), marginLeft);
    s.setValue(QStringLiteral("rcMarginMM.right"), marginRight);
    s.setValue(QStringLiteral("rcMarginMM.top"), marginTop);
    s.setValue(QStringLiteral("rcMarginMM.bottom"), marginBottom);
    s.setValue(QStringLiteral("csFtHead"), headFont);
    s.setValue(QStringLiteral("iFtHead"), headSize);
    s.setValue(QStringLiteral("csFtFoot"), footFont);
    s.setValue(QStringLiteral("iFtFoot"), footSize);
    s.setValue(QStringLiteral("csFtPrint"), printFont);
    s.setValue(QStringLiteral("iFtPrint"), printSize);
    s.setValue(QStringLiteral("csPageHead"), pageHead);
    s.setValue(QStringLiteral("csPageFooter"), pageFooter);
    s.setValue(QStringLiteral("csPage"), pageFormat);
    s.endGroup();
    s.sync();
}

QString pageNumberText(const QString& format, int page, int pageCount) {
    QString out;
    int used = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar next = format[i + 1];
            if (next == QLatin1Char('%')) {
                out += QLatin1Char('%');
                ++i;
                continue;
            }
            if (next == QLatin1Char('d') && used < 2) {
                out += QString::number(used == 0 ? page : pageCount);
                ++used;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString timeLeftText(int seconds, int pageCount) {
    if (seconds > 60)
        return QStringLiteral("%1 minuti, %2 secondi").arg(seconds / 60).arg(seconds % 60);
    if (pageCount > 1 && seconds > 0)
        return QStringLiteral("%1 secondi").arg(seconds);
    return QStringLiteral("??");
}

QFont ListPageLayout::resolvedFont(const QString& family, int points) {
    QFont font(family, points);
    if (QFontInfo(font).family().compare(family, Qt::CaseInsensitive) != 0)
        font = QFont(QStringLiteral("Liberation Sans"), points);
    return font;
}

QList<int> ListPageLayout::contentWidths(const PrintSettings& settings, const PrintTable& table,
                                         QPaintDevice& device) {
    const QFontMetrics fm(resolvedFont(settings.printFont, settings.printSize), &device);
    const int room = 2 * cellInset(fm) + 2; // insets and the rule
    QList<int> widths;
    for (qsizetype c = 0; c < table.columns.size(); ++c) {
        if (table.columns[c].width <= 0) {
            widths << 0;
            continue;
        }
        int widest = fm.horizontalAdvance(table.columns[c].title);
        for (const QStringList& row : table.rows)
            if (c < row.size())
                widest = std::max(widest, fm.horizontalAdvance(row[c]));
        widths << widest + room;
    }
    return widths;
}

QPageLayout::Orientation ListPageLayout::preferredOrientation(const PrintSettings& settings,
                                                              const PrintTable& table,
                                                              QPaintDevice& device,
                                                              const QSizeF& paperMm) {
    const double narrowMm = std::min(paperMm.width(), paperMm.height());
    const int across = int(narrowMm * device.logicalDpiX() / 25.4) -
                       mmToDevice(settings.marginLeft, device.logicalDpiX()) -
                       mmToDevice(settings.marginRight, device.logicalDpiX());
    qint64 needed = 0;
    for (int w : contentWidths(settings, table, device))
        needed += w;
    return needed <= across ? QPageLayout::Portrait : QPageLayout::Landscape;
}

ListPageLayout::ListPageLayout(const PrintSettings& settings, const PrintTable& table,
                               QPaintDevice& device, const QRect& page)
    : m_settings(settings)
    , m_table(table)
    , m_headFont(resolvedFont(settings.headFont, settings.headSize))
    , m_footFont(resolvedFont(settings.footFont, settings.footSize))
    , m_printFont(resolvedFont(settings.printFont, settings.printSize)) {
    m_printable = page.adjusted(mmToDevice(settings.marginLeft, device.logicalDpiX()),
                                mmToDevice(settings.marginTop, device.logicalDpiY()),
                                -mmToDevice(settings.marginRight, device.logicalDpiX()),
                                -mmToDevice(settings.marginBottom, device.logicalDpiY()));
    if (m_printable.width() < 1 || m_printable.height() < 1)
        m_printable =
            QRect(page.topLeft(), QSize(std::max(page.width(), 1), std::max(page.height(), 1)));

    const QFontMetrics head(m_headFont, &device);
    const QFontMetrics foot(m_footFont, &device);
    const QFontMetrics print(m_printFont, &device);
    const QString x = QStringLiteral("X");
    m_rowHeight = print.size(Qt::TextSingleLine, x).height() + 4;
    m_cellInset = cellInset(print);

    // Column boundaries: the screen widths added up, then scaled to the
    // printable width.
    qint64 total = 0;
    QList<qint64> sums{0};
    for (const PrintColumn& c : table.columns) {
        total += std::max(c.width, 0);
        sums << total;
    }
    const int width = m_printable.width();
    for (qsizetype i = 0; i < sums.size(); ++i) {
        if (total > 0)
            m_edges << int(sums[i] * width / total);
        else // all columns hidden on screen: share the width equally
            m_edges << int(i * width / std::max<qsizetype>(sums.size() - 1, 1));
    }
    // Screen proportions that would cut a text give way to the texts' widths.
    const QList<int> needed = total > 0 ? contentWidths(settings, table, device) : QList<int>();
    qint64 neededTotal = 0;
    bool cut = false;
    for (qsizetype i = 0; i < needed.size(); ++i) {
        neededTotal += needed[i];
        cut = cut || m_edges[i + 1] - m_edges[i] < needed[i];
    }
    if (cut) {
        const qint64 spare = std::max<qint64>(width - neededTotal, 0);
        // Too wide even so: every column shrinks by the same share.
        const qint64 scale = std::max<qint64>(neededTotal, width);
        qint64 at = 0;
        for (qsizetype i = 0; i < needed.size(); ++i) {
            at += needed[i];
            m_edges[i + 1] = int((at * width / scale) + spare * sums[i + 1] / total);
        }
        m_edges.last() = width;
    }

    // The header band is measured with the widest page number the list can
    // have, so no page's number runs into the header text.
    const int worstCount = int(std::min<qsizetype>(table.rows.size() + 1, 1 << 30));
    const QString number = pageNumberText(settings.pageFormat, worstCount, worstCount);
    m_numberWidth = number.isEmpty() ? 0 : std::min(head.horizontalAdvance(number) + 1, width);
    // Header lines are 4 higher than the font, as rows are.
    const int numberHeight = number.isEmpty() ? 0 : wrappedHeight(head, m_numberWidth, number) + 4;
    const int headHeight = settings.pageHead.isEmpty()
                               ? 0
                               : wrappedHeight(head, width - m_numberWidth, settings.pageHead) + 4;
    m_headerBand = std::max(numberHeight, headHeight);
    m_footerBand = wrappedHeight(foot, width, settings.pageFooter);

    const int left = m_printable.height() - m_headerBand - m_rowHeight - m_footerBand - 2;
    // Fonts too large for the paper still print one row per page rather than
    // dividing by nothing.
    m_rowsPerPage = std::max(1, left / (m_rowHeight + 1) - 1);
    m_pageCount = int(table.rows.size() / m_rowsPerPage + 1);
}

void ListPageLayout::drawPage(QPainter& painter, int page) const {
    painter.save();
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    const QRect& area = m_printable;
    const int left = area.left();
    const int width = area.width();

    // Header band.
    painter.setFont(m_headFont);
    if (!m_settings.pageFormat.isEmpty()) {
        const QString number = pageNumberText(m_settings.pageFormat, page, m_pageCount);
        painter.drawText(
            QRect(area.right() - m_numberWidth + 1, area.top(), m_numberWidth, m_headerBand),
            Qt::TextWordWrap | Qt::AlignRight | Qt::AlignTop, number);
    }
    if (!m_settings.pageHead.isEmpty())
        painter.drawText(QRect(left, area.top(), width - m_numberWidth, m_headerBand),
                         Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, m_settings.pageHead);

    const int columns = int(m_table.columns.size());
    const auto cellText = [&](const QRect& cell, int column, const QString& text) {
        const QRect inner = cell.adjusted(m_cellInset, 0, -m_cellInset, 0);
        if (inner.width() <= 0 || text.isEmpty())
            return;
        const QString shown = painter.fontMetrics().elidedText(text, Qt::ElideRight, inner.width());
        const Qt::Alignment h = m_table.columns[column].align & Qt::AlignHorizontal_Mask;
        painter.drawText(inner, int(h | Qt::AlignVCenter | Qt::TextSingleLine), shown);
    };

    // Column titles.
    painter.setFont(m_printFont);
    int y = area.top() + m_headerBand;
    const int right = left + m_edges.last();
    painter.drawRect(QRect(left, y, right - left, m_rowHeight));
    for (int c = 0; c < columns; ++c) {
        const QRect cell(left + m_edges[c], y, m_edges[c + 1] - m_edges[c], m_rowHeight);
        painter.drawRect(cell);
        cellText(cell, c, m_table.columns[c].title);
    }
    y += m_rowHeight + 1;

    // Rows; the positions after the last list row stay empty but ruled.
    const qsizetype first = qsizetype(page - 1) * m_rowsPerPage;
    for (int r = 0; r < m_rowsPerPage; ++r) {
        const qsizetype index = first + r;
        const QStringList* row = index < m_table.rows.size() ? &m_table.rows[index] : nullptr;
        for (int c = 0; c < columns; ++c) {
            const int x0 = left + m_edges[c];
            const int x1 = left + m_edges[c + 1];
            painter.drawLine(x0, y, x0, y + m_rowHeight);
            painter.drawLine(x0, y, x1, y);
            if (row && c < row->size())
                cellText(QRect(x0, y + 1, x1 - x0, m_rowHeight), c, row->at(c));
        }
        painter.drawLine(right, y, right, y + m_rowHeight);
        y += m_rowHeight + 1;
    }
    painter.drawLine(left, y, right, y);

    // Footer band, 2 pixels above the bottom.
    if (!m_settings.pageFooter.isEmpty()) {
        painter.setFont(m_footFont);
        painter.drawText(QRect(left, area.bottom() - 2 - m_footerBand, width, m_footerBand),
                         Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, m_settings.pageFooter);
    }
    painter.restore();
}

} // namespace qarsilo
