#pragma once

#include "core/capture/sysfs_net.h"

#include <QString>
#include <vector>

namespace qarsilo {

/// One row of the adapter choice: the device name handed to libpcap and a
/// description for people.
struct AdapterInfo {
    QString name;
    QString description;
    bool operator==(const AdapterInfo&) const = default;
};

/// A device as libpcap's device list reports it.
struct PcapDevice {
    QString name;
    QString description; ///< libpcap's own description; usually empty on Linux
    bool loopback = false;
};

/// Whether libpcap can read the capture file at `path` (pcap or pcapng); on
/// failure `error` (when given) says why.
bool canReadCaptureFile(const QString& path, QString* error = nullptr);

/// libpcap's device list in its own order. On failure the list is empty and
/// `error` (when given) holds libpcap's message.
std::vector<PcapDevice> pcapDevices(QString* error = nullptr);

/// True for devices that hand libpcap Ethernet frames: network interfaces of
/// link type Ethernet (wired, wireless in station mode, bridges, veth, ...)
/// and the loopback interface, which Linux frames as Ethernet. Pseudo-devices
/// ("any", nflog, nfqueue, D-Bus, Bluetooth and USB monitors) and tunnels that
/// carry bare IP are left out: the program decodes Ethernet only.
bool deliversEthernet(const PcapDevice& device, const SysfsNet& sysfs);

/// libpcap's description, or one built from sysfs: kind of link, driver,
/// hardware address, speed and state, e.g.
/// "Ethernet (e1000e), 00:1b:21:3a:4f:10, 1000 Mbps, up".
QString describeDevice(const PcapDevice& device, const SysfsNet& sysfs);

/// The devices offered for capture, in libpcap's order, each with a description.
std::vector<AdapterInfo> captureAdapters(const std::vector<PcapDevice>& devices,
                                         const SysfsNet& sysfs);
/// The same for this machine.
std::vector<AdapterInfo> captureAdapters(QString* error = nullptr);

/// The device used when none was chosen: the first offered device that is not
/// the loopback interface, else the first offered device, else empty.
QString defaultDevice(const std::vector<PcapDevice>& devices, const SysfsNet& sysfs);
QString defaultDevice();

} // namespace qarsilo
