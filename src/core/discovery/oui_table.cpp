#include "core/discovery/oui_table.h"

#include <QFile>
#include <QRegularExpression>

namespace qarsilo {

QString OuiTable::systemPath() {
    return QStringLiteral("/usr/share/ieee-data/oui.txt");
}

const OuiTable& OuiTable::system() {
    static const OuiTable table = [] {
        OuiTable t;
        QFile f(systemPath());
        if (f.open(QIODevice::ReadOnly))
            t.parse(f.readAll());
        return t;
    }();
    return table;
}

void OuiTable::parse(const QByteArray& text) {
    static const QRegularExpression line(QStringLiteral(
        "^\\s*([0-9A-Fa-f]{2})-([0-9A-Fa-f]{2})-([0-9A-Fa-f]{2})\\s+\\(hex\\)\\s*(.*?)\\s*$"));
    for (const QByteArray& raw : text.split('\n')) {
        if (!raw.contains("(hex)"))
            continue;
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(raw));
        if (!m.hasMatch())
            continue;
        const quint32 key = (m.captured(1).toUInt(nullptr, 16) << 16) |
                            (m.captured(2).toUInt(nullptr, 16) << 8) |
                            m.captured(3).toUInt(nullptr, 16);
        m_makers.insert(key, m.captured(4));
    }
}

QString OuiTable::describe(const QString& macText) const {
    const QStringList parts = macText.split(QLatin1Char(':'));
    bool ok = parts.size() == 6;
    quint32 key = 0;
    for (int i = 0; ok && i < 3; ++i)
        key = (key << 8) | parts[i].toUInt(&ok, 16);
    if (!ok)
        return {};
    if (key & 0x020000)
        return QStringLiteral("Locally administered address: no maker registered");
    const auto it = m_makers.constFind(key);
    if (it != m_makers.cend())
        return QStringLiteral("Maker: %1").arg(*it);
    if (m_makers.isEmpty())
        return QStringLiteral("Maker unknown (the IEEE list of the ieee-data package is not "
                              "installed)");
    return QStringLiteral("Maker unknown");
}

} // namespace qarsilo
