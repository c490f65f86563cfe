#include "core/capture/link_speed.h"

namespace qarsilo {

qint64 linkSpeedBps(const QString& device, const SysfsNet& sysfs) {
    const auto mbps = sysfs.speedMbps(device);
    if (!mbps)
        return kUnknownLinkSpeedBps;
    return *mbps * 1'000'000;
}

QString linkSpeedText(qint64 bitsPerSecond) {
    // No speed at all is the assumed 10 Mb/s (see kUnknownLinkSpeedBps).
    if (bitsPerSecond <= 0)
        return QStringLiteral("10 Mbps");
    if (bitsPerSecond % 1'000'000 == 0)
        return QStringLiteral("%1 Mbps").arg(bitsPerSecond / 1'000'000);
    // Not a whole number of Mb/s (only a hand-set speed is): two decimals at most.
    QString mbps = QString::number(static_cast<double>(bitsPerSecond) / 1e6, 'f', 2);
    while (mbps.endsWith(QLatin1Char('0')))
        mbps.chop(1);
    if (mbps.endsWith(QLatin1Char('.')))
        mbps.chop(1);
    return mbps + QStringLiteral(" Mbps");
}

} // namespace qarsilo
