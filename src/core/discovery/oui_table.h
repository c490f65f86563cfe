#pragma once

#include <QHash>
#include <QString>

namespace qarsilo {

/// The makers of network cards by the first three bytes of their MAC address,
/// from the IEEE list ("oui.txt", as the ieee-data package installs it).
class OuiTable {
public:
    /// The list installed on the system, read once on first use; empty when
    /// it is not installed.
    static const OuiTable& system();
    /// Where system() looks.
    static QString systemPath();

    /// Reads lines "XX-XX-XX   (hex)  Maker"; other lines are skipped.
    void parse(const QByteArray& text);
    bool isEmpty() const { return m_makers.isEmpty(); }

    /// The tooltip of a MAC cell ("aa:bb:cc:dd:ee:ff"): the maker, that the
    /// address is locally administered (no maker), or that none is known.
    QString describe(const QString& macText) const;

private:
    QHash<quint32, QString> m_makers;
};

} // namespace qarsilo
