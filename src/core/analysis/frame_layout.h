#pragma once

#include <cstddef>
#include <cstdint>

/// Where the program reads each header field, counted from the first byte of
/// the Ethernet frame. Multi-byte fields are big-endian. The layouts are fixed:
/// the IPv4 header is always taken as 20 bytes (options are not skipped) and
/// the IPv6 header as 40 (extension headers are not followed), so the
/// classifier and the detail decoder agree on every frame.
namespace qarsilo::layout {

using Offset = std::size_t;

// Ethernet (DIX / IEEE 802.3)
inline constexpr Offset kEthDestination = 0;
inline constexpr Offset kEthSource = 6;
inline constexpr Offset kEthTypeOrLength = 12;
inline constexpr Offset kEthHeaderEnd = 14;
/// Type-or-length values up to this one are IEEE 802.3 lengths; above, Ethernet II types.
inline constexpr std::uint16_t kMaxIeee8023Length = 1500;

// IEEE 802.2 LLC, always taken as a 3-byte unnumbered-format header
inline constexpr Offset kLlcDsap = 14;
inline constexpr Offset kLlcSsap = 15;
inline constexpr Offset kLlcControl = 16;
inline constexpr Offset kLlcEnd = 17;

// SNAP, after LLC
inline constexpr Offset kSnapOrganization = 17; // 3 bytes
inline constexpr Offset kSnapProtocolId = 20;
inline constexpr Offset kSnapEnd = 22;

// NetBIOS frame (LLC SAP 0xF0)
inline constexpr Offset kNetbiosLength = 17;
inline constexpr Offset kNetbiosDelimiter = 19;
inline constexpr Offset kNetbiosCommand = 21;
inline constexpr Offset kNetbiosEnd = 22;

// Spanning tree BPDU (LLC SAP 0x42)
inline constexpr Offset kBpduProtocolId = 17;
inline constexpr Offset kBpduVersion = 19;
inline constexpr Offset kBpduType = 20;
inline constexpr Offset kBpduFlags = 21;
inline constexpr Offset kBpduRootId = 22; // 8 bytes
inline constexpr Offset kBpduRootPathCost = 30;
inline constexpr Offset kBpduBridgeId = 34; // 8 bytes
inline constexpr Offset kBpduPortId = 42;
inline constexpr Offset kBpduMessageAge = 44;
inline constexpr Offset kBpduMaxAge = 46;
inline constexpr Offset kBpduHelloTime = 48;
inline constexpr Offset kBpduForwardDelay = 50;
inline constexpr Offset kBpduEnd = 52;

// IPX (LLC SAP 0xE0)
inline constexpr Offset kIpxChecksum = 17;
inline constexpr Offset kIpxLength = 19;
inline constexpr Offset kIpxTransportControl = 21;
inline constexpr Offset kIpxPacketType = 22;
inline constexpr Offset kIpxDestinationNetwork = 23; // 4 bytes
inline constexpr Offset kIpxDestinationNode = 27;    // 6 bytes
inline constexpr Offset kIpxDestinationSocket = 33;
inline constexpr Offset kIpxSourceNetwork = 35; // 4 bytes
inline constexpr Offset kIpxSourceNode = 39;    // 6 bytes
inline constexpr Offset kIpxSourceSocket = 45;
inline constexpr Offset kIpxEnd = 47;

// IPv4 (type 0x0800), 20 bytes
inline constexpr Offset kIpv4VersionIhl = 14;
inline constexpr Offset kIpv4TypeOfService = 15;
inline constexpr Offset kIpv4TotalLength = 16;
inline constexpr Offset kIpv4Identification = 18;
inline constexpr Offset kIpv4FlagsFragment = 20;
inline constexpr Offset kIpv4TimeToLive = 22;
inline constexpr Offset kIpv4Protocol = 23;
inline constexpr Offset kIpv4Checksum = 24;
inline constexpr Offset kIpv4Source = 26;      // 4 bytes
inline constexpr Offset kIpv4Destination = 30; // 4 bytes
inline constexpr Offset kIpv4End = 34;

// Transport header after IPv4: at 34 whatever the header length says
inline constexpr Offset kTcpSourcePort = 34;
inline constexpr Offset kTcpDestinationPort = 36;
inline constexpr Offset kTcpSequence = 38;
inline constexpr Offset kTcpAcknowledgement = 42;
inline constexpr Offset kTcpDataOffset = 46;
inline constexpr Offset kTcpFlags = 47;
inline constexpr Offset kTcpWindow = 48;
inline constexpr Offset kTcpChecksum = 50;
inline constexpr Offset kTcpUrgentPointer = 52;
inline constexpr Offset kTcpEnd = 54;
inline constexpr Offset kUdpSourcePort = 34;
inline constexpr Offset kUdpDestinationPort = 36;
inline constexpr Offset kUdpLength = 38;
inline constexpr Offset kUdpChecksum = 40;
inline constexpr Offset kUdpEnd = 42;
inline constexpr Offset kIcmpType = 34;
inline constexpr Offset kIcmpCode = 35;
inline constexpr Offset kIcmpChecksum = 36;
inline constexpr Offset kIcmpEnd = 38;

// ARP and RARP (types 0x0806, 0x8035)
inline constexpr Offset kArpHardwareType = 14;
inline constexpr Offset kArpProtocolType = 16;
inline constexpr Offset kArpHardwareLength = 18;
inline constexpr Offset kArpProtocolLength = 19;
inline constexpr Offset kArpOperation = 20;
inline constexpr Offset kArpSenderHardware = 22; // 6 bytes
inline constexpr Offset kArpSenderProtocol = 28; // 4 bytes
inline constexpr Offset kArpTargetHardware = 32; // 6 bytes
inline constexpr Offset kArpTargetProtocol = 38; // 4 bytes
inline constexpr Offset kArpEnd = 42;

// DEC bridge spanning tree (type 0x8038), 27 bytes
inline constexpr Offset kDecStpCode = 14;
inline constexpr Offset kDecStpMessageType = 15;
inline constexpr Offset kDecStpEnd = 41;
inline constexpr std::uint8_t kDecStpHello = 0x19;

// IPv6 (type 0x86DD), 40 bytes
inline constexpr Offset kIpv6VersionClassFlow = 14;
inline constexpr Offset kIpv6PayloadLength = 18;
inline constexpr Offset kIpv6NextHeader = 20;
inline constexpr Offset kIpv6HopLimit = 21;
inline constexpr Offset kIpv6Source = 22;      // 16 bytes
inline constexpr Offset kIpv6Destination = 38; // 16 bytes
inline constexpr Offset kIpv6End = 54;

} // namespace qarsilo::layout
