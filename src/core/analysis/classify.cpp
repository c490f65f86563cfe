#include "core/analysis/classify.h"

#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/analysis/protocol_table.h"
#include "core/analysis/text_format.h"

#include <algorithm>

namespace qarsilo {
namespace {

namespace L = layout;

using protocols::Text;
using protocols::operator""_t;

using Names = protocols::ListNames;

constexpr Names kUnknown{"???"_t, "Unknown"_t};
constexpr Text kTruncatedInfo = "Truncated"_t;

using protocols::Follows;

// The list's own rows, below the shared table's: named as the shared rows are.
template <typename Key> struct Row {
    Key key;
    Names list;
};

// Rows of one table are sorted by key so lookups can bisect.
using protocols::ByteIndex;
using protocols::findSorted;
using protocols::sortedUnique;

// Info by BPDU type (byte 20); other types keep the SAP row's name.
constexpr Row<std::uint8_t> kBpduTypeRows[] = {
    {0x00, {"STP"_t, "Spanning Tree Protocol (Configuration)"_t}},
};

// DEC spanning tree message type (byte 15); other types keep the type row's name.
constexpr Row<std::uint8_t> kDecStpMessageRows[] = {
    {L::kDecStpHello, {"DSTP"_t, "DEC Bridge Spanning Tree Protocol (hello)"_t}},
};

// A shared row as the list sees it: absent when the list has no name for it.
template <typename SharedRow> constexpr bool listed(const SharedRow* row) noexcept {
    return row && !row->list.protocol.empty();
}

// For two-byte keys (ports, EtherTypes) on the per-frame paths: the row of
// every value that the list names, found with one load. A bisection's chain
// of dependent loads costs more than the table's few hot cache lines.
template <typename RowT> struct ListedWordIndex {
    const RowT* rows;
    std::uint8_t slot[65536]{}; ///< row number + 1; 0 for no row, or one the list leaves unnamed
    template <std::size_t N>
    constexpr explicit ListedWordIndex(const RowT (&table)[N])
        : rows(table) {
        static_assert(N < 255);
        for (std::size_t i = 0; i < N; ++i) {
            if (!table[i].list.protocol.empty())
                slot[table[i].key] = static_cast<std::uint8_t>(i + 1);
        }
    }
    constexpr const RowT* find(std::uint16_t key) const noexcept {
        return slot[key] ? &rows[slot[key] - 1] : nullptr;
    }
};
constexpr ListedWordIndex<protocols::PortRow> kListedPorts(protocols::kPorts);
constexpr ListedWordIndex<protocols::EtherTypeRow> kListedEtherTypes(protocols::kEtherTypes);

static_assert(sortedUnique(kBpduTypeRows) && sortedUnique(kDecStpMessageRows));

// The fields read below all end within kClassifyReach.
static_assert(L::kEthHeaderEnd <= kClassifyReach && L::kLlcSsap < kClassifyReach &&
              L::kBpduType < kClassifyReach && L::kSnapOrganization + 3 <= kClassifyReach &&
              L::kIpxDestinationSocket + 2 <= kClassifyReach &&
              L::kNetbiosCommand < kClassifyReach && L::kDecStpMessageType < kClassifyReach &&
              L::kIpv4Protocol < kClassifyReach && L::kIpv4End <= kClassifyReach &&
              L::kTcpDestinationPort + 2 <= kClassifyReach && L::kArpEnd <= kClassifyReach);

// One-byte keys go through a direct index, wider ones are bisected.
constexpr ByteIndex kSsapIndex(protocols::kSaps);
constexpr ByteIndex kBpduTypeIndex(kBpduTypeRows);
constexpr ByteIndex kNetbiosCommandIndex(protocols::kNetbiosCommands);
constexpr ByteIndex kDecStpMessageIndex(kDecStpMessageRows);
constexpr ByteIndex kIpProtocolIndex(protocols::kIpProtocols);

template <typename RowT, std::size_t N>
constexpr const RowT* find(const ByteIndex<RowT, N>& index, std::uint8_t key) noexcept {
    return index.find(key);
}

template <typename RowT, std::size_t N, typename Key>
constexpr const RowT* find(const RowT (&rows)[N], Key key) noexcept {
    return findSorted(rows, key);
}

// The line formatter sizes its buffer from these bounds.
constexpr std::size_t kMaxProtocolLength = 16;
constexpr std::size_t kMaxInfoLength = 48;

constexpr bool nameFits(const Names& n) {
    return n.protocol.latin1.size() <= kMaxProtocolLength && n.info.latin1.size() <= kMaxInfoLength;
}
template <typename RowT, std::size_t N> constexpr bool namesFit(const RowT (&rows)[N]) {
    for (const RowT& r : rows) {
        if (!nameFits(r.list))
            return false;
    }
    return true;
}
static_assert(namesFit(protocols::kSaps) && namesFit(kBpduTypeRows) &&
              namesFit(protocols::kSnapOrganizations) && namesFit(protocols::kIpxSockets) &&
              namesFit(protocols::kNetbiosCommands) && namesFit(protocols::kEtherTypes) &&
              namesFit(kDecStpMessageRows) && namesFit(protocols::kIpProtocols) &&
              namesFit(protocols::kPorts));
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
    setNames(c, row ? row->list : fallback);
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
                      Follows next) noexcept;

void classifyPorts(Classification& c, const FrameReader& r, const Names& transport) noexcept {
    c.sourcePort = r.be16(L::kTcpSourcePort);
    c.destinationPort = r.be16(L::kTcpDestinationPort);
    if (!c.sourcePort || !c.destinationPort) {
        // Without both ports neither the summary nor the name is certain.
        setTruncated(c, transport.protocol);
        return;
    }
    // A known destination port wins over a known source port.
    const protocols::PortRow* known = kListedPorts.find(*c.destinationPort);
    if (!known)
        known = kListedPorts.find(*c.sourcePort);
    if (known) {
        setNames(c, known->list);
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
    if (const auto* row = find(kIpProtocolIndex, *c.ipProtocol); listed(row))
        classifyFollowUp(c, r, row->list, row->follows);
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
                      Follows next) noexcept {
    switch (next) {
    case Follows::Nothing:
    case Follows::Ipv6: // the list stops at the IPv6 header
        setNames(c, names);
        return;
    case Follows::Bpdu:
        c.bpduType = r.u8(L::kBpduType);
        refine(c, kBpduTypeIndex, c.bpduType, names, names.protocol);
        return;
    case Follows::Snap:
        c.snapOrganization = r.be24(L::kSnapOrganization);
        refine(c, protocols::kSnapOrganizations, c.snapOrganization, kUnknown, kUnknown.protocol);
        return;
    case Follows::Ipx:
        c.ipxDestinationSocket = r.be16(L::kIpxDestinationSocket);
        refine(c, protocols::kIpxSockets, c.ipxDestinationSocket, names, names.protocol);
        return;
    case Follows::Netbios:
        c.netbiosCommand = r.u8(L::kNetbiosCommand);
        refine(c, kNetbiosCommandIndex, c.netbiosCommand, names, names.protocol);
        return;
    case Follows::DecStp:
        c.decStpMessageType = r.u8(L::kDecStpMessageType);
        refine(c, kDecStpMessageIndex, c.decStpMessageType, names, names.protocol);
        return;
    case Follows::Arp:
        classifyArp(c, r, names);
        return;
    case Follows::Ipv4:
        classifyIpv4(c, r, names);
        return;
    case Follows::Tcp:
    case Follows::Udp:
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
        if (listed(row))
            classifyFollowUp(c, r, row->list, row->follows);
        else
            setNames(c, kUnknown);
    } else {
        c.framing = Framing::EthernetII;
        if (const auto* row = kListedEtherTypes.find(*c.typeOrLength))
            classifyFollowUp(c, r, row->list, row->follows);
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
