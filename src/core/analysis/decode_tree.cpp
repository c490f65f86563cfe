#include "core/analysis/decode_tree.h"

#include "core/analysis/decode_fields.h"
#include "core/analysis/text_format.h"

namespace qarsilo {
namespace {

// The header values, not frame bytes: never cut short.
void addGeneralInformation(decode::TreeBuilder& tree) {
    const FrameHeader& h = tree.header();
    char time[text::kMaxTimeLength];
    const char* end = text::appendTime(time, h.tsSec, h.tsUsec);
    tree.beginLayer("General Infomation");
    tree.textField(QLatin1String("Time   ") +
                   QLatin1String(time, static_cast<qsizetype>(end - time)));
    tree.textField(QLatin1String("Length ") + QString::number(h.wireLen));
}

void appendTreeText(const DecodeNode& node, int depth, QString& out) {
    out += QString(2 * depth, QLatin1Char(' '));
    out += node.text;
    out += QLatin1Char('\n');
    for (const DecodeNode& child : node.children)
        appendTreeText(child, depth + 1, out);
}

} // namespace

DecodeNode decodeFrame(const FrameHeader& header, const std::uint8_t* bytes) {
    decode::TreeBuilder tree(header, bytes);
    addGeneralInformation(tree);
    const std::string_view summary = decode::decodeLink(tree);
    return tree.finish(summary);
}

const DecodeNode* nodeAtByte(const DecodeNode& root, int byte) {
    for (const DecodeNode& child : root.children) {
        // Children of the root may span nothing (general information) and
        // still hold nodes that do; fields lie inside their layer.
        if (child.offset >= 0 && !child.covers(byte))
            continue;
        if (const DecodeNode* deeper = nodeAtByte(child, byte))
            return deeper;
        if (child.covers(byte))
            return &child;
    }
    return nullptr;
}

QString decodeTreeText(const DecodeNode& root) {
    QString out;
    appendTreeText(root, 0, out);
    return out;
}

} // namespace qarsilo
