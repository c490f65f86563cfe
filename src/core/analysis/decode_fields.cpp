#include "core/analysis/decode_fields.h"

#include <algorithm>

#include "core/analysis/text_format.h"

namespace qarsilo::decode {
namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";

char* appendHex(char* out, std::uint32_t v, int digits) noexcept {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        *out++ = kUpperHex[(v >> shift) & 0x0F];
    return out;
}

// Hex digits followed by the "h" every hex value of the tree carries.
char* appendHexH(char* out, std::uint32_t v, int digits) noexcept {
    out = appendHex(out, v, digits);
    *out++ = 'h';
    return out;
}

template <std::size_t N>
char* appendGroups(char* out, const std::array<std::uint8_t, N>& bytes, std::size_t perGroup) {
    for (std::size_t i = 0; i < N; ++i) {
        if (i != 0 && i % perGroup == 0)
            *out++ = ':';
        out = appendHex(out, bytes[i], 2);
    }
    return out;
}

// The longest value text: an IPv6 address, 8 groups of 4 digits and 7 colons.
constexpr std::size_t kMaxValueLength = 39;

} // namespace

QString valueText(const FrameReader& r, Offset at, Value value) {
    if (!r.has(at, valueWidth(value)))
        return {};
    char buffer[kMaxValueLength + text::kMaxDecimalLength];
    char* out = buffer;
    // Every read below is covered by the has() above; the readers check again.
    const auto u8 = [&](Offset o) { return r.u8(o).value_or(0); };
    const auto be16 = [&](Offset o) { return r.be16(o).value_or(0); };
    switch (value) {
    case Value::Dec8:
        out = text::appendDecimal(out, u8(at));
        break;
    case Value::Dec16:
        out = text::appendDecimal(out, be16(at));
        break;
    case Value::Dec32:
        out = text::appendDecimal(out, r.be32(at).value_or(0));
        break;
    case Value::HighNibble:
        out = text::appendDecimal(out, u8(at) >> 4);
        break;
    case Value::LowNibbleX4:
        out = text::appendDecimal(out, (u8(at) & 0x0F) * 4);
        break;
    case Value::HighNibbleX4:
        out = text::appendDecimal(out, u8(at) / 16 * 4);
        break;
    case Value::Hex8:
        out = appendHexH(out, u8(at), 2);
        break;
    case Value::Hex16:
        out = appendHexH(out, be16(at), 4);
        break;
    case Value::Hex24:
        out = appendHexH(out, r.be24(at).value_or(0), 6);
        break;
    case Value::Hex32:
        out = appendHexH(out, r.be32(at).value_or(0), 8);
        break;
    case Value::Top3Bits:
        out = appendHexH(out, u8(at) >> 5, 2);
        break;
    case Value::Low13Bits:
        out = appendHexH(out, be16(at) & 0x1FFFu, 4);
        break;
    case Value::TrafficClass:
        out = appendHexH(out, (be16(at) >> 4) & 0xFFu, 2);
        break;
    case Value::FlowLabel:
        out = appendHexH(out, r.be24(at).value_or(0) & 0xFFFFFu, 5);
        break;
    case Value::Mac:
        out = appendGroups(out, r.bytes<6>(at).value_or(std::array<std::uint8_t, 6>{}), 1);
        break;
    case Value::Ipv4: {
        const auto a = r.bytes<4>(at).value_or(std::array<std::uint8_t, 4>{});
        out = text::appendIpv4(out, a.data());
        break;
    }
    case Value::Ipv6:
        out = appendGroups(out, r.bytes<16>(at).value_or(std::array<std::uint8_t, 16>{}), 2);
        break;
    }
    return QString::fromLatin1(buffer, static_cast<qsizetype>(out - buffer));
}

TreeBuilder::TreeBuilder(const FrameHeader& header, const std::uint8_t* bytes)
    : header_(header)
    , reader_(header, bytes) {
    root_.kind = DecodeNodeKind::Root;
    root_.text = QStringLiteral("-----Packet Detail-----");
}

void TreeBuilder::beginLayer(std::string_view text) {
    // Nothing is decoded past a gap, not even an empty layer.
    if (truncated_)
        return;
    appendLayer(text);
}

void TreeBuilder::appendLayer(std::string_view text) {
    DecodeNode layer;
    layer.kind = DecodeNodeKind::Layer;
    layer.text = latin1(text);
    root_.children.push_back(std::move(layer));
}

DecodeNode* TreeBuilder::field(const FieldSpec& spec, std::string_view branchSuffix, Offset base) {
    if (truncated_ || root_.children.empty())
        return nullptr;
    const QString value = valueText(reader_, base + spec.offset, spec.value);
    if (value.isEmpty()) {
        truncated_ = true;
        return nullptr;
    }
    const std::string_view suffix = spec.branchSuffix ? branchSuffix : spec.suffix;
    DecodeNode node;
    node.text = latin1(spec.label) + value + latin1(suffix);
    node.offset = static_cast<int>(base + spec.offset);
    node.length = static_cast<int>(valueWidth(spec.value));
    auto& fields = root_.children.back().children;
    fields.push_back(std::move(node));
    return &fields.back();
}

bool TreeBuilder::fields(std::span<const FieldSpec> specs, std::string_view branchSuffix,
                         Offset base) {
    for (const FieldSpec& spec : specs) {
        if (!field(spec, branchSuffix, base))
            return false;
    }
    return true;
}

void TreeBuilder::textField(QString text, DecodeNode* parent) {
    if (!parent) {
        if (root_.children.empty())
            return;
        parent = &root_.children.back();
    }
    DecodeNode node;
    node.text = std::move(text);
    // A flag of a field lies in that field's bytes.
    if (parent->kind == DecodeNodeKind::Field) {
        node.offset = parent->offset;
        node.length = parent->length;
    }
    parent->children.push_back(std::move(node));
}

DecodeNode TreeBuilder::finish(std::string_view summary) {
    // A layer spans its fields' bytes.
    for (DecodeNode& layer : root_.children) {
        int first = -1;
        int end = 0;
        for (const DecodeNode& f : layer.children) {
            if (f.offset < 0)
                continue;
            first = first < 0 ? f.offset : std::min(first, f.offset);
            end = std::max(end, f.offset + f.length);
        }
        if (first >= 0) {
            layer.offset = first;
            layer.length = end - first;
        }
    }
    if (truncated_)
        appendLayer(kTruncatedNodeText);
    else if (!summary.empty())
        appendLayer(summary);
    return std::move(root_);
}

} // namespace qarsilo::decode
