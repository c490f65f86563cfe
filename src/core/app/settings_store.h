#pragma once

#include <QString>
#include <QtGlobal>

namespace qarsilo {

/// Names of the values kept between runs.
namespace setting {
inline const QString adapterName = QStringLiteral("Adapter Name");
inline const QString filter = QStringLiteral("Filter");
inline const QString macAddress = QStringLiteral("MAC Address");
inline const QString layer = QStringLiteral("Layer");
inline const QString timeFormat = QStringLiteral("Time Format"); ///< 0, 1 or 2
inline const QString replaySpeed =
    QStringLiteral("Replay Speed"); ///< 0 real time, 1 10x, 2 fastest
inline const QString analyzerLayout = QStringLiteral("Analyzer Layout"); ///< panes and columns
inline const QString windowPosition = QStringLiteral("Window Position"); ///< "x,y"
/// The main window's size when last not maximized, "width,height".
inline const QString windowSize = QStringLiteral("Window Size");
/// 1 when the main window was last left maximized.
inline const QString windowMaximized = QStringLiteral("Window Maximized");
inline const QString recentFiles = QStringLiteral("Recent Files"); ///< newest first, one a line
/// MiB of captured frames the analyzer keeps in memory before spilling to a
/// temporary capture file; 1024 when absent.
inline const QString frameStoreBudget = QStringLiteral("Frame Store Budget");
/// The folder of the analyzer's spill file; empty or absent: the system
/// temporary folder.
inline const QString spillFolder = QStringLiteral("Spill Folder");
/// Where the address book lives: empty (address.mdb), a file, a postgresql:// URL.
inline const QString addressBook = QStringLiteral("Address Book");
/// The chart a newly opened chart window starts in: 0 bar (the default), 1 pie.
inline const QString chartType = QStringLiteral("Chart Type");
} // namespace setting

/// The program's small settings store: strings and unsigned 32-bit numbers under
/// the organisation and application "qarsilo", in an INI file in the user's
/// configuration folder. Each call opens the store, does one thing and closes it,
/// so two windows never see stale values of each other.
class SettingsStore {
public:
    /// The store in the user's configuration folder (QSettings' INI location).
    SettingsStore();
    /// A store in an explicit INI file (tests, alternative profiles).
    explicit SettingsStore(QString iniPath);

    /// Stores a text value. Returns false when the file could not be written.
    /// While the file holds a postgresql:// URL with a password, only its
    /// owner may read it (mode 0600).
    bool writeString(const QString& name, const QString& text);
    /// Stores an unsigned 32-bit value.
    bool writeNumber(const QString& name, quint32 value);

    /// Reads a text value into `text`. When the value is absent, `text` keeps
    /// its previous content and false is returned.
    bool readString(const QString& name, QString& text) const;
    /// Reads a number into `value`; absent or not a number leaves it unchanged.
    bool readNumber(const QString& name, quint32& value) const;

    /// Convenience: the text value or an empty string.
    QString string(const QString& name) const;

    /// The INI file in use.
    QString fileName() const;

private:
    QString m_iniPath; // empty: QSettings' default user location
};

/// View > Time Format as stored: 0 as captured, 1 date and time, 2 seconds since the first
/// frame.
quint32 storedTimeFormat();
/// View > Replay Speed as stored: 0 real time (the default), 1 ten times, 2 as fast as
/// possible.
quint32 storedReplaySpeed();
/// The chart type as stored: 0 bar chart (the default), 1 pie chart.
quint32 storedChartType();

} // namespace qarsilo
