// The transport layer of the decode tree: TCP and UDP, and the application
// named by their ports.
#include "core/analysis/decode_fields.h"
#include "core/analysis/protocol_table.h"

namespace qarsilo::decode {
namespace {

// Offsets from the start of the transport header.
constexpr Offset kSourcePort = 0;
constexpr Offset kDestinationPort = 2;

constexpr FieldSpec kTcpFieldsBeforeFlags[] = {
    {"Source Port ", kSourcePort, Value::Dec16},
    {"Destination Port ", kDestinationPort, Value::Dec16},
    {"Sequence Number ", 4, Value::Dec32},
    {"Acknoledgement Number ", 8, Value::Dec32},
    {"Header Length ", 12, Value::HighNibbleX4, " bytes"},
};
constexpr FieldSpec kTcpFlags{"Flag ", 13, Value::Hex8};
constexpr FieldSpec kTcpFieldsAfterFlags[] = {
    {"Windows Size ", 14, Value::Dec16, " bytes"},
    {"Checksum ", 16, Value::Hex16},
};

constexpr FieldSpec kUdpFields[] = {
    {"Source Port ", kSourcePort, Value::Dec16},
    {"Destination Port ", kDestinationPort, Value::Dec16},
    {"Header Length ", 4, Value::Dec16, " bytes"}, // the UDP length field
    {"Checksum ", 6, Value::Hex16},
};

// One child of the flags node per bit, highest first. The texts are the
// program's own, spelling included.
struct TcpFlagRow {
    std::uint8_t mask;
    std::string_view set;
    std::string_view notSet;
};
constexpr TcpFlagRow kTcpFlagRows[] = {
    {0x80, "Cogestion Windows Reduced (Set)", "Cogestion Windows Reduced (Not Set)"},
    {0x40, "ECN-ECHO (Set)", "ECN-ECHO (Not Set)"},
    {0x20, "Urgent (Set)", "Urgent (Not Set)"},
    {0x10, "Acknoledgement (Set)", "Acknowledgement (Not Set)"},
    {0x08, "Push (Set)", "Push (Not Set)"},
    {0x04, "Reset (Set)", "Reset (Not Set)"},
    {0x02, "Synchronize (Set)", "Synchronize (Not Set)"},
    {0x01, "Finish (Set)", "Finish (Not Set)"},
};

constexpr std::string_view kUndecoded = "Undecoded";

enum class Protocol : std::uint8_t { Tcp, Udp };

// The name of the first row that either port matches.
std::string_view applicationName(const FrameReader& r, Offset start, Protocol protocol) {
    const auto source = r.be16(start + kSourcePort);
    const auto destination = r.be16(start + kDestinationPort);
    if (!source || !destination)
        return {};
    // Tried from the top: the first row that either port matches names it.
    for (const protocols::PortRow& row : protocols::kPorts) {
        if (row.decode.tcp.empty())
            continue;
        if (*source == row.key || *destination == row.key)
            return protocol == Protocol::Tcp ? row.decode.tcp : row.decode.udp;
    }
    return kUndecoded;
}

} // namespace

std::string_view decodeTcp(TreeBuilder& tree, Offset start) {
    tree.beginLayer("Transport Control Protocol");
    if (!tree.fields(kTcpFieldsBeforeFlags, {}, start))
        return {};
    DecodeNode* flags = tree.field(kTcpFlags, {}, start);
    if (!flags)
        return {};
    const std::uint8_t bits = tree.reader().u8(start + kTcpFlags.offset).value_or(0);
    for (const TcpFlagRow& row : kTcpFlagRows)
        tree.textField(latin1((bits & row.mask) ? row.set : row.notSet), flags);
    if (!tree.fields(kTcpFieldsAfterFlags, {}, start))
        return {};
    return applicationName(tree.reader(), start, Protocol::Tcp);
}

std::string_view decodeUdp(TreeBuilder& tree, Offset start) {
    tree.beginLayer("User Datagram Protocol");
    if (!tree.fields(kUdpFields, {}, start))
        return {};
    return applicationName(tree.reader(), start, Protocol::Udp);
}

} // namespace qarsilo::decode
