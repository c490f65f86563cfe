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

/// The speed in Mb/s: "10 Mbps", "100 Mbps", "1000 Mbps", "2500 Mbps",
/// "10000 Mbps"; a speed of 0 or less is the assumed "10 Mbps".
QString linkSpeedText(qint64 bitsPerSecond);

} // namespace qarsilo
