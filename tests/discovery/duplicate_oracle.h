#pragma once

#include "core/discovery/discovery_frame.h"
#include "core/discovery/discovery_tables.h"

#include <QList>
#include <QStringList>
#include <functional>

namespace qarsilo::test {

// The pass as the working list has always run it: every row against every
// later row, deleting repeats and stopping at the first contradiction.
struct OracleQuestion {
    QStringList earlier;
    QStringList later;
};
inline QList<OracleQuestion> oraclePass(QList<QStringList>& rows, DiscoveryMode mode,
                                        const std::function<bool()>& answer) {
    QList<OracleQuestion> asked;
    for (int i = 0; i < rows.size(); ++i) {
        for (int j = i + 1; j < rows.size();) {
            if (rows[j][1] != rows[i][1]) {
                ++j;
                continue;
            }
            const bool same = rows[j][2] == rows[i][2] &&
                              (mode == DiscoveryMode::Ip ||
                               (rows[j][3] == rows[i][3] && rows[j][4] == rows[i][4]));
            if (same) {
                rows.removeAt(j);
                continue;
            }
            asked.append({rows[i], rows[j]});
            if (answer())
                rows[j][8] = mode == DiscoveryMode::Ip ? kRouterMark : kVirusMark;
            break;
        }
    }
    return asked;
}

} // namespace qarsilo::test
