#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace qarsilo {

/// What the autodiscovery listens to.
enum class DiscoveryMode : std::uint8_t {
    NetBios, ///< NetBIOS datagrams ("port 138"): sender, name and workgroup
    Ip,      ///< every IPv4 frame ("ip"): both MAC/IPv4 ends
};

using MacBytes = std::array<std::uint8_t, 6>;

/// A MAC as one number, first byte highest: a cheap key for hash tables.
constexpr std::uint64_t macKey(const MacBytes& mac) {
    std::uint64_t key = 0;
    for (const std::uint8_t b : mac)
        key = (key << 8) | b;
    return key;
}

/// Whether `mac` is a broadcast or multicast address (the group bit, the
/// lowest bit of the first byte): such an address names no station.
constexpr bool isGroupMac(const MacBytes& mac) {
    return (mac[0] & 1) != 0;
}

/// The capture filter text of a mode.
QString discoveryFilter(DiscoveryMode mode);

/// "%.2x:%.2x:%.2x:%.2x:%.2x:%.2x".
QString discoveryMacText(const MacBytes& mac);
/// "%d.%d.%d.%d" of an address held with its first byte highest.
QString discoveryIpText(std::uint32_t ip);
/// The /24 network of an address, "%d.%d.%d.0".
QString discoverySubnetText(std::uint32_t ip);
/// A time stamp as the "DATE" column holds it: "%d %b %Y, %H:%M:%S", local time.
QString discoveryDateText(std::int64_t secondsSinceEpoch);
/// The "DATE" texts of many time stamps, as discoveryDateText makes them. The
/// local time zone is read once per hour of time stamps (twice, to see that
/// its offset holds for the whole hour) rather than once per text, and the day
/// part is made once per day; texts of the same second as the text before
/// share that one's. Lives as long as one batch of texts: a change of the zone
/// while it lives is not seen.
class DiscoveryDateTexts {
public:
    QString text(std::int64_t secondsSinceEpoch);

private:
    QString make(std::int64_t secondsSinceEpoch);

    std::int64_t m_hour = -1; ///< the hour m_offset was read for; -1: none
    int m_offset = 0;         ///< seconds east of UTC
    bool m_steady = false;    ///< whether m_offset holds for the whole hour
    std::int64_t m_day = -1;  ///< the local day m_dayText is of; -1: none
    QString m_dayText;        ///< "dd MMM yyyy, "
    std::int64_t m_lastSeconds = 0;
    QString m_lastText; ///< of m_lastSeconds; null: none yet
};
/// A log line: the local time as "%H:%M:%S : " and the message.
QString discoveryLogLine(const QString& message);

/// Decodes one first-level encoded NetBIOS name of 32 bytes: each pair (h, l)
/// gives the 8-bit character ((h * 16) - 16) | (l - 65); decoding stops at the
/// first blank (padding) and a character 0 adds nothing.
QByteArray decodeNetbiosName(const std::uint8_t* encoded32);

/// What one NetBIOS datagram tells.
struct NetbiosSighting {
    MacBytes mac{};
    std::uint32_t ip = 0;
    QString name;      ///< decoded source name, suffix included when it is not 0
    QString workgroup; ///< decoded destination name
};

/// One IPv4 frame's two ends.
struct IpSighting {
    MacBytes srcMac{};
    std::uint32_t srcIp = 0;
    MacBytes dstMac{};
    std::uint32_t dstIp = 0;
};

/// Bytes a NetBIOS datagram must have for its two names (up to the end of the
/// encoded destination name).
inline constexpr std::size_t kNetbiosFrameMinimum = 123;
/// Bytes an IPv4 frame must have for both addresses.
inline constexpr std::size_t kIpFrameMinimum = 34;

/// Whether parseNetbiosFrame gives a sighting of the frame, without decoding
/// the names (kNetbiosSourceName and kNetbiosDestinationName: where the
/// encoded names are).
bool isNetbiosDatagram(const std::uint8_t* bytes, std::size_t length);
inline constexpr std::size_t kNetbiosSourceName = 57;
inline constexpr std::size_t kNetbiosDestinationName = 91;
/// Reads a NetBIOS datagram from an Ethernet II frame of `length` captured
/// bytes: IPv4 with a 20-byte header, UDP, and both names. Frames laid out
/// otherwise (short, VLAN-tagged, IPv4 options, TCP, IPv6) give nothing, and
/// so does a datagram to a name beginning with the character 0x01 (browser
/// traffic such as "\x01\x02__MSBROWSE__\x02\x01", not a workgroup).
std::optional<NetbiosSighting> parseNetbiosFrame(const std::uint8_t* bytes, std::size_t length);
/// Reads both ends of an IPv4 frame (Ethernet II, IPv4); anything else gives nothing.
std::optional<IpSighting> parseIpFrame(const std::uint8_t* bytes, std::size_t length);

} // namespace qarsilo
