#include "core/capture/sysfs_net.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qarsilo {

SysfsNet::SysfsNet(QString root)
    : m_root(std::move(root)) {}

QString SysfsNet::path(const QString& dev, const QString& entry) const {
    return m_root + QLatin1Char('/') + dev + QLatin1Char('/') + entry;
}

QString SysfsNet::readLine(const QString& dev, const QString& entry) const {
    // Device names never contain '/', but a crafted name must not walk the tree.
    if (dev.isEmpty() || dev.contains(QLatin1Char('/')) || dev.startsWith(QLatin1Char('.')))
        return {};
    QFile f(path(dev, entry));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // Reading "speed" of a link that is down fails with EINVAL; readLine then
    // returns nothing, which counts as unknown.
    return QString::fromLatin1(f.readLine(256)).trimmed();
}

bool SysfsNet::exists(const QString& dev) const {
    if (dev.isEmpty() || dev.contains(QLatin1Char('/')) || dev.startsWith(QLatin1Char('.')))
        return false;
    return QFileInfo(m_root + QLatin1Char('/') + dev).isDir();
}

std::optional<int> SysfsNet::linkType(const QString& dev) const {
    bool ok = false;
    const int t = readLine(dev, QStringLiteral("type")).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return t;
}

std::optional<qint64> SysfsNet::speedMbps(const QString& dev) const {
    bool ok = false;
    const qint64 s = readLine(dev, QStringLiteral("speed")).toLongLong(&ok);
    if (!ok || s <= 0)
        return std::nullopt;
    return s;
}

QString SysfsNet::operState(const QString& dev) const {
    return readLine(dev, QStringLiteral("operstate"));
}

QString SysfsNet::address(const QString& dev) const {
    return readLine(dev, QStringLiteral("address"));
}

QString SysfsNet::driver(const QString& dev) const {
    if (!exists(dev))
        return {};
    const QFileInfo link(path(dev, QStringLiteral("device/driver")));
    if (link.isSymLink())
        return QFileInfo(link.symLinkTarget()).fileName();
    // Fake trees in tests (and some virtual devices) publish a plain file instead.
    return readLine(dev, QStringLiteral("device/driver"));
}

bool SysfsNet::isWireless(const QString& dev) const {
    return exists(dev) && (QFileInfo::exists(path(dev, QStringLiteral("wireless"))) ||
                           QFileInfo::exists(path(dev, QStringLiteral("phy80211"))));
}

bool SysfsNet::isBridge(const QString& dev) const {
    return exists(dev) && QFileInfo::exists(path(dev, QStringLiteral("bridge")));
}

bool SysfsNet::isBond(const QString& dev) const {
    return exists(dev) && QFileInfo::exists(path(dev, QStringLiteral("bonding")));
}

} // namespace qarsilo
