#pragma once

#include "core/capture/sysfs_net.h"

#include <QString>

namespace qarsilo {

/// The speed assumed when the adapter does not tell its own (link down,
/// loopback, wireless, capture files): 10 Mb/s. Never 0, so utilization
/// (bits per second * 100 / link speed) never divides by zero.
inline constexpr qint64 kUnknownLinkSpeedBps = 10'000'000;

/// The adapter's link speed in bits per second. 64 bits wide: a 10 Gb/s link
/// does not fit the 32-bit signed counter older capture drivers used.
qint64 linkSpeedBps(const QString& device, const SysfsNet& sysfs = SysfsNet());

/// "10 Mbps" below 100,000,000 b/s, "100 Mbps" at exactly 100,000,000,
/// "1000 Mbps" above.
QString linkSpeedText(qint64 bitsPerSecond);

} // namespace qarsilo
