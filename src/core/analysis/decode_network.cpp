// The network layer of the decode tree under Ethernet II: IPv4, ARP, IPv6.
// The headers are read at fixed offsets: IPv4 as 20 bytes without options,
// IPv6 as 40 bytes without extension headers.
#include "core/analysis/decode_fields.h"
#include "core/analysis/protocol_table.h"

namespace qarsilo::decode {
namespace {

namespace L = layout;

using protocols::DecodeNames;
using protocols::IpProtocolRow;

// IPv4 protocol and IPv6 next header share the table; each keeps its own wording.
constexpr DecodeNames kIpv4ProtocolOther{" (?]", "IPV4 (Unknown)"};
constexpr DecodeNames kIpv6NextHeaderOther{" (?]", "IPv6 (Unknown)"};

// ARP operations that get a node; any other operation gets none.
struct ArpOperationRow {
    std::uint16_t key;
    std::string_view suffix;
};
constexpr ArpOperationRow kArpOperationRows[] = {
    {1, " (request)"},
    {2, " (reply)"},
};

static_assert(uniqueKeys(kArpOperationRows));

constexpr FieldSpec kIpv4Fields[] = {
    {"Version ", L::kIpv4VersionIhl, Value::HighNibble},
    {"Header Length ", L::kIpv4VersionIhl, Value::LowNibbleX4, " bytes"},
    {"Type of Service ", L::kIpv4TypeOfService, Value::Hex8},
    {"Total Length ", L::kIpv4TotalLength, Value::Dec16, " bytes"},
    {"Identification ", L::kIpv4Identification, Value::Hex16},
    {"Flag ", L::kIpv4FlagsFragment, Value::Top3Bits},
    {"Fragment Offset ", L::kIpv4FlagsFragment, Value::Low13Bits},
    {"Time to Live ", L::kIpv4TimeToLive, Value::Dec8},
    {"Protocol ", L::kIpv4Protocol, Value::Hex8, {}, true},
    {"Header Checksum ", L::kIpv4Checksum, Value::Hex16},
    {"Source Address ", L::kIpv4Source, Value::Ipv4},
    {"Destination Address ", L::kIpv4Destination, Value::Ipv4},
};

// The hardware and protocol type suffixes are shown whatever the values.
constexpr FieldSpec kArpHeadFields[] = {
    {"Hardware Type ", L::kArpHardwareType, Value::Hex16, " (Ethernet)"},
    {"Protocol Type ", L::kArpProtocolType, Value::Hex16, " (IPv4)"},
    {"Hardware Address Length ", L::kArpHardwareLength, Value::Dec8},
    {"Protocol Address Length ", L::kArpProtocolLength, Value::Dec8},
};
constexpr FieldSpec kArpOperation{"Operation ", L::kArpOperation, Value::Hex16, {}, true};
constexpr FieldSpec kArpAddressFields[] = {
    {"Sender Hardware Address ", L::kArpSenderHardware, Value::Mac},
    {"Sender Protocol Address ", L::kArpSenderProtocol, Value::Ipv4},
    {"Target Hardware Address ", L::kArpTargetHardware, Value::Mac},
    {"Target Protocol Address ", L::kArpTargetProtocol, Value::Ipv4},
};

constexpr FieldSpec kIpv6Fields[] = {
    {"Version ", L::kIpv6VersionClassFlow, Value::HighNibble},
    {"Traffic Class ", L::kIpv6VersionClassFlow, Value::TrafficClass},
    {"Flow Label ", L::kIpv6VersionClassFlow + 1, Value::FlowLabel},
    {"Next Header ", L::kIpv6NextHeader, Value::Hex8, {}, true},
    {"Hop Limit ", L::kIpv6HopLimit, Value::Dec8},
    {"Source Address ", L::kIpv6Source, Value::Ipv6},
    {"Destination Address ", L::kIpv6Destination, Value::Ipv6},
};

// The row of `key` when its `column` has a text; null for the fallback.
const IpProtocolRow* protocolRow(const std::optional<std::uint8_t>& key,
                                 DecodeNames IpProtocolRow::*column) {
    if (!key)
        return nullptr;
    const IpProtocolRow* row = rowOf(protocols::kIpProtocols, *key);
    return row && !(row->*column).suffix.empty() ? row : nullptr;
}

// Once the network header is complete, the transport header at `start` or the
// protocol's own summary.
std::string_view decodeAbove(TreeBuilder& tree, const IpProtocolRow* row, std::string_view summary,
                             Offset start) {
    switch (row ? row->follows : protocols::Follows::Nothing) {
    case protocols::Follows::Tcp:
        return decodeTcp(tree, start);
    case protocols::Follows::Udp:
        return decodeUdp(tree, start);
    default:
        return summary;
    }
}

} // namespace

std::string_view decodeIpv4(TreeBuilder& tree) {
    // A missing protocol byte cuts the fields before its suffix is shown.
    const IpProtocolRow* row =
        protocolRow(tree.reader().u8(L::kIpv4Protocol), &IpProtocolRow::ipv4);
    const DecodeNames& names = row ? row->ipv4 : kIpv4ProtocolOther;
    tree.beginLayer("IP version 4");
    if (!tree.fields(kIpv4Fields, names.suffix))
        return {};
    return decodeAbove(tree, row, names.summary, L::kIpv4End);
}

std::string_view decodeArp(TreeBuilder& tree) {
    tree.beginLayer("Address Resolution Protocol");
    if (!tree.fields(kArpHeadFields))
        return {};
    const auto operation = tree.reader().be16(L::kArpOperation);
    if (!operation) {
        tree.markTruncated();
        return {};
    }
    if (const ArpOperationRow* row = rowOf(kArpOperationRows, *operation))
        tree.field(kArpOperation, row->suffix);
    tree.fields(kArpAddressFields);
    return {};
}

std::string_view decodeIpv6(TreeBuilder& tree) {
    const IpProtocolRow* row =
        protocolRow(tree.reader().u8(L::kIpv6NextHeader), &IpProtocolRow::ipv6);
    const DecodeNames& names = row ? row->ipv6 : kIpv6NextHeaderOther;
    tree.beginLayer("Internet Protocol version 6");
    if (!tree.fields(kIpv6Fields, names.suffix))
        return {};
    return decodeAbove(tree, row, names.summary, L::kIpv6End);
}

} // namespace qarsilo::decode
