// The autodiscovery's duplicate pass, against the plain reading of its rule:
// each row is compared with the row of its MAC kept last, and a kept row's
// contradiction is the next kept row of its MAC. Rows are drawn from few
// MACs, addresses and names so that they meet often; some rows lack cells.
#include "fuzz_input.h"

#include "core/discovery/discovery_tables.h"

#include <vector>

using namespace qarsilo;

namespace {

QStringList rowOf(const std::uint8_t* p) {
    // Made once and shared by the rows' cells: the pass sees the same values,
    // and making every cell afresh was most of the target's own cost.
    static const QString macs[] = {QStringLiteral("00:00:00:00:00:01"),
                                   QStringLiteral("00:00:00:00:00:02"),
                                   QStringLiteral("00:00:00:00:00:03"), QStringLiteral("")};
    static const QString ips[] = {QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"),
                                  QStringLiteral("169.254.1.1"), QStringLiteral("-"),
                                  QStringLiteral("")};
    static const QString names[] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("-"),
                                    QStringLiteral("")};
    static const QString date = QStringLiteral("1 Jan 2026, 10:00:00");
    QStringList row{kUnknown, macs[p[0] % 4], ips[p[1] % 5], names[p[2] % 4], names[p[3] % 4],
                    kUnknown, date,           kUnknown,      kUnknown};
    // Now and then a short row, as a list read back may hold.
    if (p[0] >= 0xF0)
        row = row.mid(0, p[0] & 0x0F);
    return row;
}

bool sameNode(const QStringList& a, const QStringList& b, DiscoveryMode mode) {
    return cellOf(a, CellIp) == cellOf(b, CellIp) &&
           (mode == DiscoveryMode::Ip || (cellOf(a, CellName) == cellOf(b, CellName) &&
                                          cellOf(a, CellWorkgroup) == cellOf(b, CellWorkgroup)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const DiscoveryMode mode = data[0] & 1 ? DiscoveryMode::Ip : DiscoveryMode::NetBios;
    QList<QStringList> rows;
    for (std::size_t at = 1; at + 4 <= size; at += 4)
        rows.append(rowOf(data + at));

    // The plain reading, quadratic.
    QList<QStringList> kept;
    for (const QStringList& row : rows) {
        qsizetype last = kept.size() - 1;
        while (last >= 0 && cellOf(kept[last], CellMac) != cellOf(row, CellMac))
            --last;
        if (last < 0 || !sameNode(kept[last], row, mode)) {
            kept.append(row);
            while (kept.last().size() < NodeCellCount)
                kept.last().append(QString());
        }
    }
    struct Pair {
        int earlier, later;
    };
    std::vector<Pair> pairs;
    for (int i = 0; i < kept.size(); ++i)
        for (int j = i + 1; j < kept.size(); ++j)
            if (cellOf(kept[j], CellMac) == cellOf(kept[i], CellMac)) {
                pairs.push_back({i, j});
                break;
            }

    // The decisions come from the input's first byte, one bit per contradiction.
    int asked = 0;
    const QList<DiscoveryConflict> conflicts =
        clearDuplicates(rows, mode, [&](const QStringList&, const QStringList&) {
            return (data[0] >> (1 + asked++ % 7)) & 1;
        });
    QARSILO_FUZZ_CHECK(rows.size() == kept.size());
    QARSILO_FUZZ_CHECK(static_cast<std::size_t>(conflicts.size()) == pairs.size());
    const QString& mark = mode == DiscoveryMode::Ip ? kRouterMark : kVirusMark;
    for (qsizetype c = 0; c < conflicts.size(); ++c) {
        const DiscoveryConflict& found = conflicts[c];
        QARSILO_FUZZ_CHECK(found.earlier == pairs[static_cast<std::size_t>(c)].earlier);
        QARSILO_FUZZ_CHECK(found.later == pairs[static_cast<std::size_t>(c)].later);
        if (found.marked)
            kept[found.later][CellType] = mark;
    }
    QARSILO_FUZZ_CHECK(rows == kept);
    return 0;
}
