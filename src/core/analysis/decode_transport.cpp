// The transport layer of the decode tree: TCP and UDP, and the application
// named by their ports.
#include "core/analysis/decode_fields.h"

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

// Tried from the top; a row matches when either port equals one of its two
// (rows for one port name it twice). The first match names the application.
struct ApplicationRow {
    std::uint16_t port;
    std::uint16_t otherPort;
    std::string_view tcp;
    std::string_view udp;
};
constexpr ApplicationRow kApplicationRows[] = {
    {80, 80, "Hyper Text Transfer Protocol", "Hyper Text Transfer Protocol"},
    {443, 443, "Secure Hyper Text Transfer Protocol", "Secure Hyper Text Transfer Protocol"},
    {21, 21, "File Transfer Protocol", "File Transfer Protocol"},
    {110, 110, "Post Office Protocol - version 3", "Post Office Protocol - version 3"},
    {25, 25, "Simple Mail Transport Protocol", "Simple Mail Transport Protocol"},
    {995, 995, "POP 3 using SSL", "POP 3 using SSL"},
    {993, 993, "IMAP", "Internet Message Access Protocol"},
    {465, 465, "SMTP using SSL", "SMTP using SSL"},
    {23, 23, "Telnet", "Telnet"},
    {22, 22, "SSL Remote Login Protocol", "SSL Remote Login Protocol"},
    {137, 137, "NetBIOS over IP Name Service", "NetBIOS over IP Name Service"},
    {138, 138, "NetBIOS over IP Datagram Service", "NetBIOS over IP Datagram Service"},
    {139, 139, "NetBIOS over IP Session Service", "NetBIOS over IP Session Service"},
    {161, 161, "Simple Network Management Protocol", "Simple Network Management Protocol"},
    {162, 162, "Simple Network Management Protocol (Trap)",
     "Simple Network Management Protocol (Trap)"},
    {53, 53, "Domain Name Service", "Domain Name Service"},
    {163, 163, "CMIP  TCP/Manager", "Common Management Information Protocol Manager"},
    {164, 164, "CMIP  TCP/Agent", "Common Management Information Protocol Agent"},
    {179, 179, "Border Gateway Protocol", "Border Gateway Protocol"},
    {67, 68, "DHCP", "Dynamic Host Configuration Protocol"},
    {546, 547, "DHCPv6", "Dynamic Host Configuration Protocol for IPv6"},
    {1080, 1080, "SOCKS", "SOCKS"},
    {1300, 1300, "H.323 Host Call Secure", "H.323 Host Call Secure"},
    {1718, 1718, "H.323 Gateway Discovery", "H.323 Gateway Discovery"},
    {1719, 1719, "H.323 Gateway Status", "H.323 Gateway Status"},
    {1720, 1720, "H.323 Host Call", "H.323 Host Call"},
    {11720, 11720, "H.323 Call Signal Alternate", "H.323 Call Signal Alternate"},
};
constexpr std::string_view kUndecoded = "Undecoded";

enum class Protocol : std::uint8_t { Tcp, Udp };

// The name of the first row that either port matches.
std::string_view applicationName(const FrameReader& r, Offset start, Protocol protocol) {
    const auto source = r.be16(start + kSourcePort);
    const auto destination = r.be16(start + kDestinationPort);
    if (!source || !destination)
        return {};
    for (const ApplicationRow& row : kApplicationRows) {
        for (const std::uint16_t port : {*source, *destination}) {
            if (port == row.port || port == row.otherPort)
                return protocol == Protocol::Tcp ? row.tcp : row.udp;
        }
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
