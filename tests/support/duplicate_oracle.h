#pragma once

#include "core/discovery/discovered_node.h"
#include "core/discovery/discovery_frame.h"

#include <QList>
#include <functional>

namespace qarsilo::test {

// The pass as the working list has always run it: every row against every
// later row, deleting repeats and stopping at the first contradiction.
struct OracleQuestion {
    DiscoveredNode earlier;
    DiscoveredNode later;
};
inline QList<OracleQuestion> oraclePass(QList<DiscoveredNode>& rows, DiscoveryMode mode,
                                        const std::function<bool()>& answer) {
    QList<OracleQuestion> asked;
    for (int i = 0; i < rows.size(); ++i) {
        for (int j = i + 1; j < rows.size();) {
            if (rows[j].mac != rows[i].mac) {
                ++j;
                continue;
            }
            const bool same =
                rows[j].ip == rows[i].ip &&
                (mode == DiscoveryMode::Ip ||
                 (rows[j].name == rows[i].name && rows[j].workgroup == rows[i].workgroup));
            if (same) {
                rows.removeAt(j);
                continue;
            }
            asked.append({rows[i], rows[j]});
            if (answer())
                rows[j].mark = mode == DiscoveryMode::Ip ? NodeMark::Router : NodeMark::Suspicious;
            break;
        }
    }
    return asked;
}

} // namespace qarsilo::test
