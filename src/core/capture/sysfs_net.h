#pragma once

#include <QString>
#include <optional>

namespace qarsilo {

/// Reads what the kernel publishes about a network interface under
/// /sys/class/net/<name>. The root can be pointed at a fake tree in tests.
class SysfsNet {
public:
    explicit SysfsNet(QString root = QStringLiteral("/sys/class/net"));

    bool exists(const QString& dev) const;
    /// ARPHRD_* link type (1 Ethernet, 772 loopback, ...), if published.
    std::optional<int> linkType(const QString& dev) const;
    /// Link speed in Mb/s; absent when unknown (link down, -1, loopback, wireless).
    std::optional<qint64> speedMbps(const QString& dev) const;
    /// "up", "down", "unknown", ... or empty.
    QString operState(const QString& dev) const;
    /// Hardware address as published ("aa:bb:cc:dd:ee:ff"), or empty.
    QString address(const QString& dev) const;
    /// Kernel driver bound to the device (e1000e, virtio_net, ...), or empty.
    QString driver(const QString& dev) const;
    bool isWireless(const QString& dev) const;
    bool isBridge(const QString& dev) const;
    bool isBond(const QString& dev) const;

    const QString& root() const { return m_root; }

private:
    QString path(const QString& dev, const QString& entry) const;
    QString readLine(const QString& dev, const QString& entry) const;

    QString m_root;
};

} // namespace qarsilo
