// The link layer of the decode tree: Ethernet II, IEEE 802.3 with its 802.2
// LLC header, and what the LLC SAP leads to (SNAP, IPX, NetBIOS).
#include "core/analysis/decode_fields.h"
#include "core/analysis/protocol_table.h"

namespace qarsilo::decode {
namespace {

namespace L = layout;

using protocols::Follows;

// A shared row as the decoder sees it: absent when the decoder has no text for it.
template <typename SharedRow> const SharedRow* decoded(const SharedRow* row) noexcept {
    return row && !row->decode.suffix.empty() ? row : nullptr;
}

// The decoder's own names for the values no row names.
constexpr protocols::DecodeNames kSsapOther{" (?]", "Undecoded Data"};
constexpr protocols::DecodeNames kEtherTypeOther{" (?]", "Data"};

// DEC spanning tree, by message type (byte 15).
struct DecStpRow {
    std::uint8_t key;
    std::string_view summary;
};
constexpr DecStpRow kDecStpRows[] = {
    {L::kDecStpHello, "DEC Bridge Spanning Tree Protocol (hello)"},
};
constexpr std::string_view kDecStpOther = "DEC Bridge Spanning Tree Protocol";

// The decoder's own texts for values the tables below the SAPs do not list.
constexpr protocols::SnapDecodeNames kSnapOther{" (?]", " (?]", "Undecoded"};
constexpr std::string_view kIpxSocketOther = " (IPX)";
constexpr std::string_view kNetbiosCommandOther = " (NetBIOS unknown)";

static_assert(uniqueKeys(kDecStpRows));

// Labels padded to 20 characters so that the values line up.
constexpr FieldSpec kIeee8023Fields[] = {
    {"Destination Address ", L::kEthDestination, Value::Mac},
    {"Source Address      ", L::kEthSource, Value::Mac},
    {"length              ", L::kEthTypeOrLength, Value::Dec16, " bytes"},
};
constexpr FieldSpec kEthernetIIFields[] = {
    {"Destination Address ", L::kEthDestination, Value::Mac},
    {"Source Address      ", L::kEthSource, Value::Mac},
    {"Ethertype           ", L::kEthTypeOrLength, Value::Hex16, {}, true},
};
constexpr FieldSpec kLlcFields[] = {
    {"DSAP    ", L::kLlcDsap, Value::Hex8, {}, true},
    {"SSAP    ", L::kLlcSsap, Value::Hex8, {}, true},
    {"Control ", L::kLlcControl, Value::Hex8},
};
constexpr FieldSpec kSnapOrganization{
    "Organization Code ", L::kSnapOrganization, Value::Hex24, {}, true};
constexpr FieldSpec kSnapProtocolId{
    "Protocol ID       ", L::kSnapProtocolId, Value::Hex16, {}, true};
constexpr FieldSpec kIpxFields[] = {
    {"Checksum ", L::kIpxChecksum, Value::Hex16, " (IPX)"},
    {"Length ", L::kIpxLength, Value::Dec16, " bytes"},
    {"Transport Control ", L::kIpxTransportControl, Value::Dec8, " hops"},
    {"Packet Type ", L::kIpxPacketType, Value::Dec8},
    {"Destination Network ", L::kIpxDestinationNetwork, Value::Hex32},
    {"Destination Node ", L::kIpxDestinationNode, Value::Mac},
    {"Destination Socket ", L::kIpxDestinationSocket, Value::Hex16, {}, true},
    {"Source Network ", L::kIpxSourceNetwork, Value::Hex32},
    {"Source Node ", L::kIpxSourceNode, Value::Mac},
    {"Source Socket ", L::kIpxSourceSocket, Value::Hex16, {}, true},
};
constexpr FieldSpec kNetbiosFields[] = {
    {"length ", L::kNetbiosLength, Value::Dec16, " bytes"},
    {"Delimiter ", L::kNetbiosDelimiter, Value::Hex16},
    {"Command ", L::kNetbiosCommand, Value::Hex8, {}, true},
};

std::string_view decodeSnap(TreeBuilder& tree) {
    const auto organization = tree.reader().be24(L::kSnapOrganization);
    const protocols::SnapOrganizationRow* row =
        organization ? rowOf(protocols::kSnapOrganizations, *organization) : nullptr;
    const protocols::SnapDecodeNames& names = row ? row->decode : kSnapOther;
    tree.beginLayer("Ethernet SNAP");
    tree.field(kSnapOrganization, names.organizationSuffix);
    tree.field(kSnapProtocolId, names.protocolSuffix);
    return names.summary;
}

std::string_view decodeIpx(TreeBuilder& tree) {
    // A missing socket leaves the socket fields out, so the fallback is never shown.
    const auto socket = tree.reader().be16(L::kIpxDestinationSocket);
    const protocols::IpxSocketRow* row = socket ? rowOf(protocols::kIpxSockets, *socket) : nullptr;
    tree.beginLayer("IPX Netware");
    tree.fields(kIpxFields, row ? row->decodeSuffix : kIpxSocketOther);
    return {};
}

std::string_view decodeNetbios(TreeBuilder& tree) {
    const auto command = tree.reader().u8(L::kNetbiosCommand);
    const protocols::NetbiosCommandRow* row =
        command ? rowOf(protocols::kNetbiosCommands, *command) : nullptr;
    tree.beginLayer("NetBIOS");
    tree.fields(kNetbiosFields, row ? row->decodeSuffix : kNetbiosCommandOther);
    return {};
}

std::string_view decodeDecStp(TreeBuilder& tree) {
    const auto type = tree.reader().u8(L::kDecStpMessageType);
    if (!type) {
        tree.markTruncated();
        return {};
    }
    const DecStpRow* row = rowOf(kDecStpRows, *type);
    return row ? row->summary : kDecStpOther;
}

// The decoder does not look into a spanning tree BPDU; TCP and UDP follow only IP.
std::string_view follow(TreeBuilder& tree, Follows next, std::string_view summary) {
    switch (next) {
    case Follows::Nothing:
    case Follows::Bpdu:
    case Follows::Tcp:
    case Follows::Udp:
        return summary;
    case Follows::Snap:
        return decodeSnap(tree);
    case Follows::Ipx:
        return decodeIpx(tree);
    case Follows::Netbios:
        return decodeNetbios(tree);
    case Follows::Ipv4:
        return decodeIpv4(tree);
    case Follows::Arp:
        return decodeArp(tree);
    case Follows::Ipv6:
        return decodeIpv6(tree);
    case Follows::DecStp:
        return decodeDecStp(tree);
    }
    return {};
}

std::string_view decodeIeee8023(TreeBuilder& tree) {
    tree.beginLayer("Ethernet 802.3");
    tree.fields(kIeee8023Fields);
    tree.beginLayer("Ethernet 802.2");
    // Both SAPs are named by the SSAP: without it not even the DSAP can be shown.
    const auto ssap = tree.reader().u8(L::kLlcSsap);
    if (!ssap) {
        tree.markTruncated();
        return {};
    }
    const protocols::SapRow* row = decoded(rowOf(protocols::kSaps, *ssap));
    const protocols::DecodeNames& names = row ? row->decode : kSsapOther;
    tree.fields(kLlcFields, names.suffix);
    return follow(tree, row ? row->follows : Follows::Nothing, names.summary);
}

std::string_view decodeEthernetII(TreeBuilder& tree, std::uint16_t type) {
    const protocols::EtherTypeRow* row = decoded(rowOf(protocols::kEtherTypes, type));
    const protocols::DecodeNames& names = row ? row->decode : kEtherTypeOther;
    tree.beginLayer("Ethernet II");
    tree.fields(kEthernetIIFields, names.suffix);
    return follow(tree, row ? row->follows : Follows::Nothing, names.summary);
}

} // namespace

std::string_view decodeLink(TreeBuilder& tree) {
    // Without the type-or-length field the framing is unknown; no layer is guessed.
    const auto typeOrLength = tree.reader().be16(L::kEthTypeOrLength);
    if (!typeOrLength) {
        tree.markTruncated();
        return {};
    }
    if (*typeOrLength <= L::kMaxIeee8023Length)
        return decodeIeee8023(tree);
    return decodeEthernetII(tree, *typeOrLength);
}

} // namespace qarsilo::decode
