#include "core/capture/adapter_list.h"

#include "core/capture/capture_source.h"
#include "core/capture/native_path.h"

#include <QStringList>
#include <pcap/pcap.h>
#include <sys/stat.h>

namespace qarsilo {

namespace {
constexpr int kArphrdEther = 1;
constexpr int kArphrdLoopback = 772;
} // namespace

bool canReadCaptureFile(const QString& path, QString* error) {
    const QByteArray native = nativeFileName(path);
    // Opening a named pipe waits for a writer, and this runs on the interface
    // thread: only regular files are read.
    struct stat st {};
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (error && S_ISDIR(st.st_mode))
            *error = QStringLiteral("a folder, not a capture file");
        else if (error)
            *error = QStringLiteral("not a regular file (a named pipe, device or socket cannot "
                                    "be read as a capture file here)");
        return false;
    }
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(native.constData(), errbuf);
    if (!p) {
        if (error)
            *error = captureFileOpenError(path, QString::fromLocal8Bit(errbuf));
        return false;
    }
    const int linkType = pcap_datalink(p);
    pcap_close(p);
    if (linkType != DLT_EN10MB && error)
        *error = notEthernetText(linkType);
    return linkType == DLT_EN10MB;
}

std::vector<PcapDevice> pcapDevices(QString* error) {
    std::vector<PcapDevice> out;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* all = nullptr;
    if (pcap_findalldevs(&all, errbuf) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(errbuf);
        return out;
    }
    for (pcap_if_t* d = all; d; d = d->next) {
        PcapDevice dev;
        dev.name = QString::fromLocal8Bit(d->name);
        if (d->description)
            dev.description = QString::fromLocal8Bit(d->description).trimmed();
        dev.loopback = (d->flags & PCAP_IF_LOOPBACK) != 0;
        out.push_back(std::move(dev));
    }
    pcap_freealldevs(all);
    return out;
}

bool deliversEthernet(const PcapDevice& device, const SysfsNet& sysfs) {
    const QString name = device.name.trimmed();
    if (name.isEmpty() || !sysfs.exists(name))
        return false; // "any", nflog, dbus-*, bluetooth*, usbmon*: no network interface
    const auto type = sysfs.linkType(name);
    return type && (*type == kArphrdEther || *type == kArphrdLoopback);
}

QString describeDevice(const PcapDevice& device, const SysfsNet& sysfs) {
    if (!device.description.isEmpty())
        return device.description;
    const QString name = device.name.trimmed();
    if (!sysfs.exists(name))
        return {};

    const QString driver = sysfs.driver(name);
    QString kind;
    if (sysfs.linkType(name) == kArphrdLoopback || device.loopback)
        kind = QStringLiteral("Loopback");
    else if (sysfs.isWireless(name))
        kind = QStringLiteral("Wireless");
    else if (sysfs.isBridge(name))
        kind = QStringLiteral("Bridge");
    else if (sysfs.isBond(name))
        kind = QStringLiteral("Bonded Ethernet");
    else if (driver == QLatin1String("veth") || name.startsWith(QLatin1String("veth")))
        kind = QStringLiteral("Virtual Ethernet");
    else
        kind = QStringLiteral("Ethernet");

    QStringList parts;
    parts << (driver.isEmpty() || driver == QLatin1String("veth")
                  ? kind
                  : kind + QStringLiteral(" (") + driver + QLatin1Char(')'));
    const QString mac = sysfs.address(name);
    if (!mac.isEmpty() && mac != QLatin1String("00:00:00:00:00:00"))
        parts << mac;
    if (const auto mbps = sysfs.speedMbps(name))
        parts << (*mbps >= 1000 && *mbps % 1000 == 0
                      ? QString::number(*mbps / 1000) + QStringLiteral(" Gbps")
                      : QString::number(*mbps) + QStringLiteral(" Mbps"));
    const QString state = sysfs.operState(name);
    if (!state.isEmpty())
        parts << state;
    return parts.join(QStringLiteral(", "));
}

std::vector<AdapterInfo> captureAdapters(const std::vector<PcapDevice>& devices,
                                         const SysfsNet& sysfs) {
    std::vector<AdapterInfo> out;
    for (const PcapDevice& d : devices) {
        const QString name = d.name.trimmed();
        if (name.isEmpty() || !deliversEthernet(d, sysfs))
            continue;
        const QString description = describeDevice(d, sysfs);
        if (description.isEmpty())
            continue; // nothing to tell the operator what it is
        out.push_back({name, description});
    }
    return out;
}

std::vector<AdapterInfo> captureAdapters(QString* error) {
    return captureAdapters(pcapDevices(error), SysfsNet());
}

QString defaultDevice(const std::vector<PcapDevice>& devices, const SysfsNet& sysfs) {
    QString first;
    for (const PcapDevice& d : devices) {
        if (!deliversEthernet(d, sysfs))
            continue;
        const bool loop = d.loopback || sysfs.linkType(d.name.trimmed()) == kArphrdLoopback;
        if (!loop)
            return d.name.trimmed();
        if (first.isEmpty())
            first = d.name.trimmed();
    }
    return first;
}

QString defaultDevice() {
    return defaultDevice(pcapDevices(), SysfsNet());
}

} // namespace qarsilo
