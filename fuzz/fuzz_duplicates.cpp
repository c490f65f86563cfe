// The autodiscovery's duplicate pass, against the plain reading of its rule:
// each row is compared with the row of its MAC kept last, and a kept row's
// contradiction is the next kept row of its MAC. Rows are drawn from few
// MACs, addresses and names so that they meet often; unknown fields and
// empty texts are among them, and must stay apart.
#include "fuzz_input.h"

#include "core/discovery/discovery_tables.h"

#include <vector>

using namespace qarsilo;

namespace {

DiscoveredNode rowOf(const std::uint8_t* p) {
    // Made once and shared by the rows: the pass sees the same values, and
    // making every text afresh was most of the target's own cost.
    static const MacBytes macs[] = {{0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 2}, {0, 0, 0, 0, 0, 3}, {}};
    static const std::optional<std::uint32_t> ips[] = {0x0A000001u, 0x0A000002u, 0xA9FE0101u,
                                                       std::nullopt, 0u};
    static const std::optional<QString> names[] = {QStringLiteral("A"), QStringLiteral("B"),
                                                   std::nullopt, QStringLiteral("")};
    DiscoveredNode n;
    n.mac = macs[p[0] % 4];
    n.ip = ips[p[1] % 5];
    n.name = names[p[2] % 4];
    n.workgroup = names[p[3] % 4];
    n.time = 1767261600;
    return n;
}

bool sameNode(const DiscoveredNode& a, const DiscoveredNode& b, DiscoveryMode mode) {
    return a.ip == b.ip &&
           (mode == DiscoveryMode::Ip || (a.name == b.name && a.workgroup == b.workgroup));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const DiscoveryMode mode = data[0] & 1 ? DiscoveryMode::Ip : DiscoveryMode::NetBios;
    QList<DiscoveredNode> rows;
    for (std::size_t at = 1; at + 4 <= size; at += 4)
        rows.append(rowOf(data + at));

    // The plain reading, quadratic.
    QList<DiscoveredNode> kept;
    for (const DiscoveredNode& row : rows) {
        qsizetype last = kept.size() - 1;
        while (last >= 0 && kept[last].mac != row.mac)
            --last;
        if (last < 0 || !sameNode(kept[last], row, mode))
            kept.append(row);
    }
    struct Pair {
        int earlier, later;
    };
    std::vector<Pair> pairs;
    for (int i = 0; i < kept.size(); ++i)
        for (int j = i + 1; j < kept.size(); ++j)
            if (kept[j].mac == kept[i].mac) {
                pairs.push_back({i, j});
                break;
            }

    // The decisions come from the input's first byte, one bit per contradiction.
    int asked = 0;
    const QList<DiscoveryConflict> conflicts =
        clearDuplicates(rows, mode, [&](const DiscoveredNode&, const DiscoveredNode&) {
            return (data[0] >> (1 + asked++ % 7)) & 1;
        });
    QARSILO_FUZZ_CHECK(rows.size() == kept.size());
    QARSILO_FUZZ_CHECK(static_cast<std::size_t>(conflicts.size()) == pairs.size());
    const NodeMark mark = mode == DiscoveryMode::Ip ? NodeMark::Router : NodeMark::Suspicious;
    for (qsizetype c = 0; c < conflicts.size(); ++c) {
        const DiscoveryConflict& found = conflicts[c];
        QARSILO_FUZZ_CHECK(found.earlier == pairs[static_cast<std::size_t>(c)].earlier);
        QARSILO_FUZZ_CHECK(found.later == pairs[static_cast<std::size_t>(c)].later);
        if (found.marked)
            kept[found.later].mark = mark;
    }
    QARSILO_FUZZ_CHECK(rows == kept);
    return 0;
}
