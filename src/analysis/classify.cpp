#include "analysis/classify.h"

#include "analysis/frame_layout.h"
#include "analysis/frame_reader.h"
#include "analysis/text_format.h"

#include <algorithm>

namespace qarsilo {
namespace {

namespace L = layout;

struct Names {
    std::string_view protocol;
    std::string_view info;
};

constexpr Names kUnknown{"???", "Unknown"};
constexpr std::string_view kTruncatedInfo = "Truncated";

// What a row of the type or SAP table still has to look at before the name is final.
enum class Next : std::uint8_t {
    Nothing,
    BpduType,         // STP: configuration BPDU or not
    SnapOrganization, // SNAP: CDP or unknown
    IpxSocket,        // IPX: by destination socket
    NetbiosCommand,   // NetBIOS: by command
    DecStpMessage,    // DEC spanning tree: hello or not
    ArpAddresses,     // ARP: the "Who is" question
    Ipv4Protocol      // IPv4: by protocol, then ports
};

template <typename Key>
struct Row {
    Key key;
    Names names;
    Next next = Next::Nothing;
};

// Rows of one table, sorted by key so lookups can bisect.
template <typename RowT, std::size_t N>
constexpr bool sortedUnique(const RowT (&rows)[N])
{
    for (std::size_t i = 1; i < N; ++i) {
        if (!(rows[i - 1].key < rows[i].key))
            return false;
    }
    return true;
}

template <typename RowT, std::size_t N, typename Key>
constexpr const RowT* findRow(const RowT (&rows)[N], Key key) noexcept
{
    const RowT* it = std::lower_bound(std::begin(rows), std::end(rows), key,
                                      [](const RowT& r, Key k) { return r.key < k; });
    return it != std::end(rows) && it->key == key ? it : nullptr;
}

// IEEE 802.3 frames, by SSAP (byte 15); the DSAP is not looked at.
constexpr Row<std::uint8_t> kSsapRows[] = {
    {0x00, {"LSAP", "Link Service Advertising Protocol (null)"}},
    {0x42, {"STP", "Spanning Tree Protocol"}, Next::BpduType},
    {0xAA, kUnknown, Next::SnapOrganization},
    {0xE0, {"IPX", "IPX (Unknowns)"}, Next::IpxSocket},
    {0xF0, {"NetBIOS", "NetBIOS unknown"}, Next::NetbiosCommand},
    {0xFF, {"LSAP", "Link Service Advertising Protocol (Global)"}},
};

// Info by BPDU type (byte 20); other types keep the SAP row's name.
constexpr Row<std::uint8_t> kBpduTypeRows[] = {
    {0x00, {"STP", "Spanning Tree Protocol (Configuration)"}},
};

// SNAP organization code (bytes 17-19); the protocol ID is not looked at.
constexpr Row<std::uint32_t> kSnapOrganizationRows[] = {
    {0x00000C, {"CDP", "Cisco Discovery Protocol"}},
};

// IPX destination socket (bytes 33-34).
constexpr Row<std::uint16_t> kIpxSocketRows[] = {
    {0x0452, {"IPX SAP", "Internetwork Packet Exchange (SAP)"}},
    {0x0453, {"IPX RIP", "Internetwork Packet Exchange (RIP)"}},
    {0x0455, {"NBIPX", "NetBIOS over IPX"}},
    {0x9001, {"IPX", "IPX (Wide Area Router)"}},
};

// NetBIOS frame command (byte 21).
constexpr Row<std::uint8_t> kNetbiosCommandRows[] = {
    {0x00, {"NetBIOS", "NetBIOS add group"}},
    {0x01, {"NetBIOS", "NetBIOS add name"}},
    {0x02, {"NetBIOS", "NetBIOS name in conflict"}},
    {0x03, {"NetBIOS", "NetBIOS status query"}},
    {0x07, {"NetBIOS", "NetBIOS terminate trace"}},
    {0x08, {"NetBIOS", "NetBIOS Datagram"}},
    {0x09, {"NetBIOS", "NetBIOS Datagram broadcast"}},
    {0x0A, {"NetBIOS", "NetBIOS name query"}},
    {0x0D, {"NetBIOS", "NetBIOS add name response"}},
    {0x0E, {"NetBIOS", "NetBIOS name recognized"}},
    {0x0F, {"NetBIOS", "NetBIOS status response"}},
    {0x13, {"NetBIOS", "NetBIOS terminate trace"}},
    {0x14, {"NetBIOS", "NetBIOS data acknowlegment"}},
    {0x15, {"NetBIOS", "NetBIOS data first middle"}},
    {0x16, {"NetBIOS", "NetBIOS data only last"}},
    {0x17, {"NetBIOS", "NetBIOS session confirmation"}},
    {0x18, {"NetBIOS", "NetBIOS session end"}},
    {0x19, {"NetBIOS", "NetBIOS session Initialize"}},
    {0x1A, {"NetBIOS", "NetBIOS no receive"}},
    {0x1B, {"NetBIOS", "NetBIOS receive outstanding"}},
    {0x1C, {"NetBIOS", "NetBIOS receive continue"}},
    {0x1F, {"NetBIOS", "NetBIOS session alive"}},
};

// Ethernet II frames, by type (bytes 12-13).
constexpr Row<std::uint16_t> kEtherTypeRows[] = {
    {0x0800, {"IPv4", "IPV4 (Unknown)"}, Next::Ipv4Protocol},
    {0x0801, {"X.75", "X.75 Internet packet"}},
    {0x0806, {"ARP", {}}, Next::ArpAddresses},
    {0x8035, {"RARP", "Reverse Address Resolution Protocol"}},
    {0x8038, {"DSTP", "DEC Bridge Spanning Tree Protocol"}, Next::DecStpMessage},
    {0x809B, {"AT", "AppleTalk"}},
    {0x80F3, {"AARP", "AppleTalk Address Resolution Protocol"}},
    {0x86DD, {"IPv6", "Internet Protocol version 6"}},
    {0x8847, {"MPLS", "Multi Protocol Label Switching (unicast)"}},
    {0x8848, {"MPLS", "Multi Protocol Label Switching (multicast)"}},
};

// DEC spanning tree message type (byte 15); other types keep the type row's name.
constexpr Row<std::uint8_t> kDecStpMessageRows[] = {
    {L::kDecStpHello, {"DSTP", "DEC Bridge Spanning Tree Protocol (hello)"}},
};

constexpr std::uint8_t kIpProtocolTcp = 6;
constexpr std::uint8_t kIpProtocolUdp = 17;

// IPv4 protocol (byte 23). TCP and UDP go on to the ports.
constexpr Row<std::uint8_t> kIpProtocolRows[] = {
    {1, {"ICMP", "Internet Control Message Protocol"}},
    {2, {"IGMP", "Internet Group Managment Protocol"}},
    {kIpProtocolTcp, {"TCP", "Transport Control Protocol"}},
    {8, {"EGP", "Exterior Gateway Protocol"}},
    {9, {"IGRP", "Interior Gateway Routing Protocol"}},
    {kIpProtocolUdp, {"UDP", "User Datagram Protocol"}},
    {46, {"RSVP", "Resource ReSerVation setup Protocol"}},
    {47, {"GRE", "Generic Routing Encapsulation"}},
    {50, {"ESP", "Encapsulating Security Payload"}},
    {83, {"VINES", "Vines over raw IP"}},
    {89, {"OSPF", "Open Shortest Path First"}},
    {132, {"STCP", "Stream Control Transmission Protocol"}},
};

// TCP and UDP ports, one table for both.
constexpr Row<std::uint16_t> kPortRows[] = {
    {21, {"FTP", "File Transfer Protocol"}},
    {22, {"SSH", "SSH Remote Login Protocol"}},
    {23, {"Telnet", "Telnet"}},
    {25, {"SMTP", "Simple Mail Transport Protocol"}},
    {53, {"DNS", "Domain Name Service"}},
    {67, {"DHCP", "DHCP server"}},
    {68, {"DHCP", "DHCP client"}},
    {80, {"HTTP", "Hyper Text Transfer Protocol"}},
    {110, {"POP3", "Post Office Protocol - Version 3"}},
    {137, {"NetBIOS-NS", "NetBIOS Over IP Name Service"}},
    {138, {"NetBIOS-DATA", "NetBIOS Over IP Datagram Service"}},
    {139, {"NetBIOS-SS", "NetBIOS Over IP Session Service"}},
    {161, {"SNMP", "Simple Network Management Protocol"}},
    {162, {"SNMP-trap", "Simple Network Management Protocol (Trap)"}},
    {163, {"CMIP-man", "CMIP TCP/Manager"}},
    {164, {"CMIP-agt", "CMIP TCP/Agent"}},
    {179, {"BGP", "Border Gateway Protocol"}},
    {443, {"S-HTTP", "Secure Hyper Text Transfer Protocol"}},
    {546, {"DHCPv6", "DHCP version 6 client"}},
    {547, {"DHCPv6", "DHCP version 6 server"}},
    {1080, {"SOCKS", "SOCKS"}},
    {1300, {"h323hostcallsc", "H323 Host Call Secure"}},
    {1718, {"h323gatedisc", "H323 Gatekeeper Discovery"}},
    {1719, {"h323gatestat", "H323 Gatekeeper Status"}},
    {1720, {"h323hostcall", "H323 Host Call"}},
    {11720, {"h323callsigalt", "H323 Call Signal Alternate"}},
};

static_assert(sortedUnique(kSsapRows) && sortedUnique(kBpduTypeRows)
              && sortedUnique(kSnapOrganizationRows) && sortedUnique(kIpxSocketRows)
              && sortedUnique(kNetbiosCommandRows) && sortedUnique(kEtherTypeRows)
              && sortedUnique(kDecStpMessageRows) && sortedUnique(kIpProtocolRows)
              && sortedUnique(kPortRows));

// The line formatter sizes its buffer from these bounds.
constexpr std::size_t kMaxProtocolLength = 16;
constexpr std::size_t kMaxInfoLength = 48;

template <typename RowT, std::size_t N>
constexpr bool namesFit(const RowT (&rows)[N])
{
    for (const RowT& r : rows) {
        if (r.names.protocol.size() > kMaxProtocolLength || r.names.info.size() > kMaxInfoLength)
            return false;
    }
    return true;
}
static_assert(namesFit(kSsapRows) && namesFit(kBpduTypeRows) && namesFit(kSnapOrganizationRows)
              && namesFit(kIpxSocketRows) && namesFit(kNetbiosCommandRows)
              && namesFit(kEtherTypeRows) && namesFit(kDecStpMessageRows)
              && namesFit(kIpProtocolRows) && namesFit(kPortRows));
static_assert(sizeof(Classification::infoText) <= kMaxInfoLength);
static_assert(text::kMaxTimeLength + 1 + 2 * (text::kMaxIpv4Length + 1) + kMaxProtocolLength + 1
                  + kMaxInfoLength
              <= kMaxFrameLineLength);

void setNames(Classification& c, const Names& n) noexcept
{
    c.protocol = n.protocol;
    c.infoName = n.info;
}

void setTruncated(Classification& c, std::string_view protocol) noexcept
{
    c.protocol = protocol;
    c.infoName = kTruncatedInfo;
    c.truncated = true;
}

// Refines `fallback` by a one-field table: the row's names when the key is
// found, the fallback otherwise, "Truncated" when the field is missing.
template <typename RowT, std::size_t N, typename Key>
void refine(Classification& c, const RowT (&rows)[N], const std::optional<Key>& key,
            const Names& fallback, std::string_view protocolWhenMissing) noexcept
{
    if (!key) {
        setTruncated(c, protocolWhenMissing);
        return;
    }
    const RowT* row = findRow(rows, *key);
    setNames(c, row ? row->names : fallback);
}

// Composed Info texts go into the struct's own buffer.
class InfoWriter {
public:
    explicit InfoWriter(Classification& c) noexcept
        : c_(c)
        , p_(c.infoText.data())
    {
    }
    ~InfoWriter()
    {
        c_.infoName = {};
        c_.infoTextLength = static_cast<std::uint8_t>(p_ - c_.infoText.data());
    }
    InfoWriter(const InfoWriter&) = delete;
    InfoWriter& operator=(const InfoWriter&) = delete;

    InfoWriter& operator<<(std::string_view s) noexcept
    {
        p_ = text::appendText(p_, s);
        return *this;
    }
    InfoWriter& operator<<(std::uint16_t v) noexcept
    {
        p_ = text::appendDecimal(p_, v);
        return *this;
    }
    InfoWriter& operator<<(const std::array<std::uint8_t, 4>& ipv4) noexcept
    {
        p_ = text::appendIpv4(p_, ipv4.data());
        return *this;
    }

private:
    Classification& c_;
    char* p_;
};
// Longest composed texts: the ARP question with two 15-character addresses
// (45) and the port summary with two 5-digit ports (42).
static_assert(7 + 15 + 8 + 15 <= sizeof(Classification::infoText));

void classifyPorts(Classification& c, const FrameReader& r, const Names& transport) noexcept
{
    c.sourcePort = r.be16(L::kTcpSourcePort);
    c.destinationPort = r.be16(L::kTcpDestinationPort);
    if (!c.sourcePort || !c.destinationPort) {
        // Without both ports neither the summary nor the name is certain.
        setTruncated(c, transport.protocol);
        return;
    }
    // A known destination port wins over a known source port.
    if (const auto* row = findRow(kPortRows, *c.destinationPort)) {
        setNames(c, row->names);
    } else if (const auto* row = findRow(kPortRows, *c.sourcePort)) {
        setNames(c, row->names);
    } else {
        c.protocol = transport.protocol;
        InfoWriter(c) << "Source port: " << *c.sourcePort
                      << " Destination port: " << *c.destinationPort;
    }
}

void classifyIpv4(Classification& c, const FrameReader& r, const Names& ipv4) noexcept
{
    // The columns show IPv4 addresses once both were captured; a frame cut
    // before them keeps its MAC addresses.
    const auto source = r.bytes<4>(L::kIpv4Source);
    const auto destination = r.bytes<4>(L::kIpv4Destination);
    if (source && destination) {
        c.addressForm = Classification::AddressForm::Ipv4;
        c.sourceIpv4 = *source;
        c.destinationIpv4 = *destination;
    }
    c.ipProtocol = r.u8(L::kIpv4Protocol);
    if (!c.ipProtocol) {
        setTruncated(c, ipv4.protocol);
        return;
    }
    const auto* row = findRow(kIpProtocolRows, *c.ipProtocol);
    if (!row) {
        setNames(c, ipv4);
        return;
    }
    setNames(c, row->names);
    if (row->key == kIpProtocolTcp || row->key == kIpProtocolUdp)
        classifyPorts(c, r, row->names);
}

void classifyArp(Classification& c, const FrameReader& r, const Names& arp) noexcept
{
    c.arpSenderIpv4 = r.bytes<4>(L::kArpSenderProtocol);
    c.arpTargetIpv4 = r.bytes<4>(L::kArpTargetProtocol);
    if (!c.arpSenderIpv4 || !c.arpTargetIpv4) {
        setTruncated(c, arp.protocol);
        return;
    }
    // Requests and replies alike.
    c.protocol = arp.protocol;
    InfoWriter(c) << "Who is " << *c.arpTargetIpv4 << " ? Tell " << *c.arpSenderIpv4;
}

void classifyFollowUp(Classification& c, const FrameReader& r, const Names& names,
                      Next next) noexcept
{
    switch (next) {
    case Next::Nothing:
        setNames(c, names);
        return;
    case Next::BpduType:
        c.bpduType = r.u8(L::kBpduType);
        refine(c, kBpduTypeRows, c.bpduType, names, names.protocol);
        return;
    case Next::SnapOrganization:
        c.snapOrganization = r.be24(L::kSnapOrganization);
        refine(c, kSnapOrganizationRows, c.snapOrganization, kUnknown, kUnknown.protocol);
        return;
    case Next::IpxSocket:
        c.ipxDestinationSocket = r.be16(L::kIpxDestinationSocket);
        refine(c, kIpxSocketRows, c.ipxDestinationSocket, names, names.protocol);
        return;
    case Next::NetbiosCommand:
        c.netbiosCommand = r.u8(L::kNetbiosCommand);
        refine(c, kNetbiosCommandRows, c.netbiosCommand, names, names.protocol);
        return;
    case Next::DecStpMessage:
        c.decStpMessageType = r.u8(L::kDecStpMessageType);
        refine(c, kDecStpMessageRows, c.decStpMessageType, names, names.protocol);
        return;
    case Next::ArpAddresses:
        classifyArp(c, r, names);
        return;
    case Next::Ipv4Protocol:
        classifyIpv4(c, r, names);
        return;
    }
}

} // namespace

Classification classifyFrame(const FrameHeader& header, const std::uint8_t* bytes) noexcept
{
    const FrameReader r(header, bytes);
    Classification c;
    if (const auto mac = r.bytes<6>(L::kEthDestination)) {
        c.destinationMac = *mac;
        c.hasDestinationMac = true;
    }
    if (const auto mac = r.bytes<6>(L::kEthSource)) {
        c.sourceMac = *mac;
        c.hasSourceMac = true;
    }

    c.typeOrLength = r.be16(L::kEthTypeOrLength);
    if (!c.typeOrLength) {
        setTruncated(c, kUnknown.protocol);
        return c;
    }
    if (*c.typeOrLength <= L::kMaxIeee8023Length) {
        c.framing = Framing::Ieee8023;
        c.ssap = r.u8(L::kLlcSsap);
        if (!c.ssap) {
            setTruncated(c, kUnknown.protocol);
            return c;
        }
        const auto* row = findRow(kSsapRows, *c.ssap);
        if (row)
            classifyFollowUp(c, r, row->names, row->next);
        else
            setNames(c, kUnknown);
    } else {
        c.framing = Framing::EthernetII;
        const auto* row = findRow(kEtherTypeRows, *c.typeOrLength);
        if (row)
            classifyFollowUp(c, r, row->names, row->next);
        else
            setNames(c, kUnknown);
    }
    return c;
}

namespace {

constexpr char kUnknownAddress = '-';

char* appendMacOrUnknown(char* out, bool has, const std::array<std::uint8_t, 6>& mac) noexcept
{
    if (!has) {
        *out++ = kUnknownAddress;
        return out;
    }
    return text::appendMacHyphen(out, mac.data());
}

char* appendLine(char* out, const FrameHeader& header, const Classification& c) noexcept
{
    out = text::appendTime(out, header.tsSec, header.tsUsec);
    *out++ = '\t';
    out = appendSourceText(out, c);
    *out++ = '\t';
    out = appendDestinationText(out, c);
    *out++ = '\t';
    out = text::appendText(out, c.protocol);
    *out++ = '\t';
    return text::appendText(out, c.info());
}

QString latin1(const char* begin, const char* end)
{
    return QString::fromLatin1(begin, static_cast<qsizetype>(end - begin));
}

QString latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

char* appendSourceText(char* out, const Classification& c) noexcept
{
    if (c.addressForm == Classification::AddressForm::Ipv4)
        return text::appendIpv4(out, c.sourceIpv4.data());
    return appendMacOrUnknown(out, c.hasSourceMac, c.sourceMac);
}

char* appendDestinationText(char* out, const Classification& c) noexcept
{
    if (c.addressForm == Classification::AddressForm::Ipv4)
        return text::appendIpv4(out, c.destinationIpv4.data());
    return appendMacOrUnknown(out, c.hasDestinationMac, c.destinationMac);
}

FrameTexts frameTexts(const FrameHeader& header, const Classification& c)
{
    char buffer[text::kMaxTimeLength];
    FrameTexts t;
    t.time = latin1(buffer, text::appendTime(buffer, header.tsSec, header.tsUsec));
    t.source = latin1(buffer, appendSourceText(buffer, c));
    t.destination = latin1(buffer, appendDestinationText(buffer, c));
    t.protocol = latin1(c.protocol);
    t.info = latin1(c.info());
    return t;
}

FrameTexts frameTexts(const FrameHeader& header, const std::uint8_t* bytes)
{
    return frameTexts(header, classifyFrame(header, bytes));
}

std::size_t formatFrameLine(const FrameHeader& header, const Classification& c, char* out,
                            std::size_t capacity) noexcept
{
    if (capacity >= kMaxFrameLineLength)
        return static_cast<std::size_t>(appendLine(out, header, c) - out);
    char line[kMaxFrameLineLength];
    const auto length = static_cast<std::size_t>(appendLine(line, header, c) - line);
    if (length > capacity)
        return 0;
    std::memcpy(out, line, length);
    return length;
}

std::size_t formatFrameLine(const FrameHeader& header, const std::uint8_t* bytes, char* out,
                            std::size_t capacity) noexcept
{
    return formatFrameLine(header, classifyFrame(header, bytes), out, capacity);
}

} // namespace qarsilo
