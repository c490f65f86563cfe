#include "core/capture/link_speed.h"

namespace qarsilo {

qint64 linkSpeedBps(const QString& device, const SysfsNet& sysfs) {
    const auto mbps = sysfs.speedMbps(device);
    if (!mbps)
        return kUnknownLinkSpeedBps;
    return *mbps * 1'000'000;
}

QString linkSpeedText(qint64 bitsPerSecond) {
    if (bitsPerSecond < 100'000'000)
        return QStringLiteral("10 Mbps");
    if (bitsPerSecond == 100'000'000)
        return QStringLiteral("100 Mbps");
    return QStringLiteral("1000 Mbps");
}

} // namespace qarsilo
