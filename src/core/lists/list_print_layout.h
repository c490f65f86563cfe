#pragma once

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;
class QPaintDevice;
class QSettings;

namespace qarsilo {

/// How lists are printed, kept in the "Print Setting" group of the settings
/// file: margins in millimetres, the header, footer and table fonts with
/// their point sizes, and the page header, footer and page number texts.
/// The margins are the only ones a printed list has: the printer is used
/// as a whole sheet.
struct PrintSettings {
    int marginLeft = 10;
    int marginRight = 10;
    int marginTop = 10;
    int marginBottom = 10;
    // Fonts the set-up installs, so a list never prints in a stand-in font.
    QString headFont = QStringLiteral("Liberation Sans");
    int headSize = 12;
    QString footFont = QStringLiteral("Liberation Sans");
    int footSize = 6;
    QString printFont = QStringLiteral("Liberation Sans");
    int printSize = 8;
    QString pageHead = QStringLiteral("Network Address Book");
    QString pageFooter; ///< no footer until the operator writes one
    QString pageFormat = QStringLiteral("Page %d of %d");

    /// The stored settings; entries that are missing or not usable keep
    /// their defaults.
    static PrintSettings load();
    /// Stores every entry.
    void save() const;
    static PrintSettings load(QSettings& settings);
    void save(QSettings& settings) const;

    friend bool operator==(const PrintSettings&, const PrintSettings&) = default;
};

/// One column as the list shows it on screen.
struct PrintColumn {
    QString title;
    int width = 0; ///< pixels on screen
    Qt::Alignment align = Qt::AlignLeft;
};

/// What is printed: the list's columns and its rows in the order shown.
struct PrintTable {
    QList<PrintColumn> columns;
    QList<QStringList> rows;
};

/// The page number text: the first "%d" of `format` becomes the page, the
/// second the page count, "%%" a percent sign; anything else stays as typed
/// (the format is the operator's, never handed to printf).
QString pageNumberText(const QString& format, int page, int pageCount);

/// The time left as the progress window shows it: "%d minuti, %d secondi"
/// above a minute, else "%d secondi" for a job of more than one page, and
/// "??" while nothing is known (0 seconds).
QString timeLeftText(int seconds, int pageCount);

/// The pages of a printed list on one device: a header band (header text at
/// the left, page number at the right), the column titles, ruled rows (the
/// rows after the last list row ruled and empty) and a footer band, inside
/// the page less its margins.
class ListPageLayout {
public:
    /// `page` is the device's whole page in device units.
    ListPageLayout(const PrintSettings& settings, const PrintTable& table, QPaintDevice& device,
                   const QRect& page);

    /// The font `family` when it is installed, else the set-up's "Liberation
    /// Sans" (a stored name that no longer resolves must not print in
    /// whatever the system substitutes).
    static QFont resolvedFont(const QString& family, int points);
    /// Portrait when every column's widest text fits across a portrait sheet
    /// of `paperMm` (either way round) less the margins, else landscape.
    static QPageLayout::Orientation preferredOrientation(const PrintSettings& settings,
                                                         const PrintTable& table,
                                                         QPaintDevice& device,
                                                         const QSizeF& paperMm);
    /// Per column, the room its title and widest cell need in device units
    /// (0 for a column hidden on screen).
    static QList<int> contentWidths(const PrintSettings& settings, const PrintTable& table,
                                    QPaintDevice& device);

    const QFont& headFont() const { return m_headFont; }
    const QFont& footFont() const { return m_footFont; }
    const QFont& printFont() const { return m_printFont; }

    int pageCount() const { return m_pageCount; }
    int rowsPerPage() const { return m_rowsPerPage; }
    /// The table font's height plus 4.
    int rowHeight() const { return m_rowHeight; }
    int headerBandHeight() const { return m_headerBand; }
    int footerBandHeight() const { return m_footerBand; }
    /// The page less the margins.
    QRect printableRect() const { return m_printable; }
    /// Column boundaries from the printable area's left edge: one more than
    /// the columns, the first 0, the last the printable width. The columns
    /// keep their screen proportions while that leaves each room for its
    /// texts; otherwise each gets its texts' width and the rest of the line
    /// is shared by the screen proportions.
    const QList<int>& columnEdges() const { return m_edges; }
    /// The rows page `page` (from 1) shows: first index and count of list rows.
    int firstRow(int page) const { return (page - 1) * m_rowsPerPage; }

    /// Draws page `page` (from 1) with a painter that is active on the device.
    void drawPage(QPainter& painter, int page) const;

private:
    const PrintSettings& m_settings;
    const PrintTable& m_table;
    QFont m_headFont;
    QFont m_footFont;
    QFont m_printFont;
    QRect m_printable;
    QList<int> m_edges;
    int m_rowHeight = 0;
    int m_headerBand = 0;
    int m_footerBand = 0;
    int m_rowsPerPage = 1;
    int m_pageCount = 1;
    int m_numberWidth = 0; // widest page number text, so the header text stays clear of it
    int m_cellInset = 0;
};

} // namespace qarsilo
