#pragma once

#include <QString>
#include <pcap/pcap.h>

namespace qarsilo {

/// Compiles capture filter expressions as the analyzer's capture will: with
/// the selected adapter's link type and netmask, or as Ethernet without a
/// netmask for a capture file. Made once per filter dialog; each check is a
/// compile against a handle that captures nothing.
class FilterCheck {
public:
    /// `adapterName` is a device or "file:PATH"; for a device that cannot be
    /// opened the link type is taken as Ethernet.
    explicit FilterCheck(const QString& adapterName);
    ~FilterCheck();
    FilterCheck(const FilterCheck&) = delete;
    FilterCheck& operator=(const FilterCheck&) = delete;

    /// Empty when `expression` compiles (an empty expression always does),
    /// otherwise libpcap's error text.
    QString check(const QString& expression) const;

    int linkType() const { return m_linkType; }
    /// PCAP_NETMASK_UNKNOWN when the adapter's network is not known.
    bpf_u_int32 netmask() const { return m_netmask; }

private:
    pcap_t* m_dead = nullptr;
    int m_linkType = DLT_EN10MB;
    bpf_u_int32 m_netmask = PCAP_NETMASK_UNKNOWN;
};

} // namespace qarsilo
