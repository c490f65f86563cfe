#pragma once

// The protocol numbers the program knows, each written once: Ethernet types,
// LLC SAPs, IP protocols and TCP/UDP ports, with the texts every view gives
// them (a column per view: their wordings differ) and the colours the charts
// and the trace draw them in.
//
// A row a view does not know has that view's column empty: the list skips
// rows without a list protocol, the decoder rows without a decode text, the
// charts rows without a category.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qarsilo::protocols {

// ---------------------------------------------------------------- texts

/// A table text in Latin-1 for the char formatters and in UTF-16, so that a
/// QString can refer to it without a copy. "HTTP"_t keeps both in static storage.
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
    constexpr bool empty() const noexcept { return latin1.empty(); }
};

template <TextLiteral T> constexpr Text operator""_t() {
    return Text{std::string_view(T.latin1, sizeof T.latin1 - 1), T.utf16};
}

// ---------------------------------------------------------------- colours

/// The palette of the charts and the trace, in the order the categories take it.
enum class Colour : std::uint8_t {
    Green,
    Teal,
    Salmon,
    Pink,
    Lavender,
    Blue,
    Brown,
    Maroon,
    Silver,
    Orange,
    Yellow,
    Cyan,
    Red,
    None,       ///< drawn black, as unlisted values are
    OfCategory, ///< the colour of the row's category
};
inline constexpr std::array<std::uint32_t, 13> kPalette{
    0x00C000, 0x00C0C0, 0xFF8F6B, 0xFF3399, 0xC7B1FF, 0x0000C0, 0x503200,
    0x800000, 0xC0C0C0, 0xFFC66B, 0xFFFF00, 0x8EFFFF, 0xFF0000,
};
inline constexpr std::uint32_t kBlack = 0x000000;

/// 0xRRGGBB of a palette colour; black for None (and OfCategory, which has none of its own).
constexpr std::uint32_t rgb(Colour c) noexcept {
    const auto i = static_cast<std::size_t>(c);
    return i < kPalette.size() ? kPalette[i] : kBlack;
}

// ---------------------------------------------------------------- categories

/// No category: the charts count the value as "Other(s)" or not at all.
inline constexpr std::int8_t kNoCategory = -1;

/// The network layer chart's categories and the trace's first legend, in order.
struct NetworkCategory {
    const char* chartName;
    const char* traceName;
    Colour colour;
};
inline constexpr NetworkCategory kNetworkCategories[] = {
    {"IPv4", "IPv4", Colour::Green},
    {"X.75", "x75", Colour::Teal},
    {"ARP", "ARP", Colour::Salmon},
    {"Rev ARP", "Rev ARP", Colour::Pink},
    {"DEC LAN Bridge", "DEC LAN Bridge", Colour::Lavender},
    {"AppleTalk", "AppleTalk", Colour::Blue},
    {"AppleTalk ARP", "AppleTalk ARP", Colour::Brown},
    {"IPv6", "IPv6", Colour::Silver},
    {"MPLS", "MPLS", Colour::Orange},
    {"Spanning Tree", "Spanning Tree", Colour::Yellow},
    {"IPX", "IPX", Colour::Cyan},
    {"NetBIOS", "NetBIOS", Colour::Red},
};

/// The IPv4 and IPv6 charts' categories and the trace's second legend: one name for all.
struct IpCategory {
    const char* name;
    Colour colour;
};
inline constexpr IpCategory kIpCategories[] = {
    {"ICMP", Colour::Green},   {"IGMP", Colour::Teal},     {"TCP", Colour::Salmon},
    {"EGP", Colour::Pink},     {"IGRP", Colour::Lavender}, {"UDP", Colour::Blue},
    {"RSVP", Colour::Brown},   {"GRE", Colour::Maroon},    {"ESP", Colour::Silver},
    {"VINES", Colour::Orange}, {"OSPF", Colour::Yellow},   {"SCTP", Colour::Cyan},
};

/// The application chart's categories (row name, legend label) and the trace's third legend.
struct ApplicationCategory {
    const char* chartName;
    const char* chartLongName;
    const char* traceName;
    Colour colour;
};
inline constexpr ApplicationCategory kApplicationCategories[] = {
    {"Web", "Web (HTTP, HTTPS)", "Web", Colour::Green},
    {"FTP", "FTP", "FTP", Colour::Teal},
    {"Mail", "Mail (POP3, SMTP)", "Mail", Colour::Salmon},
    {"Telnet", "Telnet", "Telnet", Colour::Pink},
    {"SSH", "SSH", "SSH", Colour::Lavender},
    {"NetBIOS", "NetBIOS", "NetBios", Colour::Blue},
    {"SNMP", "SNMP", "SNMP", Colour::Brown},
    {"DNS", "DNS (Domain Name)", "DNS", Colour::Maroon},
    {"CMIP", "CMIP", "CMIP", Colour::Silver},
    {"BGP", "BGP (Routing)", "BGP", Colour::Orange},
    {"DHCP", "DHCP (Dynamic IP)", "DHCP", Colour::Yellow},
    {"SOCKS", "SOCKS (Proxy)", "SOCKS", Colour::Cyan},
    {"H.323", "H.323 (Conference)", "H.323", Colour::Red},
};

// ---------------------------------------------------------------- numbers

/// The header that follows the one a row names. The list and the decoder each
/// follow only some of them.
enum class Follows : std::uint8_t {
    Nothing,
    Bpdu,    ///< spanning tree BPDU
    Snap,    ///< SNAP: organization code, protocol ID
    Ipx,     ///< IPX: by destination socket
    Netbios, ///< NetBIOS: by command
    DecStp,  ///< DEC spanning tree: by message type
    Arp,
    Ipv4,
    Ipv6,
    Tcp,
    Udp,
};

/// The analyzer list's Protocol and Info columns.
struct ListNames {
    Text protocol;
    Text info;
};

/// The detail decoder's texts: the suffix of the field holding the number,
/// and the closing summary when no later header gives one.
struct DecodeNames {
    std::string_view suffix;
    std::string_view summary;
};

/// The types that readers outside the table test for.
inline constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;

struct EtherTypeRow {
    std::uint16_t key;
    ListNames list;
    DecodeNames decode;
    Follows follows;
    std::int8_t category; ///< into kNetworkCategories
    Colour trace = Colour::OfCategory;
};

/// Ethernet II frames, by type (bytes 12-13); sorted.
inline constexpr EtherTypeRow kEtherTypes[] = {
    {kEtherTypeIpv4, {"IPv4"_t, "IPV4 (Unknown)"_t}, {" (IPv4)", {}}, Follows::Ipv4, 0},
    {0x0801,
     {"X.75"_t, "X.75 Internet packet"_t},
     {" (X.75)", "X.75 Internet packet"},
     Follows::Nothing,
     1},
    {0x0806, {"ARP"_t, {}}, {" (ARP)", {}}, Follows::Arp, 2},
    {0x8035,
     {"RARP"_t, "Reverse Address Resolution Protocol"_t},
     {" (RARP)", "Reverse Address Resolution Protocol"},
     Follows::Nothing,
     3},
    {0x8038,
     {"DSTP"_t, "DEC Bridge Spanning Tree Protocol"_t},
     {" (DEC_STP)", {}},
     Follows::DecStp,
     4},
    {0x809B, {"AT"_t, "AppleTalk"_t}, {" (AppleTalk)", "AppleTalk"}, Follows::Nothing, 5},
    {0x80F3,
     {"AARP"_t, "AppleTalk Address Resolution Protocol"_t},
     {" (AARP)", "AppleTalk Address Resoluton Protocol"},
     Follows::Nothing,
     6},
    // Coloured by the trace alone; its legend has no row for it.
    {0x814C, {}, {}, Follows::Nothing, kNoCategory, Colour::Maroon},
    // The list does not go past the IPv6 header; the decoder does.
    {kEtherTypeIpv6,
     {"IPv6"_t, "Internet Protocol version 6"_t},
     {" (IPv6)", {}},
     Follows::Ipv6,
     7},
    {0x8847,
     {"MPLS"_t, "Multi Protocol Label Switching (unicast)"_t},
     {" (MPLS)", "Multi Protocol Label Switching"},
     Follows::Nothing,
     8},
    {0x8848,
     {"MPLS"_t, "Multi Protocol Label Switching (multicast)"_t},
     {" (MPLS)", "Multi Protocol Label Switching"},
     Follows::Nothing,
     8},
};

struct SapRow {
    std::uint8_t key;
    ListNames list;
    DecodeNames decode; ///< the suffix goes after both SAPs
    Follows follows;
    std::int8_t category; ///< into kNetworkCategories
    Colour trace = Colour::OfCategory;
};

/// IEEE 802.3 frames, by SSAP (byte 15) alone; sorted.
inline constexpr SapRow kSaps[] = {
    {0x00,
     {"LSAP"_t, "Link Service Advertising Protocol (null)"_t},
     {" (LSAP)", "Link Service Advertising Protocol (null)"},
     Follows::Nothing,
     kNoCategory},
    // The decoder names it whatever the BPDU type; the list looks at the type.
    {0x42,
     {"STP"_t, "Spanning Tree Protocol"_t},
     {" (STP)", "Spanning Tree Protocol"},
     Follows::Bpdu,
     9},
    {0xAA, {"???"_t, "Unknown"_t}, {" (SNAP)", {}}, Follows::Snap, kNoCategory},
    {0xE0, {"IPX"_t, "IPX (Unknowns)"_t}, {" (IPX)", {}}, Follows::Ipx, 10},
    {0xF0, {"NetBIOS"_t, "NetBIOS unknown"_t}, {" (NetBIOS)", {}}, Follows::Netbios, 11},
    {0xFF,
     {"LSAP"_t, "Link Service Advertising Protocol (Global)"_t},
     {" LSAP", "Link Service Advertising Protocol (Global)"},
     Follows::Nothing,
     kNoCategory},
};

struct IpProtocolRow {
    std::uint8_t key;
    ListNames list;                     ///< IPv4 only: the list does not go past the IPv6 header
    DecodeNames ipv4;                   ///< IPv4 protocol field
    DecodeNames ipv6;                   ///< IPv6 next header field
    Follows follows;                    ///< Tcp, Udp or Nothing
    std::int8_t ipv4Category;           ///< into kIpCategories; also the trace's colour
    std::int8_t ipv6Category;           ///< into kIpCategories
    std::int8_t compared = kNoCategory; ///< slot of the IPv4/IPv6 comparison chart
    bool comparedOnIpv4 = true;         ///< the slot is taken on IPv4 frames
    bool comparedOnIpv6 = true;         ///< ... and on IPv6 frames
};

/// IPv4 protocol and IPv6 next header values; sorted.
inline constexpr IpProtocolRow kIpProtocols[] = {
    {0,
     {},
     {},
     {" IPv6 hop-by-hop options", "IPv6 Hop-by-Hop Options"},
     Follows::Nothing,
     kNoCategory,
     kNoCategory},
    // IPv6 charts ICMPv6 (58) as ICMP.
    {1,
     {"ICMP"_t, "Internet Control Message Protocol"_t},
     {" (ICMP)", "ICMP version 4"},
     {" (ICMPv4)", "Internet Control Message Protocol v4"},
     Follows::Nothing,
     0,
     kNoCategory,
     0,
     true,
     false},
    {2,
     {"IGMP"_t, "Internet Group Managment Protocol"_t},
     {" (IGMP)", "Internet Group Managment Protocol"},
     {" (IGMP)", "Internet Group Managment Protocol"},
     Follows::Nothing,
     1,
     1},
    // IP in IP: the comparison chart has always called it BGP.
    {4, {}, {}, {}, Follows::Nothing, kNoCategory, kNoCategory, 3},
    {6,
     {"TCP"_t, "Transport Control Protocol"_t},
     {" (TCP)", {}},
     {" (TCP)", {}},
     Follows::Tcp,
     2,
     2,
     2},
    {8,
     {"EGP"_t, "Exterior Gateway Protocol"_t},
     {" (EGP)", "Exterior Gateway Protocol"},
     {" (EGP)", "Exterior Gateway Protocol"},
     Follows::Nothing,
     3,
     3},
    // IPv6 charts 88 as IGRP.
    {9,
     {"IGRP"_t, "Interior Gateway Routing Protocol"_t},
     {" (IGRP)", "Interior Gateway Routing Protocol"},
     {" (IGRP)", "Interior Gateway Routing Protocol"},
     Follows::Nothing,
     4,
     kNoCategory},
    {17,
     {"UDP"_t, "User Datagram Protocol"_t},
     {" (UDP)", {}},
     {" (UDP)", {}},
     Follows::Udp,
     5,
     5,
     1},
    {46,
     {"RSVP"_t, "Resource ReSerVation setup Protocol"_t},
     {" (RSVP)", "Resource ReSerVation setup Protocol"},
     {" (RSVP)", "Resource ReSerVation setup Protocol"},
     Follows::Nothing,
     6,
     6},
    {47,
     {"GRE"_t, "Generic Routing Encapsulation"_t},
     {" (GRE)", "Generic Routing Encapsulation"},
     {" (GRE)", "Generic Routing Encapsulation"},
     Follows::Nothing,
     7,
     7,
     4},
    {50,
     {"ESP"_t, "Encapsulating Security Payload"_t},
     {" (ESP)", "Encapsulating Security Payload"},
     {" (ESP)", "Encapsulating Security Payload"},
     Follows::Nothing,
     8,
     8},
    {58,
     {},
     {},
     {" (ICMPv6)", "Internet Control Message Protocol v6"},
     Follows::Nothing,
     kNoCategory,
     0,
     0,
     false,
     true},
    {83,
     {"VINES"_t, "Vines over raw IP"_t},
     {" (VINES)", "Vines over raw IP"},
     {" (Vines)", "Vines over raw IP"},
     Follows::Nothing,
     9,
     9},
    {88, {}, {}, {}, Follows::Nothing, kNoCategory, 4},
    {89,
     {"OSPF"_t, "Open Shortest Path First"_t},
     {" (OSPF)", "Open Shortest Path First"},
     {" (OSPF)", "Open Shortest Path First"},
     Follows::Nothing,
     10,
     10,
     5},
    {132,
     {"STCP"_t, "Stream Control Transmission Protocol"_t},
     {" (STCP)", "Stream Control Transmission Protocol"},
     {" (SCTP)", "Stream Control Transmission Protocol"},
     Follows::Nothing,
     11,
     11},
};

/// The decoder's application names: TCP and UDP word some differently.
struct ApplicationNames {
    std::string_view tcp;
    std::string_view udp;
};

struct PortRow {
    std::uint16_t key;
    ListNames list;
    ApplicationNames decode;
    std::int8_t category; ///< into kApplicationCategories
    Colour trace = Colour::OfCategory;
};

/// TCP and UDP ports, one table for both. In the decoder's order: it names
/// the application by the first row that either port matches.
inline constexpr PortRow kPorts[] = {
    {80,
     {"HTTP"_t, "Hyper Text Transfer Protocol"_t},
     {"Hyper Text Transfer Protocol", "Hyper Text Transfer Protocol"},
     0},
    {443,
     {"S-HTTP"_t, "Secure Hyper Text Transfer Protocol"_t},
     {"Secure Hyper Text Transfer Protocol", "Secure Hyper Text Transfer Protocol"},
     0},
    {21,
     {"FTP"_t, "File Transfer Protocol"_t},
     {"File Transfer Protocol", "File Transfer Protocol"},
     1},
    {110,
     {"POP3"_t, "Post Office Protocol - Version 3"_t},
     {"Post Office Protocol - version 3", "Post Office Protocol - version 3"},
     2},
    {25,
     {"SMTP"_t, "Simple Mail Transport Protocol"_t},
     {"Simple Mail Transport Protocol", "Simple Mail Transport Protocol"},
     2},
    {995, {}, {"POP 3 using SSL", "POP 3 using SSL"}, kNoCategory},
    {993, {}, {"IMAP", "Internet Message Access Protocol"}, kNoCategory},
    {465, {}, {"SMTP using SSL", "SMTP using SSL"}, kNoCategory},
    {23, {"Telnet"_t, "Telnet"_t}, {"Telnet", "Telnet"}, 3},
    {22,
     {"SSH"_t, "SSH Remote Login Protocol"_t},
     {"SSL Remote Login Protocol", "SSL Remote Login Protocol"},
     4},
    {137,
     {"NetBIOS-NS"_t, "NetBIOS Over IP Name Service"_t},
     {"NetBIOS over IP Name Service", "NetBIOS over IP Name Service"},
     5},
    {138,
     {"NetBIOS-DATA"_t, "NetBIOS Over IP Datagram Service"_t},
     {"NetBIOS over IP Datagram Service", "NetBIOS over IP Datagram Service"},
     5},
    {139,
     {"NetBIOS-SS"_t, "NetBIOS Over IP Session Service"_t},
     {"NetBIOS over IP Session Service", "NetBIOS over IP Session Service"},
     5},
    {161,
     {"SNMP"_t, "Simple Network Management Protocol"_t},
     {"Simple Network Management Protocol", "Simple Network Management Protocol"},
     6},
    {162,
     {"SNMP-trap"_t, "Simple Network Management Protocol (Trap)"_t},
     {"Simple Network Management Protocol (Trap)", "Simple Network Management Protocol (Trap)"},
     6},
    {53, {"DNS"_t, "Domain Name Service"_t}, {"Domain Name Service", "Domain Name Service"}, 7},
    {163,
     {"CMIP-man"_t, "CMIP TCP/Manager"_t},
     {"CMIP  TCP/Manager", "Common Management Information Protocol Manager"},
     8},
    {164,
     {"CMIP-agt"_t, "CMIP TCP/Agent"_t},
     {"CMIP  TCP/Agent", "Common Management Information Protocol Agent"},
     8},
    {179,
     {"BGP"_t, "Border Gateway Protocol"_t},
     {"Border Gateway Protocol", "Border Gateway Protocol"},
     9},
    {67, {"DHCP"_t, "DHCP server"_t}, {"DHCP", "Dynamic Host Configuration Protocol"}, 10},
    {68, {"DHCP"_t, "DHCP client"_t}, {"DHCP", "Dynamic Host Configuration Protocol"}, 10},
    {546,
     {"DHCPv6"_t, "DHCP version 6 client"_t},
     {"DHCPv6", "Dynamic Host Configuration Protocol for IPv6"},
     10},
    {547,
     {"DHCPv6"_t, "DHCP version 6 server"_t},
     {"DHCPv6", "Dynamic Host Configuration Protocol for IPv6"},
     10},
    {1080, {"SOCKS"_t, "SOCKS"_t}, {"SOCKS", "SOCKS"}, 11},
    {1300,
     {"h323hostcallsc"_t, "H323 Host Call Secure"_t},
     {"H.323 Host Call Secure", "H.323 Host Call Secure"},
     12},
    {1718,
     {"h323gatedisc"_t, "H323 Gatekeeper Discovery"_t},
     {"H.323 Gateway Discovery", "H.323 Gateway Discovery"},
     12},
    {1719,
     {"h323gatestat"_t, "H323 Gatekeeper Status"_t},
     {"H.323 Gateway Status", "H.323 Gateway Status"},
     12},
    // The trace leaves the H.323 host call port uncoloured.
    {1720,
     {"h323hostcall"_t, "H323 Host Call"_t},
     {"H.323 Host Call", "H.323 Host Call"},
     12,
     Colour::None},
    {11720,
     {"h323callsigalt"_t, "H323 Call Signal Alternate"_t},
     {"H.323 Call Signal Alternate", "H.323 Call Signal Alternate"},
     12},
};

// ---------------------------------------------------------------- below the SAPs

/// SNAP, by organization code (bytes 17-19); the protocol ID is shown but not looked up.
struct SnapDecodeNames {
    std::string_view organizationSuffix;
    std::string_view protocolSuffix;
    std::string_view summary;
};
struct SnapOrganizationRow {
    std::uint32_t key;
    ListNames list;
    SnapDecodeNames decode;
};
inline constexpr SnapOrganizationRow kSnapOrganizations[] = {
    {0x00000C,
     {"CDP"_t, "Cisco Discovery Protocol"_t},
     {" (Cisco)", " (CDP)", "Cisco Discovery Protocol"}},
};

/// IPX, by destination socket (bytes 33-34). The decoder shows the suffix
/// after both sockets: the pair names the service the frame is addressed to.
struct IpxSocketRow {
    std::uint16_t key;
    ListNames list;
    std::string_view decodeSuffix;
};
inline constexpr IpxSocketRow kIpxSockets[] = {
    {0x0452, {"IPX SAP"_t, "Internetwork Packet Exchange (SAP)"_t}, " (IPX SAP)"},
    {0x0453, {"IPX RIP"_t, "Internetwork Packet Exchange (RIP)"_t}, " (IPX RIP)"},
    {0x0455, {"NBIPX"_t, "NetBIOS over IPX"_t}, " (NBIPX)"},
    {0x9001, {"IPX"_t, "IPX (Wide Area Router)"_t}, " (IPX WAR)"},
};

/// NetBIOS frames, by command (byte 21). The texts are the program's own, spelling included.
struct NetbiosCommandRow {
    std::uint8_t key;
    ListNames list;
    std::string_view decodeSuffix;
};
inline constexpr NetbiosCommandRow kNetbiosCommands[] = {
    {0x00, {"NetBIOS"_t, "NetBIOS add group"_t}, " (NetBIOS add group)"},
    {0x01, {"NetBIOS"_t, "NetBIOS add name"_t}, " (NetBIOS add name)"},
    {0x02, {"NetBIOS"_t, "NetBIOS name in conflict"_t}, " (NetBIOS name in conflict)"},
    {0x03, {"NetBIOS"_t, "NetBIOS status query"_t}, " (NetBIOS status query)"},
    {0x07, {"NetBIOS"_t, "NetBIOS terminate trace"_t}, " (NetBIOS terminate trace)"},
    {0x08, {"NetBIOS"_t, "NetBIOS Datagram"_t}, " (NetBIOS Datagram)"},
    {0x09, {"NetBIOS"_t, "NetBIOS Datagram broadcast"_t}, " (NetBIOS Datagram broadcast)"},
    {0x0A, {"NetBIOS"_t, "NetBIOS name query"_t}, " (NetBIOS name query)"},
    {0x0D, {"NetBIOS"_t, "NetBIOS add name response"_t}, " (NetBIOS add name response)"},
    {0x0E, {"NetBIOS"_t, "NetBIOS name recognized"_t}, " (NetBIOS name recognized)"},
    {0x0F, {"NetBIOS"_t, "NetBIOS status response"_t}, " (NetBIOS status response)"},
    {0x13, {"NetBIOS"_t, "NetBIOS terminate trace"_t}, " (NetBIOS terminate trace)"},
    {0x14, {"NetBIOS"_t, "NetBIOS data acknowlegment"_t}, " (NetBIOS data acknowlegment)"},
    {0x15, {"NetBIOS"_t, "NetBIOS data first middle"_t}, " (NetBIOS data first middle)"},
    {0x16, {"NetBIOS"_t, "NetBIOS data only last"_t}, " (NetBIOS data only last)"},
    {0x17, {"NetBIOS"_t, "NetBIOS session confirmation"_t}, " (NetBIOS session confirmation)"},
    {0x18, {"NetBIOS"_t, "NetBIOS session end"_t}, " (NetBIOS session end)"},
    {0x19, {"NetBIOS"_t, "NetBIOS session Initialize"_t}, " (NetBIOS session Initialize)"},
    {0x1A, {"NetBIOS"_t, "NetBIOS no receive"_t}, " (NetBIOS no receive)"},
    {0x1B, {"NetBIOS"_t, "NetBIOS receive outstanding"_t}, " (NetBIOS receive outstanding)"},
    {0x1C, {"NetBIOS"_t, "NetBIOS receive continue"_t}, " (NetBIOS receive continue)"},
    {0x1F, {"NetBIOS"_t, "NetBIOS session alive"_t}, " (NetBIOS session alive)"},
};

// ---------------------------------------------------------------- checks

/// The row of `key`, or null. Linear: for the tables' compile-time indexes
/// and the few callers that read them rarely.
template <typename Row, std::size_t N, typename Key>
constexpr const Row* rowOf(const Row (&rows)[N], Key key) noexcept {
    for (const Row& r : rows) {
        if (r.key == key)
            return &r;
    }
    return nullptr;
}

template <typename Row, std::size_t N> constexpr bool sortedUnique(const Row (&rows)[N]) noexcept {
    for (std::size_t i = 1; i < N; ++i) {
        if (!(rows[i - 1].key < rows[i].key))
            return false;
    }
    return true;
}

template <typename Row, std::size_t N> constexpr bool uniqueKeys(const Row (&rows)[N]) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (rows[i].key == rows[j].key)
                return false;
        }
    }
    return true;
}

/// The row of `key` in a table sorted by key, or null. For the per-frame
/// lookups: a fixed number of steps and conditional moves, as the frame mix
/// is random and data-dependent branches would mispredict.
template <typename Row, std::size_t N, typename Key>
constexpr const Row* findSorted(const Row (&rows)[N], Key key) noexcept {
    const Row* base = rows;
    for (std::size_t n = N; n > 1;) {
        const std::size_t half = n / 2;
        base = base[half].key <= key ? base + half : base;
        n -= half;
    }
    return base->key == key ? base : nullptr;
}

/// For one-byte keys on the per-frame paths: the row of every value, found with one load.
template <typename Row, std::size_t N> struct ByteIndex {
    const Row (&rows)[N];
    std::uint8_t slot[256]{}; ///< row number + 1, 0 for no row
    constexpr explicit ByteIndex(const Row (&table)[N])
        : rows(table) {
        static_assert(N < 255);
        for (std::size_t i = 0; i < N; ++i)
            slot[table[i].key] = static_cast<std::uint8_t>(i + 1);
    }
    constexpr const Row* find(std::uint8_t key) const noexcept {
        return slot[key] ? &rows[slot[key] - 1] : nullptr;
    }
};

// The per-frame readers bisect; one row per number in every table.
static_assert(sortedUnique(kEtherTypes) && sortedUnique(kSaps) && sortedUnique(kIpProtocols));
static_assert(uniqueKeys(kPorts));
static_assert(sortedUnique(kSnapOrganizations) && sortedUnique(kIpxSockets) &&
              sortedUnique(kNetbiosCommands));

/// The colour the trace draws a row in: its own, or its category's (None for none).
template <typename Category, std::size_t N>
constexpr Colour traceColourOf(Colour trace, std::int8_t category,
                               const Category (&categories)[N]) noexcept {
    if (trace != Colour::OfCategory)
        return trace;
    if (category < 0 || static_cast<std::size_t>(category) >= N)
        return Colour::None;
    return categories[static_cast<std::size_t>(category)].colour;
}

} // namespace qarsilo::protocols
