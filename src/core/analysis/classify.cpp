#include "core/analysis/classify.h"

#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/analysis/text_format.h"

#include <algorithm>

namespace qarsilo {
namespace {

namespace L = layout;

// A table text in Latin-1 for the char formatter and in UTF-16, so that a
// QString can refer to it without a copy. "HTTP"_t keeps both in static storage.
template <std::size_t N> struct TextLiteral {
    char latin1[N]{};
    char16_t utf16[N]{};
    constexpr TextLiteral(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) {
            latin1[i] = s[i];
            utf16[i] = static_cast<unsigned char>(s[i]);
        }
    }
};

struct Text {
    std::string_view latin1;
    const char16_t* utf16 = nullptr;
};

template <TextLiteral T> constexpr Text operator""_t() {
    return Text{std::string_view(T.latin1, sizeof T.latin1 - 1), T.utf16};
}

struct Names {
    Text protocol;
    Text info;
};

constexpr Names kUnknown{"???"_t, "Unknown"_t};
constexpr Text kTruncatedInfo = "Truncated"_t;

// What a row of the type or SAP table still has to look at before the name is final.
enum class Next : std::uint8_t {
    Nothing,
    BpduType,         // STP: configuration BPDU or not
    SnapOrganization, // SNAP: CDP or unknown
    IpxSocket,        // IPX: by destination socket
    NetbiosCommand,   // NetBIOS: by command
    DecStpMessage,    // DEC spanning tree: hello or not
    ArpAddresses,     // ARP: the "Who is" question
    Ipv4Protocol,     // IPv4: by protocol
    Ports             // TCP, UDP: by port
};

template <typename Key> struct Row {
    Key key;
    Names names;
    Next next = Next::Nothing;
};

// Rows of one table, sorted by key so lookups can bisect.
template <typename RowT, std::size_t N> constexpr bool sortedUnique(const RowT (&rows)[N]) {
    for (std::size_t i = 1; i < N; ++i) {
        if (!(rows[i - 1].key < rows[i].key))
            return false;
    }
    return true;
}

// Bisects with a fixed number of steps and conditional moves: the frame mix
// is random, so data-dependent branches would mispredict.
template <typename RowT, std::size_t N, typename Key>
constexpr const RowT* findRow(const RowT (&rows)[N], Key key) noexcept {
    const RowT* base = rows;
    for (std::size_t n = N; n > 1;) {
        const std::size_t half = n / 2;
        base = base[half].key <= key ? base + half : base;
        n -= half;
    }
    return base->key == key ? base : nullptr;
}

// For one-byte keys: the row of every value, found with one load.
template <typename RowT, std::size_t N> struct ByteIndex {
    const RowT (&rows)[N];
    std::uint8_t slot[256]{}; // row number + 1, 0 for no row
    constexpr explicit ByteIndex(const RowT (&table)[N])
        : rows(table) {
        static_assert(N < 255);
        for (std::size_t i = 0; i < N; ++i)
            slot[table[i].key] = static_cast<std::uint8_t>(i + 1);
    }
    constexpr const RowT* find(std::uint8_t key) const noexcept {
        return slot[key] ? &rows[slot[key] - 1] : nullptr;
    }
};

// IEEE 802.3 frames, by SSAP (byte 15); the DSAP is not looked at.
constexpr Row<std::uint8_t> kSsapRows[] = {
    {0x00, {"LSAP"_t, "Link Service Advertising Protocol (null)"_t}},
    {0x42, {"STP"_t, "Spanning Tree Protocol"_t}, Next::BpduType},
    {0xAA, kUnknown, Next::SnapOrganization},
    {0xE0, {"IPX"_t, "IPX (Unknowns)"_t}, Next::IpxSocket},
    {0xF0, {"NetBIOS"_t, "NetBIOS unknown"_t}, Next::NetbiosCommand},
    {0xFF, {"LSAP"_t, "Link Service Advertising Protocol (Global)"_t}},
};

// Info by BPDU type (byte 20); other types keep the SAP row's name.
constexpr Row<std::uint8_t> kBpduTypeRows[] = {
    {0x00, {"STP"_t, "Spanning Tree Protocol (Configuration)"_t}},
};

// SNAP organization code (bytes 17-19); the protocol ID is not looked at.
constexpr Row<std::uint32_t> kSnapOrganizationRows[] = {
    {0x00000C, {"CDP"_t, "Cisco Discovery Protocol"_t}},
};

// IPX destination socket (bytes 33-34).
constexpr Row<std::uint16_t> kIpxSocketRows[] = {
    {0x0452, {"IPX SAP"_t, "Internetwork Packet Exchange (SAP)"_t}},
    {0x0453, {"IPX RIP"_t, "Internetwork Packet Exchange (RIP)"_t}},
    {0x0455, {"NBIPX"_t, "NetBIOS over IPX"_t}},
    {0x9001, {"IPX"_t, "IPX (Wide Area Router)"_t}},
};

// NetBIOS frame command (byte 21).
constexpr Row<std::uint8_t> kNetbiosCommandRows[] = {
    {0x00, {"NetBIOS"_t, "NetBIOS add group"_t}},
    {0x01, {"NetBIOS"_t, "NetBIOS add name"_t}},
    {0x02, {"NetBIOS"_t, "NetBIOS name in conflict"_t}},
    {0x03, {"NetBIOS"_t, "NetBIOS status query"_t}},
    {0x07, {"NetBIOS"_t, "NetBIOS terminate trace"_t}},
    {0x08, {"NetBIOS"_t, "NetBIOS Datagram"_t}},
    {0x09, {"NetBIOS"_t, "NetBIOS Datagram broadcast"_t}},
    {0x0A, {"NetBIOS"_t, "NetBIOS name query"_t}},
    {0x0D, {"NetBIOS"_t, "NetBIOS add name response"_t}},
    {0x0E, {"NetBIOS"_t, "NetBIOS name recognized"_t}},
    {0x0F, {"NetBIOS"_t, "NetBIOS status response"_t}},
    {0x13, {"NetBIOS"_t, "NetBIOS terminate trace"_t}},
    {0x14, {"NetBIOS"_t, "NetBIOS data acknowlegment"_t}},
    {0x15, {"NetBIOS"_t, "NetBIOS data first middle"_t}},
    {0x16, {"NetBIOS"_t, "NetBIOS data only last"_t}},
    {0x17, {"NetBIOS"_t, "NetBIOS session confirmation"_t}},
    {0x18, {"NetBIOS"_t, "NetBIOS session end"_t}},
    {0x19, {"NetBIOS"_t, "NetBIOS session Initialize"_t}},
    {0x1A, {"NetBIOS"_t, "NetBIOS no receive"_t}},
    {0x1B, {"NetBIOS"_t, "NetBIOS receive outstanding"_t}},
    {0x1C, {"NetBIOS"_t, "NetBIOS receive continue"_t}},
    {0x1F, {"NetBIOS"_t, "NetBIOS session alive"_t}},
};

// Ethernet II frames, by type (bytes 12-13).
constexpr Row<std::uint16_t> kEtherTypeRows[] = {
    {0x0800, {"IPv4"_t, "IPV4 (Unknown)"_t}, Next::Ipv4Protocol},
    {0x0801, {"X.75"_t, "X.75 Internet packet"_t}},
    {0x0806, {"ARP"_t, {}}, Next::ArpAddresses},
    {0x8035, {"RARP"_t, "Reverse Address Resolution Protocol"_t}},
    {0x8038, {"DSTP"_t, "DEC Bridge Spanning Tree Protocol"_t}, Next::DecStpMessage},
    {0x809B, {"AT"_t, "AppleTalk"_t}},
    {0x80F3, {"AARP"_t, "AppleTalk Address Resolution Protocol"_t}},
    {0x86DD, {"IPv6"_t, "Internet Protocol version 6"_t}},
    {0x8847, {"MPLS"_t, "Multi Protocol Label Switching (unicast)"_t}},
    {0x8848, {"MPLS"_t, "Multi Protocol Label Switching (multicast)"_t}},
};

// DEC spanning tree message type (byte 15); other types keep the type row's name.
constexpr Row<std::uint8_t> kDecStpMessageRows[] = {
    {L::kDecStpHello, {"DSTP"_t, "DEC Bridge Spanning Tree Protocol (hello)"_t}},
};

// IPv4 protocol (byte 23). TCP and UDP go on to the ports.
constexpr Row<std::uint8_t> kIpProtocolRows[] = {
    {1, {"ICMP"_t, "Internet Control Message Protocol"_t}},
    {2, {"IGMP"_t, "Internet Group Managment Protocol"_t}},
    {6, {"TCP"_t, "Transport Control Protocol"_t}, Next::Ports},
    {8, {"EGP"_t, "Exterior Gateway Protocol"_t}},
    {9, {"IGRP"_t, "Interior Gateway Routing Protocol"_t}},
    {17, {"UDP"_t, "User Datagram Protocol"_t}, Next::Ports},
    {46, {"RSVP"_t, "Resource ReSerVation setup Protocol"_t}},
    {47, {"GRE"_t, "Generic Routing Encapsulation"_t}},
    {50, {"ESP"_t, "Encapsulating Security Payload"_t}},
    {83, {"VINES"_t, "Vines over raw IP"_t}},
    {89, {"OSPF"_t, "Open Shortest Path First"_t}},
    {132, {"STCP"_t, "Stream Control Transmission Protocol"_t}},
};

// TCP and UDP ports, one table for both.
constexpr Row<std::uint16_t> kPortRows[] = {
    {21, {"FTP"_t, "File Transfer Protocol"_t}},
    {22, {"SSH"_t, "SSH Remote Login Protocol"_t}},
    {23, {"Telnet"_t, "Telnet"_t}},
    {25, {"SMTP"_t, "Simple Mail Transport Protocol"_t}},
    {53, {"DNS"_t, "Domain Name Service"_t}},
    {67, {"DHCP"_t, "DHCP server"_t}},
    {68, {"DHCP"_t, "DHCP client"_t}},
    {80, {"HTTP"_t, "Hyper Text Transfer Protocol"_t}},
    {110, {"POP3"_t, "Post Office Protocol - Version 3"_t}},
    {137, {"NetBIOS-NS"_t, "NetBIOS Over IP Name Service"_t}},
    {138, {"NetBIOS-DATA"_t, "NetBIOS Over IP Datagram Service"_t}},
    {139, {"NetBIOS-SS"_t, "NetBIOS Over IP Session Service"_t}},
    {161, {"SNMP"_t, "Simple Network Management Protocol"_t}},
    {162, {"SNMP-trap"_t, "Simple Network Management Protocol (Trap)"_t}},
    {163, {"CMIP-man"_t, "CMIP TCP/Manager"_t}},
    {164, {"CMIP-agt"_t, "CMIP TCP/Agent"_t}},
    {179, {"BGP"_t, "Border Gateway Protocol"_t}},
    {443, {"S-HTTP"_t, "Secure Hyper Text Transfer Protocol"_t}},
    {546, {"DHCPv6"_t, "DHCP version 6 client"_t}},
    {547, {"DHCPv6"_t, "DHCP version 6 server"_t}},
    {1080, {"SOCKS"_t, "SOCKS"_t}},
    {1300, {"h323hostcallsc"_t, "H323 Host Call Secure"_t}},
    {1718, {"h323gatedisc"_t, "H323 Gatekeeper Discovery"_t}},
    {1719, {"h323gatestat"_t, "H323 Gatekeeper Status"_t}},
    {1720, {"h323hostcall"_t, "H323 Host Call"_t}},
    {11720, {"h323callsigalt"_t, "H323 Call Signal Alternate"_t}},
};

static_assert(sortedUnique(kSsapRows) && sortedUnique(kBpduTypeRows) &&
              sortedUnique(kSnapOrganizationRows) && sortedUnique(kIpxSocketRows) &&
              sortedUnique(kNetbiosCommandRows) && sortedUnique(kEtherTypeRows) &&
              sortedUnique(kDecStpMessageRows) && sortedUnique(kIpProtocolRows) &&
              sortedUnique(kPortRows));

// One-byte keys go through a direct index, wider ones are bisected.
constexpr ByteIndex kSsapIndex(kSsapRows);
constexpr ByteIndex kBpduTypeIndex(kBpduTypeRows);
constexpr ByteIndex kNetbiosCommandIndex(kNetbiosCommandRows);
constexpr ByteIndex kDecStpMessageIndex(kDecStpMessageRows);
constexpr ByteIndex kIpProtocolIndex(kIpProtocolRows);

template <typename RowT, std::size_t N>
constexpr const RowT* find(const ByteIndex<RowT, N>& index, std::uint8_t key) noexcept {
    return index.find(key);
}

template <typename RowT, std::size_t N, typename Key>
constexpr const RowT* find(const RowT (&rows)[N], Key key) noexcept {
    return findRow(rows, key);
}

// The line formatter sizes its buffer from these bounds.
constexpr std::size_t kMaxProtocolLength = 16;
constexpr std::size_t kMaxInfoLength = 48;

template <typename RowT, std::size_t N> constexpr bool namesFit(const RowT (&rows)[N]) {
    for (const RowT& r : rows) {
        if (r.names.protocol.latin1.size() > kMaxProtocolLength ||
            r.names.info.latin1.size() > kMaxInfoLength)
            return false;
    }
    return true;
}
static_assert(namesFit(kSsapRows) && namesFit(kBpduTypeRows) && namesFit(kSnapOrganizationRows) &&
              namesFit(kIpxSocketRows) && namesFit(kNetbiosCommandRows) &&
              namesFit(kEtherTypeRows) && namesFit(kDecStpMessageRows) &&
              namesFit(kIpProtocolRows) && namesFit(kPortRows));
static_assert(sizeof(Classification::infoText) <= kMaxInfoLength);
static_assert(text::kMaxTimeLength + 1 + 2 * (text::kMaxIpv4Length + 1) + kMaxProtocolLength + 1 +
                  kMaxInfoLength <=
              kMaxFrameLineLength);

void setProtocol(Classification& c, const Text& protocol) noexcept {
    c.protocol = protocol.latin1;
    c.protocolUtf16 = protocol.utf16;
}

void setNames(Classification& c, const Names& n) noexcept {
    setProtocol(c, n.protocol);
    c.infoName = n.info.latin1;
    c.infoNameUtf16 = n.info.utf16;
}

void setTruncated(Classification& c, const Text& protocol) noexcept {
    setNames(c, {protocol, kTruncatedInfo});
    c.truncated = true;
}

// Refines `fallback` by a one-field table: the row's names when the key is
// found, the fallback otherwise, "Truncated" when the field is missing.
template <typename Table, typename Key>
void refine(Classification& c, const Table& table, const std::optional<Key>& key,
            const Names& fallback, const Text& protocolWhenMissing) noexcept {
    if (!key) {
        setTruncated(c, protocolWhenMissing);
        return;
    }
    const auto* row = find(table, *key);
    setNames(c, row ? row->names : fallback);
}

// Composed Info texts go into the struct's own buffer.
class InfoWriter {
public:
    explicit InfoWriter(Classification& c) noexcept
        : c_(c)
        , p_(c.infoText.data()) {}
    ~InfoWriter() {
        c_.infoName = {};
        c_.infoNameUtf16 = nullptr;
        c_.infoTextLength = static_cast<std::uint8_t>(p_ - c_.infoText.data());
    }
    InfoWriter(const InfoWriter&) = delete;
    InfoWriter& operator=(const InfoWriter&) = delete;

    InfoWriter& operator<<(std::string_view s) noexcept {
        p_ = text::appendText(p_, s);
        return *this;
    }
    InfoWriter& operator<<(std::uint16_t v) noexcept {
        p_ = text::appendDecimal(p_, v);
        return *this;
    }
    InfoWriter& operator<<(const std::array<std::uint8_t, 4>& ipv4) noexcept {
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

void classifyFollowUp(Classification& c, const FrameReader& r, const Names& names,
                      Next next) noexcept;

void classifyPorts(Classification& c, const FrameReader& r, const Names& transport) noexcept {
    c.sourcePort = r.be16(L::kTcpSourcePort);
    c.destinationPort = r.be16(L::kTcpDestinationPort);
    if (!c.sourcePort || !c.destinationPort) {
        // Without both ports neither the summary nor the name is certain.
        setTruncated(c, transport.protocol);
        return;
    }
    // A known destination port wins over a known source port.
    if (const auto* row = find(kPortRows, *c.destinationPort)) {
        setNames(c, row->names);
    } else if (const auto* row = find(kPortRows, *c.sourcePort)) {
        setNames(c, row->names);
    } else {
        setProtocol(c, transport.protocol);
        InfoWriter(c) << "Source port: " << *c.sourcePort
                      << " Destination port: " << *c.destinationPort;
    }
}

void classifyIpv4(Classification& c, const FrameReader& r, const Names& ipv4) noexcept {
    // The columns show IPv4 addresses once both were captured; a frame cut
    // before them keeps its MAC addresses.
    if (r.has(L::kIpv4Source, L::kIpv4End - L::kIpv4Source)) {
        r.copyTo(L::kIpv4Source, c.sourceIpv4);
        r.copyTo(L::kIpv4Destination, c.destinationIpv4);
        c.addressForm = Classification::AddressForm::Ipv4;
    }
    c.ipProtocol = r.u8(L::kIpv4Protocol);
    if (!c.ipProtocol) {
        setTruncated(c, ipv4.protocol);
        return;
    }
    if (const auto* row = find(kIpProtocolIndex, *c.ipProtocol))
        classifyFollowUp(c, r, row->names, row->next);
    else
        setNames(c, ipv4);
}

void classifyArp(Classification& c, const FrameReader& r, const Names& arp) noexcept {
    c.arpSenderIpv4 = r.bytes<4>(L::kArpSenderProtocol);
    c.arpTargetIpv4 = r.bytes<4>(L::kArpTargetProtocol);
    if (!c.arpSenderIpv4 || !c.arpTargetIpv4) {
        setTruncated(c, arp.protocol);
        return;
    }
    // Requests and replies alike.
    setProtocol(c, arp.protocol);
    InfoWriter(c) << "Who is " << *c.arpTargetIpv4 << " ? Tell " << *c.arpSenderIpv4;
}

void classifyFollowUp(Classification& c, const FrameReader& r, const Names& names,
                      Next next) noexcept {
    switch (next) {
    case Next::Nothing:
        setNames(c, names);
        return;
    case Next::BpduType:
        c.bpduType = r.u8(L::kBpduType);
        refine(c, kBpduTypeIndex, c.bpduType, names, names.protocol);
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
        refine(c, kNetbiosCommandIndex, c.netbiosCommand, names, names.protocol);
        return;
    case Next::DecStpMessage:
        c.decStpMessageType = r.u8(L::kDecStpMessageType);
        refine(c, kDecStpMessageIndex, c.decStpMessageType, names, names.protocol);
        return;
    case Next::ArpAddresses:
        classifyArp(c, r, names);
        return;
    case Next::Ipv4Protocol:
        classifyIpv4(c, r, names);
        return;
    case Next::Ports:
        classifyPorts(c, r, names);
        return;
    }
}

} // namespace

Classification classifyFrame(const FrameHeader& header, const std::uint8_t* bytes) noexcept {
    const FrameReader r(header, bytes);
    Classification c;
    c.hasDestinationMac = r.copyTo(L::kEthDestination, c.destinationMac);
    c.hasSourceMac = r.copyTo(L::kEthSource, c.sourceMac);

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
        const auto* row = find(kSsapIndex, *c.ssap);
        if (row)
            classifyFollowUp(c, r, row->names, row->next);
        else
            setNames(c, kUnknown);
    } else {
        c.framing = Framing::EthernetII;
        const auto* row = find(kEtherTypeRows, *c.typeOrLength);
        if (row)
            classifyFollowUp(c, r, row->names, row->next);
        else
            setNames(c, kUnknown);
    }
    return c;
}

namespace {

constexpr char kUnknownAddress = '-';

char* appendMacOrUnknown(char* out, bool has, const std::array<std::uint8_t, 6>& mac) noexcept {
    if (!has) {
        *out++ = kUnknownAddress;
        return out;
    }
    return text::appendMacHyphen(out, mac.data());
}

char* appendLine(char* out, const FrameHeader& header, const Classification& c) noexcept {
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

QString latin1(const char* begin, const char* end) {
    return QString::fromLatin1(begin, static_cast<qsizetype>(end - begin));
}

QString latin1(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// Table names live for the whole run: the QString refers to them, no copy.
QString utf16(const char16_t* text, std::size_t size) {
    return QString::fromRawData(reinterpret_cast<const QChar*>(text), static_cast<qsizetype>(size));
}

} // namespace

char* appendSourceText(char* out, const Classification& c) noexcept {
    if (c.addressForm == Classification::AddressForm::Ipv4)
        return text::appendIpv4(out, c.sourceIpv4.data());
    return appendMacOrUnknown(out, c.hasSourceMac, c.sourceMac);
}

char* appendDestinationText(char* out, const Classification& c) noexcept {
    if (c.addressForm == Classification::AddressForm::Ipv4)
        return text::appendIpv4(out, c.destinationIpv4.data());
    return appendMacOrUnknown(out, c.hasDestinationMac, c.destinationMac);
}

FrameTexts frameTexts(const FrameHeader& header, const Classification& c) {
    char buffer[text::kMaxTimeLength];
    FrameTexts t;
    t.time = latin1(buffer, text::appendTime(buffer, header.tsSec, header.tsUsec));
    t.source = latin1(buffer, appendSourceText(buffer, c));
    t.destination = latin1(buffer, appendDestinationText(buffer, c));
    t.protocol = c.protocolUtf16 ? utf16(c.protocolUtf16, c.protocol.size()) : latin1(c.protocol);
    t.info = c.infoNameUtf16 ? utf16(c.infoNameUtf16, c.infoName.size()) : latin1(c.info());
    return t;
}

FrameTexts frameTexts(const FrameHeader& header, const std::uint8_t* bytes) {
    return frameTexts(header, classifyFrame(header, bytes));
}

std::size_t formatFrameLine(const FrameHeader& header, const Classification& c, char* out,
                            std::size_t capacity) noexcept {
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
                            std::size_t capacity) noexcept {
    return formatFrameLine(header, classifyFrame(header, bytes), out, capacity);
}

} // namespace qarsilo
