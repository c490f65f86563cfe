// The decode tree and the hex dump of the analyzer's detail pane.
#include "fuzz_input.h"

#include "core/analysis/decode_tree.h"
#include "core/analysis/hex_dump.h"

#include <algorithm>
#include <vector>

using namespace qarsilo;

namespace {

// Every node's bytes lie within the captured ones. Collects the bytes where
// a node begins or ends: nodeAtByte gives the same answer for every byte from
// one of them to the next.
void checkBytes(const DecodeNode& node, int captured, std::vector<int>& edges) {
    if (node.offset >= 0) {
        QARSILO_FUZZ_CHECK(node.length >= 0 && node.offset + node.length <= captured);
        edges.push_back(node.offset);
        edges.push_back(node.offset + node.length);
    }
    for (const DecodeNode& child : node.children)
        checkBytes(child, captured, edges);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    while (records.next(f)) {
        const FrameHeader h = frameHeaderFrom(f.header);
        const DecodeNode root = decodeFrame(h, f.bytes.get());
        QARSILO_FUZZ_CHECK(root.kind == DecodeNodeKind::Root);
        const int captured = static_cast<int>(h.capLen);
        std::vector<int> edges{-1, 0, captured};
        checkBytes(root, captured, edges);
        QARSILO_FUZZ_CHECK(!decodeTreeText(root).isEmpty());
        // One walk of the tree per edge rather than per byte (per byte, the
        // walks were the target's largest cost).
        std::sort(edges.begin(), edges.end());
        edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
        for (const int byte : edges) {
            const DecodeNode* at = nodeAtByte(root, byte);
            QARSILO_FUZZ_CHECK(!at || at->covers(byte));
        }

        // One line per 16 bytes shown, and one more line end.
        const QString dump = hexDump(h, f.bytes.get());
        const qsizetype shown = std::min<qsizetype>(h.wireLen, h.capLen);
        QARSILO_FUZZ_CHECK(dump.count(QStringLiteral("\r\n")) == (shown + 15) / 16 + 1);
    }
    return 0;
}
